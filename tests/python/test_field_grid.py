"""The grid of a field in vorlak.open: coordinates of every template checked
by hand and against PROJ (pyproj), values and coordinates together in every
scanning mode, the coordinate reference system (projparams, crs,
grid_mapping), grid keys, grid identity, nearest points, and grids whose
parameters make no sense."""
import math

import numpy as np
import pytest

import gribbuild as g
from conftest import testdata as data_file
import vorlak
import vorlak.fields
from vorlak import _vorlak as v

R = 6371229.0  # shape of the Earth 6
DEG = math.pi / 180.0


def needs_pyproj():
    """PROJ's Python binding, for the tests that compare with it."""
    return pytest.importorskip("pyproj")


def field_of(grid: bytes, values=None):
    """The one field of a message on `grid` (a whole section 3); values
    0, 1, 2, ... unless given."""
    count = int.from_bytes(grid[6:10], "big")
    values = [float(k) for k in range(count)] if values is None else values
    return vorlak.open(g.grib2_message([g.section1(), grid, *g.field_simple(values, bits=16)]))[0]


def micro(deg):
    return int(round(deg * 1e6))


def sphere(**keys):
    return {"shapeOfTheEarth": 6, **keys}


def wrapped(a):
    return (np.asarray(a) + 180.0) % 360.0 - 180.0


# ------------------------------------------------------ one grid of each template

def lambert_sphere(lat, lon, lat1, lat0, lon0):
    """Lambert conformal conic on the sphere, one standard parallel."""
    n = math.sin(lat1 * DEG)
    F = math.cos(lat1 * DEG) * math.tan(math.pi / 4 + lat1 * DEG / 2) ** n / n
    rho = R * F / math.tan(math.pi / 4 + lat * DEG / 2) ** n
    rho0 = R * F / math.tan(math.pi / 4 + lat0 * DEG / 2) ** n
    theta = n * wrapped(lon - lon0) * DEG
    return rho * math.sin(theta), rho0 - rho * math.cos(theta), (n, F, rho0)


def lambert_sphere_inverse(x, y, lon0, constants):
    n, F, rho0 = constants
    rho = math.copysign(math.hypot(x, rho0 - y), n)
    theta = math.atan2(x, rho0 - y)
    return 2 * math.atan((R * F / rho) ** (1 / n)) / DEG - 90, lon0 + theta / n / DEG


def test_lambert_conformal_by_hand():
    grid = g.template_section(3, 30, sphere(
        numberOfDataPoints=6, Nx=3, Ny=2, latitudeOfFirstGridPoint=micro(30), longitudeOfFirstGridPoint=micro(250),
        LaD=micro(40), LoV=micro(260), Latin1=micro(40), Latin2=micro(40), Dx=50_000_000, Dy=50_000_000,
        scanningMode=0x40))
    field = field_of(grid)
    x0, y0, constants = lambert_sphere(30, 250, 40, 40, 260)
    assert field.x.tolist() == pytest.approx([x0, x0 + 50e3, x0 + 100e3], abs=1e-6)
    assert field.y.tolist() == pytest.approx([y0, y0 + 50e3], abs=1e-6)
    for r, c in [(0, 0), (0, 2), (1, 1)]:
        lat, lon = lambert_sphere_inverse(x0 + 50e3 * c, y0 + 50e3 * r, 260, constants)
        assert field.latitudes[r, c] == pytest.approx(lat, abs=1e-9)
        assert wrapped(field.longitudes[r, c]) == pytest.approx(wrapped(lon), abs=1e-9)
    assert field.projparams == {"proj": "lcc", "lat_1": 40.0, "lat_2": 40.0, "lat_0": 40.0, "lon_0": 260.0,
                                "x_0": 0.0, "y_0": 0.0, "R": R, "units": "m"}
    mapping = field._crs(True)
    assert mapping == {"grid_mapping_name": "lambert_conformal_conic", "standard_parallel": 40.0,
                       "longitude_of_central_meridian": 260.0, "latitude_of_projection_origin": 40.0,
                       "false_easting": 0.0, "false_northing": 0.0, "earth_radius": R}
    keys = {k: field[k] for k in ("gridType", "LaDInDegrees", "LoVInDegrees", "Latin1InDegrees", "Latin2InDegrees",
                                  "DxInMetres", "DyInMetres", "shapeOfTheEarth", "radiusInMetres", "Nx")}
    assert keys == {"gridType": "lambert", "LaDInDegrees": 40.0, "LoVInDegrees": 260.0, "Latin1InDegrees": 40.0,
                    "Latin2InDegrees": 40.0, "DxInMetres": 50000.0, "DyInMetres": 50000.0, "shapeOfTheEarth": 6,
                    "radiusInMetres": R, "Nx": 3}


def test_polar_stereographic_north_by_hand():
    # True to scale at 60N on the sphere: rho = 2 R k0 tan(45 - lat/2), k0 = (1 + sin 60) / 2.
    grid = g.template_section(3, 20, sphere(
        numberOfDataPoints=6, Nx=3, Ny=2, latitudeOfFirstGridPoint=micro(60), longitudeOfFirstGridPoint=micro(170),
        LaD=micro(60), LoV=micro(260), Dx=100_000_000, Dy=100_000_000, scanningMode=0x40))
    field = field_of(grid)
    scale = 2 * R * (1 + math.sin(60 * DEG)) / 2
    rho0 = scale * math.tan(math.pi / 4 - 30 * DEG)
    x0, y0 = -rho0, 0.0  # 90 degrees west of LoV
    for r, c in [(0, 0), (0, 1), (1, 2)]:
        x, y = x0 + 1e5 * c, y0 + 1e5 * r
        lat = 90 - 2 * math.atan(math.hypot(x, y) / scale) / DEG
        lon = 260 + math.atan2(x, -y) / DEG
        assert field.latitudes[r, c] == pytest.approx(lat, abs=1e-9)
        assert wrapped(field.longitudes[r, c]) == pytest.approx(wrapped(lon), abs=1e-9)
    assert field.grid_type == "polar_stereographic" and field["LaDInDegrees"] == 60.0
    assert field._crs(True)["grid_mapping_name"] == "polar_stereographic"
    assert field.projparams["lat_0"] == 90.0 and field.projparams["lat_ts"] == 60.0


def test_mercator_by_hand():
    grid = g.template_section(3, 10, sphere(
        numberOfDataPoints=6, Ni=3, Nj=2, latitudeOfFirstGridPoint=0, longitudeOfFirstGridPoint=micro(10),
        LaD=0, latitudeOfLastGridPoint=micro(0.899), longitudeOfLastGridPoint=micro(11.8), scanningMode=0x40,
        iDirectionIncrement=100_000_000, jDirectionIncrement=100_000_000))
    field = field_of(grid)
    step = 1e5 / R / DEG
    assert field.longitudes[0].tolist() == pytest.approx([10, 10 + step, 10 + 2 * step], abs=1e-9)
    north = (2 * math.atan(math.exp(1e5 / R)) - math.pi / 2) / DEG
    assert field.latitudes[:, 0].tolist() == pytest.approx([0, north], abs=1e-9)
    assert field.y.tolist() == pytest.approx([0, 1e5], abs=1e-6)
    assert field.grid_type == "mercator" and field["DiInMetres"] == 100000.0
    assert field._crs(True)["grid_mapping_name"] == "mercator"


def test_rotated_latitude_longitude_by_hand():
    # South pole at 40S 10E: the rotated origin is at 50N 10E, and the
    # rotated meridian 0 is the meridian 10E.
    grid = g.template_section(3, 1, sphere(
        numberOfDataPoints=9, Ni=3, Nj=3, latitudeOfFirstGridPoint=micro(1), longitudeOfFirstGridPoint=micro(359),
        latitudeOfLastGridPoint=micro(-1), longitudeOfLastGridPoint=micro(1), iDirectionIncrement=micro(1),
        jDirectionIncrement=micro(1), latitudeOfSouthernPole=micro(-40), longitudeOfSouthernPole=micro(10),
        basicAngleOfTheInitialProductionDomain=0, subdivisionsOfBasicAngle=g.MISSING))
    field = field_of(grid)
    assert field.latitudes[:, 1].tolist() == pytest.approx([51, 50, 49], abs=1e-9)
    assert field.longitudes[:, 1].tolist() == pytest.approx([10, 10, 10], abs=1e-9)
    assert field.x is None and field.grid_type == "rotated_ll"
    assert field._crs(True) == {"grid_mapping_name": "rotated_latitude_longitude", "grid_north_pole_latitude": 40.0,
                                "grid_north_pole_longitude": -170.0, "north_pole_grid_longitude": 0.0,
                                "earth_radius": R}
    assert (field["latitudeOfSouthernPoleInDegrees"], field["longitudeOfSouthernPoleInDegrees"],
            field["angleOfRotationInDegrees"]) == (-40.0, 10.0, 0.0)


def gaussian_latitudes(n):
    return np.degrees(np.arcsin(np.polynomial.legendre.leggauss(2 * n)[0]))[::-1]


def test_gaussian_regular_octahedral_and_rotated():
    lats = gaussian_latitudes(2)
    regular = field_of(g.template_section(3, 40, sphere(
        numberOfDataPoints=32, Ni=8, Nj=4, N=2, latitudeOfFirstGridPoint=micro(lats[0]),
        latitudeOfLastGridPoint=micro(lats[-1]), longitudeOfLastGridPoint=micro(315), iDirectionIncrement=micro(45))))
    assert regular.shape == (4, 8) and regular.grid_type == "regular_gg"
    assert regular.latitudes[:, 0].tolist() == pytest.approx(lats.tolist(), abs=1e-12)
    assert regular.longitudes[0].tolist() == list(range(0, 360, 45))
    # Octahedral N = 2: rows of 20, 24, 24, 20 points, Ni missing.
    pl = [20, 24, 24, 20]
    octahedral = field_of(g.template_section(3, 40, sphere(
        numberOfDataPoints=88, Ni=g.MISSING, Nj=4, N=2, latitudeOfFirstGridPoint=micro(lats[0]),
        latitudeOfLastGridPoint=micro(lats[-1]), longitudeOfLastGridPoint=micro(342), iDirectionIncrement=g.MISSING,
        interpretationOfNumberOfPoints=1, pl=pl)))
    assert octahedral.shape is None and octahedral.values.shape == octahedral.latitudes.shape == (88,)
    assert octahedral.grid_type == "reduced_gg" and octahedral["pl"].tolist() == pl
    starts = np.cumsum([0] + pl)
    for row, count in enumerate(pl):
        points = slice(starts[row], starts[row + 1])
        assert np.allclose(octahedral.latitudes[points], lats[row], atol=1e-12, rtol=0)
        assert octahedral.longitudes[points].tolist() == pytest.approx([360 / count * k for k in range(count)])
    # Rotated, south pole at 40S 10E: the column at rotated longitude 0
    # lies on the meridian 10E, 50 degrees north of its rotated latitude.
    rotated = field_of(g.template_section(3, 41, sphere(
        numberOfDataPoints=32, Ni=8, Nj=4, N=2, latitudeOfFirstGridPoint=micro(lats[0]),
        latitudeOfLastGridPoint=micro(lats[-1]), longitudeOfLastGridPoint=micro(315), iDirectionIncrement=micro(45),
        latitudeOfSouthernPole=micro(-40), longitudeOfSouthernPole=micro(10))))
    assert rotated.grid_type == "rotated_gg"
    # (past the pole, on the meridian 190E)
    expected = [lat + 50 if lat + 50 <= 90 else 130 - lat for lat in lats]
    assert rotated.latitudes[:, 0].tolist() == pytest.approx(expected, abs=1e-9)


def test_albers_south_polar_and_space_view_against_proj():
    pyproj = needs_pyproj()
    cases = [
        # Albers on GRS80 (shape 4): first point 30N 100W.
        (g.template_section(3, 31, {
            "shapeOfTheEarth": 4, "numberOfDataPoints": 12, "Nx": 4, "Ny": 3, "latitudeOfFirstGridPoint": micro(30),
            "longitudeOfFirstGridPoint": micro(260), "LaD": micro(23), "LoV": micro(264), "Latin1": micro(29.5),
            "Latin2": micro(45.5), "Dx": 200_000_000, "Dy": 200_000_000, "scanningMode": 0x40}),
         "albers_conical_equal_area"),
        # South polar stereographic on WGS84 (shape 5), true to scale at 71S.
        (g.template_section(3, 20, {
            "shapeOfTheEarth": 5, "numberOfDataPoints": 12, "Nx": 4, "Ny": 3, "latitudeOfFirstGridPoint": micro(-60),
            "longitudeOfFirstGridPoint": micro(300), "LaD": micro(-71), "LoV": 0, "Dx": 300_000_000,
            "Dy": 300_000_000, "projectionCentreFlag": 0x80, "scanningMode": 0x40}),
         "polar_stereographic"),
        # A geostationary view, 7 x 7 pixels of a disc 8 pixels wide.
        (g.template_section(3, 90, sphere(
            numberOfDataPoints=49, Nx=7, Ny=7, Lap=0, Lop=micro(-75), dx=8, dy=8, Xp=3000, Yp=3000,
            Nr=6610700, Xo=0, Yo=0)),
         "geostationary"),
    ]
    for grid, name in cases:
        field = field_of(grid)
        assert field._crs(True)["grid_mapping_name"] == name
        proj = pyproj.Proj(field.projparams)
        X, Y = np.meshgrid(field.x, field.y)
        lon, lat = proj(X, Y, inverse=True, errcheck=False)
        off = np.abs(lat) > 1e30
        lat, lon = np.where(off, np.nan, lat), np.where(off, np.nan, lon)
        np.testing.assert_allclose(field.latitudes, lat, atol=1e-9, rtol=0)  # NaN where PROJ has NaN
        assert np.nanmax(np.abs(wrapped(field.longitudes - lon))) < 1e-9
    # The sub-satellite pixel sees 0N 75W, the corners see space.
    assert (field.latitudes[3, 3], field.longitudes[3, 3]) == (pytest.approx(0, abs=1e-9), pytest.approx(-75))
    assert np.isnan(field.latitudes[0, 0]) and field.grid_type == "space_view"


def test_grib1_lambert_equals_the_grib2_grid_it_describes():
    grib1 = vorlak.open(g.grib1_message(g.pds(), g.gds_lambert(nx=4, ny=3, la1=30, lo1=250, dx_m=20000, dy_m=20000,
                                                                lov=265.0),
                                        None, g.bds_simple([1.0] * 12)))[0]
    grib2 = field_of(g.template_section(3, 30, {
        "shapeOfTheEarth": 0, "numberOfDataPoints": 12, "Nx": 4, "Ny": 3, "latitudeOfFirstGridPoint": micro(30),
        "longitudeOfFirstGridPoint": micro(250), "LaD": micro(grib1["Latin1InDegrees"]), "LoV": micro(265),
        "Latin1": micro(grib1["Latin1InDegrees"]), "Latin2": micro(grib1["Latin2InDegrees"]),
        "Dx": 20_000_000, "Dy": 20_000_000, "scanningMode": grib1["scanningMode"]}))
    assert grib1.grid_type == "lambert" and grib1.projparams == grib2.projparams
    np.testing.assert_allclose(grib1.latitudes, grib2.latitudes, atol=1e-12, rtol=0)
    np.testing.assert_allclose(grib1.longitudes, grib2.longitudes, atol=1e-12, rtol=0)


# ------------------------------------------------------------- scanning modes

@pytest.mark.parametrize("mode", [m << 4 for m in range(16)])
def test_values_and_coordinates_agree_in_every_scanning_mode(mode):
    """A 4 x 3 grid over 60..58N, 0..3E whose values say where they are
    (1000 * lat + lon), written in the order the scanning mode gives."""
    ni, nj = 4, 3
    west_first, south_first = not mode & 0x80, bool(mode & 0x40)
    lon1, lat1 = (0, 3)[not west_first], (60, 58)[south_first]
    di, dj = (1 if west_first else -1), (1 if south_first else -1)
    order = []  # (row from the first, column from the first) in message order
    if mode & 0x20:  # columns consecutive
        for c in range(ni):
            rows = range(nj) if not (mode & 0x10 and c % 2) else reversed(range(nj))
            order += [(r, c) for r in rows]
    else:
        for r in range(nj):
            columns = range(ni) if not (mode & 0x10 and r % 2) else reversed(range(ni))
            order += [(r, c) for c in columns]
    values = [1000.0 * (lat1 + dj * r) + (lon1 + di * c) for r, c in order]
    grid = g.section3_latlon(ni=ni, nj=nj, la1=lat1, lo1=lon1, la2=lat1 + dj * (nj - 1), lo2=lon1 + di * (ni - 1),
                             di=1, dj=1, scan=mode)
    field = vorlak.open(g.grib2_message([g.section1(), grid, *g.field_simple(values, bits=24)]))[0]
    assert field.values.shape == field.latitudes.shape == (nj, ni)
    np.testing.assert_array_equal(field.values, 1000 * field.latitudes + field.longitudes)
    # Rows in the order the message scans them, each in the first row's direction.
    assert field.latitudes[0, 0] == lat1 and field.longitudes[0, 0] == lon1
    assert field.latitudes[1, 0] == lat1 + dj and field.longitudes[0, 1] == lon1 + di
    (first,) = field.nearest(lat1 + dj, lon1 + di)
    assert first.value == 1000 * (lat1 + dj) + lon1 + di and first.position == (1, 1) and first.index == ni + 1


# ------------------------------------------------------------- real files

def earth(f):
    shape = f["shapeOfTheEarth"]
    if shape == 1:
        return {"R": f["scaledValueOfRadiusOfSphericalEarth"] / 10 ** f["scaleFactorOfRadiusOfSphericalEarth"]}
    return {0: {"R": 6367470.0}, 6: {"R": 6371229.0}, 8: {"R": 6371200.0}, 4: {"ellps": "GRS80"},
            5: {"ellps": "WGS84"}}[shape]


def proj_of_keys(f):
    """PROJ parameters read from the field's template fields, not from its
    projparams."""
    template = f["gridDefinitionTemplateNumber"]
    if template == 30:
        south = f["projectionCentreFlag"] & 0x80
        assert not south
        return {"proj": "lcc", "lat_1": f["Latin1"] / 1e6, "lat_2": f["Latin2"] / 1e6, "lat_0": f["LaD"] / 1e6,
                "lon_0": f["LoV"] / 1e6, **earth(f)}
    if template == 20:
        pole = -90 if f["projectionCentreFlag"] & 0x80 else 90
        return {"proj": "stere", "lat_0": pole, "lat_ts": f["LaD"] / 1e6, "lon_0": f["LoV"] / 1e6, **earth(f)}
    if template == 10:
        return {"proj": "merc", "lat_ts": f["LaD"] / 1e6, "lon_0": 0, **earth(f)}
    raise AssertionError(template)


PROJECTED = ["hrrr.t06z.wrfsfcf01-UGRD.grib2", "ndfd_critfireo.grib2",
             "aqm.t12z.ave_1hr_o3-AK-polar-stereographic.grib2", "aqm.t12z.ave_1hr_o3-HI-mercator.grib2"]
# Precision the message states its last grid point to, where the template has one.
LAST_POINT = {"aqm.t12z.ave_1hr_o3-HI-mercator.grib2": 1e-3}


@pytest.mark.parametrize("name", PROJECTED)
def test_projected_real_files_against_proj(name):
    pyproj = needs_pyproj()
    field = vorlak.open(data_file(name))[0]
    proj = pyproj.Proj(proj_of_keys(field))
    # The plane of the grid from the first point and the grid lengths.
    x0, y0 = proj(field["longitudeOfFirstGridPoint"] / 1e6, field["latitudeOfFirstGridPoint"] / 1e6)
    dx = (field.get("Dx") or field["iDirectionIncrement"]) / 1e3
    dy = (field.get("Dy") or field["jDirectionIncrement"]) / 1e3
    x = x0 + (-dx if field["iScansNegatively"] else dx) * np.arange(field.shape[1])
    y = y0 + (dy if field["jScansPositively"] else -dy) * np.arange(field.shape[0])
    assert field.x == pytest.approx(x - x0 + field.x[0], abs=1e-6)  # the same steps
    assert field.y == pytest.approx(y - y0 + field.y[0], abs=1e-6)
    lon, lat = proj(*np.meshgrid(x, y), inverse=True)
    assert np.abs(field.latitudes - lat).max() < 1e-7
    assert np.abs(wrapped(field.longitudes - lon)).max() < 1e-7
    # Corners: the first point is the message's own, the last (where stated) to its precision.
    assert field.latitudes[0, 0] == pytest.approx(field["latitudeOfFirstGridPointInDegrees"], abs=1e-6)
    assert wrapped(field.longitudes[0, 0] - field["longitudeOfFirstGridPointInDegrees"]) == pytest.approx(0, abs=1e-6)
    if "latitudeOfLastGridPoint" in field:
        precision = LAST_POINT.get(name, 1e-6)
        assert field.latitudes[-1, -1] == pytest.approx(field["latitudeOfLastGridPointInDegrees"], abs=precision)
        assert wrapped(field.longitudes[-1, -1] - field["longitudeOfLastGridPointInDegrees"]) == pytest.approx(
            0, abs=precision)
    # The field's own CRS transforms its plane the same way.
    to_geographic = pyproj.Transformer.from_crs(field.crs, field.crs.geodetic_crs, always_xy=True)
    lon2, lat2 = to_geographic.transform(*np.meshgrid(field.x, field.y))
    assert np.abs(field.latitudes - lat2).max() < 1e-7
    assert np.abs(wrapped(field.longitudes - lon2)).max() < 1e-7


def test_rotated_real_file_against_proj():
    pyproj = needs_pyproj()
    field = vorlak.open(data_file("20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2"))[0]
    assert field["jScansPositively"] == 1 and field.grid_type == "rotated_ll"
    rows, columns = field.shape
    # Evenly spaced between the stated corners (the stated 0.0225 steps end 3e-6 off).
    lo1, lo2 = field["longitudeOfFirstGridPoint"] / 1e6, field["longitudeOfLastGridPoint"] / 1e6 + 360
    la1, la2 = field["latitudeOfFirstGridPoint"] / 1e6, field["latitudeOfLastGridPoint"] / 1e6
    rotated = pyproj.CRS.from_dict({"proj": "ob_tran", "o_proj": "longlat", "R": R,
                                    "o_lat_p": -field["latitudeOfSouthernPole"] / 1e6,
                                    "o_lon_p": -field["angleOfRotation"] / 1e6,
                                    "lon_0": field["longitudeOfSouthernPole"] / 1e6})
    t = pyproj.Transformer.from_crs(rotated, pyproj.CRS.from_dict({"proj": "longlat", "R": R}), always_xy=True)
    lon, lat = t.transform(*np.meshgrid(np.linspace(lo1, lo2, columns), np.linspace(la1, la2, rows)))
    assert np.abs(field.latitudes - lat).max() < 1e-7
    assert np.abs(wrapped(field.longitudes - lon)).max() < 1e-7
    assert field.x is None and field._crs(True)["grid_mapping_name"] == "rotated_latitude_longitude"


CRS_FILES = PROJECTED + ["20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2",
                         "gdas.t00z.sfluxgrbf000.msg1.grib2", "jma_tornado_nowcast_runlength.grib2"]


@pytest.mark.parametrize("name", CRS_FILES)
def test_crs_round_trips_through_cf(name):
    pyproj = needs_pyproj()
    field = vorlak.open(data_file(name))[0]
    mapping = field.grid_mapping
    # As rioxarray reads a grid_mapping variable: its crs_wkt.
    assert pyproj.CRS.from_cf(mapping) == field.crs
    # The CF parameters alone (as metpy and cartopy read them) place the
    # grid's own coordinates (plane or rotated frame) at the same points.
    del mapping["crs_wkt"]
    from_cf = pyproj.CRS.from_cf(mapping)
    if field.x is not None:
        X, Y = np.meshgrid(field.x[::97], field.y[::89])
    else:
        X, Y = np.meshgrid([-170.0, -20.0, 0.0, 35.0, 179.0], [-80.0, -10.0, 0.0, 45.0, 89.0])
    ours = pyproj.Transformer.from_crs(field.crs, field.crs.geodetic_crs, always_xy=True).transform(X, Y)
    theirs = pyproj.Transformer.from_crs(from_cf, from_cf.geodetic_crs, always_xy=True).transform(X, Y)
    np.testing.assert_allclose(ours, theirs, atol=1e-9, rtol=0)
    assert from_cf.ellipsoid.semi_minor_metre == pytest.approx(field.crs.ellipsoid.semi_minor_metre, abs=1e-6)


def test_crs_needs_pyproj(monkeypatch):
    import builtins
    real_import = builtins.__import__

    def no_pyproj(name, *args, **kwargs):
        if name == "pyproj":
            raise ImportError("no pyproj here")
        return real_import(name, *args, **kwargs)

    vorlak.fields._crs_of.cache_clear()
    monkeypatch.setattr(builtins, "__import__", no_pyproj)
    field = field_of(g.section3_lambert(nx=3, ny=2, la1=20, lo1=250, dx_m=3000, dy_m=3000))
    with pytest.raises(ImportError, match="pyproj"):
        field.crs
    assert "crs_wkt" not in field.grid_mapping and field.projparams["proj"] == "lcc"


def test_grids_without_coordinates_have_none():
    field = field_of(g.template_section(3, 101, {"numberOfDataPoints": 4, "numberOfGridUsed": 26}, length=35))
    assert field.values.shape == (4,) and field.grid_type == "unstructured_grid"
    assert (field.latitudes, field.longitudes, field.x, field.y, field.projparams, field.grid_mapping,
            field.crs) == (None,) * 7
    assert field["numberOfGridUsed"] == 26 and "uuidOfHGrid" in field
    with pytest.raises(v.CodesInternalError, match="unstructured grid 26"):
        field.nearest(0, 0)
    with pytest.raises(v.CodesInternalError, match="no grid point positions"):
        field.points()


# --------------------------------------------- identity, sharing, nearest

def test_fields_on_one_grid_share_identity_and_coordinates():
    lambert = g.section3_lambert(nx=3, ny=2, la1=20, lo1=250, dx_m=3000, dy_m=3000)
    other = g.section3_lambert(nx=3, ny=2, la1=20, lo1=250, dx_m=3001, dy_m=3000)
    data = b"".join(g.grib2_message([g.section1(), grid, *g.field_simple([float(k)] * 6)])
                    for k, grid in enumerate([lambert, lambert, other]))
    with vorlak.open(data) as grib:
        a, b, c = grib
        assert a.grid_id == b.grid_id != c.grid_id and {a.grid_id: 1}[b.grid_id] == 1
        # One computation, shared: the arrays of both fields are the cached ones.
        assert np.shares_memory(a.latitudes, b.latitudes) and not a.latitudes.flags.writeable
        assert not np.shares_memory(a.latitudes, c.latitudes)


def test_nearest_and_points_on_a_real_projected_field():
    field = vorlak.open(data_file("hrrr.t06z.wrfsfcf01-UGRD.grib2"))[0]
    lats, lons, values = field.latitudes.ravel(), field.longitudes.ravel(), field.values.ravel()
    k = DEG
    a = np.sin((lons + 100.25) * k / 2) ** 2 * np.cos(lats * k) * np.cos(40.5 * k) + np.sin((lats - 40.5) * k / 2) ** 2
    distance = 2 * np.arctan2(np.sqrt(a), np.sqrt(1 - a)) * 6371.0088
    found = field.nearest(40.5, -100.25, k=4)
    assert [p.index for p in found] == np.argsort(distance, kind="stable")[:4].tolist()
    for p in found:
        assert (p.lat, p.lon, p.value) == (lats[p.index], lons[p.index], values[p.index])
        assert p.distance == pytest.approx(distance[p.index], rel=1e-12)
        assert field.values[p.position] == p.value
    points = field.points()
    assert next(points) == (lats[0], lons[0], values[0])
    assert sum(1 for _ in points) == values.size - 1
    with pytest.raises(ValueError):
        field.nearest(40, -100, k=0)


# ----------------------------------------------------------------- bad input

def lambert_keys(**changes):
    keys = sphere(numberOfDataPoints=6, Nx=3, Ny=2, latitudeOfFirstGridPoint=micro(30),
                  longitudeOfFirstGridPoint=micro(250), LaD=micro(40), LoV=micro(260), Latin1=micro(40),
                  Latin2=micro(40), Dx=50_000_000, Dy=50_000_000, scanningMode=0x40)
    keys.update(changes)
    return g.template_section(3, 30, keys)


BAD_GRIDS = {
    "standard parallel at a pole": lambert_keys(Latin1=micro(90), Latin2=micro(90)),
    "zero Earth radius": lambert_keys(shapeOfTheEarth=1, scaleFactorOfRadiusOfSphericalEarth=0,
                                      scaledValueOfRadiusOfSphericalEarth=0),
    "Dx of 0": lambert_keys(Dx=0),
    "pole that is not a latitude": g.template_section(3, 1, sphere(
        numberOfDataPoints=6, Ni=3, Nj=2, latitudeOfFirstGridPoint=micro(1), latitudeOfLastGridPoint=0,
        longitudeOfLastGridPoint=micro(2), iDirectionIncrement=micro(1), jDirectionIncrement=micro(1),
        latitudeOfSouthernPole=micro(-100), subdivisionsOfBasicAngle=g.MISSING)),
    "points-per-row list of another sum": g.template_section(3, 40, sphere(
        numberOfDataPoints=6, Ni=g.MISSING, Nj=2, N=1, latitudeOfFirstGridPoint=micro(35.264),
        latitudeOfLastGridPoint=micro(-35.264), longitudeOfLastGridPoint=micro(270), iDirectionIncrement=g.MISSING,
        pl=[4, 4])),
}


@pytest.mark.parametrize("name", BAD_GRIDS)
def test_nonsense_grids_fail_when_coordinates_are_asked_for(name):
    grid = BAD_GRIDS[name]
    field = vorlak.open(g.grib2_message([g.section1(), grid, *g.field_simple([1.0, 2, 3, 4, 5, 6])]))[0]
    assert field.values.ravel().tolist() == [1, 2, 3, 4, 5, 6] and field.grid_id
    for read in (lambda: field.latitudes, lambda: field.longitudes, lambda: field.nearest(0, 0),
                 lambda: field.points()):
        with pytest.raises(v.CodesInternalError) as error:
            read()
        assert len(str(error.value)) > 10
    for read in (lambda: field.projparams, lambda: field.grid_mapping):
        try:
            read()  # a description of the stated parameters, or the same error
        except v.CodesInternalError:
            pass
