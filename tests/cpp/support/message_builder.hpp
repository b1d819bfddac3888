#pragma once
// Exact GRIB messages for tests, built section by section.
//
// Every builder returns the section's bytes (`ByteVec`), so a test can
// truncate, repeat, reorder or corrupt any of them before joining them:
//
//   using namespace vorlak::test;
//   ByteVec msg = grib2_message({
//       g2_section1({.year = 2024, .month = 5}),
//       g2_section3_latlon({.Ni = 4, .Nj = 3, .la1 = 60, .lo1 = 0, .la2 = 58, .lo2 = 3, .di = 1, .dj = 1}),
//       g2_section4({.category = 0, .number = 0, .level_type = 100, .level_value = 850}),
//       g2_section5_simple(packed),          // packed = pack_simple(values, 12)
//       g2_section6_none(),
//       g2_section7(packed.data)});
//
//   ByteVec msg1 = grib1_message(g1_pds({.parameter = 130, .has_gds = true}),
//                                g1_gds_latlon({.Ni = 4, .Nj = 3, ...}), {}, g1_bds_simple(values, 12));
//
// Angles are degrees, stored rounded to millionths (GRIB2) or thousandths
// (GRIB1) of a degree in sign-magnitude. Lengths are computed unless given
// (`length`, `total_length`), so malformed framing is easy to write.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The option structs are meant for designated initializers that name only
// what differs from the defaults; GCC 12 warns about every member left out.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vorlak::test {

using ByteVec = std::vector<std::uint8_t>;

// Big-endian appenders.
class Writer {
 public:
  Writer& u8(std::uint64_t v);
  Writer& u16(std::uint64_t v);
  Writer& u24(std::uint64_t v);
  Writer& u32(std::uint64_t v);
  Writer& u64(std::uint64_t v);
  Writer& sm16(std::int64_t v);  // sign-magnitude
  Writer& sm24(std::int64_t v);
  Writer& sm32(std::int64_t v);
  Writer& f32(float v);          // IEEE single precision
  Writer& ibm(double v);         // IBM single precision, rounded towards minus infinity
  Writer& bytes(std::span<const std::uint8_t> b);
  Writer& text(std::string_view s);
  Writer& zeros(std::size_t n);
  ByteVec take() { return std::move(out_); }
  const ByteVec& view() const { return out_; }

 private:
  ByteVec out_;
};

ByteVec concat(std::initializer_list<ByteVec> parts);

// Unsigned integers of `bits` bits each, most significant bit first.
ByteVec pack_bits(std::span<const std::uint64_t> values, unsigned bits);
ByteVec pack_bitmap(const std::vector<bool>& present);
std::uint32_t ieee_bits(float v);
std::uint32_t ibm_bits(double v);  // rounded towards minus infinity
double ibm_value(std::uint32_t raw);

// Simple packing: Y = (R + X * 2^E) / 10^D.
struct SimplePacked {
  double reference = 0;  // exactly representable as float (GRIB2) or IBM float (GRIB1)
  int E = 0;
  int D = 0;
  unsigned bits = 0;
  std::uint32_t count = 0;
  ByteVec data;
};
// Packs `values` (all present) with `bits` bits each; E is chosen so the
// range fits unless given. Values chosen as R + k * 2^E decode exactly.
SimplePacked pack_simple(const std::vector<double>& values, unsigned bits, int D = 0, std::optional<int> E = {},
                         bool ibm_reference = false);

// ---------------------------------------------------------------- GRIB2

// Any section: 4-octet length (computed unless given), number, body.
ByteVec g2_section(std::uint8_t number, const ByteVec& body, std::optional<std::uint32_t> length = {});

// Section 0 + sections + end marker; total_length overrides octets 9-16.
ByteVec grib2_message(std::initializer_list<ByteVec> sections, std::uint8_t discipline = 0,
                      std::optional<std::uint64_t> total_length = {}, std::string_view end = "7777");
ByteVec grib2_message(const std::vector<ByteVec>& sections, std::uint8_t discipline = 0,
                      std::optional<std::uint64_t> total_length = {}, std::string_view end = "7777");

struct G2Identification {
  std::uint16_t centre = 98;
  std::uint16_t subcentre = 0;
  std::uint16_t year = 2024;
  std::uint8_t month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
ByteVec g2_section1(const G2Identification& id = {});  // 21 octets

struct G2LatLonGrid {
  std::uint32_t Ni = 4, Nj = 3;
  double la1 = 60, lo1 = 0, la2 = 58, lo2 = 3, di = 1, dj = 1;
  std::uint8_t scanning_mode = 0;
  std::uint32_t basic_angle = 0, subdivisions = 0;  // 0, 0: millionths of a degree
  std::optional<std::uint32_t> N;                   // set: template 40 (Gaussian), N in octets 68-71
};
ByteVec g2_section3_latlon(const G2LatLonGrid& grid);  // template 0 or 40, 72 octets

struct G2ProjectedGrid {
  std::uint32_t Nx = 4, Ny = 3;
  double la1 = 20, lo1 = 250;
  double dx_m = 3000, dy_m = 3000;  // Lambert only
  std::uint8_t scanning_mode = 0x40;
};
ByteVec g2_section3_lambert(const G2ProjectedGrid& grid);   // template 30, 81 octets
ByteVec g2_section3_polar(const G2ProjectedGrid& grid);     // template 20, 65 octets
ByteVec g2_section3_mercator(const G2ProjectedGrid& grid);  // template 10, 72 octets
// Any template: octets 6-14, then Ni at 31-34 and Nj at 35-38 after the
// earth shape (15-30), then `rest` from octet 39.
ByteVec g2_section3_template(std::uint16_t template_number, std::uint32_t Ni, std::uint32_t Nj,
                             const ByteVec& rest = {});

struct G2Product {
  std::uint16_t template_number = 0;
  std::uint8_t category = 0, number = 0;
  std::uint8_t process = 96;
  std::uint8_t time_unit = 1;
  std::uint32_t forecast_time = 0;
  std::uint8_t level_type = 100;
  std::int8_t level_scale = 0;
  std::uint32_t level_value = 85000;
};
ByteVec g2_section4(const G2Product& product = {});  // template 4.0 layout, 34 octets

struct G2DataRep {
  std::uint16_t template_number = 0;
  std::uint32_t count = 0;
  float reference = 0;
  int E = 0, D = 0;
  std::uint8_t bits = 0;
  std::uint8_t original_type = 0;
  ByteVec tail;  // octets 22 onward
};
ByteVec g2_section5(const G2DataRep& rep);  // octets 6-21 then the tail
ByteVec g2_section5_simple(const SimplePacked& packed, std::optional<std::uint32_t> count = {});

struct G2Complex {
  std::uint16_t template_number = 2;  // 2 or 3
  std::uint32_t count = 0;
  float reference = 0;
  int E = 0, D = 0;
  std::uint8_t bits = 8;
  std::uint8_t splitting = 1, missing_management = 0;
  std::uint32_t primary_missing = 0, secondary_missing = 0;
  std::uint32_t groups = 1;
  std::uint8_t width_reference = 0, width_bits = 0;
  std::uint32_t length_reference = 1;
  std::uint8_t length_increment = 1;
  std::uint32_t last_length = 1;
  std::uint8_t length_bits = 0;
  std::uint8_t order = 2, descriptor_octets = 2;  // template 3
};
ByteVec g2_section5_complex(const G2Complex& rep);  // 47 or 49 octets
// Template 4 in the WMO layout: 12 octets, precision in octet 12.
ByteVec g2_section5_ieee(std::uint32_t count, std::uint8_t precision = 1);
ByteVec g2_section5_jpeg(std::uint32_t count, float reference, int E, int D, std::uint8_t bits,
                         std::uint8_t compression = 0, std::uint8_t ratio = 255);  // 23 octets
ByteVec g2_section5_ccsds(std::uint32_t count, float reference, int E, int D, std::uint8_t bits,
                          std::uint8_t flags = 14, std::uint8_t block_size = 32,
                          std::uint16_t rsi = 128);  // 25 octets

// Template 41 (PNG): octets 12-21 as for simple packing, 21 octets.
ByteVec g2_section5_png(std::uint32_t count, float reference, int E, int D, std::uint8_t bits);
// Templates 50 and 61: octets 12-20 as for simple packing, then `extra` as
// an IEEE single-precision number in octets 21-24 (the real part of the
// (0,0) coefficient, or the pre-processing parameter B).
ByteVec g2_section5_with_float(std::uint16_t template_number, std::uint32_t count, float reference, int E, int D,
                               std::uint8_t bits, float extra);
// Template 200: V (octet 12), MV, MVL, the level scale factor
// (sign-magnitude) and the level values; MVL is levels.size() unless given.
ByteVec g2_section5_run_length(std::uint32_t count, std::uint8_t bits, std::uint16_t mv,
                               const std::vector<std::uint16_t>& levels, int scale = 0,
                               std::optional<std::uint16_t> mvl = {});

ByteVec g2_section6_bitmap(const std::vector<bool>& present);
ByteVec g2_section6_none();                          // indicator 255
ByteVec g2_section6_indicator(std::uint8_t indicator, const ByteVec& bits = {});
ByteVec g2_section7(const ByteVec& payload);

// Sections 4-7 of a simple-packed field; NaN values are absent (bitmap).
std::vector<ByteVec> g2_simple_field(const std::vector<double>& values, unsigned bits, const G2Product& product = {},
                                     int D = 0);

// A whole valid message: section 1, a 4 x 3 lat/lon grid and one field.
ByteVec minimal_grib2(const G2Product& product = {}, std::uint8_t discipline = 0);

// ---------------------------------------------------------------- GRIB1

// Indicator section + the given sections + end marker; total_length
// overrides octets 5-7.
ByteVec grib1_message(const ByteVec& pds, const ByteVec& gds, const ByteVec& bms, const ByteVec& bds,
                      std::optional<std::uint32_t> total_length = {}, std::string_view end = "7777");

struct G1Product {
  std::uint8_t table_version = 128, centre = 98, process = 145, grid = 255;
  bool has_gds = true, has_bms = false;
  std::uint8_t parameter = 130, level_type = 100;
  std::uint16_t level = 850;
  std::uint8_t century = 21, year_of_century = 24;  // 2024
  std::uint8_t month = 1, day = 1, hour = 0, minute = 0;
  std::uint8_t time_unit = 1, P1 = 0, P2 = 0, time_range = 0;
  std::uint8_t subcentre = 0;
  int D = 0;
  ByteVec extra;                          // octets 29 onward
  std::optional<std::uint32_t> length;  // octets 1-3
};
ByteVec g1_pds(const G1Product& product = {});

struct G1LatLonGrid {
  std::uint16_t Ni = 4, Nj = 3;
  double la1 = 60, lo1 = 0, la2 = 58, lo2 = 3, di = 1, dj = 1;
  std::uint8_t scanning_mode = 0;
  std::optional<std::uint16_t> N;         // set: type 4 (Gaussian), N in octets 26-27
  std::vector<std::uint16_t> points_per_row;  // non-empty: reduced Gaussian, list from octet 33
};
ByteVec g1_gds_latlon(const G1LatLonGrid& grid);  // type 0 or 4, 32 octets (+ list)
ByteVec g1_gds_lambert(std::uint16_t Nx, std::uint16_t Ny, double la1, double lo1, std::uint32_t dx_m,
                       std::uint32_t dy_m, std::uint8_t scanning_mode = 0x40);  // type 3, 42 octets
// Any type: octets 4-6 then `body` from octet 7; length computed unless given.
ByteVec g1_gds(std::uint8_t type, const ByteVec& body, std::uint8_t nv = 0, std::uint8_t pv_pl = 255,
               std::optional<std::uint32_t> length = {});

// Bit map section (length kept even); `unused` defaults to the padding bits.
ByteVec g1_bms(const std::vector<bool>& present, std::uint16_t table = 0, std::optional<std::uint8_t> unused = {});

// Binary data section: flags in the high nibble of octet 4.
ByteVec g1_bds(double reference, int E, std::uint8_t bits, const ByteVec& data, std::uint32_t count,
               std::uint8_t flags = 0);
ByteVec g1_bds_simple(const SimplePacked& packed, std::uint8_t flags = 0);  // packed with ibm_reference

// A whole valid message: PDS, 4 x 3 lat/lon GDS, BDS of 12 8-bit values 0..11.
ByteVec minimal_grib1(const G1Product& product = {});

}  // namespace vorlak::test
