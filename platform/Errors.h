#pragma once
// Win32 error codes the program looks at. Values are the Win32 ones so both
// backends report the same.
#include <cstdint>

namespace pw::platform {

using ErrorCode = std::uint32_t;

namespace error {
inline constexpr ErrorCode kSuccess = 0;
inline constexpr ErrorCode kFileNotFound = 2;
inline constexpr ErrorCode kPathNotFound = 3;
inline constexpr ErrorCode kAccessDenied = 5;
inline constexpr ErrorCode kInvalidHandle = 6;
inline constexpr ErrorCode kNotEnoughMemory = 8;
inline constexpr ErrorCode kInvalidDrive = 15;
inline constexpr ErrorCode kNotSameDevice = 17;
inline constexpr ErrorCode kNoMoreFiles = 18;
inline constexpr ErrorCode kNotReady = 21;
inline constexpr ErrorCode kWriteFault = 29;
inline constexpr ErrorCode kReadFault = 30;
inline constexpr ErrorCode kGenFailure = 31;
inline constexpr ErrorCode kSharingViolation = 32;
inline constexpr ErrorCode kHandleEof = 38;
inline constexpr ErrorCode kHandleDiskFull = 39;
inline constexpr ErrorCode kFileExists = 80;
inline constexpr ErrorCode kInvalidParameter = 87;
inline constexpr ErrorCode kInsufficientBuffer = 122;
inline constexpr ErrorCode kSemTimeout = 121;
inline constexpr ErrorCode kInvalidName = 123;
inline constexpr ErrorCode kFilenameExcedRange = 206;  // the path is longer than MAX_PATH allows
inline constexpr ErrorCode kDirNotEmpty = 145;
inline constexpr ErrorCode kDirectory = 267;  // ERROR_DIRECTORY: the name is not a directory
inline constexpr ErrorCode kAlreadyExists = 183;
inline constexpr ErrorCode kMoreData = 234;
inline constexpr ErrorCode kDiskFull = 112;
inline constexpr ErrorCode kDeviceNotConnected = 1167;
inline constexpr ErrorCode kOperationAborted = 995;  // a synchronous request cancelled from another thread
inline constexpr ErrorCode kNotFound = 1168;
inline constexpr ErrorCode kCancelled = 1223;  // ERROR_CANCELLED: the user refused, e.g. a consent prompt

// The program's own codes: application-defined (bit 29 set), so no system
// error is ever taken for one. A save location refused to act for the
// console user (platform/LocationRights.h):
inline constexpr ErrorCode kNobodyAtConsole = 0x20000101;      // nobody to save for: the picture waits on the scanner
inline constexpr ErrorCode kLocationNotWritable = 0x20000102;  // the console user may not write there
inline constexpr ErrorCode kLocationLink = 0x20000103;         // a link on the way would lead out of the location
// Naming has no image name left below the save location (storage/DestinationNaming.h).
inline constexpr ErrorCode kNoImageNameLeft = 0x20000104;
}  // namespace error

}  // namespace pw::platform
