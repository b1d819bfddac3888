// Decoding speed per data representation template over the real test files,
// and the cost of the Gaussian latitudes of N = 1280 computed once vs cached.
// Usage: decode_bench [repetitions] [folder]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "grib/decode_message.hpp"
#include "grib/framing.hpp"
#include "grib/geometry.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double elapsed_ns(Clock::time_point since) {
  return std::chrono::duration<double, std::nano>(Clock::now() - since).count();
}

struct Tally {
  std::uint64_t messages = 0;
  std::uint64_t values = 0;
  std::uint64_t failures = 0;
  double ns = 0;
};

std::string template_label(const vorlak::MessageRecord& record) {
  if (record.edition == vorlak::Edition::One) return "GRIB1 simple";
  if (!record.dataRepresentationTemplateNumber) return "GRIB2 5.?";
  return "GRIB2 5." + std::to_string(*record.dataRepresentationTemplateNumber);
}

vorlak::SharedBytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
  auto block = std::make_shared<vorlak::ByteBlock>(size);
  in.read(reinterpret_cast<char*>(block->data()), static_cast<std::streamsize>(size));
  return block;
}

void bench_gaussian() {
  const auto cold = Clock::now();
  const auto first = vorlak::gaussian_latitudes(1280);
  const double cold_ns = elapsed_ns(cold);
  const auto warm = Clock::now();
  const auto again = vorlak::gaussian_latitudes(1280);
  const double warm_ns = elapsed_ns(warm);
  std::printf("gaussian_latitudes(1280): first %.3f ms, cached %.3f us (%zu latitudes, %s)\n",
              cold_ns / 1e6, warm_ns / 1e3, first ? first->size() : 0,
              first == again ? "shared" : "NOT shared");
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path(VORLAK_SOURCE_ROOT "/../shared/testdata");

  bench_gaussian();
  if (!std::filesystem::is_directory(folder)) {
    std::printf("no test data in %s\n", folder.c_str());
    return 0;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const auto ext = entry.path().extension();
    if (ext == ".grib1" || ext == ".grib2") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());

  std::map<std::string, Tally> tallies;
  for (const auto& path : files) {
    const vorlak::SharedBytes bytes = read_file(path);
    const auto scan = vorlak::scan_messages(bytes->span());
    if (!scan) {
      std::printf("%-60s %s\n", path.filename().c_str(), scan.error().c_str());
      continue;
    }
    const auto source = vorlak::BytesSource::shared(bytes);
    for (const auto& record : scan->records) {
      const auto message = vorlak::message_bytes(source, record);
      if (!message) continue;
      Tally& tally = tallies[template_label(record)];
      for (int rep = 0; rep < repetitions; ++rep) {
        const auto start = Clock::now();
        const auto decoded = vorlak::decode_message(*message, record);
        const double ns = elapsed_ns(start);
        if (!decoded) {
          if (rep == 0) ++tally.failures;
          continue;
        }
        tally.ns += ns;
        tally.values += decoded->field.values().size();
        if (rep == 0) ++tally.messages;
      }
    }
  }

  std::printf("%d repetitions over %zu files in %s\n", repetitions, files.size(), folder.c_str());
  std::printf("%-14s %9s %9s %14s %12s\n", "template", "messages", "refused", "values/rep", "ns/value");
  for (const auto& [label, tally] : tallies) {
    const double per_value = tally.values ? tally.ns / static_cast<double>(tally.values) : 0.0;
    std::printf("%-14s %9llu %9llu %14llu %12.3f\n", label.c_str(),
                static_cast<unsigned long long>(tally.messages),
                static_cast<unsigned long long>(tally.failures),
                static_cast<unsigned long long>(tally.values / static_cast<std::uint64_t>(repetitions)),
                per_value);
  }
  return 0;
}
