// PROJ and CF names for the projections of the grid definitions. Rotated
// frames: PROJ's ob_tran with the north pole of the rotated frame at
// (-south pole latitude, south pole longitude + 180) and the angle of
// rotation as -o_lon_p; CF's grid_north_pole_* and north_pole_grid_longitude
// say the same.
#include "compat/grid_crs.hpp"

#include <cmath>
#include <variant>

#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

KeyValue number(double v) { return KeyValue{v}; }
double negated(double v) { return v == 0.0 ? 0.0 : -v; }
KeyValue text(const char* v) { return KeyValue{std::string(v)}; }

// The pole's side of a polar stereographic projection and its true-scale
// latitude on that side.
double pole_latitude(const PolarStereographicParams& p) { return p.south_pole ? -90.0 : 90.0; }
double true_scale(const PolarStereographicParams& p) {
  return p.south_pole ? -std::fabs(p.true_scale_lat) : std::fabs(p.true_scale_lat);
}

double geostationary_height(const SpaceViewGridParams& g, const EarthShape& earth) {
  return *g.nr * 1e-6 * earth.a - earth.a;
}

struct Proj {
  const GridDefinition& d;
  NamedValues out;

  void figure(const EarthShape& earth) {
    if (earth.is_sphere()) {
      out.emplace_back("R", number(earth.a));
    } else {
      out.emplace_back("a", number(earth.a));
      out.emplace_back("b", number(earth.b));
    }
  }

  Result<NamedValues> frame() {
    if (d.rotation) {
      out.emplace_back("proj", text("ob_tran"));
      out.emplace_back("o_proj", text("longlat"));
      out.emplace_back("o_lat_p", number(negated(d.rotation->south_pole_lat)));
      out.emplace_back("o_lon_p", number(negated(d.rotation->angle)));
      out.emplace_back("lon_0", number(d.rotation->south_pole_lon));
    } else {
      out.emplace_back("proj", text("longlat"));
    }
    if (d.earth) figure(*d.earth);
    return std::move(out);
  }

  Result<NamedValues> operator()(const LatLonGridParams&) { return frame(); }
  Result<NamedValues> operator()(const GaussianGridParams&) { return frame(); }
  Result<NamedValues> operator()(const NoCoordinates& none) { return fail(none.reason); }

  Result<NamedValues> operator()(const ProjectedGridParams& g) {
    if (!d.earth) return fail(d.earth.error());
    std::visit([&](const auto& p) { projection(p); }, g.projection);
    return plane();
  }

  Result<NamedValues> operator()(const SpaceViewGridParams& g) {
    if (!d.earth) return fail(d.earth.error());
    if (!g.nr) return fail("space view from infinite distance (orthographic) is not supported");
    out.emplace_back("proj", text("geos"));
    out.emplace_back("h", number(geostationary_height(g, *d.earth)));
    out.emplace_back("lon_0", number(g.sub_lon));
    out.emplace_back("sweep", text("y"));
    return plane();
  }

  Result<NamedValues> plane() {
    out.emplace_back("x_0", number(0.0));
    out.emplace_back("y_0", number(0.0));
    figure(*d.earth);
    out.emplace_back("units", text("m"));
    return std::move(out);
  }

  void projection(const LambertConformalParams& p) {
    out.emplace_back("proj", text("lcc"));
    out.emplace_back("lat_1", number(p.latin1));
    out.emplace_back("lat_2", number(p.latin2));
    out.emplace_back("lat_0", number(p.lat_origin));
    out.emplace_back("lon_0", number(p.lon_origin));
  }
  void projection(const PolarStereographicParams& p) {
    out.emplace_back("proj", text("stere"));
    out.emplace_back("lat_0", number(pole_latitude(p)));
    out.emplace_back("lat_ts", number(true_scale(p)));
    out.emplace_back("lon_0", number(p.lon_origin));
  }
  void projection(const MercatorParams& p) {
    out.emplace_back("proj", text("merc"));
    out.emplace_back("lat_ts", number(p.true_scale_lat));
    out.emplace_back("lon_0", number(p.lon_origin));
  }
  void projection(const AlbersEqualAreaParams& p) {
    out.emplace_back("proj", text("aea"));
    out.emplace_back("lat_1", number(p.latin1));
    out.emplace_back("lat_2", number(p.latin2));
    out.emplace_back("lat_0", number(p.lat_origin));
    out.emplace_back("lon_0", number(p.lon_origin));
  }
  void projection(const GeostationaryParams& p) {
    out.emplace_back("proj", text("geos"));
    out.emplace_back("h", number(p.satellite_distance - d.earth->a));
    out.emplace_back("lon_0", number(p.lon_origin));
    out.emplace_back("sweep", text("y"));
  }
};

KeyValue parallels(double a, double b) {
  if (a == b) return KeyValue{a};
  return KeyValue{std::vector<double>{a, b}};
}

struct Cf {
  const GridDefinition& d;
  NamedValues out;

  void figure() {
    if (!d.earth) return;
    if (d.earth->is_sphere()) {
      out.emplace_back("earth_radius", number(d.earth->a));
    } else {
      out.emplace_back("semi_major_axis", number(d.earth->a));
      out.emplace_back("semi_minor_axis", number(d.earth->b));
    }
  }

  Result<NamedValues> frame() {
    if (d.rotation) {
      out.emplace_back("grid_mapping_name", text("rotated_latitude_longitude"));
      out.emplace_back("grid_north_pole_latitude", number(negated(d.rotation->south_pole_lat)));
      out.emplace_back("grid_north_pole_longitude",
                       number(ellipsoid::wrap_degrees(d.rotation->south_pole_lon - 180.0)));
      out.emplace_back("north_pole_grid_longitude", number(negated(d.rotation->angle)));
    } else {
      out.emplace_back("grid_mapping_name", text("latitude_longitude"));
    }
    figure();
    return std::move(out);
  }

  Result<NamedValues> operator()(const LatLonGridParams&) { return frame(); }
  Result<NamedValues> operator()(const GaussianGridParams&) { return frame(); }
  Result<NamedValues> operator()(const NoCoordinates& none) { return fail(none.reason); }

  Result<NamedValues> operator()(const ProjectedGridParams& g) {
    if (!d.earth) return fail(d.earth.error());
    std::visit([&](const auto& p) { projection(p); }, g.projection);
    return plane();
  }

  Result<NamedValues> operator()(const SpaceViewGridParams& g) {
    if (!d.earth) return fail(d.earth.error());
    if (!g.nr) return fail("space view from infinite distance (orthographic) is not supported");
    geostationary(geostationary_height(g, *d.earth), g.sub_lon);
    return plane();
  }

  Result<NamedValues> plane() {
    out.emplace_back("false_easting", number(0.0));
    out.emplace_back("false_northing", number(0.0));
    figure();
    return std::move(out);
  }

  void geostationary(double height, double lon) {
    out.emplace_back("grid_mapping_name", text("geostationary"));
    out.emplace_back("perspective_point_height", number(height));
    out.emplace_back("longitude_of_projection_origin", number(lon));
    out.emplace_back("latitude_of_projection_origin", number(0.0));
    out.emplace_back("sweep_angle_axis", text("y"));
  }

  void projection(const LambertConformalParams& p) {
    out.emplace_back("grid_mapping_name", text("lambert_conformal_conic"));
    out.emplace_back("standard_parallel", parallels(p.latin1, p.latin2));
    out.emplace_back("longitude_of_central_meridian", number(p.lon_origin));
    out.emplace_back("latitude_of_projection_origin", number(p.lat_origin));
  }
  void projection(const PolarStereographicParams& p) {
    out.emplace_back("grid_mapping_name", text("polar_stereographic"));
    out.emplace_back("straight_vertical_longitude_from_pole", number(p.lon_origin));
    out.emplace_back("latitude_of_projection_origin", number(pole_latitude(p)));
    out.emplace_back("standard_parallel", number(true_scale(p)));
  }
  void projection(const MercatorParams& p) {
    out.emplace_back("grid_mapping_name", text("mercator"));
    out.emplace_back("longitude_of_projection_origin", number(p.lon_origin));
    out.emplace_back("standard_parallel", number(p.true_scale_lat));
  }
  void projection(const AlbersEqualAreaParams& p) {
    out.emplace_back("grid_mapping_name", text("albers_conical_equal_area"));
    out.emplace_back("standard_parallel", parallels(p.latin1, p.latin2));
    out.emplace_back("longitude_of_central_meridian", number(p.lon_origin));
    out.emplace_back("latitude_of_projection_origin", number(p.lat_origin));
  }
  void projection(const GeostationaryParams& p) { geostationary(p.satellite_distance - d.earth->a, p.lon_origin); }
};

}  // namespace

Result<NamedValues> proj_parameters(const GridDefinition& definition) {
  return std::visit(Proj{definition, {}}, definition.geometry);
}

Result<NamedValues> cf_grid_mapping(const GridDefinition& definition) {
  return std::visit(Cf{definition, {}}, definition.geometry);
}

std::string proj_string(const NamedValues& parameters) {
  std::string out;
  for (const auto& [name, value] : parameters) {
    if (!out.empty()) out += ' ';
    out += '+';
    out += name;
    if (const auto* s = std::get_if<std::string>(&value.value)) {
      out += '=';
      out += *s;
    } else if (const auto* d = std::get_if<double>(&value.value)) {
      out += str_cat("=", *d);
    }
  }
  return out;
}

}  // namespace vorlak
