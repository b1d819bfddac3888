// Fuzz target: the path a Python user drives through vorlak.open. Open the
// bytes as a FieldFile and read every key, the values, shape and
// coordinates of every field, and its codes view
// (tests/cpp/support/exercise_fields.hpp). A broken promise between the
// results of one field traps.
#include <cstdint>

#include "support/exercise_fields.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!vorlak::test::exercise_field_file({data, size}).empty()) __builtin_trap();
  return 0;
}
