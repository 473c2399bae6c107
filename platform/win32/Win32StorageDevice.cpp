// Logical drives and volume I/O controls through kernel32.
#include "platform/StorageDevice.h"

#include <cstddef>

#include "platform/winapi/WindowsApi.h"
// After <windows.h>: the I/O control codes and the storage and SCSI records.
#include <winioctl.h>
#include <ntddscsi.h>

namespace pw::platform {

// The scanner channel writes these records byte by byte at fixed offsets, so
// that both builds send identical bytes. The SDK's own 32-bit layouts must
// agree with those offsets.
static_assert(sizeof(void*) == 4, "the pass-through header is the 32-bit layout");
static_assert(sizeof(SCSI_PASS_THROUGH) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == 0);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == 2);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == 3);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == 5);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == 6);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == 7);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 28);
static_assert(sizeof(SCSI_PASS_THROUGH::Cdb) == 16);
static_assert(SCSI_IOCTL_DATA_IN == 1);

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, PropertyId) == 0);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, QueryType) == 4);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) == 8);
static_assert(StorageDeviceProperty == 0);
static_assert(PropertyStandardQuery == 0);

static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Version) == 0);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, DeviceType) == 8);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, DeviceTypeModifier) == 9);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia) == 10);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, CommandQueueing) == 11);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == 16);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset) == 20);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength) == 32);

static_assert(IOCTL_SCSI_PASS_THROUGH == kIoctlScsiPassThrough);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == kIoctlStorageQueryProperty);
static_assert(DRIVE_REMOVABLE == static_cast<UINT>(DriveType::Removable));
static_assert(DRIVE_FIXED == static_cast<UINT>(DriveType::Fixed));
static_assert(DRIVE_REMOTE == static_cast<UINT>(DriveType::Remote));
static_assert(DRIVE_CDROM == static_cast<UINT>(DriveType::CdRom));
static_assert(DRIVE_RAMDISK == static_cast<UINT>(DriveType::RamDisk));
static_assert(DRIVE_NO_ROOT_DIR == static_cast<UINT>(DriveType::NoRootDir));

RawHandle DeviceHandleTraits::Invalid() noexcept { return INVALID_HANDLE_VALUE; }

void DeviceHandleTraits::Close(RawHandle handle) noexcept {
  // Closing must not disturb the last error of the call before it.
  const DWORD saved = ::GetLastError();
  ::CloseHandle(handle);
  ::SetLastError(saved);
}

std::uint32_t GetLogicalDrives() { return ::GetLogicalDrives(); }

DriveType GetDriveType(const std::string& root) {
  const UINT type = ::GetDriveTypeA(root.c_str());
  return type <= static_cast<UINT>(DriveType::RamDisk) ? static_cast<DriveType>(type) : DriveType::Unknown;
}

Result<DeviceHandle> OpenDevice(const std::string& devicePath, std::uint32_t desiredAccess, std::uint32_t shareMode) {
  HANDLE handle = ::CreateFileA(devicePath.c_str(), desiredAccess, shareMode, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Failure(::GetLastError());
  return DeviceHandle(handle);
}

IoControlResult DeviceIoControl(const DeviceHandle& device, std::uint32_t controlCode, const void* input,
                                std::uint32_t inputSize, void* output, std::uint32_t outputSize) {
  IoControlResult result;
  DWORD returned = 0;
  // The SDK declares the input non-const; the call only reads it.
  const BOOL ok = ::DeviceIoControl(device.get(), controlCode, const_cast<void*>(input), inputSize, output, outputSize,
                                    &returned, nullptr);
  if (!ok) result.error = ::GetLastError();
  result.ok = ok != FALSE;
  result.bytesReturned = returned;
  return result;
}

}  // namespace pw::platform
