#pragma once
// One row of the fault matrix: a host world with the real pagewick service,
// started through pagewick-sc, and the scanner simulator serving drive E:
// with the row's pictures, chunk policy and faults; what the user and the
// control manager do meanwhile; and what the row promises at the end.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/hostworld/WriteCache.h"

namespace pw::faultmatrix {

enum class ImageKind {
  Bytes,            // JPEG-framed random bytes of the given size
  UprightPicture,   // a scanner picture with EXIF orientation 1
  SidewaysPicture,  // a scanner picture with EXIF orientation 8 (auto-rotate turns it)
};

struct ImagePlan {
  ImageKind kind = ImageKind::Bytes;
  std::size_t size = 30000;  // Bytes only
};

// Where the settings file points the save location.
enum class SaveKind {
  Plain,          // C:\Scans, seeded with the user's files
  Missing,        // C:\NoSuch\Deeper\Scans: its parent does not exist
  IsAFile,        // C:\Scans is a file
  PhotoIsAFile,   // C:\Scans\Photo1 is a file
  OwnDrive,       // F:\Scans on a drive of its own (driveBytes big), seeded
  FullDrive,      // F:\Scans on a drive with too little room for the free-space guard
  ReadOnlyDrive,  // F:\Scans on a read-only drive, its folders seeded before
  SmallDrive,     // F:\Scans on a drive the guard accepts but a large picture overflows
};

enum class ControlAction {
  StopThenRestart,   // stop (timed), start again
  PauseContinue,     // pause, wait for PAUSED, continue
  Interrogate,
  PauseStopRestart,  // pause and at once stop (timed), start again
};

struct ControlStep {
  int afterChunks = 0;  // once this many chunk reads were answered
  ControlAction action = ControlAction::Interrogate;
  // And once the run (from the service's first RUNNING) is this old: a step
  // timed into a poll in progress.
  std::chrono::milliseconds afterRun{0};
};

enum class Expect {
  SavedOnce,         // every queued picture is delivered and saved once, whole, under its number
  NotDelivered,      // the scanner keeps its pictures (nothing may be taken and dropped)
  AsDelivered,       // whatever was delivered is saved once; the rest stays on the scanner
  DrainedToScratch,  // the free-space guard refuses: drained into the scratch file, which goes
};

struct Scenario {
  std::string name;  // family/detail, unique
  std::vector<ImagePlan> images{ImagePlan{}};
  std::vector<std::string> simArguments;  // chunk policy and faults
  bool autoRotate = false;
  std::optional<std::string> settingsText;  // the whole settings file instead of the usual one
  std::optional<std::string> textTable;     // the text table beside the program instead of the shipped one
  SaveKind save = SaveKind::Plain;
  std::uint64_t driveBytes = 64u << 20;  // size of drive F: for the drive kinds
  std::vector<ControlStep> controls;
  Expect expect = Expect::SavedOnce;
  std::chrono::milliseconds runFor{6000};  // rows that need not deliver everything run this long
  // More of the user's files, below the save folder's host path (seeded files
  // are checked to be unchanged at the end).
  std::function<void(const std::filesystem::path& saveFolder)> seed;
  // Where each picture lands, relative to the world's root, in queue order;
  // empty: the next free numbers of Photo1 in the save folder.
  std::vector<std::string> expectedNames;
  // The simulator lets another drive take the scanner's letter once it is
  // unplugged: that drive must hear nothing but descriptor queries.
  bool otherDriveHearsOnlyTheDescriptor = false;
  // Damages the result after the run: the checks must notice (self-test rows).
  std::function<void(const std::filesystem::path& worldRoot)> tamper;
  // The service process crashes (a power cut or a kill) at the plan's change
  // to the disk, and is started again on what survived. A plan without a
  // change only counts the service's changes (ScenarioResult::changes).
  std::optional<hostworld::CrashPlan> crash;
  // Once the first picture was delivered, a user's Apply (through the
  // service's pipe, as the settings page sends it) switches auto-rotate on.
  bool applyMidway = false;
};

struct ScenarioResult {
  std::string name;
  bool skipped = false;
  std::string skipReason;
  std::vector<std::string> failures;
  std::size_t delivered = 0;
  std::size_t lost = 0;     // delivered whole, not saved
  std::size_t drained = 0;  // delivered into the scratch file by the free-space guard's design
  long stopMs = -1;         // the last timed stop
  long runMs = 0;
  bool crashed = false;         // the crash plan's change came, and the service was started again
  std::uint64_t changes = 0;    // the service's changes to the disk (a counting plan)
};

// The executables and files a run needs.
struct Tools {
  std::string program;     // pagewick
  std::string controlTool; // pagewick-sc
  std::string simulator;   // pagewick-scanner-sim
  std::filesystem::path imagingFolder;  // the imaging modules beside the program
  std::filesystem::path textTable;      // the shipped rc.info
};

ScenarioResult RunScenario(const Scenario& scenario, const Tools& tools, const std::filesystem::path& folder);

// Every row of the matrix.
std::vector<Scenario> AllScenarios();

}  // namespace pw::faultmatrix
