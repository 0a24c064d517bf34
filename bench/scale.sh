#!/usr/bin/env bash
# The whole workflow on a simulated VCF panel at sequencing density, with a
# projection to a cluster-sized panel; --help says more.
exec /usr/bin/python3 "$(dirname "$0")/scale.py" "$@"
