#pragma once
// The auto-rotate step: a pulled image whose EXIF Orientation byte says it lies
// on its side (8) is re-saved through the imaging component, which turns it
// upright, with the program's version text and the image's own date-time text
// as comments. Any other file is left as it is.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Errors.h"
#include "platform/LocationRights.h"
#include "platform/Result.h"
#include "storage/ImagingLibrary.h"

namespace pw::storage {

// Where the step looks in the file's first 200 bytes: the scanner writes an
// Intel-order EXIF block right after the start of the JPEG, so byte 30 is
// the Orientation value and bytes 126 to 145 the date-time text.
inline constexpr std::size_t kHeaderBytes = 200;
inline constexpr std::size_t kProbeOffset = 30;
inline constexpr std::uint8_t kProbeTurnValue = 8;
inline constexpr std::size_t kCarriedTextOffset = 126;
inline constexpr std::size_t kCarriedTextBytes = 20;

inline constexpr char kVersionText[] = " Pagewick Ver 019";
inline constexpr std::uint32_t kVersionCommentType = 0;
inline constexpr std::uint32_t kCarriedCommentType = 9;

// The component's arguments: load keeping the file's samples (0) and turning
// it upright by its EXIF Orientation (1); save as JPEG with EXIF (98), 24-bit,
// quality 50 for pictures that must be encoded anew.
inline constexpr std::int32_t kLoadBitsPerPixel = 0;
inline constexpr std::int32_t kLoadFlags = 1;
inline constexpr std::int32_t kSaveFormat = 98;
inline constexpr std::int32_t kSaveBitsPerPixel = 24;
inline constexpr std::int32_t kSaveQuality = 50;

// The names the re-saved image may be written under before it replaces the
// image, in the order they are tried: in the image's folder, "~" and letters
// only, no longer than the image's own name (at least two characters), so the
// path fits wherever the image's fits, and no number for the naming's
// listing to count. The step takes the first that CREATE_NEW can create.
std::string AutoRotateScratchName(const std::string& path, std::uint32_t attempt = 0);
inline constexpr std::uint32_t kScratchNameAttempts = 64;

// Service thread only: runs inside the pull, and the component's comments are
// shared by the whole process (checked: a step holds the component's role, and
// a second thread stepping meanwhile breaks the rule). When it returns, the file under that name is
// either unchanged or replaced as a whole by the re-saved image: the new image
// is saved under a fresh scratch name in the same folder and only then takes
// the old one's place; no scratch file is left behind. Fails with the
// system's error when the file cannot be opened (missing, in use, no access)
// or read; the file is then unchanged. A picture the component cannot load,
// or a save that fails, also leaves it unchanged, and is no failure here.
// The step's own opens go through the rights (no link followed for the
// console user); the caller acts with them.
platform::Result<void> AutoRotateImage(const std::string& path, ImagingLibrary& library,
                                       const platform::LocationRights& rights = platform::LocationRights::ProcessOwn());
platform::Result<void> AutoRotateImage(const std::string& path,
                                       const platform::LocationRights& rights = platform::LocationRights::ProcessOwn());

}  // namespace pw::storage
