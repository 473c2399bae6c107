#pragma once
// Installing and uninstalling the service: the /install and /uninstall runs
// of the program, with their boxes and exit codes.
#include <stdexcept>

#include "platform/Errors.h"

namespace pw::service {

class TService1;

// Message-dialog texts of the install and uninstall runs.
inline constexpr const char* kInstalledText = "Service installed successfully";
inline constexpr const char* kUninstalledText = "Service uninstalled successfully";
inline constexpr const char* kInformationCaption = "Information";
inline constexpr const char* kErrorCaption = "Error";
// The exit code of an install refused for its program folder: an
// application-defined code (bit 29 set, which Windows leaves to applications).
inline constexpr platform::ErrorCode kProgramFolderRefused = 0x20000001;

// An install refused because of where the program is: its exit code is
// kProgramFolderRefused.
class ProgramFolderRefusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The exit code for the exception being handled (inside a catch block): an
// OsError's code, kProgramFolderRefused, or ERROR_GEN_FAILURE.
platform::ErrorCode CurrentFailureCode();

// Creates the service from the service object's definition (none: nothing is
// created) and, on Windows Vista and later, first refuses a program folder
// that users who are not administrators may change. Throws OsError when the
// control manager cannot be opened. A failure is told in a box; success too,
// unless silent. 0, or the failure's code (CurrentFailureCode).
platform::ErrorCode InstallService(TService1* service, bool silent);
// Deletes the service the service object names, as InstallService creates it.
platform::ErrorCode UninstallService(TService1* service, bool silent);

}  // namespace pw::service
