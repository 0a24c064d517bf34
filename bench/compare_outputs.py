#!/usr/bin/python3
"""Compares two output folders of the panel workflow file by file, as the
user reads them: compressed files decompressed (gzip, each member of an npz
or zip), TARVEL's wall-time column aside (tarvel_seconds in the summaries,
seconds.txt, and the report's page of the summary, made from summary.tsv),
the run's own records aside (logs/, .panel.lock, .snakemake/), each folder's
own path read as OUT, and the ids matplotlib draws at random in an SVG.

    bench/compare_outputs.py OUT_A OUT_B [--ignore PATTERN ...]

Prints each file that differs or that only one folder holds, then a line of
counts; status 0 when every compared file is the same, else 1."""
import argparse
import fnmatch
import gzip
import io
import os
import re
import sys
import zipfile

SKIPPED = ["logs/*", ".panel.lock", ".snakemake/*", "*/seconds.txt", "*/.snakemake/*", "report/summary.html"]
SVG_IDS = re.compile(rb"\b[a-z][0-9a-f]{10}\b")
TIMED_TABLES = ("summary.tsv",)


def files(root, ignore):
    found = set()
    for folder, dirs, names in os.walk(root):
        for name in names:
            rel = os.path.relpath(os.path.join(folder, name), root)
            if not any(fnmatch.fnmatch(rel, p) for p in ignore):
                found.add(rel)
    return found


def without_seconds(data):
    lines = data.decode("utf-8").split("\n")
    header = lines[0].split("\t")
    if "tarvel_seconds" not in header:
        return data
    k = header.index("tarvel_seconds")
    return "\n".join("\t".join(f for i, f in enumerate(line.split("\t")) if i != k) for line in lines).encode()


def content(path, root):
    """What a reader of the file sees: a list of (part, bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith((".html", ".json", ".svg")):
        data = data.replace(os.path.abspath(root).encode(), b"OUT")
    if path.endswith(".svg"):
        data = SVG_IDS.sub(b"pID", data)
    if path.endswith(".gz"):
        return [("", gzip.decompress(data))]
    if path.endswith((".npz", ".zip")):
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            return [(name, z.read(name)) for name in sorted(z.namelist())]
    if path.endswith(TIMED_TABLES):
        return [("", without_seconds(data))]
    return [("", data)]


def compare(a, b, ignore):
    left, right = files(a, ignore), files(b, ignore)
    differ = []
    for rel in sorted(left & right):
        one, two = content(os.path.join(a, rel), a), content(os.path.join(b, rel), b)
        if one != two:
            parts = sorted({p for p, _ in one} ^ {p for p, _ in two} | {p for (p, x), (q, y) in zip(one, two) if x != y})
            differ.append(f"differs: {rel}" + (f" ({', '.join(p for p in parts if p)})" if any(parts) else ""))
    only = [f"only in {a}: {r}" for r in sorted(left - right)] + [f"only in {b}: {r}" for r in sorted(right - left)]
    return len(left & right), differ + only


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("a")
    parser.add_argument("b")
    parser.add_argument("--ignore", nargs="*", default=[], help="more glob patterns of relative paths to leave out")
    args = parser.parse_args(argv)
    compared, faults = compare(args.a, args.b, SKIPPED + args.ignore)
    for line in faults:
        print(line)
    print(f"{compared} files compared, {len(faults)} differ or stand alone")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
