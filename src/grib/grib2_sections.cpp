// GRIB edition 2 sections: the grid definition (3) parser, the bitmap (6),
// and the two walks over a message's sections (section 5 is read in
// data_representation.cpp).
#include "grib/grib2_sections.hpp"

#include <bit>
#include <cstring>

#include "grib/template_walk.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

// Octet n (1-based, as in the WMO tables) of a section.
inline const std::uint8_t* octet(Bytes section, std::size_t n) { return section.data() + (n - 1); }
inline std::uint8_t u8_at(Bytes s, std::size_t n) { return s[n - 1]; }
inline std::uint16_t u16_at(Bytes s, std::size_t n) { return load_u16_be(octet(s, n)); }
inline std::uint32_t u32_at(Bytes s, std::size_t n) { return load_u32_be(octet(s, n)); }
inline std::int32_t sm32_at(Bytes s, std::size_t n) { return sign_magnitude_32(u32_at(s, n)); }

double power_of_ten(int exponent) {
  double p = 1.0;
  for (int i = 0; i < exponent; ++i) p *= 10.0;
  return p;
}

// Section 3 templates 0 and 40 measure angles in subdivisions of a basic
// angle; zero or missing (all bits set) in either means millionths of a degree.
double angle_unit(Bytes s) {
  const std::uint32_t basic = u32_at(s, 39);
  const std::uint32_t subdivisions = u32_at(s, 43);
  constexpr std::uint32_t kMissing = 0xFFFFFFFFu;
  if (basic == 0 || subdivisions == 0 || basic == kMissing || subdivisions == kMissing) return 1e6;
  return static_cast<double>(subdivisions) / static_cast<double>(basic);
}

// Templates 0 and 40 share octets 47-67: La1 47-50, Lo1 51-54, (flags 55),
// La2 56-59, Lo2 60-63, Di 64-67; octets 68-71 are Dj (0) or N (40).
void read_latlon_corners(Bytes s, GridSummary& grid) {
  const double unit = angle_unit(s);
  grid.latitudeOfFirstGridPoint = sm32_at(s, 47) / unit;
  grid.longitudeOfFirstGridPoint = sm32_at(s, 51) / unit;
  grid.latitudeOfLastGridPoint = sm32_at(s, 56) / unit;
  grid.longitudeOfLastGridPoint = sm32_at(s, 60) / unit;
  grid.iDirectionIncrement = u32_at(s, 64) / unit;
  grid.scanningMode = u8_at(s, 72);
}

std::uint16_t template_key(std::string_view name) {
  const auto key = template_key_id(name);
  return key ? *key : kNoField;
}

// The scanning mode of any template at its own octet, 0 when the template
// has none or the section ends before it.
std::uint8_t scanning_mode_of(Bytes s, std::uint16_t template_number) {
  static const std::uint16_t key = template_key("scanningMode");
  const TemplateReader reader(find_template(3, template_number), s);
  const auto field = reader.find(key);
  return field ? static_cast<std::uint8_t>(field->raw) : 0;
}

// Quasi-regular latitude/longitude and Gaussian grids (Ni all ones, octet 11
// the width of the entries of the list of points per row that follows the
// template): the points of the first Nj rows the section holds.
std::optional<std::uint64_t> quasi_regular_points(Bytes s, const GridSummary& grid) {
  static const std::uint16_t key = template_key("pl");
  if (grid.Ni != 0xFFFFFFFFu || u8_at(s, 11) == 0) return std::nullopt;
  const TemplateLayout* layout = find_template(3, grid.gridDefinitionTemplateNumber);
  const TemplateReader reader(layout, s);
  const auto field = layout ? layout->find(key) : std::nullopt;
  if (!field) return std::nullopt;
  const std::uint32_t rows = std::min<std::uint32_t>(grid.Nj, reader.count(*field));
  std::uint64_t total = 0;
  for (std::uint32_t r = 0; r < rows; ++r) total += reader.get(*field, r)->raw;
  return total;
}

// The section walk shared by both passes: from octet 17 of the message, each
// section is a 4-octet length and a 1-octet number; "7777" ends the walk.
template <class Handler, class LengthError>
Result<void> walk_sections(Bytes message, Handler&& handle, LengthError&& length_error) {
  std::size_t position = 16;
  while (position <= message.size() && message.size() - position >= 5) {
    const std::uint8_t* p = message.data() + position;
    if (std::memcmp(p, "7777", 4) == 0) break;
    const std::uint32_t length = load_u32_be(p);
    const std::uint8_t number = p[4];
    if (length < 5 || length > message.size() - position) return fail(length_error(number, length));
    if (auto handled = handle(number, message.subspan(position, length)); !handled) return handled;
    position += length;
  }
  return {};
}

// Section 1 (identification): 6-7 centre, 8-9 sub-centre, 13-14 year,
// 15 month, 16 day, 17 hour, 18 minute, 19 second.
void summarise_section1(Bytes s, MessageRecord& record) {
  if (s.size() < 19) {
    record.centre.reset();
    record.subCentre.reset();
    record.reference_time.reset();
    return;
  }
  record.centre = u16_at(s, 6);
  record.subCentre = u16_at(s, 8);
  record.reference_time = ReferenceTime{u16_at(s, 13), u8_at(s, 15), u8_at(s, 16),
                                        u8_at(s, 17), u8_at(s, 18), u8_at(s, 19)};
}

Result<void> summarise_section3(Bytes s, MessageRecord& record) {
  auto grid = parse_section3(s);
  if (!grid) return fail(std::move(grid.error()));
  record.Ni = grid->Ni;
  record.Nj = grid->Nj;
  record.gridDefinitionTemplateNumber = grid->gridDefinitionTemplateNumber;
  record.scanningMode = grid->scanningMode;
  record.reduced_point_count = grid->reduced_point_count;
  return {};
}

Result<void> summarise_section5(Bytes s, MessageRecord& record) {
  auto drs = parse_section5(s);
  if (!drs) return fail(std::move(drs.error()));
  record.dataRepresentationTemplateNumber = drs->dataRepresentationTemplateNumber;
  record.bitsPerValue = drs->bitsPerValue;
  return {};
}

// The section 4 keys the record keeps, by their ids in the template layouts.
struct ProductKeys {
  std::uint16_t process, unit, forecast, type1, factor1, value1, type2, factor2, value2;
};

const ProductKeys& product_keys() {
  static const ProductKeys keys = [] {
    auto id = [](std::string_view name) { return template_key_id(name).value_or(kNoField); };
    return ProductKeys{id("generatingProcessIdentifier"), id("indicatorOfUnitOfTimeRange"), id("forecastTime"),
                       id("typeOfFirstFixedSurface"),     id("scaleFactorOfFirstFixedSurface"),
                       id("scaledValueOfFirstFixedSurface"), id("typeOfSecondFixedSurface"),
                       id("scaleFactorOfSecondFixedSurface"), id("scaledValueOfSecondFixedSurface")};
  }();
  return keys;
}

// A fixed surface: the scaled value divided by 10 to the power of the scale
// factor. The factor octet reads both ways WMO and other writers use (see
// SignRule::ScaleFactor); the scaled value is sign-magnitude (GFS writes its
// -2 PVU surface as 0x800007D0 with factor 9); all ones: no surface value.
std::optional<double> surface_value(const TemplateReader& r, std::uint16_t factor_key, std::uint16_t value_key) {
  const auto scaled = r.find(value_key);
  if (!scaled || scaled->missing()) return std::nullopt;
  const auto factor_octet = r.find(factor_key);
  const std::int64_t factor = factor_octet ? factor_octet->value() : 0;
  const double value = static_cast<double>(scaled->value());
  return factor >= 0 ? value / power_of_ten(static_cast<int>(factor)) : value * power_of_ten(static_cast<int>(-factor));
}

// Section 4 (product definition): 6-7 number of coordinate values after the
// template, 8-9 template, then the template. Octets 10 and 11 hold the
// parameter category and number in every product definition template; all
// else is read where the template's layout puts it, and is absent when the
// template is not described or the section ends before it.
void summarise_section4(Bytes s, MessageRecord& record) {
  record.productDefinitionTemplateNumber.reset();
  record.parameterCategory.reset();
  record.parameterNumber.reset();
  record.generatingProcessIdentifier.reset();
  record.indicatorOfUnitOfTimeRange.reset();
  record.forecastTime.reset();
  record.levelType.reset();
  record.level.reset();
  record.secondLevelType.reset();
  record.secondLevel.reset();
  if (s.size() < 9) return;
  const std::uint16_t number = u16_at(s, 8);
  record.productDefinitionTemplateNumber = number;
  if (s.size() >= 10) record.parameterCategory = u8_at(s, 10);
  if (s.size() >= 11) record.parameterNumber = u8_at(s, 11);
  const TemplateReader r(find_template(4, number), s);
  const ProductKeys& k = product_keys();
  if (const auto v = r.find(k.process)) record.generatingProcessIdentifier = static_cast<std::uint16_t>(v->raw);
  if (const auto v = r.find(k.unit)) record.indicatorOfUnitOfTimeRange = static_cast<std::uint8_t>(v->raw);
  if (const auto v = r.find(k.forecast)) record.forecastTime = v->value();
  if (const auto v = r.find(k.type1)) {
    record.levelType = static_cast<std::uint8_t>(v->raw);
    record.level = surface_value(r, k.factor1, k.value1);
  }
  if (const auto v = r.find(k.type2)) {
    record.secondLevelType = static_cast<std::uint8_t>(v->raw);
    record.secondLevel = surface_value(r, k.factor2, k.value2);
  }
}

}  // namespace

// Eight octets a count: without a population count instruction in the
// baseline instruction set, each count is a call into the compiler's runtime.
std::uint64_t Bitmap::count_set_bits(const std::uint8_t* data, std::size_t octets) {
  std::uint64_t total = 0;
  std::size_t k = 0;
  for (; k + 8 <= octets; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + k, sizeof word);
    total += static_cast<std::uint64_t>(std::popcount(word));
  }
  for (; k < octets; ++k) total += static_cast<std::uint64_t>(std::popcount(data[k]));
  return total;
}

// Section 3 (grid definition): 1-4 length, 5 number, 6 source, 7-10 number of
// points, 11-12 optional list, 13-14 template; templates 0, 40, 30, 20 and 10
// keep Ni (Nx) at 31-34 and Nj (Ny) at 35-38. Quasi-regular templates 0 and
// 40 (Ni missing) count their points from the list of points per row.
Result<GridSummary> parse_section3(Bytes s) {
  if (s.size() < 14) return fail("section 3 too short");
  GridSummary grid;
  grid.gridDefinitionTemplateNumber = u16_at(s, 13);
  if (s.size() <= 37) {
    switch (grid.gridDefinitionTemplateNumber) {
      case 0: case 40: case 30: case 20: case 10:
        return fail("section 3 too short");
      default:
        // Templates without rows and columns can be shorter (the unstructured
        // grid 3.101 is 35 octets): one row of all the points (octets 7-10).
        grid.Ni = u32_at(s, 7);
        grid.Nj = 1;
        return grid;
    }
  }
  grid.Ni = u32_at(s, 31);
  grid.Nj = u32_at(s, 35);
  switch (grid.gridDefinitionTemplateNumber) {
    case 0:  // latitude/longitude: 39-42 basic angle, 43-46 subdivisions, 68-71 Dj, 72 scanning mode
      if (s.size() <= 71) return fail("section 3 template 0 too short");
      read_latlon_corners(s, grid);
      grid.jDirectionIncrement = u32_at(s, 68) / angle_unit(s);
      grid.reduced_point_count = quasi_regular_points(s, grid);
      break;
    case 40:  // Gaussian: as template 0 with N at 68-71
      if (s.size() <= 71) return fail("section 3 template 40 too short");
      read_latlon_corners(s, grid);
      grid.N = u32_at(s, 68);
      grid.reduced_point_count = quasi_regular_points(s, grid);
      break;
    case 30:  // Lambert conformal: La1 39-42, Lo1 43-46, Dx 56-59, Dy 60-63 (mm), scanning mode 65
      if (s.size() <= 80) return fail("section 3 template 30 too short");
      grid.projection_kind = 1;
      grid.latitudeOfFirstGridPoint = sm32_at(s, 39) / 1e6;
      grid.longitudeOfFirstGridPoint = sm32_at(s, 43) / 1e6;
      grid.iDirectionIncrement = u32_at(s, 56) / 1000.0;
      grid.jDirectionIncrement = u32_at(s, 60) / 1000.0;
      grid.scanningMode = u8_at(s, 65);
      break;
    case 20:  // polar stereographic: scanning mode 65
      grid.projection_kind = 2;
      grid.scanningMode = s.size() >= 65 ? u8_at(s, 65) : 0;
      break;
    case 10:  // Mercator: scanning mode 60
      grid.projection_kind = 3;
      grid.scanningMode = s.size() >= 60 ? u8_at(s, 60) : 0;
      break;
    default:  // every other template: no coordinates, its scanning mode where it has one
      grid.scanningMode = scanning_mode_of(s, grid.gridDefinitionTemplateNumber);
      break;
  }
  return grid;
}

Result<void> summarise_grib2(Bytes message, std::uint64_t message_number, MessageRecord& record,
                             std::vector<FieldSpans>& fields) {
  bool saw_section4 = false;
  FieldSpans current;       // the latest occurrence of each section
  SectionSpan last_bitmap;  // the latest section 6 holding a bitmap
  auto handle = [&](std::uint8_t number, Bytes s) -> Result<void> {
    const SectionSpan span{static_cast<std::uint64_t>(s.data() - message.data()), s.size()};
    switch (number) {
      case 1:
        current.identification = span;
        summarise_section1(s, record);
        return {};
      case 2:
        current.local = span;
        return {};
      case 3:
        current.grid = span;
        return summarise_section3(s, record);
      case 4:
        current.product = span;
        saw_section4 = true;
        summarise_section4(s, record);
        return {};
      case 5:
        current.representation = span;
        return summarise_section5(s, record);
      case 6:
        // 6 bitmap indicator: 0 a bitmap follows, 254 the previous bitmap
        // applies, 255 none (anything else is refused when decoding).
        current.bitmap = span;
        current.bitmap_source = {};
        if (s.size() >= 6 && u8_at(s, 6) == 0) last_bitmap = current.bitmap_source = span;
        if (s.size() >= 6 && u8_at(s, 6) == 254) current.bitmap_source = last_bitmap;
        return {};
      case 7:
        current.data = span;
        fields.push_back(current);
        return {};
      default:
        return {};
    }
  };
  auto length_error = [&](std::uint8_t number, std::uint32_t length) {
    return str_cat("invalid GRIB2 section ", number, " length ", length, " in message ", message_number);
  };
  if (auto walked = walk_sections(message, handle, length_error); !walked) return walked;

  if (message.size() == 20 || !saw_section4) return fail("GRIB2 message missing section 4");
  if (!record.parameterNumber) return fail("GRIB2 message missing parameter number");
  record.spans = current;
  return {};
}

Result<MessageRecord> summarise_field(Bytes message, const MessageRecord& message_record, const FieldSpans& spans) {
  MessageRecord r = message_record;
  r.spans = spans;
  if (r.edition != Edition::Two) return r;
  auto section = [&](const SectionSpan& span) -> std::optional<Bytes> {
    if (!span.present() || span.offset > message.size() || message.size() - span.offset < span.length) {
      return std::nullopt;
    }
    return message.subspan(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.length));
  };
  if (const auto s1 = section(spans.identification)) {
    summarise_section1(*s1, r);
  } else {
    summarise_section1({}, r);
  }
  if (const auto s3 = section(spans.grid)) {
    if (auto ok = summarise_section3(*s3, r); !ok) return fail(std::move(ok.error()));
  }
  if (const auto s4 = section(spans.product)) summarise_section4(*s4, r);
  if (const auto s5 = section(spans.representation)) {
    if (auto ok = summarise_section5(*s5, r); !ok) return fail(std::move(ok.error()));
  }
  return r;
}

namespace {

// Section 6: 6 bitmap indicator, 7.. one bit per point, 1 = present. None
// for 255; 254 (an earlier bitmap applies) is the caller's to resolve. The
// bitmap stops at the grid's points when the grid is known.
Result<std::optional<Bitmap>> parse_section6(Bytes s, const std::optional<GridSummary>& grid) {
  if (s.size() == 5) return fail("section 6 too short");
  const std::uint8_t indicator = u8_at(s, 6);
  if (indicator == 255) return std::optional<Bitmap>();
  if (indicator == 254) return fail("bitmap reuse indicator 254 is not implemented yet");
  if (indicator != 0) return fail(str_cat("unsupported bitmap indicator ", indicator));
  const Bytes stored = s.subspan(6);
  std::uint64_t size = std::uint64_t{stored.size()} * 8;
  if (grid) {
    const std::uint64_t points = grid->reduced_point_count.value_or(std::uint64_t{grid->Ni} * grid->Nj);
    if (points < size) size = points;
  }
  Bitmap parsed;
  parsed.size = size;
  parsed.bits.assign(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>((size + 7) / 8));
  if (size % 8 != 0) parsed.bits.back() &= static_cast<std::uint8_t>(0xFF00u >> (size % 8));
  return std::optional<Bitmap>(std::move(parsed));
}

// Gaussian grids may state fewer rows than the values fill.
void correct_gaussian_rows(GridSummary& grid, const DataRepresentation& representation) {
  const std::uint64_t values = representation.numberOfValues;
  if (grid.gridDefinitionTemplateNumber == 40 && !grid.reduced_point_count && values != 0 && grid.Ni != 0 &&
      std::uint64_t{grid.Ni} * grid.Nj != values && values % grid.Ni == 0) {
    grid.Nj = static_cast<std::uint32_t>(values / grid.Ni);
  }
}

}  // namespace

Result<Grib2Collected> collect_grib2(Bytes message) {
  std::optional<GridSummary> grid;
  std::optional<DataRepresentation> representation;
  std::optional<Bitmap> bitmap;
  std::optional<Bytes> payload;

  auto handle = [&](std::uint8_t number, Bytes s) -> Result<void> {
    switch (number) {
      case 3: {
        auto parsed = parse_section3(s);
        if (!parsed) return fail(std::move(parsed.error()));
        grid = *parsed;
        return {};
      }
      case 5: {
        auto parsed = parse_section5(s);
        if (!parsed) return fail(std::move(parsed.error()));
        representation = *parsed;
        return {};
      }
      case 6: {
        auto parsed = parse_section6(s, grid);
        if (!parsed) return fail(std::move(parsed.error()));
        bitmap = std::move(*parsed);
        return {};
      }
      case 7:
        payload = s.subspan(5);
        return {};
      default:
        return {};
    }
  };
  auto length_error = [](std::uint8_t number, std::uint32_t length) {
    return str_cat("invalid GRIB2 section ", number, " length ", length);
  };
  if (auto walked = walk_sections(message, handle, length_error); !walked) return fail(std::move(walked.error()));

  if (!grid) return fail("GRIB2 message missing section 3");
  if (!representation) return fail("GRIB2 message missing section 5");
  if (!payload) return fail("GRIB2 message missing section 7");
  correct_gaussian_rows(*grid, *representation);
  return Grib2Collected{*grid, *representation, std::move(bitmap), *payload};
}

Result<Grib2Collected> collect_grib2_field(Bytes message, const FieldSpans& spans) {
  const auto section = [&](const SectionSpan& span) -> std::optional<Bytes> {
    if (!span.present() || span.length < 5 || span.offset > message.size() ||
        message.size() - span.offset < span.length) {
      return std::nullopt;
    }
    return message.subspan(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.length));
  };
  const auto s3 = section(spans.grid);
  if (!s3) return fail("GRIB2 message missing section 3");
  auto grid = parse_section3(*s3);
  if (!grid) return fail(std::move(grid.error()));
  const auto s5 = section(spans.representation);
  if (!s5) return fail("GRIB2 message missing section 5");
  auto representation = parse_section5(*s5);
  if (!representation) return fail(std::move(representation.error()));
  std::optional<Bitmap> bitmap;
  if (const auto s6 = section(spans.bitmap)) {
    // 254: the section 6 that defined the bitmap in effect.
    std::optional<Bytes> source = s6;
    if (s6->size() > 5 && u8_at(*s6, 6) == 254) {
      source = section(spans.bitmap_source);
      if (!source) return fail("bitmap indicator 254 refers to an earlier bitmap, but the message defines none before it");
    }
    auto parsed = parse_section6(*source, std::optional<GridSummary>(*grid));
    if (!parsed) return fail(std::move(parsed.error()));
    bitmap = std::move(*parsed);
  }
  const auto s7 = section(spans.data);
  if (!s7) return fail("GRIB2 message missing section 7");
  correct_gaussian_rows(*grid, *representation);
  return Grib2Collected{*grid, *representation, std::move(bitmap), s7->subspan(5)};
}

const char* data_representation_name(std::uint16_t template_number) {
  switch (template_number) {
    case 0: return "grid point data - simple packing";
    case 2: return "grid point data - complex packing";
    case 3: return "grid point data - complex packing with spatial differencing";
    case 4: return "grid point data - IEEE floating point";
    case 40: return "grid point data - JPEG 2000 code stream";
    case 41: return "grid point data - PNG";
    case 42: return "grid point data - CCSDS/AEC";
    default: return "unknown";
  }
}

}  // namespace vorlak
