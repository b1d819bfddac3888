// Every seed (fuzz/corpus/<target>/) and every kept input
// (fuzz/regressions/<target>/) of every fuzz target, run through that
// target's own entry point (compiled into this suite, fuzz/replay_entry.hpp)
// in the normal builds and under ASan/UBSan in make test-asan. A target
// traps on a broken promise; the name of the input is printed first.
// The family inputs of decode_message_fuzz and the scanning inputs also go
// through handles and every key.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/family_skeleton.hpp"
#include "../../fuzz/replay_entry.hpp"
#include "support/exercise_bytes.hpp"

namespace vorlak {
namespace {

struct FuzzInput {
  std::string target;
  std::filesystem::path path;
};

std::vector<FuzzInput> fuzz_inputs() {
  std::vector<FuzzInput> out;
  const std::filesystem::path root = std::filesystem::path(VORLAK_SOURCE_ROOT) / "fuzz";
  for (const char* kind : {"regressions", "corpus"}) {
    std::error_code ec;
    if (!std::filesystem::is_directory(root / kind, ec)) continue;
    for (const auto& target : std::filesystem::directory_iterator(root / kind)) {
      if (!target.is_directory()) continue;
      for (const auto& file : std::filesystem::directory_iterator(target.path())) {
        if (file.is_regular_file()) out.push_back({target.path().filename().string(), file.path()});
      }
    }
  }
  std::sort(out.begin(), out.end(), [](const FuzzInput& a, const FuzzInput& b) { return a.path < b.path; });
  return out;
}

std::vector<std::uint8_t> read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

test::FuzzEntry::Run find_entry(const std::string& target) {
  for (const test::FuzzEntry* e = test::fuzz_entries(); e; e = e->next) {
    if (target == e->target) return e->run;
  }
  return nullptr;
}

// A trap, an abort (a sanitizer report under abort_on_error) or a fault
// names the input being replayed, then ends the run as it would have.
std::string current_input;

extern "C" void name_input_and_die(int signal) {
  const char text[] = "\nfuzz input being replayed: ";
  (void)!write(2, text, sizeof text - 1);
  (void)!write(2, current_input.data(), current_input.size());
  (void)!write(2, "\n", 1);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

class FuzzRegression : public ::testing::TestWithParam<FuzzInput> {
 protected:
  static void SetUpTestSuite() {
    for (int s : {SIGILL, SIGABRT, SIGSEGV, SIGFPE, SIGBUS}) std::signal(s, name_input_and_die);
  }
  static void TearDownTestSuite() {
    for (int s : {SIGILL, SIGABRT, SIGSEGV, SIGFPE, SIGBUS}) std::signal(s, SIG_DFL);
  }
};

TEST_P(FuzzRegression, RunsCleanThroughItsTarget) {
  const FuzzInput& input = GetParam();
  const auto run = find_entry(input.target);
  ASSERT_NE(run, nullptr) << "no fuzz target " << input.target << " for " << input.path;
  const std::vector<std::uint8_t> data = read_all(input.path);
  current_input = input.path.string();
  EXPECT_EQ(run(data.data(), data.size()), 0);
  if (input.target == "decode_message_fuzz") {
    test::exercise_buffer(fuzz::family_message(fuzz::parse_family_input(data)));
  } else if (input.target == "scan_messages_fuzz") {
    test::exercise_buffer(data);
  }
  current_input.clear();
}

std::string input_name(const ::testing::TestParamInfo<FuzzInput>& info) {
  std::string name = info.param.target + "_" + info.param.path.parent_path().parent_path().filename().string() +
                     "_" + info.param.path.filename().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression, ::testing::ValuesIn(fuzz_inputs()), input_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzRegression);

}  // namespace
}  // namespace vorlak
