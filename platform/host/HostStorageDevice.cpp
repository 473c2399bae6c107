// Logical drives and volume I/O controls of the host world. A removable drive
// may carry a device (the scanner simulator, in-process or served over a
// socket); its I/O controls go to that device byte for byte.
#include "platform/StorageDevice.h"

#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/FileSystem.h"
#include "platform/hostworld/DeviceSocket.h"
#include "platform/host/HostFiles.h"
#include "platform/hostworld/World.h"

namespace pw::platform {
namespace {

using hostworld::World;

constexpr ErrorCode kInvalidFunction = 1;  // ERROR_INVALID_FUNCTION
constexpr ErrorCode kNotSupported = 50;    // ERROR_NOT_SUPPORTED
constexpr ErrorCode kNoAccess = 998;       // ERROR_NOACCESS: a buffer the call cannot touch

char UpperLetter(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// An open volume: the drive it names, how it was opened and the device the
// drive carried at that moment. When the drive later carries another device,
// or none, or is gone, the volume was unplugged under the handle.
class VolumeHandle final : public hostworld::HandleObject {
 public:
  VolumeHandle(char letter, std::uint32_t access, std::uint32_t shareMode, std::shared_ptr<hostworld::Device> device)
      : letter_(letter), access_(access), shareMode_(shareMode), device_(std::move(device)) {}

  char Letter() const { return letter_; }
  std::uint32_t Access() const { return access_; }
  std::uint32_t ShareMode() const { return shareMode_; }
  const std::shared_ptr<hostworld::Device>& Device() const { return device_; }

 private:
  char letter_;
  std::uint32_t access_;
  std::uint32_t shareMode_;
  std::shared_ptr<hostworld::Device> device_;
};

// "\\?\E:" or "\\.\E:" (any letter case) names the volume of drive E:.
std::optional<char> VolumeLetter(const std::string& path) {
  if (path.size() != 6 || path[0] != '\\' || path[1] != '\\' || (path[2] != '?' && path[2] != '.') || path[3] != '\\' ||
      path[5] != ':' || !std::isalpha(static_cast<unsigned char>(path[4]))) {
    return std::nullopt;
  }
  return UpperLetter(path[4]);
}

// The storage query of a drive that carries no device: the plain descriptor of
// a generic disk (removable on a removable drive), so that it is recognisably
// not the scanner. The descriptor is cut to the output size, as the class
// driver does.
IoControlResult GenericStorageQuery(bool removable, std::span<const std::byte> input, std::span<std::byte> output) {
  constexpr std::size_t kQuerySize = 12;
  constexpr std::size_t kDescriptorHeaderSize = 8;  // Version and Size
  if (input.size() < kQuerySize) return {false, 0, error::kInvalidParameter};
  const std::uint32_t propertyId = GetLe32(input, 0);
  const std::uint32_t queryType = GetLe32(input, 4);
  if (propertyId != 0) return {false, 0, kNotSupported};
  if (queryType == 1) return {true, 0, error::kSuccess};  // PropertyExistsQuery
  if (queryType != 0) return {false, 0, error::kInvalidParameter};
  if (output.size() < kDescriptorHeaderSize) return {false, 0, error::kInsufficientBuffer};

  constexpr std::size_t kFixedPart = 40;
  const char* vendor = "Generic";
  const char* product = removable ? "Flash Disk" : "Disk";
  const char* revision = "1.00";
  std::vector<std::byte> descriptor(kFixedPart);
  auto append = [&descriptor](const char* text) {
    const auto offset = static_cast<std::uint32_t>(descriptor.size());
    const std::size_t length = std::strlen(text) + 1;
    const auto* bytes = reinterpret_cast<const std::byte*>(text);
    descriptor.insert(descriptor.end(), bytes, bytes + length);
    return offset;
  };
  const std::uint32_t vendorOffset = append(vendor);
  const std::uint32_t productOffset = append(product);
  const std::uint32_t revisionOffset = append(revision);
  PutLe32(descriptor, 0, kFixedPart);                                   // Version
  PutLe32(descriptor, 4, static_cast<std::uint32_t>(descriptor.size()));  // Size
  descriptor[10] = std::byte{removable ? std::uint8_t{1} : std::uint8_t{0}};  // RemovableMedia
  PutLe32(descriptor, 12, vendorOffset);
  PutLe32(descriptor, 16, productOffset);
  PutLe32(descriptor, 20, revisionOffset);
  PutLe32(descriptor, 24, 0);                      // no serial number
  PutLe32(descriptor, 28, removable ? 7u : 11u);   // BusTypeUsb, BusTypeSata

  const std::size_t count = std::min(descriptor.size(), output.size());
  std::memcpy(output.data(), descriptor.data(), count);
  return {true, static_cast<std::uint32_t>(count), error::kSuccess};
}

World* CurrentWorld() { return World::CurrentOrNull(); }

}  // namespace

RawHandle DeviceHandleTraits::Invalid() noexcept {
  return reinterpret_cast<RawHandle>(~std::uintptr_t{0});  // INVALID_HANDLE_VALUE
}

void DeviceHandleTraits::Close(RawHandle handle) noexcept {
  if (World* world = CurrentWorld()) world->CloseHandle(handle);
}

std::uint32_t GetLogicalDrives() {
  World* world = CurrentWorld();
  if (world == nullptr) return 0;
  hostworld::RefreshServedDevices(*world);
  std::uint32_t mask = 0;
  for (const hostworld::Drive& drive : world->Drives()) {
    if (drive.letter >= 'A' && drive.letter <= 'Z') mask |= 1u << (drive.letter - 'A');
  }
  return mask;
}

DriveType GetDriveType(const std::string& root) {
  World* world = CurrentWorld();
  if (world == nullptr) return DriveType::NoRootDir;
  std::string text = root;
  if (text.empty()) text = world->CurrentDirectory().substr(0, 3);
  // "E:\" (or "E:/", or the bare "E:") names a root; anything else is not one.
  const bool rootForm = (text.size() == 2 || (text.size() == 3 && (text[2] == '\\' || text[2] == '/'))) &&
                        text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]));
  if (!rootForm) return DriveType::NoRootDir;
  const std::optional<hostworld::Drive> drive = world->FindDrive(text[0]);
  return drive ? drive->type : DriveType::NoRootDir;
}

Result<DeviceHandle> OpenDevice(const std::string& devicePath, std::uint32_t desiredAccess, std::uint32_t shareMode) {
  World* world = CurrentWorld();
  if (world == nullptr) return Failure(error::kFileNotFound);
  const std::optional<char> letter = VolumeLetter(devicePath);
  if (!letter) return Failure(error::kInvalidName);
  hostworld::RefreshServedDevices(*world);

  std::scoped_lock lock(world->Mutex());
  const std::optional<hostworld::Drive> drive = world->FindDrive(*letter);
  if (!drive) return Failure(error::kFileNotFound);
  bool conflict = false;
  world->ForEachHandle([&](hostworld::HandleObject& object) {
    const auto* other = dynamic_cast<const VolumeHandle*>(&object);
    if (other != nullptr && other->Letter() == *letter &&
        host::OpensCollide(desiredAccess, shareMode, other->Access(), other->ShareMode())) {
      conflict = true;
    }
  });
  if (conflict) return Failure(error::kSharingViolation);
  return DeviceHandle(world->AddHandle(std::make_unique<VolumeHandle>(*letter, desiredAccess, shareMode, drive->device)));
}

IoControlResult DeviceIoControl(const DeviceHandle& device, std::uint32_t controlCode, const void* input,
                                std::uint32_t inputSize, void* output, std::uint32_t outputSize) {
  World* world = CurrentWorld();
  if (world == nullptr) return {false, 0, error::kInvalidHandle};
  if ((input == nullptr && inputSize != 0) || (output == nullptr && outputSize != 0)) return {false, 0, kNoAccess};

  char letter = 0;
  std::uint32_t access = 0;
  std::shared_ptr<hostworld::Device> target;
  bool removable = false;
  {
    std::scoped_lock lock(world->Mutex());
    const auto* volume = dynamic_cast<const VolumeHandle*>(world->FindHandle(device.get()));
    if (volume == nullptr) return {false, 0, error::kInvalidHandle};
    letter = volume->Letter();
    access = volume->Access();
    target = volume->Device();
    const std::optional<hostworld::Drive> drive = world->FindDrive(letter);
    // The drive is gone, or it carries another device than when it was opened.
    if (!drive || drive->device != target) return {false, 0, error::kDeviceNotConnected};
    removable = drive->type == DriveType::Removable;
  }

  // The pass-through request reads and writes the medium: it needs a handle
  // opened for both; the storage query works on any handle.
  if (controlCode == kIoctlScsiPassThrough && (!host::ReadsData(access) || !host::WritesData(access))) {
    return {false, 0, error::kAccessDenied};
  }

  // The caller may pass one buffer as input and output: the device sees the
  // input as it was before any output is written, as with buffered I/O controls.
  std::array<std::byte, 64> small{};
  std::vector<std::byte> large;
  std::span<const std::byte> inputCopy;
  if (inputSize <= small.size()) {
    if (inputSize != 0) std::memcpy(small.data(), input, inputSize);
    inputCopy = std::span<const std::byte>(small.data(), inputSize);
  } else {
    const auto* bytes = static_cast<const std::byte*>(input);
    large.assign(bytes, bytes + inputSize);
    inputCopy = large;
  }
  const std::span<std::byte> outputSpan(static_cast<std::byte*>(output), outputSize);

  if (target) {
    // The request is the thread's synchronous I/O from here on: another
    // thread may cancel it (CancelSynchronousIo) while the device holds it.
    hostworld::SynchronousIo::Request request(world->PendingIo());
    IoControlResult result = target->IoControl(controlCode, inputCopy, outputSpan);
    result.bytesReturned = std::min(result.bytesReturned, outputSize);
    // A request that completed before the cancel keeps its outcome.
    if (!result.ok && request.Cancelled()) return {false, 0, error::kOperationAborted};
    if (result.ok) {
      result.error = error::kSuccess;
    } else if (result.error == error::kSuccess) {
      result.error = error::kGenFailure;  // a failure always carries a code
    }
    return result;
  }
  if (controlCode == kIoctlStorageQueryProperty) return GenericStorageQuery(removable, inputCopy, outputSpan);
  return {false, 0, kInvalidFunction};
}

}  // namespace pw::platform
