// hugepages.h: the advice to back a large block with 2 MiB pages.
//
// platform/ holds what both the bundled host and the plug-ins use and
// neither owns: it includes nothing of the project, so the host (host/)
// and the plug-ins' shared parts (common/) both include from here and
// never from each other.
//
// On Linux every 4 KiB page of a fresh block costs a fault when it is first
// touched; on virtual machines a fault can cost microseconds, so for blocks
// of tens of megabytes the faults cost more than the work done in them.
// Advising huge pages for the block's aligned interior cuts the faults
// 512-fold where the kernel allows it. Used by the plug-ins for the large
// outputs they fill (common/largeoutput.h) and by the bundled host for the
// data blocks of the arrays it creates (host/src/mx.cpp).
#ifndef TOOLBOX_PLATFORM_HUGEPAGES_H
#define TOOLBOX_PLATFORM_HUGEPAGES_H

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace hugepages {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this size a block fits the allocator's reused memory and the advice
// would gain nothing.
constexpr std::size_t kAdviceThreshold = 4 * kHugePage;

// Advises huge pages for the aligned interior of [data, data + bytes). Only
// a hint: it changes no byte and is ignored where unsupported.
inline void advise(void *data, std::size_t bytes) {
#if defined(__linux__)
  if (bytes < kAdviceThreshold) return;
  auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace hugepages

#endif
