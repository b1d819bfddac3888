// GRIB edition 1 sections: product definition (PDS), grid description
// (GDS), bit map (BMS) and binary data header (BDS), and the two walks that
// chain them: PDS at octet 9 of the message, then GDS, BMS and BDS as the
// PDS flags say, each starting with its 24-bit length.
#include "grib/grib1_sections.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "grib/limits.hpp"
#include "grib/text.hpp"
#include "grib/value_count.hpp"

namespace vorlak {

namespace {

// Octet n (1-based, as in the WMO tables) of a section.
inline std::uint8_t u8_at(Bytes s, std::size_t n) { return s[n - 1]; }
inline std::uint16_t u16_at(Bytes s, std::size_t n) { return load_u16_be(s.data() + (n - 1)); }
inline std::uint32_t u24_at(Bytes s, std::size_t n) { return load_u24_be(s.data() + (n - 1)); }

// Sign-magnitude 24-bit angle in thousandths of a degree.
inline double milli_angle(Bytes s, std::size_t n) { return sign_magnitude_24(u24_at(s, n)) / 1000.0; }

// GDS longitudes are given in 0..360; the grid summary keeps -180..180.
inline double wrap_longitude(double lon) { return lon > 180.0 ? lon - 360.0 : lon; }

// The 24-bit length of the section starting at `offset`, when that section
// lies wholly inside the message.
std::optional<Bytes> section_at(Bytes message, std::size_t offset) {
  if (offset > message.size() || message.size() - offset < 3) return std::nullopt;
  const std::uint32_t length = load_u24_be(message.data() + offset);
  if (length > message.size() - offset) return std::nullopt;
  return message.subspan(offset, length);
}

// Reduced Gaussian grids list the points of each row. The list normally
// starts at octet 33; when vertical coordinates are also present (octet 4,
// NV) it follows them, at octet 5 (PV) + 4 NV.
std::uint64_t reduced_point_total(Bytes s, std::uint32_t rows) {
  std::size_t start = 33;
  const std::uint8_t nv = u8_at(s, 4);
  const std::uint8_t pv = u8_at(s, 5);
  if (nv != 0 && pv != 255 && pv != 0) start = std::size_t{pv} + 4 * std::size_t{nv};
  if (start == 0 || start - 1 >= s.size()) return 0;
  const std::uint64_t room = (s.size() - (start - 1)) / 2;
  const std::uint64_t entries = std::min<std::uint64_t>(rows, room);
  std::uint64_t total = 0;
  for (std::uint64_t k = 0; k < entries; ++k) total += u16_at(s, start + 2 * k);
  return total;
}

}  // namespace

bool grib1_layer_type(std::uint8_t level_type) {
  switch (level_type) {
    case 101: case 104: case 106: case 108: case 110: case 112:
    case 114: case 116: case 120: case 121: case 128: case 141:
      return true;
    default:
      return false;
  }
}

float ibm_to_float(std::uint32_t raw) {
  const std::uint32_t mantissa = raw & 0xFFFFFFu;
  if (mantissa == 0) return (raw & 0x80000000u) ? -0.0f : 0.0f;
  const int exponent = static_cast<int>((raw >> 24) & 0x7F) - 64;
  double value = std::ldexp(static_cast<double>(mantissa), 4 * exponent - 24);
  if (raw & 0x80000000u) value = -value;
  // IBM numbers reach 16^63, far past the float range.
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// PDS: 1-3 length, 4 table version, 5 centre, 6 generating process, 7 grid,
// 8 flags (0x80 GDS, 0x40 BMS), 9 parameter, 10 level type, 11-12 level,
// 13 year of century, 14 month, 15 day, 16 hour, 17 minute, 18 unit of time
// range, 19 P1, 20 P2, 21 time range indicator, 25 century, 26 sub-centre,
// 27-28 decimal scale factor (sign-magnitude).
Result<Grib1Product> parse_pds(Bytes s) {
  if (s.size() <= 27) return fail("GRIB1 PDS too short");
  Grib1Product pds;
  pds.table2Version = u8_at(s, 4);
  pds.centre = u8_at(s, 5);
  pds.generatingProcessIdentifier = u8_at(s, 6);
  pds.has_gds = (u8_at(s, 8) & 0x80) != 0;
  pds.has_bms = (u8_at(s, 8) & 0x40) != 0;
  pds.indicatorOfParameter = u8_at(s, 9);
  pds.indicatorOfTypeOfLevel = u8_at(s, 10);
  // Layers keep their top in octet 11 and their bottom in octet 12.
  if (grib1_layer_type(pds.indicatorOfTypeOfLevel)) {
    pds.level = u8_at(s, 11);
    pds.level_bottom = u8_at(s, 12);
  } else {
    pds.level = u16_at(s, 11);
  }
  pds.unitOfTimeRange = u8_at(s, 18);
  pds.timeRangeIndicator = u8_at(s, 21);
  // Indicator 10: P1 occupies octets 19-20.
  if (pds.timeRangeIndicator == 10) {
    pds.P1 = u16_at(s, 19);
  } else {
    pds.P1 = u8_at(s, 19);
    pds.P2 = u8_at(s, 20);
  }
  pds.subCentre = u8_at(s, 26);
  pds.decimalScaleFactor = sign_magnitude_16(u16_at(s, 27));

  const unsigned century = u8_at(s, 25);
  const unsigned year_of_century = u8_at(s, 13);
  unsigned year = 0;
  if (century != 0) {
    year = century * 100 + year_of_century - 100;  // century >= 1, so never below 0
  } else {
    year = year_of_century < 70 ? year_of_century + 2000 : year_of_century + 1900;
  }
  pds.reference_time = ReferenceTime{static_cast<std::uint16_t>(year), u8_at(s, 14), u8_at(s, 15),
                                     u8_at(s, 16), u8_at(s, 17), 0};
  return pds;
}

// GDS: 1-3 length, 4 NV, 5 PV/PL location, 6 data representation type;
// types 0 and 4: 7-8 Ni, 9-10 Nj, 11-13 La1, 14-16 Lo1, 17 flags, 18-20 La2,
// 21-23 Lo2, 24-25 Di, 26-27 Dj (0) or N (4), 28 scanning mode, and on
// quasi-regular grids (Ni 65535) the points of each row;
// type 3: 18-20 LoV, 21-23 Dx, 24-26 Dy (metres), 28 scanning mode;
// types 1 (Mercator), 5 (polar stereographic) and 10 (rotated latitude/
// longitude): 7-8 Ni (Nx), 9-10 Nj (Ny), 28 scanning mode; their
// coordinates are not computed here;
// types 50/51: 7-8, 9-10 J, K.
bool grib1_rows_listed(Bytes s) {
  if (s.size() < 26) return false;
  switch (u8_at(s, 6)) {
    case 0:
    case 10:
    case 14:
      return u16_at(s, 7) == 0xFFFF;
    case 4:
      return u16_at(s, 7) == 0xFFFF || u16_at(s, 24) == 0xFFFF;
    default:
      return false;
  }
}

Result<GridSummary> parse_gds(Bytes s) {
  if (s.size() <= 27) return fail("GRIB1 GDS too short");
  const std::uint8_t type = u8_at(s, 6);
  GridSummary grid;
  grid.Ni = u16_at(s, 7);
  grid.Nj = u16_at(s, 9);
  switch (type) {
    case 0: {
      // Thinned grids (Ni 65535) list the points of each row, as reduced
      // Gaussian grids do: the field is the sum of the rows.
      const bool thinned = grib1_rows_listed(s);
      if (thinned && s.size() < 32) return fail("GRIB1 GDS too short");
      grid.gridDefinitionTemplateNumber = 0;
      if (thinned) grid.reduced_point_count = reduced_point_total(s, grid.Nj);
      grid.latitudeOfFirstGridPoint = milli_angle(s, 11);
      grid.longitudeOfFirstGridPoint = wrap_longitude(milli_angle(s, 14));
      grid.latitudeOfLastGridPoint = milli_angle(s, 18);
      grid.longitudeOfLastGridPoint = wrap_longitude(milli_angle(s, 21));
      grid.iDirectionIncrement = u16_at(s, 24) / 1000.0;
      grid.jDirectionIncrement = u16_at(s, 26) / 1000.0;
      grid.scanningMode = u8_at(s, 28);
      break;
    }
    case 3:
      grid.gridDefinitionTemplateNumber = 30;
      grid.projection_kind = 1;
      grid.latitudeOfFirstGridPoint = milli_angle(s, 11);
      grid.longitudeOfFirstGridPoint = wrap_longitude(milli_angle(s, 14));
      grid.iDirectionIncrement = u24_at(s, 21);
      grid.jDirectionIncrement = u24_at(s, 24);
      grid.scanningMode = u8_at(s, 28);
      break;
    case 4: {
      const bool reduced = grib1_rows_listed(s);
      if (reduced && s.size() < 32) return fail("GRIB1 GDS too short");
      grid.gridDefinitionTemplateNumber = reduced ? 41 : 40;
      grid.latitudeOfFirstGridPoint = milli_angle(s, 11);
      grid.longitudeOfFirstGridPoint = wrap_longitude(milli_angle(s, 14));
      grid.latitudeOfLastGridPoint = milli_angle(s, 18);
      grid.longitudeOfLastGridPoint = wrap_longitude(milli_angle(s, 21));
      grid.iDirectionIncrement = u16_at(s, 24) / 1000.0;
      grid.N = u16_at(s, 26);
      grid.scanningMode = u8_at(s, 28);
      if (reduced) grid.reduced_point_count = reduced_point_total(s, grid.Nj);
      break;
    }
    case 1:   // Mercator: GRIB2 template 10
    case 5:   // polar stereographic: template 20
    case 10:  // rotated latitude/longitude: template 1
      grid.gridDefinitionTemplateNumber = type == 1 ? 10 : type == 5 ? 20 : 1;
      grid.projection_kind = type == 1 ? 3 : type == 5 ? 2 : 0;
      grid.scanningMode = u8_at(s, 28);
      break;
    case 50:
    case 51:
      grid.gridDefinitionTemplateNumber = type;
      break;
    default:
      return fail(str_cat("GRIB1 GDS data representation type ", type, " is not implemented yet"));
  }
  return grid;
}

// BMS: 1-3 length, 4 unused bits at the end, 5-6 predefined bitmap number
// (0: the bitmap follows), 7.. one bit per point, 1 = present.
Result<Bitmap> parse_bms(Bytes s, std::uint64_t point_count) {
  if (s.size() <= 5) return fail("GRIB1 BMS too short");
  const std::uint16_t table = u16_at(s, 5);
  if (table != 0) return fail(str_cat("GRIB1 predefined bitmap ", table, " is not implemented yet"));
  // The entries are allocated from the grid's point count, which comes from
  // the GDS alone: bound it before allocating.
  if (auto bounded = check_point_count(point_count); !bounded) return fail(std::move(bounded.error()));
  const std::int64_t stored_bits = std::int64_t{8} * static_cast<std::int64_t>(s.size() - 6) - u8_at(s, 4);
  const std::uint64_t available = stored_bits > 0 ? static_cast<std::uint64_t>(stored_bits) : 0;
  const std::uint64_t kept = std::min(available, point_count);

  Bitmap bitmap;
  bitmap.size = point_count;
  bitmap.bits.assign(static_cast<std::size_t>((point_count + 7) / 8), 0);
  const Bytes stored = s.subspan(6);
  const std::size_t whole = static_cast<std::size_t>(kept / 8);
  std::copy_n(stored.begin(), whole, bitmap.bits.begin());
  if (kept % 8 != 0) bitmap.bits[whole] = static_cast<std::uint8_t>(stored[whole] & (0xFF00u >> (kept % 8)));
  return bitmap;
}

// BDS: 1-3 length, 4 flags (high nibble) and unused bits at the end (low
// nibble), 5-6 binary scale factor (sign-magnitude), 7-10 reference value
// (IBM float), 11 bits per value, 12.. packed values.
Result<Grib1DataHeader> parse_bds_header(Bytes s) {
  if (s.size() <= 10) return fail("GRIB1 BDS too short");
  const std::uint8_t flags = u8_at(s, 4);
  if (flags > 15) {
    std::string binary(8, '0');
    for (int bit = 0; bit < 8; ++bit) {
      if (flags & (0x80 >> bit)) binary[static_cast<std::size_t>(bit)] = '1';
    }
    return fail(str_cat("GRIB1 BDS flags ", binary, " are not implemented beyond simple packing"));
  }
  Grib1DataHeader header;
  header.binaryScaleFactor = sign_magnitude_16(u16_at(s, 5));
  header.referenceValue = ibm_to_float(load_u32_be(s.data() + 6));
  header.bitsPerValue = u8_at(s, 11);
  header.unused_bits = flags & 0x0F;
  return header;
}

Result<void> summarise_grib1(Bytes message, std::uint64_t message_number, MessageRecord& record,
                             std::vector<FieldSpans>& fields) {
  FieldSpans spans;
  const std::optional<Bytes> pds_bytes = section_at(message, 8);
  if (!pds_bytes) return fail(str_cat("truncated GRIB1 PDS in message ", message_number));
  auto pds = parse_pds(*pds_bytes);
  if (!pds) return fail(std::move(pds.error()));
  spans.product = {8, pds_bytes->size()};
  std::size_t position = 8 + pds_bytes->size();

  if (pds->has_gds) {
    const std::optional<Bytes> gds_bytes = section_at(message, position);
    if (!gds_bytes) return fail(str_cat("truncated GRIB1 GDS in message ", message_number));
    auto grid = parse_gds(*gds_bytes);
    if (!grid) return fail(std::move(grid.error()));
    record.Ni = grid->Ni;
    record.Nj = grid->Nj;
    record.gridDefinitionTemplateNumber = grid->gridDefinitionTemplateNumber;
    record.scanningMode = grid->scanningMode;
    record.reduced_point_count = grid->reduced_point_count;
    spans.grid = {position, gds_bytes->size()};
    position += gds_bytes->size();
  }
  // The bit map and binary data sections, where they are whole; decoding
  // checks them again.
  if (pds->has_bms) {
    if (const std::optional<Bytes> bms = section_at(message, position)) {
      spans.bitmap = spans.bitmap_source = {position, bms->size()};
      position += bms->size();
    }
  }
  if (const std::optional<Bytes> bds = section_at(message, position); bds && (!pds->has_bms || spans.bitmap.present())) {
    spans.data = {position, bds->size()};
  }

  record.level = static_cast<double>(pds->level);
  if (pds->level_bottom) {
    record.secondLevelType = pds->indicatorOfTypeOfLevel;
    record.secondLevel = static_cast<double>(*pds->level_bottom);
  }
  record.reference_time = pds->reference_time;
  record.indicatorOfUnitOfTimeRange = pds->unitOfTimeRange;
  record.forecastTime = pds->P1;
  record.timeRangeIndicator = pds->timeRangeIndicator;
  if (pds->timeRangeIndicator != 10) record.P2 = pds->P2;
  record.centre = pds->centre;
  record.subCentre = pds->subCentre;
  record.table2Version = pds->table2Version;
  record.generatingProcessIdentifier = pds->generatingProcessIdentifier;
  record.parameterNumber = pds->indicatorOfParameter;
  record.levelType = pds->indicatorOfTypeOfLevel;
  record.spans = spans;
  fields.push_back(spans);
  return {};
}

Result<Grib1Collected> collect_grib1(Bytes message) {
  if (message.size() < 8 || message[0] != 'G' || message[1] != 'R' || message[2] != 'I' || message[3] != 'B') {
    return fail("input is not a GRIB1 message");
  }
  auto pds_length = read_u24_be(message, 8);
  if (!pds_length) return fail(std::move(pds_length.error()));
  if (*pds_length > message.size() - 8) return fail("truncated GRIB1 PDS");
  auto product = parse_pds(message.subspan(8, *pds_length));
  if (!product) return fail(std::move(product.error()));
  std::size_t position = 8 + *pds_length;

  if (!product->has_gds) return fail("GRIB1 decode currently requires a GDS");
  const std::optional<Bytes> gds_bytes = section_at(message, position);
  if (!gds_bytes) return fail("truncated GRIB1 GDS");
  auto grid = parse_gds(*gds_bytes);
  if (!grid) return fail(std::move(grid.error()));
  position += gds_bytes->size();

  const std::uint64_t points =
      grid->reduced_point_count ? *grid->reduced_point_count : std::uint64_t{grid->Ni} * grid->Nj;

  std::optional<Bitmap> bitmap;
  if (product->has_bms) {
    const std::optional<Bytes> bms_bytes = section_at(message, position);
    if (!bms_bytes) return fail("truncated GRIB1 BMS");
    auto parsed = parse_bms(*bms_bytes, points);
    if (!parsed) return fail(std::move(parsed.error()));
    bitmap = std::move(*parsed);
    position += bms_bytes->size();
  }

  const std::optional<Bytes> bds_bytes = section_at(message, position);
  if (!bds_bytes) return fail("truncated GRIB1 BDS");
  auto header = parse_bds_header(*bds_bytes);
  if (!header) return fail(std::move(header.error()));

  return Grib1Collected{*std::move(product), *grid, std::move(bitmap), *header, *bds_bytes};
}

}  // namespace vorlak
