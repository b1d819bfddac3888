// Grid coordinates of the large real grids, with their parameters written
// out (HRRR's 1.9-million-point Lambert grid, NDFD's 3-million-point one,
// HRDPS's rotated grid of 3.3 million points, a polar stereographic and the
// GDAS Gaussian grid): CPU time of the whole computation and of the
// projection's inverse alone, best of a few runs. bench/geometry_pyproj.py
// times PROJ on the same points and compares every point
// (`geometry_bench --dump NAME FILE` writes a grid's latitudes, its
// longitudes, then its x and y axes, as doubles; `--proj NAME` prints the
// grid's PROJ parameters).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "compat/grid_crs.hpp"
#include "grib/geometry/grib2_grid.hpp"
#include "grib/geometry/grid_coordinates.hpp"

using namespace vorlak;

namespace {

double cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Named {
  const char* name;
  GridDefinition definition;
};

GridDefinition projected(std::uint64_t ni, std::uint64_t nj, std::uint8_t mode, ProjectionParams p, double la1,
                         double lo1, double dx, double dy, EarthShape earth) {
  GridDefinition d;
  d.layout = LayoutParams{ni, nj, mode, {}};
  d.geometry = ProjectedGridParams{p, la1, lo1, dx, dy};
  d.earth = earth;
  return d;
}

// The grid of the first message of a test file, read from its section 3.
std::optional<GridDefinition> from_file(const char* name) {
  std::ifstream in(std::string(VORLAK_SOURCE_ROOT "/../shared/testdata/") + name, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t at = 16; at + 5 <= data.size();) {
    const std::uint32_t length = load_u32_be(data.data() + at);
    if (length < 5 || at + length > data.size()) break;
    if (data[at + 4] == 3) {
      auto d = grib2_grid_definition(Bytes(data).subspan(at, length));
      if (d) return *d;
      break;
    }
    at += length;
  }
  return std::nullopt;
}

std::vector<Named> grids() {
  const EarthShape sphere{6371229.0, 6371229.0, 6};
  std::vector<Named> out;
  if (auto hrrr = from_file("hrrr.t06z.wrfsfcf01-UGRD.grib2")) out.push_back({"hrrr from its section 3", *hrrr});
  out.push_back({"hrrr lambert 1799x1059", projected(1799, 1059, 0x40, LambertConformalParams{38.5, 38.5, 38.5, 262.5},
                                                     21.138123, 237.280472, 3000, 3000, sphere)});
  out.push_back(
      {"hrrr lambert on WGS84", projected(1799, 1059, 0x40, LambertConformalParams{38.5, 38.5, 38.5, 262.5}, 21.138123,
                                          237.280472, 3000, 3000, EarthShape{6378137.0, 6356752.314245179, 5})});
  out.push_back(
      {"ndfd lambert 2145x1377", projected(2145, 1377, 0x50, LambertConformalParams{25, 25, 25, 265}, 20.19, 238.449996,
                                           2539.703, 2539.703, EarthShape{6371200.0, 6371200.0, 1})});
  out.push_back({"aqm polar stereographic 825x553", projected(825, 553, 0x40, PolarStereographicParams{false, 60, 210},
                                                              40.53, 181.429, 5953, 5953, sphere)});
  GridDefinition hrdps;
  hrdps.layout = LayoutParams{2540, 1290, 0x40, {}};
  hrdps.geometry = LatLonGridParams{-12.302501, 345.17878, 16.700001, 42.306283, 0.0225, 0.0225, 1e-6};
  hrdps.rotation = RotatedPoleParams{-36.08852, 245.305142, 0};
  out.push_back({"hrdps rotated 2540x1290", hrdps});
  out.push_back(
      {"aqm mercator 321x225", projected(321, 225, 0x40, MercatorParams{20, 0}, 18.073, 198.475, 2500, 2500, sphere)});
  out.push_back(
      {"albers conus on GRS80 1000x700", projected(1000, 700, 0x40, AlbersEqualAreaParams{29.5, 45.5, 23, -96}, 22,
                                                   -125, 5000, 5000, EarthShape{6378137.0, 6356752.314140356, 4})});
  out.push_back({"south polar stereographic on WGS84",
                 projected(700, 700, 0x40, PolarStereographicParams{true, -71, 0}, -55, -135, 10000, 10000,
                           EarthShape{6378137.0, 6356752.314245179, 5})});
  GridDefinition disc;
  disc.layout = LayoutParams{3712, 3712, 0x40, {}};
  disc.geometry = SpaceViewGridParams{0, 0, 3622, 3622, 1856, 1856, 0, 0, 0, 6610700.0};
  disc.earth = EarthShape{6378169.0, 6356583.8, 3};
  out.push_back({"meteosat full disc 3712x3712", disc});
  GridDefinition gdas;
  gdas.layout = LayoutParams{3072, 1536, 0, {}};
  gdas.geometry = GaussianGridParams{89.910324, 0, -89.910324, 359.882813, 0.117188, 768, 1e-6};
  out.push_back({"gdas gaussian 3072x1536 (axes)", gdas});
  return out;
}

}  // namespace

int dump(const char* name, const char* path) {
  for (const Named& g : grids()) {
    if (std::strcmp(g.name, name) != 0) continue;
    auto coords = compute_grid_coordinates(g.definition);
    if (!coords) {
      std::fprintf(stderr, "%s\n", coords.error().c_str());
      return 1;
    }
    std::vector<double> lat((*coords)->size()), lon((*coords)->size());
    (*coords)->fill(lat, lon);
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 1;
    std::fwrite(lat.data(), sizeof(double), lat.size(), f);
    std::fwrite(lon.data(), sizeof(double), lon.size(), f);
    std::fwrite((*coords)->x().data(), sizeof(double), (*coords)->x().size(), f);
    std::fwrite((*coords)->y().data(), sizeof(double), (*coords)->y().size(), f);
    return std::fclose(f) == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "no grid named %s\n", name);
  return 1;
}

int proj(const char* name) {
  for (const Named& g : grids()) {
    if (std::strcmp(g.name, name) != 0) continue;
    auto parameters = proj_parameters(g.definition);
    if (!parameters) {
      std::fprintf(stderr, "%s\n", parameters.error().c_str());
      return 1;
    }
    std::printf("%s\n", proj_string(*parameters).c_str());
    return 0;
  }
  std::fprintf(stderr, "no grid named %s\n", name);
  return 1;
}

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--dump") == 0) return dump(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "--proj") == 0) return proj(argv[2]);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::printf("%-34s %10s %10s %10s\n", "grid", "points", "ms", "ns/point");
  for (const Named& g : grids()) {
    double best = 1e300;
    std::uint64_t points = 0;
    for (int r = 0; r < runs; ++r) {
      const double start = cpu_ms();
      auto coords = compute_grid_coordinates(g.definition);
      const double elapsed = cpu_ms() - start;
      if (!coords) {
        std::printf("%-34s error: %s\n", g.name, coords.error().c_str());
        break;
      }
      points = (*coords)->size();
      best = std::min(best, elapsed);
    }
    if (points)
      std::printf("%-34s %10llu %10.1f %10.1f\n", g.name, static_cast<unsigned long long>(points), best,
                  best * 1e6 / static_cast<double>(points));
  }
  // The inverse projection alone on HRRR's points, into buffers already touched.
  auto made = make_projection(LambertConformalParams{38.5, 38.5, 38.5, 262.5}, EarthShape{6371229.0, 6371229.0, 6});
  std::vector<double> x(1799), y(1059), lat(1799 * 1059, 0.0), lon(1799 * 1059, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = -2.7e6 + 3000.0 * i;
  for (std::size_t j = 0; j < y.size(); ++j) y[j] = -1.6e6 + 3000.0 * j;
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const double start = cpu_ms();
    (*made)->inverse_grid(x, y, lat.data(), lon.data());
    best = std::min(best, cpu_ms() - start);
  }
  std::printf("%-34s %10zu %10.1f %10.1f\n", "hrrr lambert inverse alone", lat.size(), best,
              best * 1e6 / static_cast<double>(lat.size()));
  return 0;
}
