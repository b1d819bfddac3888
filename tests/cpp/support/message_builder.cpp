#include "support/message_builder.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vorlak::test {

namespace {

std::uint64_t sign_magnitude(std::int64_t v, unsigned bits) {
  const std::uint64_t magnitude = static_cast<std::uint64_t>(v < 0 ? -v : v);
  if (magnitude >> (bits - 1)) throw std::invalid_argument("value does not fit the sign-magnitude field");
  return magnitude | (v < 0 ? std::uint64_t{1} << (bits - 1) : 0);
}

std::int64_t micro(double deg) { return std::llround(deg * 1e6); }
std::int64_t milli(double deg) { return std::llround(deg * 1e3); }

// Octets 15-30 of section 3: shape of the earth and its (unused) radius and axes.
Writer& earth(Writer& w) { return w.u8(6).u8(0).u32(0).u8(0).u32(0).u8(0).u32(0); }

// Octets 6-14 of section 3.
Writer section3_head(std::uint16_t template_number, std::uint64_t points) {
  Writer w;
  w.u8(0).u32(points).u8(0).u8(0).u16(template_number);
  return w;
}

float float_at_most(double x) {
  float f = static_cast<float>(x);
  if (static_cast<double>(f) > x) f = std::nextafter(f, -INFINITY);
  return f;
}

}  // namespace

Writer& Writer::u8(std::uint64_t v) { out_.push_back(static_cast<std::uint8_t>(v)); return *this; }
Writer& Writer::u16(std::uint64_t v) { return u8(v >> 8).u8(v); }
Writer& Writer::u24(std::uint64_t v) { return u8(v >> 16).u8(v >> 8).u8(v); }
Writer& Writer::u32(std::uint64_t v) { return u16(v >> 16).u16(v); }
Writer& Writer::u64(std::uint64_t v) { return u32(v >> 32).u32(v); }
Writer& Writer::sm16(std::int64_t v) { return u16(sign_magnitude(v, 16)); }
Writer& Writer::sm24(std::int64_t v) { return u24(sign_magnitude(v, 24)); }
Writer& Writer::sm32(std::int64_t v) { return u32(sign_magnitude(v, 32)); }
Writer& Writer::f32(float v) { return u32(ieee_bits(v)); }
Writer& Writer::ibm(double v) { return u32(ibm_bits(v)); }
Writer& Writer::bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); return *this; }
Writer& Writer::text(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); return *this; }
Writer& Writer::zeros(std::size_t n) { out_.insert(out_.end(), n, 0); return *this; }

ByteVec concat(std::initializer_list<ByteVec> parts) {
  ByteVec out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ByteVec pack_bits(std::span<const std::uint64_t> values, unsigned bits) {
  ByteVec out;
  std::uint8_t current = 0;
  unsigned filled = 0;
  for (const std::uint64_t v : values) {
    for (int b = static_cast<int>(bits) - 1; b >= 0; --b) {
      current = static_cast<std::uint8_t>((current << 1) | ((v >> b) & 1u));
      if (++filled == 8) {
        out.push_back(current);
        current = 0;
        filled = 0;
      }
    }
  }
  if (filled) out.push_back(static_cast<std::uint8_t>(current << (8 - filled)));
  return out;
}

ByteVec pack_bitmap(const std::vector<bool>& present) {
  std::vector<std::uint64_t> ones(present.begin(), present.end());
  return pack_bits(ones, 1);
}

std::uint32_t ieee_bits(float v) { return std::bit_cast<std::uint32_t>(v); }

std::uint32_t ibm_bits(double v) {
  if (v == 0) return 0;
  const std::uint32_t sign = v < 0 ? 0x80000000u : 0;
  double a = std::fabs(v);
  int exponent = 64;
  while (a >= 1.0) { a /= 16.0; ++exponent; }
  while (a < 1.0 / 16.0) { a *= 16.0; --exponent; }
  const double scaled = a * 16777216.0;
  auto mantissa = static_cast<std::uint64_t>(sign ? std::ceil(scaled) : std::floor(scaled));
  if (mantissa >= (1u << 24)) { mantissa >>= 4; ++exponent; }
  if (exponent < 0 || exponent > 127) throw std::invalid_argument("outside the IBM float range");
  return sign | (static_cast<std::uint32_t>(exponent) << 24) | static_cast<std::uint32_t>(mantissa);
}

double ibm_value(std::uint32_t raw) {
  const double mantissa = raw & 0xFFFFFFu;
  const int exponent = static_cast<int>((raw >> 24) & 0x7F) - 64;
  const double v = std::ldexp(mantissa, 4 * exponent - 24);
  return (raw & 0x80000000u) ? -v : v;
}

SimplePacked pack_simple(const std::vector<double>& values, unsigned bits, int D, std::optional<int> E,
                         bool ibm_reference) {
  SimplePacked packed;
  packed.D = D;
  packed.bits = bits;
  packed.count = static_cast<std::uint32_t>(values.size());
  const double scale = std::pow(10.0, D);
  std::vector<double> scaled;
  for (const double v : values) scaled.push_back(v * scale);
  const double lo = scaled.empty() ? 0.0 : *std::min_element(scaled.begin(), scaled.end());
  const double hi = scaled.empty() ? 0.0 : *std::max_element(scaled.begin(), scaled.end());
  packed.reference = ibm_reference ? ibm_value(ibm_bits(lo)) : float_at_most(lo);
  if (bits == 0) return packed;
  const double top = std::ldexp(1.0, static_cast<int>(bits)) - 1;
  if (E) {
    packed.E = *E;
  } else if (hi > packed.reference) {
    packed.E = static_cast<int>(std::ceil(std::log2((hi - packed.reference) / top)));
    while ((hi - packed.reference) / std::ldexp(1.0, packed.E) > top) ++packed.E;
  }
  std::vector<std::uint64_t> ints;
  for (const double s : scaled) {
    const double x = std::nearbyint((s - packed.reference) / std::ldexp(1.0, packed.E));
    ints.push_back(static_cast<std::uint64_t>(std::clamp(x, 0.0, top)));
  }
  packed.data = pack_bits(ints, bits);
  return packed;
}

// ---------------------------------------------------------------- GRIB2

ByteVec g2_section(std::uint8_t number, const ByteVec& body, std::optional<std::uint32_t> length) {
  Writer w;
  w.u32(length.value_or(static_cast<std::uint32_t>(body.size() + 5))).u8(number).bytes(body);
  return w.take();
}

ByteVec grib2_message(const std::vector<ByteVec>& sections, std::uint8_t discipline,
                      std::optional<std::uint64_t> total_length, std::string_view end) {
  std::size_t body = 0;
  for (const auto& s : sections) body += s.size();
  Writer w;
  w.text("GRIB").u16(0).u8(discipline).u8(2).u64(total_length.value_or(16 + body + end.size()));
  for (const auto& s : sections) w.bytes(s);
  w.text(end);
  return w.take();
}

ByteVec grib2_message(std::initializer_list<ByteVec> sections, std::uint8_t discipline,
                      std::optional<std::uint64_t> total_length, std::string_view end) {
  return grib2_message(std::vector<ByteVec>(sections), discipline, total_length, end);
}

ByteVec g2_section1(const G2Identification& id) {
  Writer w;
  w.u16(id.centre).u16(id.subcentre).u8(2).u8(0).u8(1).u16(id.year).u8(id.month).u8(id.day).u8(id.hour)
      .u8(id.minute).u8(id.second).u8(0).u8(1);
  return g2_section(1, w.take());
}

ByteVec g2_section3_latlon(const G2LatLonGrid& g) {
  const double unit = (g.basic_angle && g.subdivisions) ? double(g.subdivisions) / g.basic_angle : 1e6;
  auto angle = [unit](double deg) { return std::llround(deg * unit); };
  Writer w = section3_head(g.N ? 40 : 0, std::uint64_t{g.Ni} * g.Nj);
  earth(w).u32(g.Ni).u32(g.Nj).u32(g.basic_angle).u32(g.subdivisions).sm32(angle(g.la1)).sm32(angle(g.lo1))
      .u8(0x30).sm32(angle(g.la2)).sm32(angle(g.lo2)).u32(static_cast<std::uint64_t>(angle(g.di)));
  if (g.N) {
    w.u32(*g.N);
  } else {
    w.u32(static_cast<std::uint64_t>(angle(g.dj)));
  }
  w.u8(g.scanning_mode);
  return g2_section(3, w.take());
}

ByteVec g2_section3_lambert(const G2ProjectedGrid& g) {
  Writer w = section3_head(30, std::uint64_t{g.Nx} * g.Ny);
  earth(w).u32(g.Nx).u32(g.Ny).sm32(micro(g.la1)).sm32(micro(g.lo1)).u8(0x08).sm32(micro(25)).sm32(micro(265))
      .u32(static_cast<std::uint64_t>(std::llround(g.dx_m * 1000)))
      .u32(static_cast<std::uint64_t>(std::llround(g.dy_m * 1000))).u8(0).u8(g.scanning_mode)
      .sm32(micro(25)).sm32(micro(25)).sm32(micro(-90)).u32(0);
  return g2_section(3, w.take());
}

ByteVec g2_section3_polar(const G2ProjectedGrid& g) {
  Writer w = section3_head(20, std::uint64_t{g.Nx} * g.Ny);
  earth(w).u32(g.Nx).u32(g.Ny).sm32(micro(g.la1)).sm32(micro(g.lo1)).u8(0x08).sm32(micro(60)).sm32(micro(210))
      .u32(5000000).u32(5000000).u8(0).u8(g.scanning_mode);
  return g2_section(3, w.take());
}

ByteVec g2_section3_mercator(const G2ProjectedGrid& g) {
  Writer w = section3_head(10, std::uint64_t{g.Nx} * g.Ny);
  earth(w).u32(g.Nx).u32(g.Ny).sm32(micro(g.la1)).sm32(micro(g.lo1)).u8(0x30).sm32(micro(20)).sm32(micro(23))
      .sm32(micro(206)).u8(g.scanning_mode).u32(0).u32(2500000).u32(2500000);
  return g2_section(3, w.take());
}

ByteVec g2_section3_template(std::uint16_t template_number, std::uint32_t Ni, std::uint32_t Nj,
                             const ByteVec& rest) {
  Writer w = section3_head(template_number, std::uint64_t{Ni} * Nj);
  earth(w).u32(Ni).u32(Nj).bytes(rest);
  return g2_section(3, w.take());
}

ByteVec g2_section4(const G2Product& p) {
  Writer w;
  w.u16(0).u16(p.template_number).u8(p.category).u8(p.number).u8(2).u8(0).u8(p.process).u16(0).u8(0)
      .u8(p.time_unit).u32(p.forecast_time).u8(p.level_type).u8(static_cast<std::uint8_t>(p.level_scale))
      .u32(p.level_value).u8(255).u8(0).u32(0);
  return g2_section(4, w.take());
}

ByteVec g2_section5(const G2DataRep& r) {
  Writer w;
  w.u32(r.count).u16(r.template_number).f32(r.reference).sm16(r.E).sm16(r.D).u8(r.bits).u8(r.original_type)
      .bytes(r.tail);
  return g2_section(5, w.take());
}

ByteVec g2_section5_simple(const SimplePacked& p, std::optional<std::uint32_t> count) {
  return g2_section5({.template_number = 0, .count = count.value_or(p.count),
                      .reference = static_cast<float>(p.reference), .E = p.E, .D = p.D,
                      .bits = static_cast<std::uint8_t>(p.bits), .original_type = 0, .tail = {}});
}

ByteVec g2_section5_complex(const G2Complex& r) {
  Writer tail;
  tail.u8(r.splitting).u8(r.missing_management).u32(r.primary_missing).u32(r.secondary_missing).u32(r.groups)
      .u8(r.width_reference).u8(r.width_bits).u32(r.length_reference).u8(r.length_increment)
      .u32(r.last_length).u8(r.length_bits);
  if (r.template_number == 3) tail.u8(r.order).u8(r.descriptor_octets);
  return g2_section5({.template_number = r.template_number, .count = r.count, .reference = r.reference,
                      .E = r.E, .D = r.D, .bits = r.bits, .tail = tail.take()});
}

ByteVec g2_section5_ieee(std::uint32_t count, std::uint8_t precision) {
  Writer w;
  w.u32(count).u16(4).u8(precision);
  return g2_section(5, w.take());
}

ByteVec g2_section5_jpeg(std::uint32_t count, float reference, int E, int D, std::uint8_t bits,
                         std::uint8_t compression, std::uint8_t ratio) {
  return g2_section5({.template_number = 40, .count = count, .reference = reference, .E = E, .D = D,
                      .bits = bits, .tail = {compression, ratio}});
}

ByteVec g2_section5_png(std::uint32_t count, float reference, int E, int D, std::uint8_t bits) {
  return g2_section5({.template_number = 41, .count = count, .reference = reference, .E = E, .D = D,
                      .bits = bits, .tail = {}});
}

ByteVec g2_section5_with_float(std::uint16_t template_number, std::uint32_t count, float reference, int E, int D,
                               std::uint8_t bits, float extra) {
  Writer w;
  w.u32(count).u16(template_number).f32(reference).sm16(E).sm16(D).u8(bits).f32(extra);
  return g2_section(5, w.take());
}

ByteVec g2_section5_run_length(std::uint32_t count, std::uint8_t bits, std::uint16_t mv,
                               const std::vector<std::uint16_t>& levels, int scale,
                               std::optional<std::uint16_t> mvl) {
  Writer w;
  w.u32(count).u16(200).u8(bits).u16(mv).u16(mvl.value_or(static_cast<std::uint16_t>(levels.size())));
  w.u8(scale < 0 ? 0x80u | static_cast<unsigned>(-scale) : static_cast<unsigned>(scale));
  for (auto v : levels) w.u16(v);
  return g2_section(5, w.take());
}

ByteVec g2_section5_ccsds(std::uint32_t count, float reference, int E, int D, std::uint8_t bits,
                          std::uint8_t flags, std::uint8_t block_size, std::uint16_t rsi) {
  return g2_section5({.template_number = 42, .count = count, .reference = reference, .E = E, .D = D,
                      .bits = bits,
                      .tail = {flags, block_size, static_cast<std::uint8_t>(rsi >> 8),
                               static_cast<std::uint8_t>(rsi)}});
}

ByteVec g2_section6_bitmap(const std::vector<bool>& present) {
  ByteVec body{0};
  const ByteVec bits = pack_bitmap(present);
  body.insert(body.end(), bits.begin(), bits.end());
  return g2_section(6, body);
}

ByteVec g2_section6_none() { return g2_section(6, {255}); }

ByteVec g2_section6_indicator(std::uint8_t indicator, const ByteVec& bits) {
  ByteVec body{indicator};
  body.insert(body.end(), bits.begin(), bits.end());
  return g2_section(6, body);
}

ByteVec g2_section7(const ByteVec& payload) { return g2_section(7, payload); }

std::vector<ByteVec> g2_simple_field(const std::vector<double>& values, unsigned bits, const G2Product& product,
                                     int D) {
  std::vector<bool> present;
  std::vector<double> kept;
  for (const double v : values) {
    present.push_back(!std::isnan(v));
    if (!std::isnan(v)) kept.push_back(v);
  }
  const SimplePacked packed = pack_simple(kept, bits, D);
  const bool all = kept.size() == values.size();
  return {g2_section4(product), g2_section5_simple(packed, static_cast<std::uint32_t>(values.size())),
          all ? g2_section6_none() : g2_section6_bitmap(present), g2_section7(packed.data)};
}

ByteVec minimal_grib2(const G2Product& product, std::uint8_t discipline) {
  std::vector<double> values;
  for (int i = 0; i < 12; ++i) values.push_back(i);
  std::vector<ByteVec> sections{g2_section1(), g2_section3_latlon({})};
  for (auto& s : g2_simple_field(values, 8, product)) sections.push_back(std::move(s));
  return grib2_message(sections, discipline);
}

// ---------------------------------------------------------------- GRIB1

ByteVec grib1_message(const ByteVec& pds, const ByteVec& gds, const ByteVec& bms, const ByteVec& bds,
                      std::optional<std::uint32_t> total_length, std::string_view end) {
  const std::size_t body = pds.size() + gds.size() + bms.size() + bds.size();
  Writer w;
  w.text("GRIB").u24(total_length.value_or(static_cast<std::uint32_t>(8 + body + end.size()))).u8(1);
  w.bytes(pds).bytes(gds).bytes(bms).bytes(bds).text(end);
  return w.take();
}

ByteVec g1_pds(const G1Product& p) {
  Writer w;
  w.u8(p.table_version).u8(p.centre).u8(p.process).u8(p.grid)
      .u8((p.has_gds ? 0x80 : 0) | (p.has_bms ? 0x40 : 0)).u8(p.parameter).u8(p.level_type).u16(p.level)
      .u8(p.year_of_century).u8(p.month).u8(p.day).u8(p.hour).u8(p.minute).u8(p.time_unit).u8(p.P1).u8(p.P2)
      .u8(p.time_range).u16(0).u8(0).u8(p.century).u8(p.subcentre).sm16(p.D).bytes(p.extra);
  const ByteVec body = w.take();
  Writer out;
  out.u24(p.length.value_or(static_cast<std::uint32_t>(body.size() + 3))).bytes(body);
  return out.take();
}

ByteVec g1_gds(std::uint8_t type, const ByteVec& body, std::uint8_t nv, std::uint8_t pv_pl,
               std::optional<std::uint32_t> length) {
  Writer w;
  w.u24(length.value_or(static_cast<std::uint32_t>(body.size() + 6))).u8(nv).u8(pv_pl).u8(type).bytes(body);
  return w.take();
}

ByteVec g1_gds_latlon(const G1LatLonGrid& g) {
  const bool reduced = !g.points_per_row.empty();
  Writer w;
  w.u16(reduced ? 0xFFFF : g.Ni).u16(g.Nj).sm24(milli(g.la1)).sm24(milli(g.lo1)).u8(0x80).sm24(milli(g.la2))
      .sm24(milli(g.lo2)).u16(reduced ? 0xFFFF : static_cast<std::uint64_t>(milli(g.di)))
      .u16(g.N ? *g.N : static_cast<std::uint64_t>(milli(g.dj))).u8(g.scanning_mode).zeros(4);
  for (const std::uint16_t n : g.points_per_row) w.u16(n);
  return g1_gds(g.N ? 4 : 0, w.take(), 0, reduced ? 33 : 255);
}

ByteVec g1_gds_lambert(std::uint16_t Nx, std::uint16_t Ny, double la1, double lo1, std::uint32_t dx_m,
                       std::uint32_t dy_m, std::uint8_t scanning_mode) {
  Writer w;
  w.u16(Nx).u16(Ny).sm24(milli(la1)).sm24(milli(lo1)).u8(0x88).sm24(milli(265)).u24(dx_m).u24(dy_m).u8(0)
      .u8(scanning_mode).sm24(milli(25)).sm24(milli(25)).sm24(milli(-90)).u24(0).u16(0);
  return g1_gds(3, w.take());
}

ByteVec g1_bms(const std::vector<bool>& present, std::uint16_t table, std::optional<std::uint8_t> unused) {
  ByteVec bits = table == 0 ? pack_bitmap(present) : ByteVec{};
  if ((6 + bits.size()) % 2) bits.push_back(0);
  const std::size_t spare = table == 0 ? bits.size() * 8 - present.size() : 0;
  Writer w;
  w.u24(6 + bits.size()).u8(unused.value_or(static_cast<std::uint8_t>(spare))).u16(table).bytes(bits);
  return w.take();
}

ByteVec g1_bds(double reference, int E, std::uint8_t bits, const ByteVec& data, std::uint32_t count,
               std::uint8_t flags) {
  std::size_t length = 11 + data.size();
  if (length % 2) ++length;
  const std::size_t unused = (length - 11) * 8 - std::size_t{count} * bits;
  Writer w;
  w.u24(length).u8((flags & 0xF0) | (unused & 0x0F)).sm16(E).ibm(reference).u8(bits).bytes(data);
  w.zeros(length - 11 - data.size());
  return w.take();
}

ByteVec g1_bds_simple(const SimplePacked& p, std::uint8_t flags) {
  return g1_bds(p.reference, p.E, static_cast<std::uint8_t>(p.bits), p.data, p.count, flags);
}

ByteVec minimal_grib1(const G1Product& product) {
  std::vector<double> values;
  for (int i = 0; i < 12; ++i) values.push_back(i);
  return grib1_message(g1_pds(product), product.has_gds ? g1_gds_latlon({}) : ByteVec{}, {},
                       g1_bds_simple(pack_simple(values, 8, 0, {}, true)));
}

}  // namespace vorlak::test
