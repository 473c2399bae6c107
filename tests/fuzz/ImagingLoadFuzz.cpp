// libFuzzer target for the imaging component: the input is a JPEG file as it
// comes from the scanner. Every load the program makes (keep the file's own
// samples, turn upright, and 24-bit pixels) must fail cleanly or give a record
// that saves, loads again and frees without leaking. The HoldsData bit must
// say exactly whether the record owns data.
//
// Seeds: tests/fuzz/corpus/imaging/.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "imaging/Kernel.h"
#include "imaging/pwimaging.h"

namespace {

using Record = std::uint8_t[PWIMG_RECORD_SIZE];

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "ImagingLoadFuzz: %s\n", what);
    std::abort();
  }
}

bool HoldsData(const Record& record) {
  return (record[PWIMG_HOLDS_DATA_OFFSET] & PWIMG_HOLDS_DATA) != 0;
}

PwImgRecord FieldsOf(const Record& record) {
  PwImgRecord fields;
  std::memcpy(&fields, record, sizeof fields);
  return fields;
}

struct Scratch {
  std::filesystem::path folder;
  std::string input;
  std::string saved;

  Scratch() {
    folder = std::filesystem::temp_directory_path() / ("pwimg-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    input = (folder / "input.jpg").string();
    saved = (folder / "saved.jpg").string();
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

// Loads fileName into record and checks the result against the HoldsData bit.
bool Load(const std::string& fileName, Record& record, int bitsPerPixel, int flags) {
  std::memset(record, 0xA5, PWIMG_RECORD_SIZE);  // the load must not trust what was there
  const int loaded = PwImgLoadFile(fileName.c_str(), record, PWIMG_RECORD_SIZE, bitsPerPixel, flags, nullptr, nullptr);
  Check(loaded == 0 || loaded == 1, "load returned neither 0 nor 1");
  Check(HoldsData(record) == (loaded == 1), "HoldsData bit disagrees with the load result");
  if (loaded == 1) {
    const PwImgRecord fields = FieldsOf(record);
    Check(fields.magic == PWIMG_RECORD_MAGIC && fields.recordSize == PWIMG_RECORD_SIZE, "loaded record unmarked");
    Check(fields.width > 0 && fields.height > 0, "loaded record without a picture");
    Check(std::uint64_t{fields.width} * fields.height <= PWIMG_MAX_PIXELS, "loaded picture over the limit");
    Check(fields.image != 0, "loaded record without data");
  }
  return loaded == 1;
}

void Free(Record& record) {
  PwImgFreeRecord(record);
  Check(!HoldsData(record), "HoldsData still set after free");
  PwImgFreeRecord(record);  // a second free must be harmless
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Scratch& scratch = TheScratch();
  {
    std::ofstream out(scratch.input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::int64_t liveBefore = PwKrnLiveBlocks();

  struct Mode {
    int bitsPerPixel;
    int flags;
  };
  static constexpr Mode kModes[] = {{0, 0}, {0, PWIMG_LOAD_UPRIGHT}, {24, 0}, {24, PWIMG_LOAD_UPRIGHT}};
  for (const Mode& mode : kModes) {
    Record record;
    if (!Load(scratch.input, record, mode.bitsPerPixel, mode.flags)) {
      Check(PwKrnLiveBlocks() == liveBefore, "failed load left blocks behind");
      continue;
    }
    const PwImgRecord first = FieldsOf(record);

    static constexpr char kVersion[] = "Pagewick fuzz 1.0";
    static constexpr char kCarried[] = "carried over from the scanner";
    Check(PwImgSetComment(0, kVersion, sizeof kVersion) == 1, "version comment refused");
    Check(PwImgSetComment(9, kCarried, sizeof kCarried) == 1, "scanner comment refused");

    std::remove(scratch.saved.c_str());
    const int saved = PwImgSaveFile(scratch.saved.c_str(), record, PWIMG_FORMAT_JPEG_EXIF, 0, 50, nullptr);
    Check(saved == 0 || saved == 1, "save returned neither 0 nor 1");
    Check(HoldsData(record), "save cleared HoldsData");
    if (saved == 1) {
      // What we wrote ourselves must load again, at the size we saved.
      Record again;
      Check(Load(scratch.saved, again, 0, 0), "saved file does not load again");
      const PwImgRecord second = FieldsOf(again);
      Check(second.width == first.width && second.height == first.height, "saved file has another size");
      Free(again);
    } else {
      Check(!std::filesystem::exists(scratch.saved), "failed save left a file behind");
    }
    Free(record);
    Check(PwKrnLiveBlocks() == liveBefore, "blocks left after freeing every record");
  }
  PwImgSetComment(0, nullptr, 0);
  PwImgSetComment(9, nullptr, 0);
  return 0;
}
