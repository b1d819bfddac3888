"""The ``vorlak`` command line: list, summarise, dump and probe GRIB files."""
