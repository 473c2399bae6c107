#include "imaging/LargePages.h"

namespace pw::imaging {

// Windows gives large pages only to VirtualAlloc with MEM_LARGE_PAGES at the
// allocation, and only to an account holding SeLockMemoryPrivilege; memory
// already allocated cannot be advised, so there is nothing to do.
void AdviseLargePages(void*, std::size_t) {}

}  // namespace pw::imaging
