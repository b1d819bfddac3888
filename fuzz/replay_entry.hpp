#pragma once
// The fuzz targets (fuzz/*_fuzz.cpp) compiled into the C++ suite: the build
// compiles each with its entry point renamed and links it whole with
// replay_entry.cpp, which registers it here under the target's name, so
// that tests/cpp/fuzz_regressions_test.cpp replays every seed and kept input
// through the very code the fuzzer runs, in the normal builds and under
// ASan/UBSan, without the clang build.
#include <cstddef>
#include <cstdint>

namespace vorlak::test {

struct FuzzEntry {
  using Run = int (*)(const std::uint8_t* data, std::size_t size);
  const char* target;
  Run run;
  const FuzzEntry* next;
};

// The registered targets, a list linked at static initialisation.
inline const FuzzEntry*& fuzz_entries() {
  static const FuzzEntry* head = nullptr;
  return head;
}

inline bool register_fuzz_entry(FuzzEntry& entry) {
  entry.next = fuzz_entries();
  fuzz_entries() = &entry;
  return true;
}

}  // namespace vorlak::test
