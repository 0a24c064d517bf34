"""The R/qtl2 files of a simulated panel: codes, CSV layouts, control file, zip."""
import json
import zipfile
from pathlib import Path

import yaml

FOUNDERS = "ABCDEFGH"
STRAIN_CODE = {"0": "A", "1": "H", "2": "B", "N": "-"}  # TARVEL call -> cross code
CSV_FILES = ["geno.csv", "founder_geno.csv", "gmap.csv", "pmap.csv", "cross_info.csv", "covar.csv"]


def read_lines(path):
    return [line.strip() for line in Path(path).read_text().splitlines() if line.strip()]


def founder_codes(line):
    """A founder-file line ("0 -1 1 ...") as cross codes: 0 -> A, 1 -> B, missing -> "-"."""
    return ["-" if g.startswith("-") else "AB"[int(g)] for g in line.split()]


def control(generation):
    return {
        "description": f"Simulated recombinant inbred panel, eight founders, #Generation {generation}",
        "crosstype": "risib8",
        "sep": ",",
        "na.strings": ["-", "NA"],
        "comment.char": "#",
        "geno": "geno.csv",
        "founder_geno": "founder_geno.csv",
        "gmap": "gmap.csv",
        "pmap": "pmap.csv",
        "covar": "covar.csv",
        "alleles": list(FOUNDERS),
        "x_chr": "X",
        "genotypes": {"A": 1, "H": 2, "B": 3},
        "geno_transposed": True,
        "founder_geno_transposed": True,
        "sex": {"covar": "Sex", "female": "female", "male": "male"},
        "cross_info": {"file": "cross_info.csv"},
    }


def csv_text(comment, header, rows):
    lines = [f"# {comment}", ",".join(header)] + [",".join(map(str, r)) for r in rows]
    return "\n".join(lines) + "\n"


def cross_tables(strains, chroms, generation):
    """File name -> text of every CSV of the cross, and of truth.csv."""
    names = [s["name"] for s in strains]
    geno, fgeno, gmap, pmap, truth = [], [], [], [], []
    for c in chroms:
        for t, marker in enumerate(c["markers"]):
            geno.append([marker] + [STRAIN_CODE[calls[t]] for calls in c["calls"]])
            fgeno.append([marker] + founder_codes(c["founders"][t]))
            gmap.append([marker, c["name"], f"{c['cm'][t]:.4f}"])
            pmap.append([marker, c["name"], f"{c['mbp'][t]:.6f}"])
    for k, name in enumerate(names):
        for c in chroms:
            for marker, line in zip(c["markers"], c["truth"][k]):
                a, b = (FOUNDERS[int(n) - 1] for n in line.split())
                truth.append([name, c["name"], marker, a, b])
    return {
        "geno.csv": csv_text("strain genotypes (A/H/B), markers as rows", ["marker"] + names, geno),
        "founder_geno.csv": csv_text("founder genotypes (A/B), markers as rows",
                                     ["marker"] + list(FOUNDERS), fgeno),
        "gmap.csv": csv_text("genetic map (cM)", ["marker", "chr", "pos"], gmap),
        "pmap.csv": csv_text("physical map (Mbp)", ["marker", "chr", "pos"], pmap),
        "cross_info.csv": csv_text("founders in funnel order", ["id"] + list(FOUNDERS),
                                   [[s["name"]] + s["funnel"] for s in strains]),
        "covar.csv": csv_text("sex and #Generation", ["id", "Sex", "ngen"],
                              [[s["name"], s["sex"], s.get("generation", generation)] for s in strains]),
        "truth.csv": "strain,chr,marker,copy1,copy2\n"
                     + "".join(",".join(r) + "\n" for r in truth),
    }


def write_zip(path, files):
    """A zip with fixed time stamps, so the same panel gives the same bytes."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in files.items():
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text)


def write_cross(out, strains, chroms, generation):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    tables = cross_tables(strains, chroms, generation)
    ctrl = control(generation)
    files = {"panel.yaml": yaml.safe_dump(ctrl, sort_keys=False, default_flow_style=None),
             "panel.json": json.dumps(ctrl, indent=2) + "\n"}
    files.update(tables)
    for name, text in files.items():
        (out / name).write_text(text)
    write_zip(out / "panel.zip", {"panel.yaml": files["panel.yaml"],
                                  **{n: tables[n] for n in CSV_FILES}})
