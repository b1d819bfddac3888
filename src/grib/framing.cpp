// Message framing: finding "GRIB" in a buffer, checking each edition's
// indicator section and length, and handing the message to its section walk.
#include "grib/framing.hpp"

#include <cstring>

#include "grib/grib1_sections.hpp"
#include "grib/grib2_sections.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

constexpr std::uint8_t kMagic[4] = {'G', 'R', 'I', 'B'};

// Position of the next "GRIB" at or after `from`, or buffer.size().
std::size_t find_magic(Bytes buffer, std::size_t from) {
  const std::uint8_t* base = buffer.data();
  const std::size_t size = buffer.size();
  while (size - from >= 4) {
    const void* hit = std::memchr(base + from, 'G', size - from - 3);
    if (hit == nullptr) return size;
    const auto at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - base);
    if (std::memcmp(base + at, kMagic, 4) == 0) return at;
    from = at + 1;
  }
  return size;
}

// Edition 1 indicator section (8 octets):
//   1-4 "GRIB", 5-7 total length (24-bit), 8 edition (1).
Result<MessageRecord> frame_grib1(Bytes buffer, std::size_t offset, std::uint64_t number,
                                  std::vector<FieldSpans>& fields) {
  const std::size_t remaining = buffer.size() - offset;
  const std::uint64_t length = load_u24_be(buffer.data() + offset + 4);
  if (length < 8 || length > remaining) {
    return fail(str_cat("invalid GRIB1 length ", length, " at byte offset ", offset));
  }
  MessageRecord record;
  record.edition = Edition::One;
  record.messageNumber = number;
  record.offset = offset;
  record.totalLength = length;
  const Bytes message = buffer.subspan(offset, static_cast<std::size_t>(length));
  if (auto walked = summarise_grib1(message, number, record, fields); !walked) {
    return fail(std::move(walked.error()));
  }
  return record;
}

// Edition 2 indicator section (16 octets):
//   1-4 "GRIB", 5-6 reserved, 7 discipline, 8 edition (2), 9-16 total length (64-bit);
// the message ends with "7777".
Result<MessageRecord> frame_grib2(Bytes buffer, std::size_t offset, std::uint64_t number,
                                  std::vector<FieldSpans>& fields) {
  const std::size_t remaining = buffer.size() - offset;
  if (remaining < 16) {
    return fail(str_cat("truncated GRIB2 indicator section at byte offset ", offset));
  }
  const std::uint8_t* start = buffer.data() + offset;
  const std::uint64_t length = read_u64_be(start + 8);
  // Compared against what remains, so a length near 2^64 cannot wrap.
  if (length < 20 || length > remaining) {
    return fail(str_cat("invalid GRIB2 length ", length, " at byte offset ", offset));
  }
  if (std::memcmp(start + length - 4, "7777", 4) != 0) {
    return fail(str_cat("missing GRIB2 end marker at byte offset ", offset));
  }
  MessageRecord record;
  record.edition = Edition::Two;
  record.messageNumber = number;
  record.offset = offset;
  record.totalLength = length;
  record.discipline = start[6];
  const Bytes message = buffer.subspan(offset, static_cast<std::size_t>(length));
  if (auto walked = summarise_grib2(message, number, record, fields); !walked) {
    return fail(std::move(walked.error()));
  }
  return record;
}

}  // namespace

Result<ScanResult> scan_messages(Bytes buffer) {
  ScanResult result;
  std::size_t position = 0;
  while (buffer.size() >= 4 && buffer.size() - position >= 4) {
    const std::size_t offset = find_magic(buffer, position);
    if (offset == buffer.size()) break;
    if (buffer.size() - offset < 8) break;  // a trailing fragment
    const std::uint64_t number = result.records.size() + 1;
    const std::uint8_t edition = buffer[offset + 7];
    const std::size_t fields_before = result.fields.size();
    Result<MessageRecord> framed =
        edition == 1   ? frame_grib1(buffer, offset, number, result.fields)
        : edition == 2 ? frame_grib2(buffer, offset, number, result.fields)
                       : fail(str_cat("unsupported GRIB edition ", edition, " at byte offset ", offset));
    if (framed) {
      framed->first_field = static_cast<std::uint32_t>(fields_before);
      framed->field_count = static_cast<std::uint32_t>(result.fields.size() - fields_before);
      // The framing checked that the message lies inside the buffer.
      position = offset + static_cast<std::size_t>(framed->totalLength);
      if (framed->edition == Edition::One) result.no_grib1_messages = false;
      result.records.push_back(std::move(*framed));
    } else {
      result.fields.resize(fields_before);  // the fields of a message that failed
      position = offset + 4;
    }
  }
  if (result.records.empty()) return fail("no GRIB messages found");
  return result;
}

Result<Bytes> message_bytes(const BytesSource& source, const MessageRecord& record) {
  switch (source.kind) {
    case BytesSource::Kind::SharedBuffer: {
      if (!source.bytes) return fail("raw message bytes are unavailable");
      std::uint64_t end = 0;
      if (__builtin_add_overflow(record.offset, record.totalLength, &end)) {
        return fail("message byte range overflowed");
      }
      if (end > source.bytes->size()) {
        return fail(str_cat("message ", record.messageNumber, " bytes are out of range for cached file"));
      }
      return source.bytes->span().subspan(static_cast<std::size_t>(record.offset),
                                          static_cast<std::size_t>(record.totalLength));
    }
    case BytesSource::Kind::PrivateCopy:
      if (!source.bytes) return fail("raw message bytes are unavailable");
      return source.bytes->span();
    case BytesSource::Kind::None:
      break;
  }
  return fail("raw message bytes are unavailable");
}

Result<std::uint32_t> read_u24_be(Bytes bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 3) {
    return fail(str_cat("read_u24_be out of range at offset ", offset));
  }
  return load_u24_be(bytes.data() + offset);
}

std::uint64_t read_u64_be(const std::uint8_t* p) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | p[i];
  return value;
}

Result<void> check_decode_entry(Bytes message, const MessageRecord& record) {
  const bool magic = message.size() >= 4 && std::memcmp(message.data(), kMagic, 4) == 0;
  switch (record.edition) {
    case Edition::Two:
      if (message.size() < 20 || !magic) return fail("input is not a GRIB message");
      return {};
    case Edition::One:
      if (message.size() < 8 || !magic) return fail("input is not a GRIB1 message");
      return {};
    case Edition::Unknown:
      break;
  }
  return fail("message edition is unknown");
}

}  // namespace vorlak
