"""Argument parsing and dispatch of the ``vorlak`` command."""
from __future__ import annotations

import argparse
import os
import sys

PROG = "vorlak"

EPILOG = """\
Fields are numbered by their message (1 is the first message of the
file); the fields of a message that carries several are numbered
message.field (3.2 is the second field of message 3).

Exit status: 0 when everything asked for was read, 1 when a file or a
field could not be read (reported on stderr), 2 for wrong usage.

examples:
  vorlak ls gfs.grib2 era5.grib
  vorlak ls -w shortName=t,typeOfLevel=isobaricInhPa gfs.grib2
  vorlak stats -m 3 gfs.grib2
  vorlak stats -m 3.2 jma_meps.grib2
  vorlak dump -m 1 --json gfs.grib2
  vorlak nearest gfs.grib2 52.1 -1.5 -n 4 -w shortName=2t
  vorlak convert gfs.*.grib2 gfs.nc -w typeOfLevel=isobaricInhPa
  vorlak plot hrrr.grib2 -m 1 -o hrrr.png"""


def _field_number(text: str):
    from vorlak.cli.reading import FieldNumber

    message, dot, field = text.partition(".")
    try:
        numbers = [int(message)] + ([int(field)] if dot else [])
    except ValueError:
        numbers = [0]
    if min(numbers) < 1:
        raise argparse.ArgumentTypeError(
            f"expected a message number N or N.K (field K of message N), both from 1, got {text!r}")
    return FieldNumber(*numbers)


def _options(message: bool = True, json: bool = True) -> argparse.ArgumentParser:
    from vorlak.cli.filters import parse_where

    common = argparse.ArgumentParser(add_help=False)
    common.add_argument(
        "-w", "--where", action="append", type=parse_where, metavar="KEY=VALUE[,...]",
        help="only fields whose keys have these values, compared as text "
             "(level=500 matches 500 hPa; repeat -w or use commas to require several keys)")
    if message:
        common.add_argument("-m", "--message", type=_field_number, metavar="N[.K]",
                            help="only message N (1 is the first message of the file), "
                                 "or only field K of message N")
    if json:
        common.add_argument("--json", action="store_true", help="print JSON instead of a table")
    return common


def build_parser() -> argparse.ArgumentParser:
    from vorlak.cli import cmd_convert, cmd_dump, cmd_ls, cmd_nearest, cmd_plot, cmd_stats

    parser = argparse.ArgumentParser(
        prog=PROG, description="Look into GRIB files (editions 1 and 2).", epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    common = _options()
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name, module, parents in (("ls", cmd_ls, common), ("stats", cmd_stats, common),
                                  ("dump", cmd_dump, common), ("nearest", cmd_nearest, common),
                                  ("convert", cmd_convert, _options(message=False, json=False)),
                                  ("plot", cmd_plot, _options(json=False))):
        p = sub.add_parser(name, parents=[parents], help=module.HELP, description=module.DESCRIPTION,
                           formatter_class=argparse.RawDescriptionHelpFormatter)
        module.add_arguments(p)
        p.set_defaults(run=module.run)
    return parser


def _report_error(text: str) -> None:
    print(f"{PROG}: {text}", file=sys.stderr)


def main(argv: list[str] | None = None) -> int:
    try:
        parser = build_parser()
    except ImportError as e:
        _report_error(f"cannot load the GRIB reader ({e}); build it with 'make build'")
        return 1
    args = parser.parse_args(argv)
    from vorlak.cli.filters import flatten

    args.where = flatten(args.where)
    try:
        return args.run(args, _report_error)
    except BrokenPipeError:
        # The reader of our output went away (vorlak ls ... | head): send
        # what is still buffered nowhere so that the exit stays quiet.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except KeyboardInterrupt:
        return 130
