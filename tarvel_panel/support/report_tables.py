"""Tables of the panel as small HTML pages for Snakemake's report, which shows
an HTML result in the page itself (a TSV or JSON file it offers only as a
download).

    python3 -m tarvel_panel report-table summary OUT/summary.tsv PAGE.html
    python3 -m tarvel_panel report-table settings OUT/config.json PAGE.html
    python3 -m tarvel_panel report-table qc OUT/qc/strains.tsv PAGE.html   (and flags.tsv beside it)

Every value read from a file is escaped: strain and chromosome names may hold
any character.
"""
import argparse
import html
import json
import os
import sys
from typing import List, Sequence

from tarvel_panel.atomic import AtomicFile
from tarvel_panel.chromosome_order import chromosome_key
from tarvel_panel.errors import InputError, run_command


STYLE = """body { font: 13px sans-serif; margin: 8px; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: 2px 6px; text-align: left; }
th { background: #eee; position: sticky; top: 0; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }"""


def is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def html_table(header: Sequence[str], rows: Sequence[Sequence[str]]) -> str:
    """Numbers right-aligned; every cell escaped."""
    def cell(text):
        return f'<td class="num">{html.escape(text)}</td>' if is_number(text) else f"<td>{html.escape(text)}</td>"
    head = "".join(f"<th>{html.escape(h)}</th>" for h in header)
    body = "\n".join("<tr>" + "".join(cell(c) for c in row) + "</tr>" for row in rows)
    return f"<table>\n<thead><tr>{head}</tr></thead>\n<tbody>\n{body}\n</tbody>\n</table>"


def page(title: str, note: str, table: str) -> str:
    return (f'<!doctype html>\n<html lang="en"><head><meta charset="utf-8"><title>{html.escape(title)}</title>'
            f"<style>{STYLE}</style></head>\n<body><p>{html.escape(note)}</p>\n{table}\n</body></html>\n")


def read_tsv(path: str):
    """Header and rows of a tab-separated table, each row as wide as the header."""
    try:
        with open(path, encoding="utf-8", newline="") as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    except UnicodeDecodeError:
        raise InputError(path, "is not UTF-8 text")
    if lines and lines[-1] == "":
        lines.pop()
    if not lines or not lines[0]:
        raise InputError(path, "no header line", line=1)
    header = lines[0].split("\t")
    rows: List[List[str]] = []
    for number, line in enumerate(lines[1:], start=2):
        row = line.split("\t")
        if len(row) != len(header):
            raise InputError(path, f"{len(row)} columns, the header has {len(header)}", line=number)
        rows.append(row)
    return header, rows


def by_chromosome(header: Sequence[str], rows: List[List[str]]) -> List[List[str]]:
    """Rows of a table with a `chr` column, chromosome by chromosome in the
    order they are shown; within one, as the table has them."""
    if "chr" not in header:
        return rows
    chrom = header.index("chr")
    return sorted(rows, key=lambda row: chromosome_key(row[chrom]))


def summary_page(path: str) -> str:
    header, rows = read_tsv(path)
    rows = by_chromosome(header, rows)
    note = f"{path}: one row per strain and chromosome ({len(rows)} rows)."
    return page("Summary", note, html_table(header, rows))


def setting_text(value) -> str:
    if value == "" or value is None:
        return "(not set)"
    return value if isinstance(value, str) else json.dumps(value)


def settings_page(path: str) -> str:
    try:
        with open(path, encoding="utf-8") as f:
            settings = json.load(f)
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    except ValueError as e:
        raise InputError(path, f"is not JSON ({e})")
    if not isinstance(settings, dict):
        raise InputError(path, "is not a mapping of settings")
    rows = [(key, setting_text(value)) for key, value in sorted(settings.items())]
    note = f"{path}: the settings that made this panel's results."
    return page("Settings", note, html_table(("setting", "value"), rows))


def qc_page(path: str) -> str:
    """The flags first (what, where, why), then every strain's QC figures."""
    from tarvel_panel.qc.write import read_table
    header, rows = read_table(path)
    flags_path = os.path.join(os.path.dirname(path), "flags.tsv")
    flag_header, flags = read_table(flags_path)
    flagged = len({f["strain"] for f in flags})
    note = (f"{path}: {len(rows)} strains, {flagged} flagged with {len(flags)} flags ({flags_path}, first); "
            "then every strain's figures.")
    tables = html_table(flag_header, [[f[c] for c in flag_header] for f in flags]) + "\n<p></p>\n" + \
        html_table(header, [[r[c] for c in header] for r in rows])
    return page("Strain QC", note, tables)


def write(text: str, dest: str) -> None:
    with AtomicFile(dest) as f:
        f.write(text)


def main(argv=None) -> int:
    p = argparse.ArgumentParser(prog="python3 -m tarvel_panel report-table", description=__doc__.split("\n")[0])
    p.add_argument("table", choices=("summary", "settings", "qc"))
    p.add_argument("source", help="OUT/summary.tsv, OUT/config.json or OUT/qc/strains.tsv")
    p.add_argument("dest", help="the HTML page written")
    args = p.parse_args(argv)
    render = {"summary": summary_page, "settings": settings_page, "qc": qc_page}[args.table]
    return run_command(lambda: write(render(args.source), args.dest),
                       os_error=lambda e: f"{e.filename}: cannot be written ({e.strerror})", output=args.dest)


if __name__ == "__main__":
    sys.exit(main())
