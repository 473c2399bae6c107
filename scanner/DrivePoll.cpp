#include "scanner/DrivePoll.h"

#include "platform/DebugTrace.h"
#include "platform/TextCompare.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>

#include "platform/FileSystem.h"
#include "platform/StorageDevice.h"
#include "scanner/ImagePull.h"
#include "scanner/PassThroughBuffer.h"
#include "scanner/ScannerChannel.h"
#include "scanner/StorageDescriptor.h"

namespace pw::scanner {
namespace {

// Pass-through needs a handle opened for reading and writing; the drive stays
// open to others, since a nested scan (from an activation of the window during
// the recognition) opens it again.
platform::Result<platform::DeviceHandle> OpenVolume(const std::string& devicePath) {
  return platform::OpenDevice(devicePath, platform::access::kGenericRead | platform::access::kGenericWrite,
                              platform::share::kRead | platform::share::kWrite);
}

// The stored device path: up to its zero, and never past the buffer (the
// start-up sequence fills it with '0' characters and no zero).
std::string StoredDevicePath(const ScannerState& process) {
  const auto& path = process.ScannerDevicePath;
  const auto end = std::find(path.begin(), path.end(), '\0');
  return std::string(path.begin(), end);
}

// Whether the open drive still describes itself as the scanner: one storage
// query, and nothing else is sent to it.
bool StillTheScanner(const platform::DeviceHandle& device) {
  StorageDescriptorBuffer descriptor;
  return QueryStorageDescriptor(device, descriptor) &&
         IsScannerIdentity(ProductText(descriptor), RevisionText(descriptor));
}

// A stop, pause or shutdown waits for the service thread: the poll sends
// nothing more, so that a scanner that does not answer cannot hold it up for
// one time-out after another.
bool Interrupted(const ScannerState& process) { return process.InterruptPull.load(std::memory_order_relaxed) > 0; }

// The scanner is taken to be gone. It may be back already under another
// letter, whose arrival came while the old path was still attached, so the
// next poll walks the drives as after an arrival.
void Detach(ScannerState& process) {
  process.ScannerAttached = 0;
  process.PendingDeviceEvent = 1;
}

void StoreDevicePath(ScannerState& process, const std::string& devicePath) {
  const std::size_t count = std::min(devicePath.size(), process.ScannerDevicePath.size() - 1);
  std::memcpy(process.ScannerDevicePath.data(), devicePath.data(), count);
  process.ScannerDevicePath[count] = '\0';
}

}  // namespace

bool IsScannerIdentity(std::string_view product, std::string_view revision) {
  return platform::SameTextIgnoringCase(product, kScannerProduct) && revision == kScannerRevision;
}

std::string VolumePath(char letter) { return std::string("\\\\?\\") + letter + ":"; }

void DrivePoll::ScanDrives(PollHost& host) {
  const platform::ThreadRole call(calls_);
  ScannerState& process = host.Scanner();
  process.PlainFieldsThread.Check();
  bool queryFailed = false;
  try {
    ScannerRequestKind kind = ScannerRequestKind::RequestCardMode;
    const std::uint32_t drives = platform::GetLogicalDrives();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      if ((drives & (1u << (letter - 'A'))) == 0) continue;
      const std::string root = std::string(1, letter) + ":\\";
      if (platform::GetDriveType(root) != platform::DriveType::Removable) continue;
      // The floppy drive is never opened, and nothing is once a scanner is attached.
      if (root == "A:\\" || process.ScannerAttached != 0) continue;

      // A walk cut short is walked again at the next poll.
      if (Interrupted(process)) {
        process.RescanDue = true;
        return;
      }
      const std::string devicePath = VolumePath(letter);
      platform::Result<platform::DeviceHandle> opened = OpenVolume(devicePath);
      if (!opened) continue;
      StorageDescriptorBuffer descriptor;
      const bool described = QueryStorageDescriptor(*opened, descriptor);
      if (!described) queryFailed = true;

      // The selection on the page counts, applied or not, for every drive opened.
      const int index = host.SelectedSaveType();
      if (index != -1) {
        kind = static_cast<ScannerRequestKind>(index);
        host.SetSaveMode(static_cast<std::uint32_t>(index));
      }

      if (Interrupted(process)) {
        process.RescanDue = true;
        return;
      }
      if (described && IsScannerIdentity(ProductText(descriptor), RevisionText(descriptor))) {
        (void)RunScannerRequest(*opened, kind);
        host.ShowForScanner();
        process.ScannerAttached = 1;
        StoreDevicePath(process, devicePath);
      }
    }
  } catch (const std::exception&) {
    platform::TraceCurrentException("Drive scan");
    // The scan ends here; the letters after this one wait for the next scan.
  }
  // A drive that could be opened but not described may be the scanner still
  // settling: the next polls scan again, a bounded number of times.
  if (queryFailed && process.ScannerAttached == 0 && process.DescriptorRescans < kDescriptorRescans) {
    ++process.DescriptorRescans;
    process.RescanDue = true;
  } else {
    if (!queryFailed || process.ScannerAttached != 0) process.DescriptorRescans = 0;
    process.RescanDue = false;
  }
}

void DrivePoll::PollScanner(PollHost& host, ScannerRequestKind kind) {
  const platform::ThreadRole call(calls_);
  ScannerState& process = host.Scanner();
  process.PlainFieldsThread.Check();
  platform::DeviceHandle device;
  try {
    if (Interrupted(process)) return;
    if (process.PendingDeviceEvent == 1 || process.PendingDeviceEvent == 2) {
      process.DescriptorRescans = 0;
      ScanDrives(host);
      // A walk cut short by a stop or pause leaves the broadcast for the next poll.
      if (Interrupted(process)) return;
      process.PendingDeviceEvent = 0;
    } else if (process.RescanDue) {
      ScanDrives(host);
    }
    if (process.ScannerAttached == 0 || Interrupted(process)) return;

    platform::Result<platform::DeviceHandle> opened = OpenVolume(StoredDevicePath(process));
    if (!opened) {
      Detach(process);
      return;
    }
    device = std::move(opened).value();
    // Another removable drive may have taken the scanner's letter since the
    // last poll: the vendor commands go to nothing but the scanner.
    if (!StillTheScanner(device)) {
      // A query cut short by a stop or pause says nothing about the drive.
      if (Interrupted(process)) return;
      device.reset();
      Detach(process);
      return;
    }
    if (Interrupted(process)) return;
    const std::string scratchFile = host.FallbackImagePath();
    {
      PassThroughBuffer buffer;
      ImagePull pull(host.Pull(), host.Notifier(), host.Scanner(), buffer);
      (void)RunScannerRequest(device, kind, buffer, &pull, &process.InterruptPull);
    }
    // A pull that found no room drained its image into the scratch file.
    if (platform::FileExists(scratchFile)) platform::DeleteFile(scratchFile).IgnoreFailure();
  } catch (const std::exception&) {
    platform::TraceCurrentException("Scanner poll");
    device.reset();
    Detach(process);
  }
}

}  // namespace pw::scanner
