"""From GRIB messages to a dataset model: scanning keys, grouping messages
into variables over time, step and level, and reading fields lazily.

Only ``lazy`` (and ``vorlak.xarray_backend``) need xarray; the rest works
with NumPy alone."""
