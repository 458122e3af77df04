// Windows: the pages of a table are left to fault in as they are first written.

#include "reading.h"

namespace batch::reading {

void prefault(void*, std::size_t) {}

}  // namespace batch::reading
