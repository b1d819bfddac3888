// Grid sections of both editions from arbitrary input (grid_geometry_harness.hpp).
#include "grid_geometry_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorlak::fuzz::exercise_grid_section(data, size);
  return 0;
}
