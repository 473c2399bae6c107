#pragma once
// The main window's design: identity, frame, font, and every control with its
// position and size in the client area, in the order of creation.
#include <array>
#include <cstdint>

#include "platform/toolkit/Component.h"

namespace pw::resources::layout {

// The service finds the window by this class and this exact title.
inline constexpr const char* kWindowClass = "TMainForm";
inline constexpr const char* kWindowTitle = "Pagewick";
inline constexpr int kLeft = 268;
inline constexpr int kTop = 226;
inline constexpr int kClientWidth = 520;
inline constexpr int kClientHeight = 362;
inline constexpr const char* kFontName = "MS Sans Serif";
inline constexpr int kFontHeight = -11;  // 8 points

enum class Kind { Picture, Label, Button, FileList, Edit, ComboBox, CheckBox };

struct ControlLayout {
  const char* name;
  Kind kind;
  toolkit::Bounds bounds;
  int tabOrder;             // the order Tab walks (screen order); -1: not a tab stop
  bool visible;
  const char* placeholder;  // caption carried by the design until the text table's
};

inline constexpr ControlLayout kBackImage{"backImage", Kind::Picture, {0, 0, 520, 362}, -1, true, ""};
inline constexpr ControlLayout kPathLbl{"PathLbl", Kind::Label, {112, 104, 145, 13}, -1, true, "Select  a Location:"};
inline constexpr ControlLayout kSaveLbl{"SaveLbl", Kind::Label, {112, 48, 145, 25}, -1, true, "Save Type"};
inline constexpr ControlLayout kPCImage{"PCImage", Kind::Picture, {8, 151, 121, 177}, -1, false, ""};
inline constexpr ControlLayout kSDImage{"SDImage", Kind::Picture, {8, 143, 129, 177}, -1, false, ""};
inline constexpr ControlLayout kDesImage{"DesImage", Kind::Picture, {128, 152, 137, 193}, -1, true, ""};
inline constexpr ControlLayout kCheckLbl{"CheckLbl", Kind::Label, {280, 150, 233, 33}, -1, false,
                                         "Images scanned to the computer are rotated automatically."};
inline constexpr ControlLayout kCancelBtn{"CancelBtn", Kind::Button, {413, 311, 100, 25}, 6, true, "Cancel"};
inline constexpr ControlLayout kApplyBtn{"ApplyBtn", Kind::Button, {296, 311, 107, 25}, 5, true, "Apply"};
inline constexpr ControlLayout kPagewickFileListBx{"PagewickFileListBx", Kind::FileList, {335, 200, 129, 49}, 4, false,
                                                   ""};
inline constexpr ControlLayout kBrowseBtn{"BrowseBtn", Kind::Button, {431, 95, 89, 25}, 2, true, "Browse"};
inline constexpr ControlLayout kPathEdit{"PathEdit", Kind::Edit, {256, 96, 176, 21}, 1, true, ""};
inline constexpr ControlLayout kSaveComboBx{"SaveComboBx", Kind::ComboBox, {255, 48, 177, 24}, 0, true, ""};
// The auto-rotate switch carries its text as its own caption, in the label's
// place: right of the destination picture, where nothing covers it.
inline constexpr ControlLayout kAutoRCheckBx{"AutoRCheckBx", Kind::CheckBox, {280, 150, 233, 33}, 3, false,
                                             "Images scanned to the computer are rotated automatically."};

// The line a session agent's page shows when its user may only look at the
// settings: below the auto-rotate switch, above the buttons. Hidden otherwise.
inline constexpr ControlLayout kReadOnlyLbl{"ReadOnlyLbl", Kind::Label, {280, 236, 233, 52}, -1, false, ""};

inline constexpr std::array<const ControlLayout*, 15> kControls{
    &kBackImage, &kPathLbl,   &kSaveLbl,           &kPCImage,   &kSDImage,   &kDesImage,    &kCheckLbl,
    &kCancelBtn, &kApplyBtn,  &kPagewickFileListBx, &kBrowseBtn, &kPathEdit, &kSaveComboBx, &kAutoRCheckBx,
    &kReadOnlyLbl};

// The save-type list's own font and item height.
inline constexpr int kComboFontHeight = -13;
inline constexpr int kComboItemHeight = 16;
// The file list's mask in the design (start-up sets the file prefix's).
inline constexpr const char* kFileListMask = "PD*.*";
// Timer1: 2000 ms, disabled at creation.
inline constexpr std::uint32_t kTimerInterval = 2000;

// The picture sizes of the design files.
inline constexpr int kBackgroundWidth = 535;
inline constexpr int kBackgroundHeight = 295;
inline constexpr int kComputerPictureWidth = 147;
inline constexpr int kComputerPictureHeight = 207;
inline constexpr int kMemoryCardPictureWidth = 129;
inline constexpr int kMemoryCardPictureHeight = 209;
inline constexpr int kTrayIconSize = 32;

}  // namespace pw::resources::layout
