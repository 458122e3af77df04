// Where the reader keeps its reals: the heap, or the storage a TableStorage names for
// the times and the values of the first block.

#include <new>

#include "batch.h"
#include "reading.h"

namespace batch {
namespace {

struct Storage {
  float* start = nullptr;  // none: no storage stands
  bool taken = false;
};
Storage places[3];  // by RealsPlace; Heap unused
std::size_t room = 0;
constexpr std::size_t SMALL = 1024;

}  // namespace

float* allocate_reals(RealsPlace where, std::size_t n) {
  Storage& place = places[static_cast<int>(where)];
  // A block's first few reals go on the heap: the storage is for the room reserved
  // for the whole block once its first lines are read.
  if (where != RealsPlace::Heap && place.start != nullptr && !place.taken && n >= SMALL && n <= room) {
    place.taken = true;
    return place.start;
  }
  return static_cast<float*>(::operator new(n * sizeof(float)));
}

void free_reals(float* p) {
  for (Storage& place : places)
    if (place.start != nullptr && p == place.start) {
      place.taken = false;
      return;
    }
  ::operator delete(p);
}

namespace reading {

TableStorage::TableStorage(float* times, float* values, std::size_t capacity) {
  places[static_cast<int>(RealsPlace::Times)] = {times, false};
  places[static_cast<int>(RealsPlace::Values)] = {values, false};
  room = capacity;
}

TableStorage::~TableStorage() {
  for (Storage& place : places) place = {};
  room = 0;
}

}  // namespace reading
}  // namespace batch
