// Section 3 through the template walker: every field by its name in the
// template description. Angles of templates 0, 1, 40 and 41 are in
// subdivisions of a basic angle (millionths of a degree when either is zero
// or missing); all others in millionths of a degree. Grid lengths are in
// millimetres. The points-per-row list follows the template, its entries as
// wide as octet 11 says.
#include "grib/geometry/grib2_grid.hpp"

#include <cmath>
#include <limits>

#include "grib/template_walk.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMicro = 1e-6;

struct Section3 {
  Bytes bytes;
  const TemplateLayout* layout;
  TemplateReader reader;

  Section3(Bytes s, std::uint16_t number) : bytes(s), layout(find_template(3, number)), reader(layout, s) {}

  std::optional<FieldValue> field(std::string_view name, std::uint32_t entry = 0) const {
    const auto key = template_key_id(name);
    if (!key) return std::nullopt;
    return reader.find(*key, entry);
  }
  // The field's number, nothing when absent or missing.
  std::optional<std::int64_t> value(std::string_view name) const {
    const auto f = field(name);
    if (!f || f->missing()) return std::nullopt;
    return f->value();
  }
  std::uint64_t raw(std::string_view name) const {
    const auto f = field(name);
    return f ? f->raw : 0;
  }
  // In the given unit; NaN when absent or missing.
  double scaled(std::string_view name, double unit) const {
    const auto v = value(name);
    return v ? static_cast<double>(*v) * unit : kNaN;
  }
  std::optional<double> optional_scaled(std::string_view name, double unit) const {
    const auto v = value(name);
    if (!v) return std::nullopt;
    return static_cast<double>(*v) * unit;
  }

  // Degrees per unit of templates 0, 1, 40 and 41.
  double angle_unit() const {
    const auto basic = value("basicAngleOfTheInitialProductionDomain");
    const auto subdivisions = value("subdivisionsOfBasicAngle");
    if (!basic || !subdivisions || *basic == 0 || *subdivisions == 0) return kMicro;
    return static_cast<double>(*basic) / static_cast<double>(*subdivisions);
  }

  EarthShapeCode earth_code() const {
    return EarthShapeCode{static_cast<std::uint8_t>(raw("shapeOfTheEarth")),
                          static_cast<std::uint8_t>(raw("scaleFactorOfRadiusOfSphericalEarth")),
                          static_cast<std::uint32_t>(raw("scaledValueOfRadiusOfSphericalEarth")),
                          static_cast<std::uint8_t>(raw("scaleFactorOfEarthMajorAxis")),
                          static_cast<std::uint32_t>(raw("scaledValueOfEarthMajorAxis")),
                          static_cast<std::uint8_t>(raw("scaleFactorOfEarthMinorAxis")),
                          static_cast<std::uint32_t>(raw("scaledValueOfEarthMinorAxis"))};
  }
};

// Rows and columns, the scanning mode and, for quasi-regular grids, the
// points of each row; or why the layout cannot be placed.
Result<LayoutParams> layout_of(const Section3& s, std::string_view columns, std::string_view rows) {
  LayoutParams layout;
  layout.scanning_mode = static_cast<std::uint8_t>(s.raw("scanningMode"));
  const auto ni = s.field(columns);
  const auto nj = s.field(rows);
  if (!ni || !nj) return fail("section 3 ends before its grid dimensions");
  layout.ni = ni->raw;
  layout.nj = nj->raw;
  const auto pl_key = template_key_id("pl");
  const auto pl_index = (pl_key && s.layout) ? s.layout->find(*pl_key) : std::nullopt;
  const std::uint32_t entries = pl_index ? s.reader.count(*pl_index) : 0;
  if (!ni->missing() && !nj->missing()) return layout;
  if (entries == 0) return fail("quasi-regular grid without its points-per-row list");
  if (ni->missing() && nj->missing()) return fail("quasi-regular grid with neither rows nor columns of fixed length");
  if (nj->missing()) return fail("quasi-regular columns (Nj missing) are not supported");
  if (entries < layout.nj) {
    return fail(
        str_cat("points-per-row list of ", layout.nj, " rows is longer than the section (", entries, " entries)"));
  }
  layout.points_per_row.resize(layout.nj);
  for (std::uint32_t r = 0; r < layout.nj; ++r) {
    layout.points_per_row[r] = static_cast<std::uint32_t>(s.reader.get(*pl_index, r)->raw);
  }
  return layout;
}

std::optional<RotatedPoleParams> rotation_of(const Section3& s, double unit) {
  return RotatedPoleParams{s.scaled("latitudeOfSouthernPole", unit), s.scaled("longitudeOfSouthernPole", unit),
                           s.optional_scaled("angleOfRotation", unit).value_or(0.0)};
}

// Bits of the resolution and component flags: increments given.
constexpr std::uint64_t kIIncrementGiven = 0x20;
constexpr std::uint64_t kJIncrementGiven = 0x10;

GridGeometry lat_lon(const Section3& s, double unit) {
  const std::uint64_t flags = s.raw("resolutionAndComponentFlags");
  return LatLonGridParams{s.scaled("latitudeOfFirstGridPoint", unit),
                          s.scaled("longitudeOfFirstGridPoint", unit),
                          s.scaled("latitudeOfLastGridPoint", unit),
                          s.scaled("longitudeOfLastGridPoint", unit),
                          (flags & kIIncrementGiven) ? s.optional_scaled("iDirectionIncrement", unit) : std::nullopt,
                          (flags & kJIncrementGiven) ? s.optional_scaled("jDirectionIncrement", unit) : std::nullopt,
                          unit};
}

GridGeometry gaussian(const Section3& s, double unit) {
  const std::uint64_t flags = s.raw("resolutionAndComponentFlags");
  return GaussianGridParams{s.scaled("latitudeOfFirstGridPoint", unit),
                            s.scaled("longitudeOfFirstGridPoint", unit),
                            s.scaled("latitudeOfLastGridPoint", unit),
                            s.scaled("longitudeOfLastGridPoint", unit),
                            (flags & kIIncrementGiven) ? s.optional_scaled("iDirectionIncrement", unit) : std::nullopt,
                            static_cast<std::uint32_t>(s.value("N").value_or(0)),
                            unit};
}

GridGeometry projected(const Section3& s, ProjectionParams projection, const char* dx, const char* dy) {
  return ProjectedGridParams{projection, s.scaled("latitudeOfFirstGridPoint", kMicro),
                             s.scaled("longitudeOfFirstGridPoint", kMicro), s.scaled(dx, 1e-3), s.scaled(dy, 1e-3)};
}

constexpr std::uint64_t kSouthPole = 0x80;
constexpr std::uint64_t kBipolar = 0x40;

}  // namespace

Result<GridDefinition> grib2_grid_definition(Bytes section3) {
  if (section3.size() < 14) return fail("section 3 too short");
  const std::uint16_t number = load_u16_be(section3.data() + 12);
  const Section3 s(section3, number);
  GridDefinition d;
  d.declared_points = s.value("numberOfDataPoints");
  d.earth = earth_shape(s.earth_code());

  const auto place = [&](std::string_view columns, std::string_view rows) -> bool {
    auto layout = layout_of(s, columns, rows);
    if (!layout) {
      d.geometry = NoCoordinates{layout.error(), true};
      return false;
    }
    d.layout = std::move(*layout);
    return true;
  };

  switch (number) {
    case 0:
    case 1:
      if (!place("Ni", "Nj")) return d;
      d.geometry = lat_lon(s, s.angle_unit());
      if (number == 1) d.rotation = rotation_of(s, s.angle_unit());
      return d;
    case 40:
    case 41:
      if (!place("Ni", "Nj")) return d;
      d.geometry = gaussian(s, s.angle_unit());
      if (number == 41) d.rotation = rotation_of(s, s.angle_unit());
      return d;
    case 10: {
      if (!place("Ni", "Nj")) return d;
      const double orientation = s.scaled("orientationOfTheGrid", kMicro);
      if (orientation != 0.0) {
        d.geometry =
            NoCoordinates{str_cat("Mercator grid turned by ", orientation, " degrees is not supported"), true};
      } else if (!d.layout.points_per_row.empty()) {
        d.geometry = NoCoordinates{"a points-per-row list on a Mercator grid is not supported", true};
      } else {
        d.geometry =
            projected(s, MercatorParams{s.scaled("LaD", kMicro), 0.0}, "iDirectionIncrement", "jDirectionIncrement");
      }
      return d;
    }
    case 20: {
      if (!place("Nx", "Ny")) return d;
      const std::uint64_t centre = s.raw("projectionCentreFlag");
      if (centre & kBipolar) {
        d.geometry = NoCoordinates{"bipolar polar stereographic projections are not supported", true};
        return d;
      }
      d.geometry = projected(
          s, PolarStereographicParams{(centre & kSouthPole) != 0, s.scaled("LaD", kMicro), s.scaled("LoV", kMicro)},
          "Dx", "Dy");
      return d;
    }
    case 30:
    case 31: {
      if (!place("Nx", "Ny")) return d;
      if (s.raw("projectionCentreFlag") & kBipolar) {
        d.geometry = NoCoordinates{"bipolar conic projections are not supported", true};
        return d;
      }
      const double latin1 = s.scaled("Latin1", kMicro);
      const double latin2 = s.scaled("Latin2", kMicro);
      const double lad = s.scaled("LaD", kMicro);
      const double lov = s.scaled("LoV", kMicro);
      if (number == 30) {
        d.geometry = projected(s, LambertConformalParams{latin1, latin2, lad, lov}, "Dx", "Dy");
      } else {
        d.geometry = projected(s, AlbersEqualAreaParams{latin1, latin2, lad, lov}, "Dx", "Dy");
      }
      return d;
    }
    case 90: {
      if (!place("Nx", "Ny")) return d;
      d.geometry = SpaceViewGridParams{
          s.scaled("Lap", kMicro),     s.scaled("Lop", kMicro), s.scaled("dx", 1.0),
          s.scaled("dy", 1.0),         s.scaled("Xp", 1e-3),    s.scaled("Yp", 1e-3),
          s.scaled("Xo", 1.0),         s.scaled("Yo", 1.0),     s.scaled("orientationOfTheGrid", kMicro),
          s.optional_scaled("Nr", 1.0)};
      return d;
    }
    case 101: {
      // 15 shape of the Earth, 16-18 number of the grid, 19 number of grid in
      // reference, 20-35 UUID of the horizontal grid.
      d.layout = LayoutParams{
          d.declared_points.value_or(0) > 0 ? static_cast<std::uint64_t>(*d.declared_points) : 0, 1, 0, {}};
      std::string uuid = section3.size() >= 35 ? hex(section3.subspan(19, 16)) : std::string("unknown");
      d.geometry =
          NoCoordinates{str_cat("unstructured grid ", s.value("numberOfGridUsed").value_or(0), " (uuidOfHGrid ", uuid,
                                "): the message holds no coordinates, they are in the grid's file")};
      return d;
    }
    case 204:
      d.geometry = NoCoordinates{
          "curvilinear orthogonal grid: the message holds no coordinates, they are in fields of their own"};
      if (section3.size() >= 38) {
        d.layout = LayoutParams{load_u32_be(section3.data() + 30),
                                load_u32_be(section3.data() + 34),
                                section3.size() >= 72 ? section3[71] : std::uint8_t{0},
                                {}};
      }
      return d;
    case 50:
    case 51:
    case 52:
    case 53:
      d.geometry = NoCoordinates{"spherical harmonic coefficients have no grid points"};
      return d;
    default:
      d.geometry = NoCoordinates{str_cat("grid definition template 3.", number, " is not supported"), true};
      return d;
  }
}

}  // namespace vorlak
