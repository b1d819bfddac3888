// Level type names by edition (edition 1 table 3, edition 2 code table 4.5)
// and the `level` value. The edition 2 names below come first; the other
// fixed surfaces take generated names: the WMO's for every centre, NCEP's
// local ones (192-254) for the NOAA centres 7, 8 and 161.
#include <array>

#include "compat/code_names.hpp"
#include "compat/generated/fixed_surface_table.hpp"
#include "compat/sorted_table.hpp"

namespace vorlak {
namespace {

struct LevelRow {
  std::uint8_t code;
  std::string_view edition1;
  std::string_view edition2;
};

constexpr std::string_view kUnknown = "unknown";

constexpr LevelRow kRows[] = {
    {1, "surface", "surface"},
    {2, "cloudBase", "cloudBase"},
    {3, "cloudTop", "cloudTop"},
    {4, "isothermZero", "isothermZero"},
    {5, "adiabaticCondensation", kUnknown},
    {6, "maxWind", "maxWind"},
    {7, "tropopause", "tropopause"},
    {8, "nominalTop", "nominalTop"},
    {10, kUnknown, "entireAtmosphere"},
    {20, "isothermal", "isothermal"},
    // Edition 1 follows WMO GRIB1 code table 3 from here on; its layers
    // carry top and bottom in octets 11 and 12.
    {100, "isobaricInhPa", "isobaricInhPa"},  // edition 2: in Pa below 100 Pa, see below
    {101, "isobaricLayer", "meanSea"},
    {102, "meanSea", "heightAboveSea"},
    {103, "heightAboveSea", "heightAboveGround"},
    {104, "heightAboveSeaLayer", "sigma"},
    {105, "heightAboveGround", "hybrid"},
    {106, "heightAboveGroundLayer", "depthBelowLand"},
    {107, "sigma", "theta"},
    {108, "sigmaLayer", "pressureFromGround"},
    {109, "hybrid", "potentialVorticity"},
    {110, "hybridLayer", kUnknown},
    {111, "depthBelowLand", "eta"},
    {112, "depthBelowLandLayer", kUnknown},
    {113, "isentropic", kUnknown},
    {114, "isentropicLayer", "snowLayer"},
    {115, "pressureFromGround", kUnknown},
    {116, "pressureFromGroundLayer", kUnknown},
    {117, "potentialVorticity", "mixedLayer"},
    {118, kUnknown, "hybridHeight"},
    {119, "eta", kUnknown},
    {120, "etaLayer", kUnknown},
    {150, kUnknown, "generalisedHeight"},
    {160, kUnknown, "depthBelowSea"},
    {200, "entireAtmosphere", "entireAtmosphere"},
    {204, "highestTroposphericFreezing", kUnknown},
    {212, "lowCloudBottom", kUnknown},
    {213, "lowCloudTop", kUnknown},
    {214, "lowCloudLayer", kUnknown},
    {222, "middleCloudBottom", kUnknown},
    {223, "middleCloudTop", kUnknown},
    {224, "middleCloudLayer", kUnknown},
    {232, "highCloudBottom", kUnknown},
    {233, "highCloudTop", kUnknown},
    {234, "highCloudLayer", kUnknown},
};

// Direct lookup by code, one array per edition, filled at compile time.
struct ByCode {
  std::array<std::string_view, 256> edition1;
  std::array<std::string_view, 256> edition2;
};

constexpr ByCode make_by_code() {
  ByCode t{};
  t.edition1.fill(kUnknown);
  t.edition2.fill(kUnknown);
  for (const LevelRow& row : kRows) {
    t.edition1[row.code] = row.edition1;
    t.edition2[row.code] = row.edition2;
  }
  return t;
}

constexpr ByCode kByCode = make_by_code();

using generated::SurfaceRow;

static_assert(rows_strictly_ascending(generated::kWmoSurfaces));
static_assert(rows_strictly_ascending(generated::kNcepLocalSurfaces));

bool noaa_centre(std::optional<std::uint16_t> centre) {
  return centre == std::uint16_t{7} || centre == std::uint16_t{8} || centre == std::uint16_t{161};
}

std::string_view generated_level_name(std::optional<std::uint16_t> centre, std::uint8_t code) {
  const SurfaceRow* row = nullptr;
  if (code >= 192 && code <= 254) {
    if (noaa_centre(centre)) row = find_row(generated::kNcepLocalSurfaces, code);
  } else {
    row = find_row(generated::kWmoSurfaces, code);
  }
  return row ? generated::kSurfaceTexts[row->name] : kUnknown;
}

}  // namespace

std::string_view type_of_level_name(Edition edition, std::optional<std::uint16_t> centre,
                                    std::optional<std::uint8_t> level_type,
                                    std::optional<double> level) {
  if (!level_type) return kUnknown;
  switch (edition) {
    case Edition::One: return kByCode.edition1[*level_type];
    case Edition::Two: {
      if (*level_type == 100) return (level && *level >= 100.0) ? "isobaricInhPa" : "isobaricInPa";
      const std::string_view name = kByCode.edition2[*level_type];
      return name == kUnknown ? generated_level_name(centre, *level_type) : name;
    }
    case Edition::Unknown: return kUnknown;
  }
  return kUnknown;
}

double level_value(const MessageRecord& record) {
  const double level = record.level.value_or(0.0);
  if (record.edition == Edition::Two && record.levelType == std::uint8_t{100} && level >= 100.0) {
    return level / 100.0;
  }
  return level;
}

}  // namespace vorlak
