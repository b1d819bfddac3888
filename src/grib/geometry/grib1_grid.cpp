// GRIB1 GDS layouts (octets from 1). All types: 1-3 length, 4 NV (number of
// vertical coordinate parameters), 5 PV/PL (octet where the vertical
// coordinates start, or the points-per-row list when NV is 0; 255 none),
// 6 data representation type. Angles are 24-bit sign-magnitude
// thousandths of a degree, lengths 24-bit metres.
//  0, 10 lat/lon:   7-8 Ni, 9-10 Nj, 11-13 La1, 14-16 Lo1, 17 resolution and
//                   component flags, 18-20 La2, 21-23 Lo2, 24-25 Di, 26-27 Dj,
//                   28 scanning mode; type 10 adds 33-35 latitude and 36-38
//                   longitude of the southern pole, 39-42 angle of rotation
//                   (IBM float, degrees).
//  4, 14 Gaussian:  as 0 and 10 with N in 26-27.
//  1 Mercator:      7-8 Ni, 9-10 Nj, 11-13 La1, 14-16 Lo1, 17 flags, 18-20 La2,
//                   21-23 Lo2, 24-26 Latin, 28 scanning mode, 29-31 Di,
//                   32-34 Dj.
//  3 Lambert:       7-8 Nx, 9-10 Ny, 11-13 La1, 14-16 Lo1, 17 flags, 18-20 LoV,
//                   21-23 Dx, 24-26 Dy, 27 projection centre flag, 28 scanning
//                   mode, 29-31 Latin 1, 32-34 Latin 2.
//  5 polar stereo:  7-8 Nx, 9-10 Ny, 11-13 La1, 14-16 Lo1, 17 flags, 18-20 LoV,
//                   21-23 Dx, 24-26 Dy, 27 projection centre flag, 28 scanning
//                   mode; true to scale at 60 degrees on the pole's side.
// Resolution flags: 0x80 increments given, 0x40 the IAU 1965 spheroid rather
// than the sphere of radius 6367.47 km.
#include "grib/geometry/grib1_grid.hpp"

#include "grib/geometry/earth_shape.hpp"
#include "grib/grib1_sections.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

constexpr std::uint16_t kMissing16 = 0xFFFF;

struct Gds {
  Bytes s;
  std::uint16_t u16(std::size_t octet) const { return load_u16_be(s.data() + octet - 1); }
  std::uint32_t u24(std::size_t octet) const { return load_u24_be(s.data() + octet - 1); }
  double angle(std::size_t octet) const { return sign_magnitude_24(u24(octet)) / 1e3; }
};

Result<std::vector<std::uint32_t>> points_per_row(const Gds& g, std::uint16_t rows) {
  const std::uint8_t nv = g.s[3];
  const std::uint8_t pv_pl = g.s[4];
  if (pv_pl == 0 || pv_pl == 255) return fail("GRIB1 quasi-regular grid without its points-per-row list");
  const std::uint64_t start = std::uint64_t{pv_pl} - 1 + std::uint64_t{4} * nv;
  if (start + std::uint64_t{2} * rows > g.s.size()) {
    return fail(str_cat("GRIB1 points-per-row list of ", rows, " rows runs past the GDS of ", g.s.size(), " octets"));
  }
  std::vector<std::uint32_t> list(rows);
  for (std::uint16_t r = 0; r < rows; ++r) list[r] = load_u16_be(g.s.data() + start + 2u * r);
  return list;
}

}  // namespace

Result<GridDefinition> grib1_grid_definition(Bytes gds) {
  if (gds.size() < 32) return fail("GRIB1 GDS too short");
  const Gds g{gds};
  const std::uint8_t type = gds[5];
  const std::uint8_t flags = gds[16];
  GridDefinition d;
  d.earth = grib1_earth_shape(flags & 0x40);
  const std::uint16_t ni = g.u16(7);
  const std::uint16_t nj = g.u16(9);
  d.layout = LayoutParams{ni, nj, gds[27], {}};

  const auto need = [&](std::size_t octets) -> Result<void> {
    if (gds.size() < octets) return fail(str_cat("GRIB1 GDS type ", type, " too short"));
    return {};
  };

  switch (type) {
    case 0:
    case 4:
    case 10:
    case 14: {
      const bool gaussian = type == 4 || type == 14;
      if (type >= 10) {
        if (auto ok = need(42); !ok) return fail(ok.error());
        d.rotation = RotatedPoleParams{g.angle(33), g.angle(36),
                                       static_cast<double>(ibm_to_float(load_u32_be(gds.data() + 38)))};
      }
      if (grib1_rows_listed(gds)) {
        if (nj == kMissing16) return fail("GRIB1 grid with neither rows nor columns of fixed length");
        auto list = points_per_row(g, nj);
        if (!list) return fail(list.error());
        d.layout.points_per_row = std::move(*list);
      }
      const bool increments = flags & 0x80;
      std::optional<double> di;
      if (increments && g.u16(24) != kMissing16) di = g.u16(24) * 1e-3;
      if (gaussian) {
        d.geometry = GaussianGridParams{g.angle(11), g.angle(14), g.angle(18), g.angle(21), di, g.u16(26), 1e-3};
      } else {
        std::optional<double> dj;
        if (increments && g.u16(26) != kMissing16) dj = g.u16(26) * 1e-3;
        d.geometry = LatLonGridParams{g.angle(11), g.angle(14), g.angle(18), g.angle(21), di, dj, 1e-3};
      }
      return d;
    }
    case 1:
      if (auto ok = need(34); !ok) return fail(ok.error());
      d.geometry = ProjectedGridParams{MercatorParams{g.angle(24), 0.0}, g.angle(11), g.angle(14),
                                       static_cast<double>(g.u24(29)), static_cast<double>(g.u24(32))};
      return d;
    case 3: {
      if (auto ok = need(34); !ok) return fail(ok.error());
      if (gds[26] & 0x40) {
        d.geometry = NoCoordinates{"bipolar Lambert conformal projections are not supported", true};
        return d;
      }
      const double latin1 = g.angle(29);
      d.geometry = ProjectedGridParams{LambertConformalParams{latin1, g.angle(32), latin1, g.angle(18)}, g.angle(11),
                                       g.angle(14), static_cast<double>(g.u24(21)), static_cast<double>(g.u24(24))};
      return d;
    }
    case 5: {
      if (gds[26] & 0x40) {
        d.geometry = NoCoordinates{"bipolar polar stereographic projections are not supported", true};
        return d;
      }
      const bool south = gds[26] & 0x80;
      d.geometry = ProjectedGridParams{PolarStereographicParams{south, south ? -60.0 : 60.0, g.angle(18)}, g.angle(11),
                                       g.angle(14), static_cast<double>(g.u24(21)), static_cast<double>(g.u24(24))};
      return d;
    }
    case 50:
    case 60:
    case 70:
    case 80:
      d.layout = LayoutParams{};
      d.geometry = NoCoordinates{"spherical harmonic coefficients have no grid points"};
      return d;
    default:
      d.geometry = NoCoordinates{str_cat("GRIB1 grid type ", type, " is not supported"), true};
      return d;
  }
}

}  // namespace vorlak
