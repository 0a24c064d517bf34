"""`python3 -m tarvel_panel.plot ...`, as documented before the steps had
one entry point: the same as `python3 -m tarvel_panel plot ...`."""
import sys

from tarvel_panel.figures.cli import main


if __name__ == "__main__":
    sys.exit(main())
