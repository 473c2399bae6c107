// pwimgkrn: record memory and the free entry.
#include "imaging/Kernel.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::int64_t> gLiveBlocks{0};
}  // namespace

extern "C" {

void* PwKrnAllocate(std::size_t size) {
  if (size == 0) return nullptr;
  void* block = std::calloc(1, size);
  if (block != nullptr) gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void PwKrnRelease(void* block) {
  if (block == nullptr) return;
  std::free(block);
  gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

pw::imaging::ImageData* PwKrnCreateImage() {
  void* block = PwKrnAllocate(sizeof(pw::imaging::ImageData));
  if (block == nullptr) return nullptr;
  return new (block) pw::imaging::ImageData();
}

void PwKrnReleaseImage(pw::imaging::ImageData* image) {
  if (image == nullptr) return;
  if (image->codec != nullptr && image->releaseCodec != nullptr) image->releaseCodec(image->codec);
  PwKrnRelease(image->pixels);
  PwKrnRelease(image->markers);
  image->~ImageData();
  PwKrnRelease(image);
}

std::int64_t PwKrnLiveBlocks() { return gLiveBlocks.load(std::memory_order_relaxed); }

void PwImgFreeRecord(void* record) {
  if (record == nullptr) return;
  PwImgRecord fields = pw::imaging::ReadRecord(record);
  pw::imaging::ImageData* image = pw::imaging::ImageOf(fields);
  if (image == nullptr) return;
  PwKrnReleaseImage(image);
  fields.flags = static_cast<std::uint8_t>(fields.flags & ~PWIMG_HOLDS_DATA);
  fields.image = 0;
  fields.storage = PWIMG_STORAGE_NONE;
  pw::imaging::WriteRecord(record, fields);
}

}  // extern "C"
