"""Attributes of variables, coordinates and the dataset, from the keys."""
from __future__ import annotations

# Keys copied to each data variable as GRIB_<key>, read from its first message.
VARIABLE_KEYS = ("paramId", "shortName", "cfVarName", "cfName", "name", "units", "typeOfLevel",
                 "gridType", "centre", "centreDescription", "subCentre", "dataType", "stepType",
                 "stepUnits", "edition", "Nx", "Ny", "numberOfPoints")
# Keys of products beyond plain analyses and forecasts, copied likewise
# where the variable's messages have them.
# (Thresholds, percentiles and layer bounds vary within a variable: they
# are coordinates.)
PRODUCT_VARIABLE_KEYS = ("productDefinitionTemplateNumber", "typeOfStatisticalProcessing", "probabilityType",
                         "derivedForecast", "numberOfForecastsInEnsemble", "typeOfEnsembleForecast",
                         "typeOfSecondFixedSurface")

# Dataset attributes: kept when every variable agrees.
DATASET_KEYS = ("edition", "centre", "centreDescription", "subCentre")

TIME_ATTRS = {"long_name": "initial time of forecast", "standard_name": "forecast_reference_time"}
STEP_ATTRS = {"long_name": "time since forecast_reference_time", "standard_name": "forecast_period"}
NUMBER_ATTRS = {"long_name": "ensemble member numerical id", "units": "1", "standard_name": "realization"}
VALID_TIME_ATTRS = {"long_name": "time", "standard_name": "time"}
LATITUDE_ATTRS = {"units": "degrees_north", "standard_name": "latitude", "long_name": "latitude"}
LONGITUDE_ATTRS = {"units": "degrees_east", "standard_name": "longitude", "long_name": "longitude"}

THRESHOLD_ATTRS = {"long_name": "probability threshold",
                   "comment": "the limit that bounds each event (see lowerLimit and upperLimit)"}
LOWER_LIMIT_ATTRS = {"long_name": "lower limit of the event"}
UPPER_LIMIT_ATTRS = {"long_name": "upper limit of the event"}
PERCENTILE_ATTRS = {"long_name": "percentile", "units": "%"}
_X_ATTRS = {"units": "m", "standard_name": "projection_x_coordinate", "long_name": "x coordinate of projection",
            "axis": "X"}
_Y_ATTRS = {"units": "m", "standard_name": "projection_y_coordinate", "long_name": "y coordinate of projection",
            "axis": "Y"}
_ROTATED_X_ATTRS = {"units": "degrees", "standard_name": "grid_longitude", "long_name": "longitude in rotated pole grid",
                    "axis": "X"}
_ROTATED_Y_ATTRS = {"units": "degrees", "standard_name": "grid_latitude", "long_name": "latitude in rotated pole grid",
                    "axis": "Y"}


def _rotated(mapping) -> bool:
    return bool(mapping) and mapping.get("grid_mapping_name") == "rotated_latitude_longitude"


def x_attrs(mapping) -> dict:
    return dict(_ROTATED_X_ATTRS if _rotated(mapping) else _X_ATTRS)


def y_attrs(mapping) -> dict:
    return dict(_ROTATED_Y_ATTRS if _rotated(mapping) else _Y_ATTRS)


def layer_attrs(level_attrs: dict, which: str) -> dict:
    out = {k: v for k, v in level_attrs.items() if k in ("units", "positive")}
    out["long_name"] = f"{which} of the layer"
    return out


LEVEL_ATTRS = {
    "isobaricInhPa": {"long_name": "pressure", "units": "hPa", "positive": "down",
                      "standard_name": "air_pressure"},
    "isobaricInPa": {"long_name": "pressure", "units": "Pa", "positive": "down",
                     "standard_name": "air_pressure"},
    "heightAboveGround": {"long_name": "height above the surface", "units": "m", "positive": "up",
                          "standard_name": "height"},
    "heightAboveSea": {"long_name": "height above mean sea level", "units": "m", "positive": "up",
                       "standard_name": "altitude"},
    "depthBelowSea": {"long_name": "depth below sea level", "units": "m", "positive": "down",
                      "standard_name": "depth"},
    "depthBelowLand": {"long_name": "depth below land surface", "positive": "down"},
    "theta": {"long_name": "potential temperature", "units": "K",
              "standard_name": "air_potential_temperature"},
    "hybrid": {"long_name": "hybrid level", "positive": "down"},
    "potentialVorticity": {"long_name": "potential vorticity surface"},
}


def level_attrs(level_type: str) -> dict:
    attrs = dict(LEVEL_ATTRS.get(level_type, {"long_name": level_type}))
    attrs["GRIB_typeOfLevel"] = level_type
    return attrs


# Keys users filter by, offered as close matches of a misspelt one.
FILTER_KEYS = ("shortName", "paramId", "typeOfLevel", "level", "stepType", "stepRange", "dataDate",
               "dataTime", "number", "perturbationNumber", "productDefinitionTemplateNumber", "cfVarName",
               "gridType", "edition", "centre", "discipline", "parameterCategory", "parameterNumber",
               "typeOfFirstFixedSurface", "probabilityType", "lowerLimit", "upperLimit", "percentileValue",
               "topLevel", "bottomLevel", "endStep", "startStep", "forecastTime", "units", "name")


def read_keys(f, names) -> dict:
    out = {}
    for key in names:
        value = f.get(key)
        if value is not None and not hasattr(value, "shape"):
            out[key] = value
    return out


def variable_attrs(f, product: bool = False, extra=()) -> dict:
    """GRIB_<key> attributes of a variable from its first field, and CF's
    units, long_name and standard_name; ``extra`` keys too (read_keys)."""
    names = VARIABLE_KEYS + (PRODUCT_VARIABLE_KEYS if product else ())
    keys = read_keys(f, names + tuple(k for k in extra if k not in names))
    attrs = {f"GRIB_{k}": v for k, v in keys.items()}
    units = keys.get("units")
    if units and units not in ("?", "unknown"):
        attrs["units"] = units
    if keys.get("name"):
        attrs["long_name"] = keys["name"]
    cf_name = keys.get("cfName")
    if cf_name and cf_name != "unknown":
        attrs["standard_name"] = cf_name
    return attrs


def dataset_attrs(variable_attr_list: list[dict]) -> dict:
    attrs = {}
    for key in DATASET_KEYS:
        values = {a.get(f"GRIB_{key}") for a in variable_attr_list}
        if len(values) == 1 and None not in values:
            attrs[f"GRIB_{key}"] = values.pop()
    if "GRIB_centreDescription" in attrs:
        attrs["institution"] = attrs["GRIB_centreDescription"]
    attrs["Conventions"] = "CF-1.7"
    return attrs
