#include <map>

#include "platform/ErrorText.h"

namespace pw::platform {

// The English texts Windows gives for the codes the program and its platform
// layer meet.
std::string SystemErrorMessage(ErrorCode code) {
  static const std::map<ErrorCode, const char*> kTexts = {
      {0, "The operation completed successfully."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {8, "Not enough memory resources are available to process this command."},
      {13, "The data is invalid."},
      {15, "The system cannot find the drive specified."},
      {21, "The device is not ready."},
      {31, "A device attached to the system is not functioning."},
      {32, "The process cannot access the file because it is being used by another process."},
      {80, "The file exists."},
      {87, "The parameter is incorrect."},
      {112, "There is not enough space on the disk."},
      {121, "The semaphore timeout period has expired."},
      {123, "The filename, directory name, or volume label syntax is incorrect."},
      {183, "Cannot create a file when that file already exists."},
      {1008, "An attempt was made to reference a token that does not exist."},
      {1052, "The requested control is not valid for this service."},
      {1053, "The service did not respond to the start or control request in a timely fashion."},
      {1056, "An instance of the service is already running."},
      {1058, "The service cannot be started, either because it is disabled or because it has no enabled devices "
             "associated with it."},
      {1060, "The specified service does not exist as an installed service."},
      {1061, "The service cannot accept control messages at this time."},
      {1062, "The service has not been started."},
      {1063, "The service process could not connect to the service controller."},
      {1065, "The database specified does not exist."},
      {1066, "The service has returned a service-specific error code."},
      {1067, "The process terminated unexpectedly."},
      {1072, "The specified service has been marked for deletion."},
      {1073, "The specified service already exists."},
      {1078, "The name is already in use as either a service name or a service display name."},
      {1083, "The executable program that this service is configured to run in does not implement the service."},
      {1167, "The device is not connected."},
      {1400, "Invalid window handle."},
      {1444, "The thread identifier is invalid."},
      {1722, "The RPC server is unavailable."},
  };
  auto it = kTexts.find(code);
  if (it == kTexts.end()) return {};
  return std::string(it->second) + "\r\n";
}

}  // namespace pw::platform
