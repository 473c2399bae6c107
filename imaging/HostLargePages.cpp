#include "imaging/LargePages.h"

#include <sys/mman.h>

#include <cstdint>

namespace pw::imaging {

void AdviseLargePages(void* begin, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  // Whole pages inside the buffer only: the advice applies to page ranges.
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
