"""How much of an input the readers take before they refuse it, so that a
hostile or broken file (a zip bomb, a file without line ends, a control file
of self-multiplying aliases) ends in one line instead of filling memory.
Each bound sits far above what a real panel needs; docs/limits.md lists
them. Read at the moment of use, so that a test may lower one."""

MiB = 1 << 20
GiB = 1 << 30

# an R/qtl2 control file (YAML or JSON), as text
CONTROL_BYTES = 4 * MiB
# its values once YAML aliases are expanded (a control file holds a few dozen)
CONTROL_VALUES = 100_000
# lists and mappings inside one another in a control file
CONTROL_NESTING = 32
# one file of a cross once inflated from a zip or gzip
INFLATED_BYTES = 4 * GiB
# members of a cross's zip
ZIP_MEMBERS = 10_000
# one line of a cross's CSV files (a header of a million markers fits)
LINE_BYTES = 16 * MiB


def size(count):
    """A number of bytes as the limits are written: 16 MiB, 4 GiB."""
    for unit, scale in (("GiB", GiB), ("MiB", MiB), ("KiB", 1 << 10)):
        if count >= scale and count % scale == 0:
            return f"{count // scale} {unit}"
    return f"{count:,} bytes"
