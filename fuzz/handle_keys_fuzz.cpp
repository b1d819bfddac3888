// Fuzz target: the path a Python user drives with bytes. Scan, make a handle
// of every message (over the shared buffer and over a private copy), read
// every derived and computed key with get_key and the typed readers, decode,
// and walk and search the grid (tests/cpp/support/exercise_bytes.hpp).
#include <cstdint>

#include "support/exercise_bytes.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto totals = vorlak::test::exercise_buffer({data, size});
  // A handle always lists at least its edition.
  if (totals.messages > 0 && totals.keys_read == 0) __builtin_trap();
  return 0;
}
