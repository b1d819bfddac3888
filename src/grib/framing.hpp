#pragma once
// Finding and framing GRIB messages in a byte buffer, the big-endian readers
// every parser uses, and the accessor for one message's bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "grib/bytes.hpp"
#include "grib/message_record.hpp"
#include "grib/result.hpp"

namespace vorlak {

using Bytes = std::span<const std::uint8_t>;

// Scans the whole buffer; junk and messages that fail their framing or section
// walk are skipped. Fails only with "no GRIB messages found".
Result<ScanResult> scan_messages(Bytes buffer);

// Where a handle's message bytes live.
struct BytesSource {
  enum class Kind : std::uint8_t { SharedBuffer, PrivateCopy, None };
  Kind kind = Kind::None;
  SharedBytes bytes;  // the scanned buffer, or exactly the message's bytes

  static BytesSource shared(SharedBytes b) { return {Kind::SharedBuffer, std::move(b)}; }
  static BytesSource private_copy(SharedBytes b) { return {Kind::PrivateCopy, std::move(b)}; }
};

Result<Bytes> message_bytes(const BytesSource& source, const MessageRecord& record);

Result<std::uint32_t> read_u24_be(Bytes bytes, std::size_t offset);

// Unchecked readers: callers check the length first.
inline std::uint16_t load_u16_be(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t load_u24_be(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}
inline std::uint32_t load_u32_be(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint64_t read_u64_be(const std::uint8_t* p);

// Sign in the most significant bit, magnitude in the rest.
inline std::int32_t sign_magnitude_32(std::uint32_t raw) {
  const auto magnitude = static_cast<std::int32_t>(raw & 0x7FFFFFFFu);
  return (raw & 0x80000000u) ? -magnitude : magnitude;
}
inline std::int16_t sign_magnitude_16(std::uint16_t raw) {
  const auto magnitude = static_cast<std::int16_t>(raw & 0x7FFF);
  return static_cast<std::int16_t>((raw & 0x8000) ? -magnitude : magnitude);
}
inline std::int32_t sign_magnitude_24(std::uint32_t raw) {
  const auto magnitude = static_cast<std::int32_t>(raw & 0x7FFFFF);
  return (raw & 0x800000) ? -magnitude : magnitude;
}

// The checks at the start of value decoding: "message edition is unknown",
// "input is not a GRIB message", "input is not a GRIB1 message".
Result<void> check_decode_entry(Bytes message, const MessageRecord& record);

}  // namespace vorlak
