#pragma once
// Shared by the decoder fuzz targets: the first octets of an input choose a
// section 5 and a value count, the rest is the section 7 payload. Fields
// read past the end of a short input are zero.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "grib/decoders.hpp"
#include "grib/grib2_sections.hpp"
#include "grib/limits.hpp"

namespace vorlak::fuzz {

class InputHeader {
 public:
  InputHeader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t u8() {
    const std::uint8_t v = at_ < size_ ? data_[at_] : 0;
    ++at_;
    return v;
  }
  std::uint16_t u16() { return static_cast<std::uint16_t>((u8() << 8) | u8()); }
  std::uint32_t u32() { return (std::uint32_t{u16()} << 16) | u16(); }

  // Up to 65535 values, or one past the bound on grid points when the two
  // octets are all ones, so that the refusal is exercised too.
  std::uint64_t count() {
    const std::uint16_t raw = u16();
    return raw == 0xFFFF ? kMaxGridPoints + 1 : raw;
  }

  // R, E and D as section 5 stores them (E and D sign-magnitude).
  void scaling(DataRepresentation& drs) {
    drs.reference_value_bits = u32();
    drs.binaryScaleFactor = sign_magnitude(u16());
    drs.decimalScaleFactor = sign_magnitude(u16());
  }

  // What is left after the header.
  Bytes payload() const { return at_ < size_ ? Bytes(data_ + at_, size_ - at_) : Bytes(); }

 private:
  static std::int16_t sign_magnitude(std::uint16_t raw) {
    const auto magnitude = static_cast<std::int16_t>(raw & 0x7FFF);
    return static_cast<std::int16_t>((raw & 0x8000) ? -magnitude : magnitude);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Decodes the input as one piece and as pieces on three threads (a field
// of any size is split here) and traps unless both give the same error
// text, or the same values bit for bit and as many as asked for.
template <class Decode>
void decode_both_ways(Decode&& decode, Bytes payload, const DataRepresentation& drs, std::uint64_t count) {
  DecodeOptions split;
  split.threads = 3;
  split.split_threshold = 0;
  const auto one = decode(payload, drs, count, DecodeOptions{});
  const auto pieces = decode(payload, drs, count, split);
  if (one.has_value() != pieces.has_value()) __builtin_trap();
  if (!one) {
    if (one.error() != pieces.error()) __builtin_trap();
    return;
  }
  if (one->size() != count || pieces->size() != count) __builtin_trap();
  if (count > 0 && std::memcmp(one->data(), pieces->data(), count * sizeof(double)) != 0) __builtin_trap();
}

}  // namespace vorlak::fuzz
