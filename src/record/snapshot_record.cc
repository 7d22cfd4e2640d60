#include "record/snapshot_record.h"

#include <cstring>

namespace wendrake {

void CopyTrimmedName(char* destination, const unsigned char* field, int fieldLength) {
  if (fieldLength < 2 || field[0] == ' ') return;
  int k = fieldLength - 1;
  while (k > 1 && field[k - 1] == ' ') --k;
  std::memcpy(destination, field, static_cast<std::size_t>(k));
}

}  // namespace wendrake
