// Large pages for the big coefficient arrays: each is one fresh allocation
// of many megabytes, written once from start to end, and in 4 KB pages the
// first touches cost about as much as the work on the data. Where the system
// offers large pages on request, a fault then brings in 2 MB at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace pw::imaging {

inline void AdviseLargePages(void* begin, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kPage = 4096;
  const auto first = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t start = (first + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t end = (first + bytes) & ~(kPage - 1);
  if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)begin;
  (void)bytes;
#endif
}

}  // namespace pw::imaging
