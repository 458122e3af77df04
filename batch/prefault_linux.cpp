// Linux: the page tables of a large buffer filled in one call, instead of one page
// fault for each page as it is first written. A file's tables of pairs are written
// from end to end right after they are reserved; on a virtual machine a fault costs
// microseconds.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "reading.h"

namespace batch::reading {

void prefault(void* start, std::size_t bytes) {
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(start) + page - 1) & ~(page - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(page - 1);
  // Only worth a call for many pages; a kernel without the request leaves it to faults.
  if (last > first + 16 * page) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
}

}  // namespace batch::reading
