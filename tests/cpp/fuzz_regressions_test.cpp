// Every kept input (fuzz/regressions/<target>/) and every seed
// (fuzz/corpus/<target>/) of the message-level fuzz targets through the
// same paths those targets drive,
// with the normal build (and under ASan/UBSan in make test-asan): scanning
// with its record invariants, handles and every key, and family decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/family_skeleton.hpp"
#include "../../fuzz/grid_geometry_harness.hpp"
#include "grib/decode_message.hpp"
#include "support/exercise_bytes.hpp"

namespace vorlak {
namespace {

struct FuzzInput {
  std::string target;
  std::filesystem::path path;
};

// The message-level targets, whose harness this suite shares. The decoder
// targets (decode_simple_fuzz and the like) read their own input layout and
// are replayed by `make fuzz-regress`.
bool message_level(const std::string& target) {
  return target == "scan_messages_fuzz" || target == "handle_keys_fuzz" || target == "decode_message_fuzz" ||
         target == "grid_geometry_fuzz";
}

std::vector<FuzzInput> fuzz_inputs() {
  std::vector<FuzzInput> out;
  const std::filesystem::path root = std::filesystem::path(VORLAK_SOURCE_ROOT) / "fuzz";
  for (const char* kind : {"regressions", "corpus"}) {
    std::error_code ec;
    if (!std::filesystem::is_directory(root / kind, ec)) continue;
    for (const auto& target : std::filesystem::directory_iterator(root / kind)) {
      if (!target.is_directory()) continue;
      for (const auto& file : std::filesystem::directory_iterator(target.path())) {
        const std::string name = target.path().filename().string();
        if (file.is_regular_file() && message_level(name)) out.push_back({name, file.path()});
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

void check_scan_records(const std::vector<std::uint8_t>& data) {
  auto scan = scan_messages(data);
  if (!scan) return;
  ASSERT_FALSE(scan->records.empty());
  std::uint64_t previous_end = 0;
  for (const MessageRecord& record : scan->records) {
    ASSERT_GE(record.offset, previous_end);
    ASSERT_LE(record.totalLength, data.size());
    ASSERT_LE(record.offset, data.size() - record.totalLength);
    ASSERT_EQ(std::memcmp(data.data() + record.offset, "GRIB", 4), 0);
    previous_end = record.offset + record.totalLength;
  }
}

class FuzzRegression : public ::testing::TestWithParam<FuzzInput> {};

TEST_P(FuzzRegression, RunsCleanThroughItsTarget) {
  const FuzzInput& input = GetParam();
  const std::vector<std::uint8_t> data = read_all(input.path);
  if (input.target == "grid_geometry_fuzz") {
    fuzz::exercise_grid_section(data.data(), data.size());
    return;
  }
  if (input.target == "decode_message_fuzz") {
    const fuzz::FamilyInput family = fuzz::parse_family_input(data);
    const test::ByteVec message = fuzz::family_message(family);
    auto scan = scan_messages(message);
    ASSERT_TRUE(scan) << "the skeleton always frames";
    auto decoded = decode_message(message, scan->records.front());
    if (decoded) {
      EXPECT_EQ(decoded->field.values().size(), decoded->field.Ni() * decoded->field.Nj());
    }
    // The same message through handles and keys.
    test::exercise_buffer(message);
    return;
  }
  check_scan_records(data);
  test::exercise_buffer(data);
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
