// Grid keys for the field API. The section's own fields come from the
// template walker under the names of the template descriptions; the derived
// keys scale them: angles of templates 3.0, 3.1, 3.40 and 3.41 by their
// basic angle and subdivisions, every other angle by 1e-6, grid lengths by
// 1e-3 (millimetres to metres).
#include "compat/grid_keys.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "grib/geometry/grib1_grid.hpp"
#include "grib/geometry/grib2_grid.hpp"
#include "grib/geometry/grid_layout.hpp"
#include "grib/template_walk.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

struct Keys {
  NamedValues out;

  bool has(std::string_view name) const {
    return std::any_of(out.begin(), out.end(), [&](const auto& kv) { return kv.first == name; });
  }
  void integer(std::string name, std::int64_t v) { out.emplace_back(std::move(name), KeyValue{v}); }
  void number(std::string name, double v) {
    if (std::isfinite(v)) out.emplace_back(std::move(name), KeyValue{v});
  }
  void text(std::string name, std::string_view v) { out.emplace_back(std::move(name), KeyValue{std::string(v)}); }

  void scanning(std::uint8_t mode) {
    integer("iScansNegatively", (mode & kScanMinusI) ? 1 : 0);
    integer("jScansPositively", (mode & kScanPlusJ) ? 1 : 0);
    integer("jPointsAreConsecutive", (mode & kScanJConsecutive) ? 1 : 0);
    integer("alternativeRowScanning", (mode & kScanAlternating) ? 1 : 0);
  }

  void earth(const Result<EarthShape>& shape) {
    if (!shape) return;
    integer("earthIsOblate", shape->is_sphere() ? 0 : 1);
    if (shape->is_sphere()) number("radiusInMetres", shape->a);
    number("earthMajorAxisInMetres", shape->a);
    number("earthMinorAxisInMetres", shape->b);
  }

  void points(const GridDefinition& d) {
    auto layout = GridLayout::make(d.layout);
    if (layout && (layout->points() > 0 || !d.declared_points)) {
      integer("numberOfPoints", static_cast<std::int64_t>(layout->points()));
    } else if (d.declared_points) {
      integer("numberOfPoints", static_cast<std::int64_t>(*d.declared_points));
    }
  }
};

constexpr std::array<std::string_view, 16> kAngles = {"latitudeOfFirstGridPoint",
                                                      "longitudeOfFirstGridPoint",
                                                      "latitudeOfLastGridPoint",
                                                      "longitudeOfLastGridPoint",
                                                      "iDirectionIncrement",
                                                      "jDirectionIncrement",
                                                      "latitudeOfSouthernPole",
                                                      "longitudeOfSouthernPole",
                                                      "angleOfRotation",
                                                      "LaD",
                                                      "LoV",
                                                      "Latin1",
                                                      "Latin2",
                                                      "Lap",
                                                      "Lop",
                                                      "orientationOfTheGrid"};

bool uses_basic_angle(std::uint16_t number) { return number == 0 || number == 1 || number == 40 || number == 41; }

}  // namespace

std::string_view grid_type_of_template(std::uint16_t number, bool quasi_regular) {
  switch (number) {
    case 0:
      return quasi_regular ? "reduced_ll" : "regular_ll";
    case 1:
      return quasi_regular ? "reduced_rotated_ll" : "rotated_ll";
    case 10:
      return "mercator";
    case 20:
      return "polar_stereographic";
    case 30:
      return "lambert";
    case 31:
      return "albers";
    case 40:
      return quasi_regular ? "reduced_gg" : "regular_gg";
    case 41:
      return quasi_regular ? "reduced_rotated_gg" : "rotated_gg";
    case 90:
      return "space_view";
    case 101:
      return "unstructured_grid";
    case 204:
      return "curvilinear_orthogonal";
    default:
      return {};
  }
}

Result<NamedValues> grib2_grid_keys(Bytes section3, GridKeySet set) {
  auto definition = grib2_grid_definition(section3);
  if (!definition) return fail(definition.error());
  const std::uint16_t number = load_u16_be(section3.data() + 12);
  const TemplateLayout* layout = find_template(3, number);
  const TemplateReader reader(layout, section3);
  Keys keys;

  // The section's own fields, the first of each name.
  for (std::size_t i = 0; set == GridKeySet::All && layout && i < layout->size(); ++i) {
    const TemplateField& f = layout->field(i);
    std::string name(template_key_name(f.key));
    if (keys.has(name)) continue;
    if (f.group == 0) {
      const auto v = reader.get(i);
      if (v && !v->missing()) keys.integer(std::move(name), v->value());
      continue;
    }
    const std::uint32_t n = reader.count(i);
    if (n == 0) continue;
    std::vector<double> entries(n);
    for (std::uint32_t e = 0; e < n; ++e) entries[e] = static_cast<double>(reader.get(i, e)->value());
    keys.out.emplace_back(std::move(name), KeyValue{std::move(entries)});
  }
  if (!layout && set == GridKeySet::All) keys.integer("gridDefinitionTemplateNumber", number);

  // Derived keys in degrees and metres.
  // Degrees per unit as basic / subdivisions, divided last so that a
  // stated 23088000 millionths reads 23.088.
  double angle = 1.0, parts = 1e6;
  if (uses_basic_angle(number)) {
    const auto basic = template_key_id("basicAngleOfTheInitialProductionDomain");
    const auto subdivisions = template_key_id("subdivisionsOfBasicAngle");
    const auto b = basic ? reader.find(*basic) : std::nullopt;
    const auto s = subdivisions ? reader.find(*subdivisions) : std::nullopt;
    if (b && s && !b->missing() && !s->missing() && b->raw != 0 && s->raw != 0) {
      angle = static_cast<double>(b->raw);
      parts = static_cast<double>(s->raw);
    }
  }
  const auto field = [&](std::string_view name) -> std::optional<FieldValue> {
    const auto key = template_key_id(name);
    if (!key) return std::nullopt;
    auto v = reader.find(*key);
    if (!v || v->missing()) return std::nullopt;
    return v;
  };
  const bool increments_in_metres = number == 10;
  for (std::string_view name : kAngles) {
    const bool increment = name == "iDirectionIncrement" || name == "jDirectionIncrement";
    if (increment && increments_in_metres) continue;
    if (const auto v = field(name)) {
      keys.number(str_cat(name, "InDegrees"), static_cast<double>(v->value()) * angle / parts);
    }
  }
  for (std::string_view name : {"Dx", "Dy"}) {
    if (const auto v = field(name)) keys.number(str_cat(name, "InMetres"), static_cast<double>(v->value()) / 1e3);
  }
  if (increments_in_metres) {
    if (const auto v = field("iDirectionIncrement")) keys.number("DiInMetres", static_cast<double>(v->value()) / 1e3);
    if (const auto v = field("jDirectionIncrement")) keys.number("DjInMetres", static_cast<double>(v->value()) / 1e3);
  }
  if (number == 90) {
    if (const auto v = field("Xp")) keys.number("XpInGridLengths", static_cast<double>(v->value()) / 1e3);
    if (const auto v = field("Yp")) keys.number("YpInGridLengths", static_cast<double>(v->value()) / 1e3);
    if (const auto v = field("Nr")) keys.number("NrInRadiusOfEarth", static_cast<double>(v->value()) / 1e6);
  }
  if (number == 101 && section3.size() >= 35) keys.text("uuidOfHGrid", hex(section3.subspan(19, 16)));
  keys.earth(definition->earth);
  keys.scanning(definition->layout.scanning_mode);
  keys.points(*definition);
  const std::string_view type = grid_type_of_template(number, !definition->layout.points_per_row.empty());
  if (type.empty()) {
    keys.text("gridType", str_cat("unknown_", number));
  } else {
    keys.text("gridType", type);
  }
  return std::move(keys.out);
}

Result<NamedValues> grib1_grid_keys(Bytes gds) {
  auto definition = grib1_grid_definition(gds);
  if (!definition) return fail(definition.error());
  const GridDefinition& d = *definition;
  const std::uint8_t type = gds[5];
  Keys keys;
  keys.integer("dataRepresentationType", type);
  const bool projected = std::holds_alternative<ProjectedGridParams>(d.geometry) && type != 1;
  const std::int64_t ni = load_u16_be(gds.data() + 6);
  const std::int64_t nj = load_u16_be(gds.data() + 8);
  if (ni != 0xFFFF) keys.integer(projected ? "Nx" : "Ni", ni);
  if (nj != 0xFFFF) keys.integer(projected ? "Ny" : "Nj", nj);
  keys.integer("resolutionAndComponentFlags", gds[16]);
  keys.integer("scanningMode", gds[27]);
  if (!d.layout.points_per_row.empty()) {
    keys.out.emplace_back(
        "pl", KeyValue{std::vector<double>(d.layout.points_per_row.begin(), d.layout.points_per_row.end())});
  }
  const auto corners = [&](double la1, double lo1) {
    keys.number("latitudeOfFirstGridPointInDegrees", la1);
    keys.number("longitudeOfFirstGridPointInDegrees", lo1);
  };
  const auto last = [&](double la2, double lo2) {
    keys.number("latitudeOfLastGridPointInDegrees", la2);
    keys.number("longitudeOfLastGridPointInDegrees", lo2);
  };
  std::uint16_t number = 65535;
  if (const auto* g = std::get_if<LatLonGridParams>(&d.geometry)) {
    number = d.rotation ? 1 : 0;
    corners(g->la1, g->lo1);
    last(g->la2, g->lo2);
    if (g->di) keys.number("iDirectionIncrementInDegrees", *g->di);
    if (g->dj) keys.number("jDirectionIncrementInDegrees", *g->dj);
  } else if (const auto* g = std::get_if<GaussianGridParams>(&d.geometry)) {
    number = d.rotation ? 41 : 40;
    corners(g->la1, g->lo1);
    last(g->la2, g->lo2);
    if (g->di) keys.number("iDirectionIncrementInDegrees", *g->di);
    keys.integer("N", g->N);
  } else if (const auto* g = std::get_if<ProjectedGridParams>(&d.geometry)) {
    corners(g->la1, g->lo1);
    if (const auto* p = std::get_if<LambertConformalParams>(&g->projection)) {
      number = 30;
      keys.number("LoVInDegrees", p->lon_origin);
      keys.number("Latin1InDegrees", p->latin1);
      keys.number("Latin2InDegrees", p->latin2);
      keys.integer("projectionCentreFlag", gds[26]);
    } else if (const auto* p = std::get_if<PolarStereographicParams>(&g->projection)) {
      number = 20;
      keys.number("LoVInDegrees", p->lon_origin);
      keys.number("LaDInDegrees", p->true_scale_lat);
      keys.integer("projectionCentreFlag", gds[26]);
    } else if (const auto* p = std::get_if<MercatorParams>(&g->projection)) {
      number = 10;
      keys.number("LaDInDegrees", p->true_scale_lat);
      last(sign_magnitude_24(load_u24_be(gds.data() + 17)) / 1e3,
           sign_magnitude_24(load_u24_be(gds.data() + 20)) / 1e3);
    }
    keys.number(number == 10 ? "DiInMetres" : "DxInMetres", g->dx);
    keys.number(number == 10 ? "DjInMetres" : "DyInMetres", g->dy);
  }
  if (d.rotation) {
    keys.number("latitudeOfSouthernPoleInDegrees", d.rotation->south_pole_lat);
    keys.number("longitudeOfSouthernPoleInDegrees", d.rotation->south_pole_lon);
    keys.number("angleOfRotationInDegrees", d.rotation->angle);
  }
  if (d.earth) keys.integer("shapeOfTheEarth", d.earth->code);
  keys.earth(d.earth);
  keys.scanning(d.layout.scanning_mode);
  keys.points(d);
  const std::string_view name = grid_type_of_template(number, !d.layout.points_per_row.empty());
  if (!name.empty()) {
    keys.text("gridType", name);
  } else if (type == 50 || type == 60 || type == 70 || type == 80) {
    keys.text("gridType", "sh");
  } else {
    keys.text("gridType", str_cat("unknown_grib1_", type));
  }
  return std::move(keys.out);
}

}  // namespace vorlak
