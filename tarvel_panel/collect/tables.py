"""The panel's CSV and TSV tables: their headers and how a row is written."""
import csv
import io


MOSAIC_HEADER = ["strain", "chr", "first_marker", "last_marker", "first_pos", "last_pos",
                 "markers", "pair", "mean_prob"]
SUMMARY_HEADER = ["strain", "chr", "markers", "confident", "het_mass", "switches", "tarvel_seconds"]


def fmt(x):
    """A derived value with six significant digits, as TARVEL writes its own."""
    return f"{x:.6g}"


def csv_line(fields):
    """One CSV line, fields quoted only where they need it."""
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerow(fields)
    return out.getvalue()


def table_writer(stream, delimiter):
    return csv.writer(stream, delimiter=delimiter, lineterminator="\n")
