#pragma once
// Large pages for big buffers that are one fresh allocation of many megabytes,
// written once from start to end: in 4 KB pages the first touches cost about
// as much as the work on the data. Where the system offers large pages on
// request for memory already allocated, a fault then brings in 2 MB at a time;
// elsewhere the call does nothing. Any thread.
//
// The component's own seam to the system, one file per build
// (HostLargePages.cpp, Win32LargePages.cpp), so that it needs nothing of the
// program's platform layer.
#include <cstddef>

namespace pw::imaging {

// A hint only: the memory stays valid and unchanged whatever the outcome.
void AdviseLargePages(void* begin, std::size_t bytes);

}  // namespace pw::imaging
