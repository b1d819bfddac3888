"""``vorlak convert``: GRIB files to one netCDF file or Zarr store, through
the xarray engine."""
from __future__ import annotations

import os
import warnings

HELP = "write GRIB files as one netCDF file or Zarr store (the xarray engine's dataset)"

DESCRIPTION = """\
Open the GRIB files as one dataset, as the xarray engine does (variables
with their time, step, level, ensemble and threshold dimensions and their
grid's coordinates), and write it to OUT: a netCDF file when OUT ends in
.nc, a Zarr store when it ends in .zarr. -w keeps only the fields whose
keys have the given values. Fields are read and written one at a time
when dask is installed."""

FORMATS = {".nc": "netcdf", ".nc4": "netcdf", ".netcdf": "netcdf", ".zarr": "zarr"}


def add_arguments(p) -> None:
    from vorlak.dataset.cube import TIME_KINDS

    p.add_argument("files", metavar="FILE", nargs="+", help="GRIB files")
    p.add_argument("out", metavar="OUT", help="output: OUT.nc (netCDF) or OUT.zarr (Zarr store)")
    p.add_argument("--time-dims", default="time,step", metavar="DIM[,DIM]",
                   help=f"time dimensions, from {', '.join(TIME_KINDS)} (default time,step)")
    p.add_argument("--dtype", choices=("auto", "float32", "float64"), default="auto",
                   help="values as float32 or float64 (default: float32 where the packing fits it)")
    p.add_argument("--overwrite", action="store_true", help="replace OUT if it exists")


def _write(ds, out: str, kind: str) -> None:
    if kind == "zarr":
        ds.to_zarr(out, mode="w")
        return
    try:
        import netCDF4  # noqa: F401
        engine = "netcdf4"
    except ImportError:
        engine = None
    ds.to_netcdf(out, engine=engine)


def run(args, report_error) -> int:
    kind = FORMATS.get(os.path.splitext(args.out.rstrip("/"))[1].lower())
    if kind is None:
        report_error(f"{args.out}: the output must end in .nc or .zarr")
        return 2
    if os.path.exists(args.out) and not args.overwrite:
        report_error(f"{args.out} exists; give --overwrite to replace it")
        return 1
    try:
        import xarray  # noqa: F401
    except ImportError:
        report_error("convert needs xarray (python3-xarray)")
        return 1
    from vorlak.dataset.cube import DatasetBuildError
    from vorlak.dataset.lazy import to_dataset
    from vorlak.dataset.opening import open_model
    from vorlak.dataset.source import open_source

    filters: dict = {}
    for key, value in args.where:
        if filters.get(key, value) != value:
            report_error(f"-w asks for {key}={filters[key]} and {key}={value}: no field has both")
            return 2
        filters[key] = value
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            model = open_model([open_source(p) for p in args.files], filter_by_keys=filters or None,
                               time_dims=tuple(d.strip() for d in args.time_dims.split(",") if d.strip()),
                               dtype=args.dtype)
        for w in caught:
            report_error(str(w.message))
        if not model.variables:
            report_error("no field to write")
            return 1
        ds = to_dataset(model)
        try:
            import dask  # noqa: F401
            # One field at a time: a chunk per field, the grid whole.
            ds = ds.chunk({d: 1 for v in model.variables for d in v.dims[:v.table.ndim]})
        except ImportError:
            pass
        if os.path.exists(args.out) and args.overwrite and kind == "netcdf":
            os.remove(args.out)
        _write(ds, args.out, kind)
    except (OSError, ValueError, TypeError, RuntimeError) as e:
        report_error(str(e) if isinstance(e, (DatasetBuildError, OSError)) else f"{type(e).__name__}: {e}")
        return 1
    except Exception as e:  # the reader's own errors (CodesInternalError, ...)
        report_error(str(e))
        return 1
    print(f"{args.out}: {len(ds.data_vars)} variables from {len(model.store)} fields")
    return 0
