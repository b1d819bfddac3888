#!/usr/bin/env python3
"""Template layouts of GRIB2 sections 3, 4 and 5 from the WMO template tables.

Reads ``GRIB2_Template_{3,4,5}_*_en.csv`` of the WMO GRIB2 repository (MIT
licence; ``../shared/tables/wmo-grib2``, commit in its ``SOURCE`` file) and
writes the same description twice:

  src/grib/generated/template_layouts.cpp   for the C++ walker (src/grib/template_layouts.hpp)
  tools/template_layouts.py                 for tools/gribbuild.py

Standard library only. ``make templates`` runs it; ``--check`` compares the
committed files with a fresh run instead of writing them.

The description of one template is a list of fields in octet order and a
list of repeated groups:

  field  (key, octet, width, sign rule, group, preceding groups, code table)
  group  (count field, width field, octet, stride)

A field's octet is its "nominal" first octet: the octet it has when every
group before it is empty. The walker adds, for each of the first
`preceding` groups, its entry count times its stride; an element field of a
group also adds its entry index times the group's stride. This is exactly
the linear octet arithmetic the WMO tables write as "(62+(NT-1)*12+NA*5)";
the generator checks every field it keeps against that arithmetic.

The tables are irregular. The rules below turn them into layouts; every row
they cannot place is listed by ``--skipped`` (and counted on every run):

 1. Octet expressions ("15-16", "(15+10(nb-1))-(16+10(nb-1))", "47+(nt-1)*12",
    "21+5Np", "67-(66+NCx4)") are parsed as linear forms over variables. A
    lower-case variable is the index of a repeated entry; an upper-case (or
    mixed-case) one is an entry count.
 2. "Repeat ... (nb = 1, NB)", "repeated NT times nt=1:NT", "(i = 1, n)": the
    explanatory rows name the count of each index variable. Otherwise the
    index is the lower case of the count (nb -> NB).
 3. A count variable is the field whose text names it: "(NB)", "NA -" at the
    start, "- NA" at the end, "NT - number of ...". "n" is the field
    "n - number of time range ..." / "Number of time range ..." (the WMO
    wording differs between templates).
 4. "A-B ... of the outermost (or only) time range" (the block header): the fields in
    octets A..B form a group of 12-octet time ranges counted by n. The rows
    "As octets A to B, next innermost step" and "C-nn Additional time
    range ..." only restate it and are dropped.
 5. "S-(S-1+c*VAR)" (a list of VAR entries of c octets: cluster members,
    coordinate lists) is a group of one field.
 6. "73-nn List of number of points along each meridian or parallel" (section
    3): a group counted by the octets that remain in the section, entries
    as wide as section 3 octet 11 says (key "pl").
 7. "Same as grid definition template 3.0" / "Same as data representation
    template 5.2": the octets named are taken from that template.
 8. Code tables come from the note "(see Code table 4.10)" when it names one:
    the codeTable column has lost trailing zeros ("4.1" for 4.10).
 9. Fields wider than 8 octets (UUIDs, identifiers), "Reserved" rows,
    open-ended rows other than the above ("49-ii", "[nn+1]-[nn+4]") and
    fields placed after an open-ended list are skipped, as is every field a
    count cannot place (its count is not a field before it).
10. Sections 3, 4 and 5 share a header before the template (section 3
    octets 6-14, section 4 octets 6-9, section 5 octets 6-11); those fields
    are part of every layout. Section 4 templates of fixed length also get
    the list of NV vertical coordinates after the template (key "pv").
"""

from __future__ import annotations

import argparse
import csv
import glob
import os
import re
import sys
from dataclasses import dataclass, field
from typing import Optional

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_TABLES = os.path.join(ROOT, "..", "shared", "tables", "wmo-grib2")
CPP_OUT = os.path.join(ROOT, "src", "grib", "generated", "template_layouts.cpp")
PY_OUT = os.path.join(ROOT, "tools", "template_layouts.py")

# Sign rules: how the walker turns a field's octets into a number. Every
# field whose octets are all ones is "missing", whatever its rule.
UNSIGNED = "U"
SIGN_MAGNITUDE = "S"      # sign in the top bit (WMO's rule for every signed field)
TWOS_COMPLEMENT = "T"     # as producers write time offsets (0xFFFFFFF9 is -7)
SCALE_FACTOR = "F"        # one-octet scale factor: 0x81-0xBF sign-magnitude, 0xC0-0xFE two's complement
IEEE32 = "E"              # IEEE single precision bit pattern
SIGN_RULES = (UNSIGNED, SIGN_MAGNITUDE, TWOS_COMPLEMENT, SCALE_FACTOR, IEEE32)

# --------------------------------------------------------------- key names

# Names producers and readers already use, by the camelCase the rules below
# would give. Where a field's text has an abbreviation ("La1 - latitude of
# first grid point") the abbreviation is looked up first (ABBREVIATIONS).
ESTABLISHED = {
    "parameterCategory": "parameterCategory",
    "parameterNumber": "parameterNumber",
    "typeOfGeneratingProcess": "typeOfGeneratingProcess",
    "backgroundGeneratingProcessIdentifier": "backgroundProcess",
    "analysisOrForecastGeneratingProcessIdentifier": "generatingProcessIdentifier",
    "forecastGeneratingProcessIdentifier": "generatingProcessIdentifier",
    "observationGeneratingProcessIdentifier": "generatingProcessIdentifier",
    "analysisGeneratingProcessIdentifier": "generatingProcessIdentifier",
    "generatingProcessIdentifier": "generatingProcessIdentifier",
    "backgroundProcess": "backgroundProcess",
    "hoursOfObservationalDataCutOffAfterReferenceTime": "hoursAfterDataCutoff",
    "minutesOfObservationalDataCutOffAfterReferenceTime": "minutesAfterDataCutoff",
    "hoursAfterReferenceTimeOfDataCutOff": "hoursAfterDataCutoff",
    "minutesAfterReferenceTimeOfDataCutOff": "minutesAfterDataCutoff",
    "hoursAfterDataCutOff": "hoursAfterDataCutoff",
    "minutesAfterDataCutOff": "minutesAfterDataCutoff",
    "indicatorOfUnitOfTimeRange": "indicatorOfUnitOfTimeRange",
    "forecastTime": "forecastTime",
    "typeOfFirstFixedSurface": "typeOfFirstFixedSurface",
    "typeOfSecondFixedSurface": "typeOfSecondFixedSurface",
    "typeOfEnsembleForecast": "typeOfEnsembleForecast",
    "perturbationNumber": "perturbationNumber",
    "numberOfForecastsInEnsemble": "numberOfForecastsInEnsemble",
    "numberOfForecastsInTheEnsemble": "numberOfForecastsInEnsemble",
    "derivedForecast": "derivedForecast",
    "forecastProbabilityNumber": "forecastProbabilityNumber",
    "totalNumberOfForecastProbabilities": "totalNumberOfForecastProbabilities",
    "probabilityType": "probabilityType",
    "percentileValue": "percentileValue",
    "statisticalProcess": "typeOfStatisticalProcessing",
    "typeOfStatisticalProcessing": "typeOfStatisticalProcessing",
    "typeOfTimeIncrement": "typeOfTimeIncrement",
    "indicatorOfUnitOfTimeForTimeRange": "indicatorOfUnitForTimeRange",
    "indicatorOfUnitForTimeRange": "indicatorOfUnitForTimeRange",
    "lengthOfTheTimeRange": "lengthOfTimeRange",
    "lengthOfTimeRange": "lengthOfTimeRange",
    "indicatorOfUnitOfTimeForTheIncrement": "indicatorOfUnitForTimeIncrement",
    "indicatorOfUnitForTimeIncrement": "indicatorOfUnitForTimeIncrement",
    "timeIncrement": "timeIncrement",
    "timeIncrementBetweenSuccessiveFields": "timeIncrement",
    "numberOfTimeRange": "numberOfTimeRanges",
    "numberOfTimeRanges": "numberOfTimeRanges",
    "totalNumberOfDataValuesMissingInStatisticalProcess": "numberOfMissingInStatisticalProcess",
    "totalNumberOfDataValuesMissingInTheStatisticalProcess": "numberOfMissingInStatisticalProcess",
    "numberOfMissingInStatisticalProcess": "numberOfMissingInStatisticalProcess",
    "atmosphericChemicalConstituentType": "constituentType",
    "atmosphericChemicalOrPhysicalConstituentType": "constituentType",
    "aerosolType": "aerosolType",
    "satelliteSeries": "satelliteSeries",
    "satelliteNumber": "satelliteNumber",
    "satelliteNumbers": "satelliteNumber",
    "instrumentType": "instrumentType",
    "instrumentTypes": "instrumentType",
    "scaleFactorOfCentralWaveNumber": "scaleFactorOfCentralWaveNumber",
    "scaledValueOfCentralWaveNumber": "scaledValueOfCentralWaveNumber",
    "numberOfContributingSpectralBands": "numberOfContributingSpectralBands",
    "shapeOfTheEarth": "shapeOfTheEarth",
    "scaleFactorOfRadiusOfSphericalEarth": "scaleFactorOfRadiusOfSphericalEarth",
    "scaledValueOfRadiusOfSphericalEarth": "scaledValueOfRadiusOfSphericalEarth",
    "scaleFactorOfMajorAxisOfOblateSpheroidEarth": "scaleFactorOfEarthMajorAxis",
    "scaledValueOfMajorAxisOfOblateSpheroidEarth": "scaledValueOfEarthMajorAxis",
    "scaleFactorOfMinorAxisOfOblateSpheroidEarth": "scaleFactorOfEarthMinorAxis",
    "scaledValueOfMinorAxisOfOblateSpheroidEarth": "scaledValueOfEarthMinorAxis",
    "basicAngleOfTheInitialProductionDomain": "basicAngleOfTheInitialProductionDomain",
    "subdivisionsOfBasicAngleUsedToDefineExtremeLongitudesAndLatitudesAndDirectionIncrements":
        "subdivisionsOfBasicAngle",
    "subdivisionsOfBasicAngleUsedToDefineExtremeLongitudesAndLatitudesAndDirectionIncrement":
        "subdivisionsOfBasicAngle",
    "resolutionAndComponentFlags": "resolutionAndComponentFlags",
    "scanningMode": "scanningMode",
    "projectionCentreFlag": "projectionCentreFlag",
    "latitudeOfTheSouthernPoleOfProjection": "latitudeOfSouthernPole",
    "longitudeOfTheSouthernPoleOfProjection": "longitudeOfSouthernPole",
    "angleOfRotationOfProjection": "angleOfRotation",
    "latitudeOfThePoleOfStretching": "latitudeOfStretchingPole",
    "longitudeOfThePoleOfStretching": "longitudeOfStretchingPole",
    "stretchingFactor": "stretchingFactor",
    "listOfNumberOfPointsAlongEachMeridianOrParallel": "pl",
    "referenceValue": "referenceValue",
    "binaryScaleFactor": "binaryScaleFactor",
    "decimalScaleFactor": "decimalScaleFactor",
    "numberOfBitsUsedForEachPackedValueForSimplePackingOrForEachGroupReferenceValueForComplexPacking"
    "OrSpatialDifferencing": "bitsPerValue",
    "typeOfOriginalFieldValues": "typeOfOriginalFieldValues",
    "groupSplittingMethodUsed": "groupSplittingMethodUsed",
    "missingValueManagementUsed": "missingValueManagementUsed",
    "primaryMissingValueSubstitute": "primaryMissingValueSubstitute",
    "secondaryMissingValueSubstitute": "secondaryMissingValueSubstitute",
    "numberOfGroupsOfDataValuesIntoWhichFieldIsSplit": "numberOfGroupsOfDataValues",
    "referenceForGroupWidths": "referenceForGroupWidths",
    "numberOfBitsUsedForTheGroupWidthsAfterTheReferenceValueInOctet36HasBeenRemoved":
        "numberOfBitsUsedForTheGroupWidths",
    "referenceForGroupLengths": "referenceForGroupLengths",
    "lengthIncrementForTheGroupLengths": "lengthIncrementForTheGroupLengths",
    "trueLengthOfLastGroup": "trueLengthOfLastGroup",
    "numberOfBitsUsedForTheScaledGroupLengthsAfterSubtractionOfTheReferenceValueGivenInOctets38To41"
    "AndDivisionByTheLengthIncrementGivenInOctet42": "numberOfBitsForScaledGroupLengths",
    "orderOfSpatialDifferencing": "orderOfSpatialDifferencing",
    "numberOfOctetsRequiredInTheDataSectionToSpecifyExtraDescriptorsNeededForSpatialDifferencing":
        "numberOfOctetsExtraDescriptors",
    "typeOfCompressionUsed": "typeOfCompressionUsed",
    "targetCompressionRatioMInto1": "targetCompressionRatio",
    "targetCompressionRatio": "targetCompressionRatio",
    "ccsdsCompressionOptionsMask": "ccsdsFlags",
    "blockSize": "blockSize",
    "referenceSampleInterval": "referenceSampleInterval",
    "precision": "precision",
}

# Abbreviations at the start of a field's text ("La1 - latitude of first
# grid point"). Those mapped to None keep the abbreviation as the key name
# (Ni, Nx, Dx, LaD, N, ...); unlisted ones give the camelCase of the rest.
ABBREVIATIONS = {
    "La1": "latitudeOfFirstGridPoint",
    "Lo1": "longitudeOfFirstGridPoint",
    "La2": "latitudeOfLastGridPoint",
    "Lo2": "longitudeOfLastGridPoint",
    "Di": "iDirectionIncrement",
    "Dj": "jDirectionIncrement",
    "Latin 1": "Latin1",
    "Latin 2": "Latin2",
    "n": "numberOfTimeRanges",
    "NT": "numberOfTimeRanges",
    "Ni": None, "Nj": None, "Nx": None, "Ny": None, "Dx": None, "Dy": None, "LaD": None, "LoV": None,
    "N": None, "J": None, "K": None, "M": None, "JS": None, "KS": None, "MS": None, "TS": None,
    "Lap": None, "Lop": None, "Xp": None, "Yp": None, "Xo": None, "Yo": None, "Nr": None, "NR": None,
    "Nb": None, "NC": None, "Nc": None, "dx": None, "dy": None, "Lo": None, "P": None,
    "NS": None, "NC1": None, "NC2": None, "MV": None, "MVL": None,
    "Year": "yearOfEndOfOverallTimeInterval",
    "Month": "monthOfEndOfOverallTimeInterval",
    "Day": "dayOfEndOfOverallTimeInterval",
    "Hour": "hourOfEndOfOverallTimeInterval",
    "Minute": "minuteOfEndOfOverallTimeInterval",
    "Second": "secondOfEndOfOverallTimeInterval",
}

# Names by pattern, for the families of texts the templates word differently.
RENAMES = [
    (r"(hours)\w*Cut[oO]ff\w*", "hoursAfterDataCutoff"),
    (r"(minutes)\w*Cut[oO]ff\w*", "minutesAfterDataCutoff"),
    (r"indicatorOfUnitOfTimeFor(The)?IncrementBetween\w*", "indicatorOfUnitForTimeIncrement"),
    (r"indicatorOfUnitOfTimeForTimeRange\w*", "indicatorOfUnitForTimeRange"),
    (r"typeOfIntervalForFirstAndSecondSizes?", "typeOfSizeInterval"),
    (r"typeOfIntervalForFirstAndSecondWavelengths?|typeOfIntervalForWavelengths?", "typeOfWavelengthInterval"),
    (r"numberOfBitsUsedForEachPackedValue\w*|numberOfBitsRequiredToHoldTheResultingScaledAndReferencedDataValues\w*",
     "bitsPerValue"),
    (r"numberOfBitsUsedForTheScaledGroupLengths\w*", "numberOfBitsForScaledGroupLengths"),
    (r"numberOfBitsUsedForTheGroupWidths\w*", "numberOfBitsUsedForTheGroupWidths"),
    (r"numberOfOctetsRequiredInTheDataSectionToSpecifyExtraDescriptors\w*", "numberOfOctetsExtraDescriptors"),
    (r"targetCompressionRatio\w*", "targetCompressionRatio"),
    (r"orientationOfTheGrid\w*", "orientationOfTheGrid"),
    (r"numberOfGroupsOfDataValues\w*", "numberOfGroupsOfDataValues"),
    (r"subdivisionsOfBasicAngle\w*", "subdivisionsOfBasicAngle"),
    (r"listOfNcEnsembleForecastNumbers\w*|listOfNCEnsembleForecastNumbers\w*", "ensembleForecastNumbers"),
    (r"coefficientsToDefineVerticalDimensionCoordinateValues\w*", "verticalDimensionCoordinates"),
    (r"coefficientsToDefineFirstDimensionCoordinateValues\w*", "firstDimensionCoordinates"),
    (r"coefficientsToDefineSecondDimensionCoordinateValues\w*", "secondDimensionCoordinates"),
    (r"statisticalProcessUsedToCalculate\w*", "typeOfStatisticalProcessing"),
    (r"listOfMVLScaledRepresentativeValues\w*", "levelValues"),
    (r"scaledValueOf(First|Second)(Size|Wavelength)InMetres", r"scaledValueOf\1\2"),
]

# Words dropped from field texts before the camelCase is formed.
TEXT_CUTS = [
    r"\(see [^)]*\)",
    r"\(defined by [^)]*\)",
    r"\(code table defined by [^)]*\)",
    r"\(units?:[^)]*\)",
    r",? in units defined by.*$",
    r",? defined by .*$",
    r"\bin units of\b.*$",
    r"\(IEEE 32-bit floating-point value\)",
    r"\(from 100% to 0%\)",
    r"\(N\)|\(NB\)|\(NT\)|\(Np\)|\(NUTAFTAC\)|\(R\)|\(E\)|\(D\)",
    r"\bof band nb\b|\bnb\b|\bfor band nb\b",
    r"\bused to calculate the processed field from the field at each time increment during the time range\b",
    r"\bbetween successive fields used in the statistical processing\b",
    r"\bover which statistical processing is done\b",
    r"\bused to calculate the statistically processed field\b",
    r"\bdescribing the time intervals\b",
    r"- time of end of overall time interval",
]


def camel(text: str) -> str:
    words = re.findall(r"[A-Za-z0-9]+", text)
    if not words:
        return ""
    out = [words[0][0].lower() + words[0][1:]] if not words[0].isupper() or len(words[0]) == 1 else [words[0]]
    if words[0].isupper() and len(words[0]) > 1:
        out = [words[0].lower()]
    for w in words[1:]:
        out.append(w[0].upper() + w[1:])
    return "".join(out)


def key_name(text: str) -> str:
    """The key name of a field's WMO text."""
    text = " ".join(text.replace("\u2013", "-").split())
    m = re.match(r"^([A-Za-z][A-Za-z0-9]*(?: [12])?)\s*[-\u2013]\s+(.*)$", text)
    rest = text
    if m and m.group(1) in ABBREVIATIONS:
        mapped = ABBREVIATIONS[m.group(1)]
        if mapped is None:
            return m.group(1).replace(" ", "")
        return mapped
    if m and len(m.group(1)) <= 8:
        rest = m.group(2)  # "x1 - i direction coordinate of ...": the words name it
    # A trailing abbreviation names a count ("Number of ... - NA").
    rest = re.sub(r"\s+-\s+[A-Z]{1,5}$", "", rest)
    for cut in TEXT_CUTS:
        rest = re.sub(cut, " ", rest, flags=re.IGNORECASE)
    # Asides in parentheses, except a single word that names the field
    # ("Wall clock initial time of execution (year)").
    rest = re.sub(r"\((?![a-z]+\))[^)]*\)?", " ", rest)
    rest = re.sub(r",\s*degrees\b.*$", "", rest)
    rest = re.sub(r",? (?:i\.e\.|e\.g\.|when|otherwise|with respect to)\b.*$", "", rest, flags=re.IGNORECASE)
    rest = re.sub("parameterss", "parameters", rest, flags=re.IGNORECASE)
    rest = rest.strip(" ,.-;:")
    name = camel(rest)
    if name in ESTABLISHED:
        return ESTABLISHED[name]
    for pattern, established in RENAMES:
        if re.fullmatch(pattern, name):
            return re.sub(pattern, established, name)
    # "Year of end of overall time interval" and its siblings.
    m = re.match(r"^(year|month|day|hour|minute|second)(Of|-)?EndOfOverallTimeInterval$", name)
    if m:
        return m.group(1) + "OfEndOfOverallTimeInterval"
    for prefix, established in (("statisticalProcess", "typeOfStatisticalProcessing"),
                                ("typeOfTimeIncrement", "typeOfTimeIncrement"),
                                ("lengthOfTheTimeRange", "lengthOfTimeRange")):
        if name == prefix:
            return established
    return name


# ----------------------------------------------------- octet expressions


class Linear:
    """const + sum(coeff * var)."""

    def __init__(self, const=0, terms=None):
        self.const = const
        self.terms = {k: v for k, v in (terms or {}).items() if v != 0}

    def __add__(self, o):
        t = dict(self.terms)
        for k, v in o.terms.items():
            t[k] = t.get(k, 0) + v
        return Linear(self.const + o.const, t)

    def __neg__(self):
        return Linear(-self.const, {k: -v for k, v in self.terms.items()})

    def __sub__(self, o):
        return self + (-o)

    def scale(self, c):
        return Linear(self.const * c, {k: v * c for k, v in self.terms.items()})

    def __mul__(self, o):
        if not o.terms:
            return self.scale(o.const)
        if not self.terms:
            return o.scale(self.const)
        raise ValueError("non-linear octet expression")

    def at(self, **values):
        out = Linear(self.const)
        for k, v in self.terms.items():
            out = out + (Linear(v * values[k]) if k in values else Linear(0, {k: v}))
        return out

    def __repr__(self):
        return f"Linear({self.const}, {self.terms})"


def _tokens(s: str):
    s = s.replace("[", "(").replace("]", ")").replace("\u2013", "-")
    s = re.sub(r"(?<=[A-Za-z0-9)])\s*x\s*(?=[0-9(])", "*", s)
    s = re.sub(r"\s+x\s+", "*", s)
    for m in re.finditer(r"\s*(\d+|[A-Za-z]+|[-+*()])", s):
        yield m.group(1)
    rest = re.sub(r"\s*(\d+|[A-Za-z]+|[-+*()])", "", s).strip()
    if rest:
        raise ValueError(f"unexpected text {rest!r}")


def parse_linear(s: str) -> Linear:
    toks = list(_tokens(s))
    pos = 0

    def peek():
        return toks[pos] if pos < len(toks) else None

    def take():
        nonlocal pos
        pos += 1
        return toks[pos - 1]

    def atom():
        t = take()
        if t == "(":
            v = expr()
            if take() != ")":
                raise ValueError("unbalanced")
            return v
        if t == "-":
            return -atom()
        if t.isdigit():
            return Linear(int(t))
        if t.isalpha():
            return Linear(0, {t: 1})
        raise ValueError(f"unexpected {t!r}")

    def term():
        v = atom()
        while True:
            t = peek()
            if t == "*":
                take()
                v = v * atom()
            elif t is not None and (t == "(" or t.isalpha() or t.isdigit()):
                v = v * atom()  # implicit: "10(nb-1)", "11NB"
            else:
                return v

    def expr():
        v = term()
        while peek() in ("+", "-"):
            if take() == "+":
                v = v + term()
            else:
                v = v - term()
        return v

    v = expr()
    if pos != len(toks):
        raise ValueError("trailing tokens")
    return v


def split_range(octets: str):
    """'A-B' at the top level (not inside parentheses) into (A, B); B None."""
    s = octets.strip().replace("\u2013", "-").replace(" to ", "-")
    # Rule 1a: a missing opening parenthesis ("62 + NA*5 + (nv-1)*11) - (65 ...").
    depth = 0
    for ch in s:
        depth += ch in "(["
        depth -= ch in ")]"
        if depth < 0:
            s = "(" + s
            break
    depth = 0
    for i, ch in enumerate(s):
        if ch in "([":
            depth += 1
        elif ch in ")]":
            depth -= 1
        elif ch == "-" and depth == 0 and i > 0:
            return s[:i].strip(), s[i + 1:].strip()
    return s, None


# ---------------------------------------------------------------- model


@dataclass
class Field:
    key: str
    octet: int                 # nominal first octet
    width: int                 # octets; 0: the group's width field says
    sign: str
    table: str                 # "4.5", "flag 3.4" or ""
    group: Optional["Group"] = None
    preceding: int = 0         # groups before this field (filled in at the end)
    row: str = ""


@dataclass
class Group:
    name: str                  # index variable, "timeRange", "pl" or "pv"
    count: Optional[Field]     # None: as many entries as the section holds
    stride: int
    octet: int = 0
    width_field: Optional[Field] = None
    count_var: str = ""
    fields: list = field(default_factory=list)


@dataclass
class Layout:
    section: int
    number: int
    fields: list
    groups: list
    skipped: list              # (row text, reason)


def sign_rule(key: str, text: str, width: int) -> str:
    """The commented per-field decision of how octets become a number."""
    low = text.lower()
    # Section 5 reference values are IEEE single precision.
    if "ieee 32-bit floating-point" in low or key == "referenceValue":
        return IEEE32
    # Producers write time offsets in two's complement: AQM's daily maximum
    # has forecast time 0xFFFFFFF9 (-7 h), CMC's 24 h analysis a time-range
    # length 0xFFFFFFE8 (-24 h). WMO's sign-magnitude would make them
    # 136-year steps, so these fields follow the producers.
    if key in ("forecastTime", "lengthOfTimeRange", "timeIncrement"):
        return TWOS_COMPLEMENT
    # One-octet scale factors: WMO writes them in sign-magnitude (0x82 is
    # -2, CMC and JMA isobaric levels in Pa), some writers in two's
    # complement (0xFE is -2). Real factors are small, so the reading with
    # the smaller magnitude is the one meant; for every factor of magnitude
    # below 64 this is the sign-magnitude reading.
    if width == 1 and (key.startswith("scaleFactorOf") or key.startswith("decimalScaleFactor")):
        return SCALE_FACTOR
    # Everything WMO calls signed is sign-magnitude: scale factors and
    # scaled values, latitudes, longitudes and angles of rotation.
    if key.startswith(("scaleFactorOf", "scaledValueOf")) or key in ("binaryScaleFactor", "decimalScaleFactor"):
        return SIGN_MAGNITUDE
    if re.search(r"latitude|longitude|^La[12DR]?$|^Lo[12VR]?$|^Latin[12]$|^Lap$|^Lop$|angleOfRotation|orientationOfTheGrid", key):
        return SIGN_MAGNITUDE
    return UNSIGNED


def code_table(row) -> str:
    note = row["Note_en"] or ""
    m = re.search(r"Code table (\d+\.\d+)", note)
    if m:
        return m.group(1)
    m = re.search(r"Flag table (\d+\.\d+)", note)
    if m:
        return "flag " + m.group(1)
    if re.fullmatch(r"\d+\.\d+", (row["codeTable"] or "").strip()):
        return row["codeTable"].strip()
    if re.fullmatch(r"\d+\.\d+", (row["flagTable"] or "").strip()):
        return "flag " + row["flagTable"].strip()
    return ""


# Octets 6.. of each section before its template (rule 10).
HEADERS = {
    3: [("sourceOfGridDefinition", 6, 1, "3.0"), ("numberOfDataPoints", 7, 4, ""),
        ("numberOfOctetsForNumberOfPoints", 11, 1, ""), ("interpretationOfNumberOfPoints", 12, 1, "3.11"),
        ("gridDefinitionTemplateNumber", 13, 2, "3.1")],
    4: [("NV", 6, 2, ""), ("productDefinitionTemplateNumber", 8, 2, "4.0")],
    5: [("numberOfValues", 6, 4, ""), ("dataRepresentationTemplateNumber", 10, 2, "5.0")],
}
TEMPLATE_START = {3: 15, 4: 10, 5: 12}

SECTION_FILES = {3: "GridDefinitionTemplate", 4: "ProductDefinitionTemplate", 5: "DataRepresentationTemplate"}


def read_rows(tables: str, section: int, number: int):
    path = os.path.join(tables, f"GRIB2_Template_{section}_{number}_{SECTION_FILES[section]}_en.csv")
    with open(path, encoding="utf-8-sig", newline="") as f:
        return list(csv.DictReader(f))


def template_numbers(tables: str):
    found = []
    for path in glob.glob(os.path.join(tables, "GRIB2_Template_[345]_*_en.csv")):
        m = re.match(r"GRIB2_Template_(\d)_(\d+)_", os.path.basename(path))
        found.append((int(m.group(1)), int(m.group(2))))
    return sorted(found)


def clean(s: str) -> str:
    return " ".join((s or "").replace("\u2013", "-").replace("\u00a0", " ").split())


def expand_includes(tables: str, section: int, rows, depth=0):
    """Rule 7: "Same as ... template S.M" rows become that template's rows
    within the octets named."""
    out = []
    for row in rows:
        text = clean(row["Contents_en"])
        m = re.match(r"^Same as (?:\w+ )*template (\d)\.(\d+)", text, re.IGNORECASE)
        if m and depth < 4:
            inc_section, inc_number = int(m.group(1)), int(m.group(2))
            lo_text, hi_text = split_range(row["OctetNo"])
            lo = int(lo_text)
            hi = None if hi_text in (None, "nn") else int(hi_text)
            included = expand_includes(tables, inc_section, read_rows(tables, inc_section, inc_number), depth + 1)
            for inc in included:
                start_text = split_range(inc["OctetNo"])[0] if inc["OctetNo"].strip() else ""
                if not start_text:
                    continue
                try:
                    start = parse_linear(start_text)
                except ValueError:
                    continue
                if start.terms:
                    continue
                if start.const >= lo and (hi is None or start.const <= hi):
                    if hi is None and "nn" in inc["OctetNo"]:
                        continue  # the included template's own open list
                    out.append(inc)
            continue
        out.append(row)
    return out


LOOP_RE = re.compile(r"\b([A-Za-z]{1,3})\s*=\s*[01]\s*(?:[,:]|\bto\b)\s*([A-Za-z]+)")


# Count variables some templates name only in words.
COUNT_TEXTS = {
    "n": r"^n\s*-|number of time range [s]pecifications",
    "NT": r"^number of time ranges?$|^n\s*-|number of time range [s]pecifications",
}


def count_field_for(var: str, fields):
    """Rule 3: the field whose text names the count variable, the nearest
    before the group; then the words some templates use instead."""
    if var != "n":
        pats = [rf"\(\s*{re.escape(var)}\s*\)", rf"^{re.escape(var)}\s*[-=]", rf"[-=]\s*{re.escape(var)}\s*$",
                rf"\(\s*{re.escape(var)}\s+is\b"]
        for f in reversed(fields):
            if any(re.search(p, f.row) for p in pats):
                return f
    if var in COUNT_TEXTS:
        for f in reversed(fields):
            if re.search(COUNT_TEXTS[var], f.row, re.IGNORECASE):
                return f
    return None


def rename(form: Linear, names: dict) -> Linear:
    out = Linear(form.const)
    for k, v in form.terms.items():
        out = out + Linear(0, {names.get(k, k): v})
    return out


# Explanatory rows that open a group of N entries (rule 2): "The next entry
# repeats nsv=1:NSV times" (one field repeats; the rows after it still write
# (nsv-1)*4, meaning (NSV-1)*4), "The following entry of 4 octets is repeated
# ND times" and "The next two entries are repeated NDSP times" (the entries
# are written at their last position, (32+(ND-1)*4)).
NUMBER_WORDS = {"one": 1, "two": 2, "three": 3, "four": 4, "five": 5, "six": 6}
GROUP_OPENERS = (
    re.compile(r"next entry repeats\s+(?P<index>[a-z]+)\s*=\s*1\s*:\s*(?P<count>[A-Za-z]+)", re.IGNORECASE),
    re.compile(r"following entry of \d+ octets is repeated (?P<count>[A-Za-z]+) times", re.IGNORECASE),
    re.compile(r"next (?P<rows>one|two|three|four|five|six) entries are repeated (?P<count>[A-Za-z]+) times"
               r"(?!\s+[a-z]+\s*=)", re.IGNORECASE),
)


def build_layout(tables: str, section: int, number: int) -> Layout:
    rows = expand_includes(tables, section, read_rows(tables, section, number))
    skipped = []
    fields: list[Field] = []
    groups: dict[str, Group] = {}
    loops = {}           # index variable -> count variable (rule 2)
    renames = {}         # index variables that stand for their count after their group
    opener = None        # [index variable or None, count variable, rows left] of an opening group
    time_range = None    # (lo, hi) linear forms of the outermost time range (rule 4)
    open_tail = False    # an open-ended list was met (rule 9)

    for key, octet, width, table in HEADERS[section]:
        fields.append(Field(key, octet, width, UNSIGNED, table, row=key))

    def skip(octets, text, why):
        skipped.append((f"{octets} {text}".strip(), why))

    for row in rows:
        for lm in LOOP_RE.finditer(clean(row["Contents_en"])):
            loops[lm.group(1)] = lm.group(2)

    for row in rows:
        octets = clean(row["OctetNo"])
        text = clean(row["Contents_en"])
        if not octets:
            if re.match(r"^End of", text):
                # After a loop its index stands for its count: "(nr-1)*6"
                # in a row after the NR sequence means (NR-1)*6.
                for g in groups.values():
                    if g.name in loops:
                        renames[g.name] = g.count_var
                continue
            # Explanatory rows: loop definitions and the time ranges of statistics.
            m = re.match(r"^(?:Octets\s+)?(\(?[^ ]+?\)?)\s*-\s*(\(?[^ ]+?\)?)\s+[S]pecification of the outermost",
                         text)
            if m:
                try:
                    time_range = (parse_linear(m.group(1)), parse_linear(m.group(2)))
                except ValueError:
                    skip("", text, "time range octets not understood")
                continue
            for opener_re in GROUP_OPENERS:
                m = opener_re.search(text)
                if m:
                    rows_left = NUMBER_WORDS.get((m.groupdict().get("rows") or "one").lower(), 1)
                    opener = [m.groupdict().get("index"), m.group("count"), rows_left]
                    break
            continue
        if text.lower().startswith("reserved"):
            skip(octets, text, "reserved")
            continue
        if re.match(r"^As octets\b", text):
            continue  # rule 4: restates the outermost time range
        m = re.match(r"^(?:Octets\s+)?[S]pecification of the outermost", text)
        if m:
            # The same explanation written in a row of its own (4.87).
            lo_text, hi_text = split_range(octets)
            time_range = (parse_linear(lo_text), parse_linear(hi_text))
            continue
        lo_text, hi_text = split_range(octets)
        if hi_text is not None and re.fullmatch(r"nn|ii|jj", hi_text.strip()):
            if time_range is not None and re.search(r"time range [s]pecifications", text):
                continue  # rule 4
            if section == 3 and re.search(r"number of points along each meridian or parallel", text):
                g = Group("pl", None, 0, width_field=fields[2])
                g.octet = parse_linear(lo_text).const
                f = Field("pl", g.octet, 0, UNSIGNED, "", g, row=text)
                g.fields.append(f)
                groups["pl"] = g
                fields.append(f)
                open_tail = True
                continue
            skip(octets, text, "open-ended list")
            open_tail = True
            continue
        try:
            start = rename(parse_linear(lo_text), renames)
            end = rename(parse_linear(hi_text), renames) if hi_text is not None else None
        except (ValueError, IndexError) as e:
            skip(octets, text, f"octets not understood ({e})")
            continue
        if open_tail or any(v in ("nn", "ii", "jj") for v in start.terms):
            skip(octets, text, "placed after an open-ended list")
            continue
        key = key_name(text)
        if not re.fullmatch(r"[A-Za-z][A-Za-z0-9]*", key):
            skip(octets, text, "no key name")
            continue
        count_text = clean(row["OctetCount"])
        if end is not None:
            span = end - start + Linear(1)
            if span.terms:
                # Rule 5: "S-(S-1+c*VAR)", a list of VAR entries of c octets.
                (var, c), *more = span.terms.items()
                if more or span.const != 0 or start.terms:
                    skip(octets, text, "width depends on a count")
                    continue
                count_var = loops.get(var, var)
                g = Group(count_var + "List", None, c, octet=start.const, count_var=count_var)
                g.count = count_field_for(count_var, fields)
                if g.count is None or c > 8:
                    skip(octets, text, f"count {count_var} not found" if g.count is None else "wide entries")
                    continue
                f = Field(key, start.const, c, sign_rule(key, text, c), code_table(row), g, row=text)
                g.fields.append(f)
                groups[g.name] = g
                fields.append(f)
                continue
            width = span.const
        else:
            width = int(count_text) if count_text.isdigit() else 1
        if count_text.isdigit() and int(count_text) != width:
            skip(octets, text, f"octet count {count_text} disagrees with octets")
            continue
        if width < 1 or width > 8:
            skip(octets, text, f"{width} octets")
            continue
        f = Field(key, 0, width, sign_rule(key, text, width), code_table(row), row=text)
        pending = opener
        if opener is not None:
            opener[2] -= 1
            if opener[2] <= 0:
                opener = None
        index_vars = [v for v in start.terms if v in loops or v in ("nb", "nt", "na", "nr", "nv", "nsv")]
        if pending is not None and pending[0] is None and pending[1] in start.terms:
            # Entries written at their last position: (32+(ND-1)*4).
            count_var = pending[1]
            g = groups.get(count_var + "List")
            if g is None:
                g = Group(count_var + "List", None, start.terms[count_var], count_var=count_var)
                g.count = count_field_for(count_var, fields)
                groups[g.name] = g
            if g.count is None or start.terms[count_var] != g.stride:
                skip(octets, text, f"count {count_var} not placed")
                continue
            f.group = g
            f.octet = start.at(**{count_var: 1})
            g.fields.append(f)
        elif index_vars:
            var = index_vars[0]
            count_var = loops.get(var, var.upper())
            g = groups.get(var)
            if g is None:
                g = Group(var, None, start.terms[var], count_var=count_var)
                g.count = count_field_for(count_var, fields)
                groups[var] = g
            if g.count is None:
                skip(octets, text, f"count {count_var} not found")
                continue
            if start.terms[var] != g.stride:
                skip(octets, text, "stride disagrees with its group")
                continue
            f.group = g
            f.octet = start.at(**{var: 1})  # still linear in the counts; resolved below
            g.fields.append(f)
            if pending is not None and pending[0] == var and opener is None:
                renames[var] = count_var
        elif time_range is not None and not (start - time_range[0]).terms and \
                0 <= (start - time_range[0]).const <= (time_range[1] - time_range[0]).const:
            g = groups.get("timeRange")
            if g is None:
                stride = (time_range[1] - time_range[0]).const + 1
                g = Group("timeRange", None, stride, count_var="n")
                g.count = count_field_for("n", fields)
                groups["timeRange"] = g
            if g.count is None:
                skip(octets, text, "number of time ranges not found")
                continue
            f.group = g
            f.octet = start
            g.fields.append(f)
        else:
            f.octet = start
        fields.append(f)

    # Resolve nominal octets: each group starts at its first element; a
    # field's count terms must be the strides of the groups before it.
    order = []  # groups in octet order
    kept = []
    broken = False
    for f in fields:
        if broken:
            skipped.append((f.row, "layout not expressible after an earlier group"))
            continue
        if isinstance(f.octet, int):
            kept.append(f)
            if f.group is not None and f.group not in order:
                order.append(f.group)
            continue
        form: Linear = f.octet
        g_index = order.index(f.group) if f.group in order else len(order)
        before = order[:g_index]
        expected = {}
        for g in before:
            expected[g.count_var] = expected.get(g.count_var, 0) + g.stride
        count_terms = {k: v for k, v in form.terms.items()}
        # "(NT-1)*12" counts one entry in the constant: remove it.
        nominal = form.const
        ok = True
        for g in before:
            coeff = count_terms.pop(g.count_var, None)
            if coeff is None:
                # The time-range group is written with fixed octets: the
                # fields after it cannot be placed.
                ok = False
                break
            if coeff != g.stride:
                ok = False
                break
        if count_terms:
            ok = False
        if not ok:
            skipped.append((f.row, "octets do not follow the groups before it"))
            broken = True
            continue
        f.octet = nominal
        if f.group is not None and f.group not in order:
            order.append(f.group)
        kept.append(f)

    # Group starts, element offsets, and the NV coordinates after a fixed template.
    final_groups = []
    for g in order:
        members = [f for f in kept if f.group is g]
        if not members:
            continue
        if g.name != "pl":
            g.octet = min(f.octet for f in members)
            if any(f.octet - g.octet >= g.stride for f in members):
                for f in members:
                    skipped.append((f.row, "entry wider than its stride"))
                kept = [f for f in kept if f.group is not g]
                continue
        if g.count is not None and g.count not in kept:
            kept = [f for f in kept if f.group is not g]
            continue
        final_groups.append(g)
    if section == 4 and not open_tail and not broken:
        # With every group empty the template ends after its last fixed
        # field or at its last group's start; the walker adds the entries.
        nominal_end = max([f.octet + f.width for f in kept if f.group is None] +
                          [g.octet for g in final_groups] + [10])
        pv = Group("pv", kept[0], 4, octet=nominal_end)
        f = Field("pv", nominal_end, 4, IEEE32, "", pv, row="pv")
        pv.fields.append(f)
        kept.append(f)
        final_groups.append(pv)

    # Groups before each field: an element field counts those before its
    # own group, a fixed field those whose first entry comes before it.
    pos = {id(f): i for i, f in enumerate(kept)}
    first = {id(g): min(pos[id(m)] for m in g.fields if id(m) in pos) for g in final_groups}
    for f in kept:
        if f.group is not None:
            f.preceding = final_groups.index(f.group)
        else:
            f.preceding = sum(1 for g in final_groups if first[id(g)] < pos[id(f)])
    # Keys are unique within a template: later duplicates are named by
    # their position among their namesakes.
    seen = {}
    for f in kept:
        n = seen.get(f.key, 0)
        seen[f.key] = n + 1
        if n:
            f.key = f"{f.key}{n + 1}"
    return Layout(section, number, kept, final_groups, skipped)


# ---------------------------------------------------------------- output

def table_code(table: str) -> int:
    """"4.5" -> 4005, "4.230" -> 4230; flag tables add 0x8000; none is 0."""
    if not table:
        return 0
    flag = table.startswith("flag ")
    major, minor = table.split()[-1].split(".")
    return int(major) * 1000 + int(minor) + (0x8000 if flag else 0)


def pooled(layouts):
    """Fields shared by many templates (the 4.0 octets, the earth shape of
    section 3) are written once: a pool of distinct field rows, and per
    template the pool indices of its fields."""
    pool, pool_index, per_layout = [], {}, []
    for lay in layouts:
        indices = []
        for f in lay.fields:
            group = lay.groups.index(f.group) + 1 if f.group is not None else 0
            row = (f.key, f.octet, f.width, f.sign, group, f.preceding, f.table)
            if row not in pool_index:
                pool_index[row] = len(pool)
                pool.append(row)
            indices.append(pool_index[row])
        groups = []
        for g in lay.groups:
            count = lay.fields.index(g.count) if g.count is not None else None
            width = lay.fields.index(g.width_field) if g.width_field is not None else None
            groups.append((count, width, g.octet, g.stride))
        per_layout.append((lay, indices, groups))
    return pool, per_layout


def wrap(items, indent="    ", width=110):
    lines, line = [], indent
    for item in items:
        if len(line) + len(item) + 2 > width and line.strip():
            lines.append(line.rstrip())
            line = indent
        line += item + ", "
    if line.strip():
        lines.append(line.rstrip())
    return lines


def write_cpp(layouts):
    pool, per_layout = pooled(layouts)
    keys = sorted({row[0] for row in pool})
    key_index = {k: i for i, k in enumerate(keys)}
    signs = {UNSIGNED: "U", SIGN_MAGNITUDE: "SM", TWOS_COMPLEMENT: "TC", SCALE_FACTOR: "SF", IEEE32: "FP"}
    lines = [
        "// Generated by tools/gen_templates.py from the WMO GRIB2 template tables; do not edit.",
        "// Regenerate with `make templates`; `tools/gen_templates.py --show 4.8` prints one layout.",
        '#include "grib/template_layouts.hpp"',
        "",
        "namespace vorlak::template_data {",
        "namespace {",
        "constexpr SignRule U = SignRule::Unsigned, SM = SignRule::SignMagnitude, TC = SignRule::TwosComplement,",
        "                   SF = SignRule::ScaleFactor, FP = SignRule::Ieee32;",
        "constexpr std::uint16_t R = kRemaining, X = kNoField;",
        "}  // namespace",
        "",
        f"extern const std::string_view kKeyNames[{len(keys)}] = {{",
    ]
    lines += wrap([f'"{k}"' for k in keys])
    lines += ["};", ""]
    lines.append(f"// key, octet, width, sign rule, group (0: fixed), groups before it, code table")
    lines.append(f"extern const TemplateField kFieldPool[{len(pool)}] = {{")
    lines += wrap([f"{{{key_index[k]}, {o}, {w}, {signs[sg]}, {g}, {p}, {table_code(t)}}}"
                   for k, o, w, sg, g, p, t in pool])
    lines += ["};", ""]
    indices = [i for _, ind, _ in per_layout for i in ind]
    lines.append(f"extern const std::uint16_t kFieldIndex[{len(indices)}] = {{")
    lines += wrap([str(i) for i in indices])
    lines += ["};", ""]
    groups = [g for _, _, gs in per_layout for g in gs]
    lines.append("// count field (R: as many entries as the section holds), width field, octet, stride")
    lines.append(f"extern const TemplateGroup kGroups[{len(groups)}] = {{")
    lines += wrap([f"{{{'R' if c is None else c}, {'X' if w is None else w}, {o}, {st}}}"
                   for c, w, o, st in groups])
    lines += ["};", ""]
    lines.append("// section, template, first field, fields, first group, groups")
    lines.append(f"extern const TemplateLayout kLayouts[{len(per_layout)}] = {{")
    rows, first_field, first_group = [], 0, 0
    for lay, ind, gs in per_layout:
        rows.append(f"{{{lay.section}, {lay.number}, {first_field}, {len(ind)}, {first_group}, {len(gs)}}}")
        first_field += len(ind)
        first_group += len(gs)
    lines += wrap(rows)
    lines += ["};", ""]
    for name, n in (("kKeyCount", len(keys)), ("kFieldPoolCount", len(pool)), ("kFieldIndexCount", len(indices)),
                    ("kGroupCount", len(groups)), ("kLayoutCount", len(per_layout))):
        lines.append(f"extern const std::size_t {name} = {n};")
    lines += ["", "}  // namespace vorlak::template_data"]
    return "\n".join(lines) + "\n"


def write_py(layouts):
    pool, per_layout = pooled(layouts)
    lines = [
        '"""Generated by tools/gen_templates.py from the WMO GRIB2 template tables; do not edit.',
        "",
        "FIELDS: (key, octet, width, sign, group, preceding, table) rows shared by the templates.",
        "  octet is the first octet with every earlier group empty; width 0: the group's",
        "  width field gives it; sign U unsigned, S sign-magnitude, T two's complement,",
        "  F scale factor octet, E IEEE single; group 0 (fixed) or 1 + its index in the",
        "  template's groups; preceding: the groups before the field; table 'S.T',",
        "  'flag S.T' or ''.",
        "LAYOUTS[(section, template)] = (indices into FIELDS, groups); a group is",
        "  (count field position or None for 'as many as the section holds',",
        "   width field position or None, octet, stride); positions index the template's fields.",
        '"""',
        "",
        "FIELDS = (",
    ]
    lines += wrap([repr(row) for row in pool])
    lines += [")", "", "LAYOUTS = {"]
    for lay, ind, gs in per_layout:
        lines.append(f"    ({lay.section}, {lay.number}): (")
        lines.append("        (")
        lines += wrap([str(i) for i in ind], indent="            ")
        lines.append("        ),")
        lines.append("        (" + "".join(f"{g!r}, " for g in gs) + "),")
        lines.append("    ),")
    lines.append("}")
    return "\n".join(lines) + "\n"


def generate(tables: str):
    layouts = [build_layout(tables, s, n) for s, n in template_numbers(tables)]
    return layouts, write_cpp(layouts), write_py(layouts)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--tables", default=DEFAULT_TABLES)
    ap.add_argument("--check", action="store_true", help="compare with the committed files, write nothing")
    ap.add_argument("--skipped", action="store_true", help="list every row the rules do not place")
    ap.add_argument("--show", metavar="S.N", help="print one template's layout")
    args = ap.parse_args(argv)
    layouts, cpp, py = generate(args.tables)
    if args.show:
        s, n = (int(x) for x in args.show.split("."))
        for lay in layouts:
            if (lay.section, lay.number) == (s, n):
                for f in lay.fields:
                    g = f"  group {lay.groups.index(f.group)}" if f.group else ""
                    print(f"{f.octet:4} {f.width} {f.sign} {f.key:45} {f.table:10} pre={f.preceding}{g}")
                for g in lay.groups:
                    cnt = g.count.key if g.count else "(rest of section)"
                    print(f"group {g.name}: count {cnt} octet {g.octet} stride {g.stride}")
                for row, why in lay.skipped:
                    print("skipped:", why, "|", row[:90])
        return 0
    if args.skipped:
        for lay in layouts:
            for row, why in lay.skipped:
                print(f"{lay.section}.{lay.number}: {why}: {row[:100]}")
    if args.check:
        stale = [p for p, text in ((CPP_OUT, cpp), (PY_OUT, py))
                 if not os.path.exists(p) or open(p, encoding="utf-8").read() != text]
        for p in stale:
            print(f"{os.path.relpath(p, ROOT)} is not current; run `make templates`", file=sys.stderr)
        return 1 if stale else 0
    os.makedirs(os.path.dirname(CPP_OUT), exist_ok=True)
    with open(CPP_OUT, "w", encoding="utf-8") as f:
        f.write(cpp)
    with open(PY_OUT, "w", encoding="utf-8") as f:
        f.write(py)
    fields = sum(len(lay.fields) for lay in layouts)
    skipped = sum(len(lay.skipped) for lay in layouts)
    print(f"{len(layouts)} templates, {fields} fields, {skipped} rows skipped (--skipped lists them)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
