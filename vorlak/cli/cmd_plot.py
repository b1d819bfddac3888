"""``vorlak plot``: a quick-look map of one field."""
from __future__ import annotations

import warnings

import numpy as np

from vorlak import _vorlak as codes
from vorlak.cli.reading import FileProblem, Selection, fields

HELP = "draw a quick-look map of one field into a PNG file"

DESCRIPTION = """\
Draw field N (the first field that -w selects when -m is not given) as a
map: in the field's own projection when it has one (Lambert, polar
stereographic, Mercator, ...), else on latitude and longitude, north up,
with coastlines when cartopy is installed. Needs matplotlib."""


def add_arguments(p) -> None:
    p.add_argument("file", metavar="FILE", help="GRIB file")
    p.add_argument("-o", "--output", required=True, metavar="OUT.png", help="the PNG file to write")
    p.add_argument("--cmap", default="viridis", help="matplotlib colour map (default viridis)")


def _attribute(field, name):
    """A grid attribute of the field, None where the field or the installed
    packages cannot give it."""
    try:
        return getattr(field, name)
    except (AttributeError, ImportError, ValueError, codes.CodesInternalError):
        return None


def _title(field) -> str:
    get = field.get
    parts = [get("name") or get("shortName") or "field"]
    level_type, level = get("typeOfLevel"), get("level")
    if level_type:
        parts.append(f"{level_type} {level:g}" if isinstance(level, (int, float)) else level_type)
    date, time = get("dataDate"), get("dataTime")
    if date is not None:
        parts.append(f"{date} {int(time or 0):04d}")
    if get("stepRange") is not None:
        parts.append(f"step {get('stepRange')}")
    return ", ".join(str(p) for p in parts)


def _cartopy():
    try:
        import cartopy.crs as ccrs
        import cartopy.feature as cfeature
    except ImportError:
        return None, None
    return ccrs, cfeature


def _coastlines(ax, cfeature) -> None:
    # GSHHS at its coarsest comes with cartopy's data; Natural Earth is
    # fetched from the network, which a quick look should not need.
    import logging

    logging.getLogger("shapefile").setLevel(logging.ERROR)  # notes on rings of the coastline file
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            ax.add_feature(cfeature.GSHHSFeature(scale="coarse", levels=[1]), facecolor="none",
                           edgecolor="black", linewidth=0.6)
        except Exception:
            pass


def _projection(ccrs, crs, x: np.ndarray, y: np.ndarray):
    """A cartopy projection of the grid's CRS whose map is the grid's extent
    (cartopy cannot know the bounds of a CRS it has no class for)."""
    try:
        projection = ccrs.Projection(crs)
    except Exception:
        return None
    dx = abs(float(x[1] - x[0])) / 2 if x.size > 1 else 1.0
    dy = abs(float(y[1] - y[0])) / 2 if y.size > 1 else 1.0
    projection.bounds = (float(x.min()) - dx, float(x.max()) + dx, float(y.min()) - dy, float(y.max()) + dy)
    projection.threshold = min(projection.bounds[1] - projection.bounds[0],
                               projection.bounds[3] - projection.bounds[2]) / 100
    return projection


def draw(field, out: str, cmap: str = "viridis") -> str:
    """Writes the map; returns how it was drawn."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    values = np.asarray(field.values, dtype=np.float64)
    lats, lons = _attribute(field, "latitudes"), _attribute(field, "longitudes")
    x, y, crs = _attribute(field, "x"), _attribute(field, "y"), _attribute(field, "crs")
    ccrs, cfeature = _cartopy()
    fig = plt.figure(figsize=(9, 6.5))
    how = ""
    ax = None
    projected = crs is not None and getattr(crs, "is_projected", False)
    if values.ndim == 2 and x is not None and y is not None and projected and ccrs is not None:
        projection = _projection(ccrs, crs, np.asarray(x), np.asarray(y))
        if projection is not None:
            ax = fig.add_subplot(1, 1, 1, projection=projection)
            mesh = ax.pcolormesh(np.asarray(x), np.asarray(y), values, shading="auto", cmap=cmap,
                                 transform=projection)
            ax.set_extent([float(np.min(x)), float(np.max(x)), float(np.min(y)), float(np.max(y))],
                          crs=projection)
            mapping = _attribute(field, "grid_mapping") or {}
            how = f"in its projection ({mapping.get('grid_mapping_name', 'projected')})"
    if ax is None and lats is not None and lons is not None and ccrs is not None:
        lons_east = np.asarray(lons, dtype=np.float64)
        centre = float(np.nanmedian(lons_east))
        ax = fig.add_subplot(1, 1, 1, projection=ccrs.PlateCarree(central_longitude=centre))
        if values.ndim == 2:
            mesh = ax.pcolormesh(lons_east, np.asarray(lats), values, shading="auto", cmap=cmap,
                                 transform=ccrs.PlateCarree())
        else:
            mesh = ax.scatter(lons_east, np.asarray(lats), c=values, s=2, cmap=cmap, transform=ccrs.PlateCarree())
        how = "on latitude and longitude"
    if ax is not None:
        _coastlines(ax, cfeature)
        ax.gridlines(draw_labels=True, linewidth=0.3, alpha=0.5)
    elif values.ndim == 2 and x is not None and y is not None and projected:
        ax = fig.add_subplot(1, 1, 1)
        mesh = ax.pcolormesh(np.asarray(x) / 1000, np.asarray(y) / 1000, values, shading="auto", cmap=cmap)
        ax.set_xlabel("x (km)")
        ax.set_ylabel("y (km)")
        ax.set_aspect("equal")
        how = "in its projection, without coastlines (cartopy is not installed)"
    elif lats is not None and lons is not None:
        ax = fig.add_subplot(1, 1, 1)
        if values.ndim == 2:
            mesh = ax.pcolormesh(np.asarray(lons), np.asarray(lats), values, shading="auto", cmap=cmap)
        else:
            mesh = ax.scatter(np.asarray(lons), np.asarray(lats), c=values, s=2, cmap=cmap)
        ax.set_xlabel("longitude")
        ax.set_ylabel("latitude")
        how = "on latitude and longitude, without coastlines"
    else:
        ax = fig.add_subplot(1, 1, 1)
        grid = values if values.ndim == 2 else values[None, :]
        # Rows that run south to north are drawn from the bottom up.
        origin = "lower" if field.get("jScansPositively") == 1 else "upper"
        mesh = ax.imshow(grid, origin=origin, cmap=cmap, aspect="auto")
        how = "as rows and columns (the grid has no coordinates)"
    units = field.get("units")
    fig.colorbar(mesh, ax=ax, shrink=0.8, label=units if units and units not in ("unknown", "?") else None)
    ax.set_title(_title(field), fontsize=10)
    fig.savefig(out, dpi=100, bbox_inches="tight")
    plt.close(fig)
    return how


def run(args, report_error) -> int:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        report_error("plot needs matplotlib (python3-matplotlib)")
        return 1
    try:
        for number, field in fields(args.file, Selection(args.where, args.message)):
            try:
                how = draw(field, args.output, args.cmap)
            except codes.CodesInternalError as e:
                report_error(f"{args.file}: field {number}: {e}")
                return 1
            except OSError as e:
                report_error(f"{args.output}: {e.strerror or e}")
                return 1
            print(f"{args.output}: field {number} {how}")
            return 0
    except FileProblem as e:
        report_error(str(e))
        return 1
    report_error(f"{args.file}: no field matches")
    return 1

