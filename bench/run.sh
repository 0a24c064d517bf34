#!/usr/bin/env bash
# TARVEL's benchmark against a reference revision; --help says what it does.
exec /usr/bin/python3 "$(dirname "$0")/bench.py" "$@"
