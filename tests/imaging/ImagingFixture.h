#pragma once
// A scratch folder and direct calls into the imaging component's entries.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "imaging/Kernel.h"
#include "imaging/pwimaging.h"
#include "tests/imaging/JpegSamples.h"

namespace pw::test {

using RawRecord = std::array<std::uint8_t, PWIMG_RECORD_SIZE>;

inline PwImgRecord FieldsOf(const RawRecord& record) {
  PwImgRecord fields;
  std::memcpy(&fields, record.data(), sizeof fields);
  return fields;
}

inline bool HoldsData(const RawRecord& record) {
  return (record[PWIMG_HOLDS_DATA_OFFSET] & PWIMG_HOLDS_DATA) != 0;
}

inline void ClearAllComments() {
  for (std::uint32_t type = 0; type <= PWIMG_MAX_COMMENT_TYPE; ++type) PwImgSetComment(type, nullptr, 0);
}

inline bool HaveProgram(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

class ImagingFixture : public ::testing::Test {
 protected:
  ImagingFixture() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::temp_directory_path() /
              (std::string("pwimg-") + info->test_suite_name() + "-" + info->name() + "-" +
               std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder_);
    ClearAllComments();
    liveBlocksBefore_ = PwKrnLiveBlocks();
  }
  ~ImagingFixture() override {
    ClearAllComments();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  std::string Write(const std::string& name, const Bytes& bytes) const {
    WriteFileBytes(folder_ / name, bytes);
    return PathOf(name);
  }

  // Loads (upright unless told), saves as the program does, frees; returns
  // the saved file.
  Bytes Resave(const Bytes& file, std::int32_t flags = PWIMG_LOAD_UPRIGHT, RawRecord* loaded = nullptr) {
    const std::string source = Write("source.jpg", file);
    RawRecord record{};
    EXPECT_EQ(PwImgLoadFile(source.c_str(), record.data(), PWIMG_RECORD_SIZE, 0, flags, nullptr, nullptr), 1);
    const std::string target = PathOf("saved.jpg");
    EXPECT_EQ(PwImgSaveFile(target.c_str(), record.data(), PWIMG_FORMAT_JPEG_EXIF, 24, 50, nullptr), 1);
    if (loaded != nullptr) *loaded = record;
    PwImgFreeRecord(record.data());
    return ReadFileBytes(target);
  }

  std::int64_t LeakedBlocks() const { return PwKrnLiveBlocks() - liveBlocksBefore_; }

  std::filesystem::path folder_;
  std::int64_t liveBlocksBefore_ = 0;
};

}  // namespace pw::test
