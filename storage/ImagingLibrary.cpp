#include "storage/ImagingLibrary.h"

#include "imaging/pwimaging.h"
#include "platform/DebugTrace.h"
#include "platform/NativeFileName.h"

namespace pw::storage {
namespace {

void TraceLine(const char* line) { platform::DebugTrace(line); }

class LinkedModules final : public ImagingLibrary {
 public:
  // The failures the modules swallow go to the program's debug trace.
  LinkedModules() { PwImgSetTraceHook(TraceLine); }

  int LoadFile(const std::string& fileName, BitmapRecord& record, std::uint32_t recordSize, std::int32_t bitsPerPixel,
               std::int32_t flags, void* loadOptions, void* fileInfo) override {
    const auto name = platform::NativeFileName(fileName);
    if (!name) {
      record.fill(std::byte{0});
      return 0;
    }
    return PwImgLoadFile(name->c_str(), record.data(), recordSize, bitsPerPixel, flags, loadOptions, fileInfo);
  }

  int SetComment(std::uint32_t type, const char* text, std::uint32_t length) override {
    return PwImgSetComment(type, text, length);
  }

  int SaveFile(const std::string& fileName, BitmapRecord& record, std::int32_t format, std::int32_t bitsPerPixel,
               std::int32_t quality, void* saveOptions) override {
    const auto name = platform::NativeFileName(fileName);
    if (!name) return 0;
    return PwImgSaveFile(name->c_str(), record.data(), format, bitsPerPixel, quality, saveOptions);
  }

  void FreeRecord(BitmapRecord& record) override { PwImgFreeRecord(record.data()); }
};

static_assert(kBitmapRecordSize == PWIMG_RECORD_SIZE);
static_assert(kBitmapFlagsOffset == PWIMG_HOLDS_DATA_OFFSET);
static_assert(static_cast<unsigned>(kBitmapHoldsData) == PWIMG_HOLDS_DATA);

}  // namespace

ImagingLibrary& LinkedImagingLibrary() {
  static LinkedModules modules;
  return modules;
}

}  // namespace pw::storage
