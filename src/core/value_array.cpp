#include "core/value_array.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

#include "grib/value_buffer.hpp"
#include "grib/worker_pool.hpp"

namespace vorlak {

namespace {

// Blocks smaller than this are narrowed on the calling thread.
constexpr std::uint64_t kSplitBlock = std::uint64_t{1} << 18;
// The first values are narrowed one by one in order.
constexpr std::uint64_t kFirstBlock = 4096;

}  // namespace

ValueArray ValueArray::doubles(std::uint64_t count) {
  if (count > SIZE_MAX / sizeof(double)) throw std::bad_alloc();
  const std::size_t bytes = std::max<std::size_t>(static_cast<std::size_t>(count) * sizeof(double), sizeof(double));
  void* data = std::malloc(bytes);
  if (!data) throw std::bad_alloc();
  advise_huge_pages(data, bytes);
  ValueArray out;
  out.data_ = data;
  out.count_ = count;
  return out;
}

ValueArray::ValueArray(ValueArray&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)), type_(other.type_) {}

ValueArray& ValueArray::operator=(ValueArray&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    count_ = std::exchange(other.count_, 0);
    type_ = other.type_;
  }
  return *this;
}

ValueArray::~ValueArray() { std::free(data_); }

std::span<double> ValueArray::as_doubles() const {
  if (!data_ || type_ != ValueType::Float64) return {};
  return {static_cast<double*>(data_), static_cast<std::size_t>(count_)};
}

std::span<float> ValueArray::as_floats() const {
  if (!data_ || type_ != ValueType::Float32) return {};
  return {static_cast<float*>(data_), static_cast<std::size_t>(count_)};
}

void ValueArray::narrow_to_floats(unsigned threads) {
  if (type_ == ValueType::Float32) return;
  auto* bytes = static_cast<unsigned char*>(data_);
  // Through memcpy: the same octets are read as doubles and written as
  // floats.
  const auto narrow = [bytes](std::uint64_t b, std::uint64_t e) {
    for (std::uint64_t i = b; i < e; ++i) {
      double d;
      __builtin_memcpy(&d, bytes + i * sizeof(double), sizeof d);
      const float f = static_cast<float>(d);
      __builtin_memcpy(bytes + i * sizeof(float), &f, sizeof f);
    }
  };
  std::uint64_t done = std::min(count_, kFirstBlock);
  narrow(0, done);
  while (done < count_) {
    const std::uint64_t end = std::min(count_, done * 2);
    const std::uint64_t length = end - done;
    const unsigned used = length >= kSplitBlock ? threads : 1;
    const std::uint64_t from = done;
    run_pieces(used, length, piece_count(used, length, kSplitBlock / 4), 8,
               [&](std::uint64_t b, std::uint64_t e) { narrow(from + b, from + e); });
    done = end;
  }
  type_ = ValueType::Float32;
  // The second half goes back (a mapping of its own shrinks in place).
  const std::size_t kept = std::max<std::size_t>(static_cast<std::size_t>(count_) * sizeof(float), sizeof(double));
  if (void* smaller = std::realloc(data_, kept)) data_ = smaller;
}

void* ValueArray::release() {
  count_ = 0;
  return std::exchange(data_, nullptr);
}

}  // namespace vorlak
