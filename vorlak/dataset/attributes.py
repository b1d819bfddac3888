"""Attributes of variables, coordinates and the dataset, from the keys."""
from __future__ import annotations

from vorlak import _vorlak as codes

# Keys copied to each data variable as GRIB_<key>, read from its first message.
VARIABLE_KEYS = ("paramId", "shortName", "cfVarName", "cfName", "name", "units", "typeOfLevel",
                 "gridType", "centre", "centreDescription", "subCentre", "dataType", "stepType",
                 "stepUnits", "edition", "Nx", "Ny", "numberOfPoints")
# Keys of products beyond plain analyses and forecasts, copied likewise
# where the variable's messages have them.
PRODUCT_VARIABLE_KEYS = ("productDefinitionTemplateNumber", "typeOfStatisticalProcessing", "probabilityType",
                         "lowerLimit", "upperLimit", "percentileValue", "derivedForecast",
                         "numberOfForecastsInEnsemble", "typeOfSecondFixedSurface", "topLevel", "bottomLevel")

# Dataset attributes: kept when every variable agrees.
DATASET_KEYS = ("edition", "centre", "centreDescription", "subCentre")

TIME_ATTRS = {"long_name": "initial time of forecast", "standard_name": "forecast_reference_time"}
STEP_ATTRS = {"long_name": "time since forecast_reference_time", "standard_name": "forecast_period"}
NUMBER_ATTRS = {"long_name": "ensemble member numerical id", "units": "1", "standard_name": "realization"}
VALID_TIME_ATTRS = {"long_name": "time", "standard_name": "time"}
LATITUDE_ATTRS = {"units": "degrees_north", "standard_name": "latitude", "long_name": "latitude"}
LONGITUDE_ATTRS = {"units": "degrees_east", "standard_name": "longitude", "long_name": "longitude"}

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


def read_keys(handle, names) -> dict:
    out = {}
    for key in names:
        try:
            out[key] = codes.codes_get(handle, key)
        except codes.CodesInternalError:
            pass
    return out


def variable_attrs(handle, product: bool = False) -> dict:
    keys = read_keys(handle, VARIABLE_KEYS + (PRODUCT_VARIABLE_KEYS if product else ()))
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
