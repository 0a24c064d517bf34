#!/usr/bin/env bash
# The panel workflow of a reference revision against this working tree, side
# by side on a simulated Collaborative Cross-sized panel; --help says more.
exec /usr/bin/python3 "$(dirname "$0")/panel.py" "$@"
