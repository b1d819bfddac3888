// Sections of a GRIB1 message without a GDS: PDS from octet 9 (grid number
// at its octet 7, flags at octet 8), then the BMS when flagged (1-3 length,
// 4 unused bits at the end, 5-6 predefined bitmap number, bits from octet 7),
// then the BDS (1-3 length, low nibble of 4 unused bits at the end, 11 bits
// per value, packed values from octet 12).
#include "grib/grib1_predefined.hpp"

#include "grib/decode_message.hpp"
#include "grib/grib1_sections.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"

namespace vorlak {

namespace {

constexpr std::size_t kBdsHeaderOctets = 11;

struct Sections {
  Grib1Product product;
  std::uint8_t grid_number = 255;
  Bytes bms;  // empty without a bitmap
  Bytes bds;
  Grib1DataHeader header;
};

Result<Bytes> section_at(Bytes message, std::size_t offset, const char* name) {
  if (offset > message.size() || message.size() - offset < 3) return fail(str_cat("truncated GRIB1 ", name));
  const std::uint32_t length = load_u24_be(message.data() + offset);
  if (length < 3 || length > message.size() - offset) return fail(str_cat("truncated GRIB1 ", name));
  return message.subspan(offset, length);
}

Result<Sections> walk(Bytes message) {
  if (message.size() < 8 || message[0] != 'G' || message[1] != 'R' || message[2] != 'I' || message[3] != 'B') {
    return fail("input is not a GRIB1 message");
  }
  Sections s;
  auto pds = section_at(message, 8, "PDS");
  if (!pds) return fail(pds.error());
  auto product = parse_pds(*pds);
  if (!product) return fail(product.error());
  if (product->has_gds) return fail("the message has a grid description");
  s.product = *product;
  s.grid_number = (*pds)[6];
  std::size_t position = 8 + pds->size();
  if (product->has_bms) {
    auto bms = section_at(message, position, "BMS");
    if (!bms) return fail(bms.error());
    if (bms->size() <= 6) return fail("GRIB1 BMS too short");
    if (const std::uint16_t table = load_u16_be(bms->data() + 4); table != 0) {
      return fail(str_cat("GRIB1 predefined bitmap ", table, " is not implemented yet"));
    }
    s.bms = *bms;
    position += bms->size();
  }
  auto bds = section_at(message, position, "BDS");
  if (!bds) return fail(bds.error());
  auto header = parse_bds_header(*bds);
  if (!header) return fail(header.error());
  s.bds = *bds;
  s.header = *header;
  return s;
}

// Points of the grid: the bitmap's bits, or the values the data section holds.
Result<std::uint64_t> point_count(const Sections& s) {
  if (!s.bms.empty()) {
    const std::uint64_t bits = (s.bms.size() - 6) * 8;
    const std::uint8_t unused = s.bms[3];
    return bits > unused ? bits - unused : 0;
  }
  if (s.header.bitsPerValue == 0) {
    return fail(str_cat("constant field on predefined grid ", s.grid_number,
                        ": the message does not say how many points it has"));
  }
  const std::uint64_t bits = (s.bds.size() - kBdsHeaderOctets) * 8;
  const std::uint64_t usable = bits > s.header.unused_bits ? bits - s.header.unused_bits : 0;
  return usable / s.header.bitsPerValue;
}

}  // namespace

Result<Grib1PredefinedGrid> grib1_predefined_grid(Bytes message) {
  auto s = walk(message);
  if (!s) return fail(s.error());
  auto points = point_count(*s);
  if (!points) return fail(points.error());
  if (auto ok = check_point_count(*points); !ok) return fail(ok.error());
  return Grib1PredefinedGrid{s->grid_number, *points};
}

Result<std::vector<double>> decode_grib1_predefined(Bytes message) {
  auto s = walk(message);
  if (!s) return fail(s.error());
  auto points = point_count(*s);
  if (!points) return fail(points.error());
  if (auto ok = check_point_count(*points); !ok) return fail(ok.error());
  if (s->bms.empty()) return unpack_grib1(s->bds, s->header, s->product.decimalScaleFactor, *points);
  auto bitmap = parse_bms(s->bms, *points);
  if (!bitmap) return fail(bitmap.error());
  auto values = unpack_grib1(s->bds, s->header, s->product.decimalScaleFactor, bitmap->count_present());
  if (!values) return fail(values.error());
  return apply_bitmap(*bitmap, std::move(*values));
}

}  // namespace vorlak
