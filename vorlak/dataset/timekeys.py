"""Reference time and forecast step from the date and step keys."""
from __future__ import annotations

import numpy as np

NAT = np.datetime64("NaT", "ns")
NAT_DELTA = np.timedelta64("NaT", "ns")

# Seconds per unit of the stepUnits code.
SECONDS_PER_STEP_UNIT = {0: 60, 1: 3600, 2: 86400, 10: 10800, 11: 21600, 12: 43200, 13: 1}


def reference_time(data_date, data_time) -> np.datetime64:
    """dataDate (YYYYMMDD) and dataTime (HHMM) as a datetime64[ns]; NaT when
    either is absent or not a calendar date."""
    if data_date is None or data_time is None:
        return NAT
    y, md = divmod(int(data_date), 10000)
    m, d = divmod(md, 100)
    hh, mm = divmod(int(data_time), 100)
    try:
        return np.datetime64(f"{y:04d}-{m:02d}-{d:02d}T{hh:02d}:{mm:02d}", "ns")
    except ValueError:
        return NAT


# timedelta64[ns] holds about +-292 years.
_MAX_NS = np.iinfo(np.int64).max


def forecast_step(forecast_time, step_units) -> np.timedelta64:
    """A step (endStep, negative for products that end before their
    reference time) counted in stepUnits as a timedelta64[ns]: 0 when the
    message has no step, NaT when its unit is not a known span or the step
    is beyond what the type holds."""
    if forecast_time is None:
        return np.timedelta64(0, "ns")
    seconds = SECONDS_PER_STEP_UNIT.get(step_units)
    if seconds is None:
        return NAT_DELTA
    ns = int(forecast_time) * seconds * 1_000_000_000
    if abs(ns) > _MAX_NS:
        return NAT_DELTA
    return np.timedelta64(ns, "ns")


EPOCH_UNITS = "seconds since 1970-01-01T00:00:00"


def encode_times(values: np.ndarray) -> tuple[np.ndarray, dict]:
    """datetime64 or timedelta64 values as CF numbers: seconds since the
    epoch or seconds, int64 (float64 with NaN where a value is NaT)."""
    values = np.asarray(values)
    is_time = values.dtype.kind == "M"
    ns = values.astype("datetime64[ns]" if is_time else "timedelta64[ns]").view(np.int64)
    missing = np.isnat(values)
    attrs = {"units": EPOCH_UNITS, "calendar": "proleptic_gregorian"} if is_time else {"units": "seconds"}
    if missing.any() or (ns % 1_000_000_000).any():
        out = ns / 1e9
        out[missing] = np.nan
        return out, attrs
    return ns // 1_000_000_000, attrs
