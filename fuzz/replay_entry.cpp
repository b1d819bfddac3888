// Registers one fuzz target's entry point with the C++ suite
// (replay_entry.hpp). The build compiles this file once per target, with
// LLVMFuzzerTestOneInput renamed to a name of that target's own and
// VORLAK_FUZZ_TARGET naming it.
#include "replay_entry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
vorlak::test::FuzzEntry entry{VORLAK_FUZZ_TARGET, &LLVMFuzzerTestOneInput, nullptr};
[[maybe_unused]] const bool registered = vorlak::test::register_fuzz_entry(entry);
}  // namespace
