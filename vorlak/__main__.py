"""``python -m vorlak`` and the ``vorlak`` console script."""
import sys

from vorlak.cli.app import main

if __name__ == "__main__":
    sys.exit(main())
