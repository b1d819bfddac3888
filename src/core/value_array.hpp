#pragma once
// The decoded values of one field in memory of their own, for the field
// API to hand over without a copy: allocated with std::malloc and left
// uninitialised (the decoder writes every value once), then either kept as
// doubles or narrowed to floats in place, in the first half of the same
// memory, whose second half goes back to the system. The binding's array
// takes the memory (release) and frees it with std::free.
#include <cstdint>
#include <span>

namespace vorlak {

enum class ValueType : std::uint8_t { Float64, Float32 };

class ValueArray {
 public:
  ValueArray() = default;
  // Room for `count` doubles, not written. Throws std::bad_alloc.
  static ValueArray doubles(std::uint64_t count);

  ValueArray(ValueArray&& other) noexcept;
  ValueArray& operator=(ValueArray&& other) noexcept;
  ValueArray(const ValueArray&) = delete;
  ValueArray& operator=(const ValueArray&) = delete;
  ~ValueArray();

  ValueType type() const { return type_; }
  std::uint64_t size() const { return count_; }
  std::span<double> as_doubles() const;  // empty once narrowed
  std::span<float> as_floats() const;    // empty until narrowed
  const void* data() const { return data_; }

  // Rounds every double to the nearest float, in place: float k takes
  // octets 4k to 4k + 3 of the memory, and the second half is given back.
  // Blocks of rising size are narrowed one after another, each split
  // across up to `threads` threads: block [b, 2b) reads octets 8b to 16b
  // and writes 4b to 8b, which no value still to be read occupies.
  void narrow_to_floats(unsigned threads);

  // The memory, to be freed with std::free; the array is left empty.
  void* release();

 private:
  void* data_ = nullptr;
  std::uint64_t count_ = 0;
  ValueType type_ = ValueType::Float64;
};

}  // namespace vorlak
