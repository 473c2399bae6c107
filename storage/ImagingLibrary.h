#pragma once
// The imaging component as the auto-rotate step calls it: its four entries.
// The program links both modules at start (pwimgfil: load, comment, save;
// pwimgkrn: free), so a missing module stops it before it runs, with the
// system loader's message. Tests put a fake in its place.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ThreadChecker.h"

namespace pw::storage {

// The component's bitmap record. The program reads only bit 0 of byte 36:
// whether the record holds data that the free entry has to release.
inline constexpr std::size_t kBitmapRecordSize = 168;
inline constexpr std::size_t kBitmapFlagsOffset = 36;
inline constexpr std::byte kBitmapHoldsData{0x01};
using BitmapRecord = std::array<std::byte, kBitmapRecordSize>;

inline bool HoldsData(const BitmapRecord& record) {
  return (record[kBitmapFlagsOffset] & kBitmapHoldsData) != std::byte{0};
}

class ImagingLibrary {
 public:
  virtual ~ImagingLibrary() = default;

  // Loads a file into the record; nonzero when the image is in it. The
  // record tells afterwards, failed or not, whether it holds data.
  virtual int LoadFile(const std::string& fileName, BitmapRecord& record, std::uint32_t recordSize,
                       std::int32_t bitsPerPixel, std::int32_t flags, void* loadOptions, void* fileInfo) = 0;
  // Keeps a comment for the next save; length counts the terminating zero.
  virtual int SetComment(std::uint32_t type, const char* text, std::uint32_t length) = 0;
  // Saves the record as a new file of that name; nonzero when written.
  virtual int SaveFile(const std::string& fileName, BitmapRecord& record, std::int32_t format,
                       std::int32_t bitsPerPixel, std::int32_t quality, void* saveOptions) = 0;
  virtual void FreeRecord(BitmapRecord& record) = 0;

  // The comments wait in the component for the next save, for the whole
  // process: one auto-rotate step at a time holds this role, whichever
  // thread runs it.
  platform::ThreadChecker& StepRole() noexcept { return stepRole_; }

 private:
  [[no_unique_address]] platform::ThreadChecker stepRole_{"the imaging component's auto-rotate step",
                                                          platform::kUnowned};
};

// The linked modules. File names are the program's own paths; they reach the
// modules in the form the system's file calls take (platform NativeFileName).
ImagingLibrary& LinkedImagingLibrary();

}  // namespace pw::storage
