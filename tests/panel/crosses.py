"""Small R/qtl2 crosses written for the tests, and prepare run on them."""
import json
import subprocess
import zipfile

from conftest import REPO

from tarvel_panel.panel.model import NO_CALL

FOUNDERS = list("ABCDEFGH")
# marker, chromosome, cM; m2 and m3 share a position; m9 is only in the map
MAP = [("m1", "1", "0.0"), ("m2", "1", "1.5"), ("m3", "1", "1.5"), ("m4", "1", "3.25"), ("m9", "1", "5"),
       ("x1", "X", "0.5"), ("x2", "X", "2.0"), ("x3", "X", "4.0")]
FOUNDER_CALLS = {"m1": "AABBABAB", "m2": "BBAA-AAB", "m3": "ABABABAB", "m4": "AAAABBBB",
                 "x1": "ABBBBBBA", "x2": "AB-AABBA", "x3": "BAAAAAAB"}
STRAINS = {"S1/a": "AHB-A-B", "S2/b": "BBAAHBA", "S3": ["NA", "A", "A", "B", "B", "A", "H"]}
FUNNELS = {"S1/a": "1,2,3,4,5,6,7,8", "S2/b": "8,7,6,5,4,3,2,1", "S3": "3,1,4,2,8,5,7,6"}
TYPED = [m for m, _, _ in MAP if m in FOUNDER_CALLS]


def _csv(path, header, rows):
    path.write_text("# made by the test\n" + "\n".join(",".join(r) for r in [header] + rows) + "\n")


def write_cross(root, fmt="yaml", transposed=True, split=False):
    """A small cross under `root`; returns its control file."""
    root.mkdir(parents=True, exist_ok=True)
    strains = list(STRAINS)
    chroms = {"1": [m for m in TYPED if m.startswith("m")], "X": [m for m in TYPED if m.startswith("x")]}
    parts = chroms.items() if split else [("all", TYPED)]
    control = {"crosstype": "risib8", "alleles": FOUNDERS, "x_chr": "X", "genotypes": {"A": 1, "H": 2, "B": 3},
               "na.strings": ["-", "NA"], "geno_transposed": transposed, "founder_geno_transposed": transposed,
               "cross_info": {"file": "cross_info.csv"}, "covar": "covar.csv",
               "sex": {"covar": "Sex", "f": "female", "m": "male"}, "geno": [], "founder_geno": [], "gmap": []}
    for part, markers in parts:
        idx = [TYPED.index(m) for m in markers]
        geno = {s: [STRAINS[s][i] for i in idx] for s in strains}
        found = {f: [FOUNDER_CALLS[m][k] for m in markers] for k, f in enumerate(FOUNDERS)}
        for key, table, cols in (("geno", geno, strains), ("founder_geno", found, FOUNDERS)):
            name = f"{key}_{part}.csv"
            if transposed:
                _csv(root / name, ["marker"] + cols, [[m] + [table[c][i] for c in cols] for i, m in enumerate(markers)])
            else:
                _csv(root / name, ["id"] + markers, [[c] + table[c] for c in cols])
            control[key].append(name)
        rows = [list(r) for r in MAP if r[1] == part or part == "all"]
        _csv(root / f"gmap_{part}.csv", ["marker", "chr", "pos"], rows)
        control["gmap"].append(f"gmap_{part}.csv")
    _csv(root / "cross_info.csv", ["id"] + FOUNDERS, [[s] + FUNNELS[s].split(",") for s in strains])
    _csv(root / "covar.csv", ["id", "Sex", "ngen"], [["S1/a", "f", "20"], ["S2/b", "m", "5"], ["S3", "f", "12"]])
    path = root / f"cross.{fmt}"
    path.write_text(json.dumps(control, indent=1) if fmt == "json" else _yaml(control))
    return path


def _yaml(control):
    import yaml
    return yaml.safe_dump(control, default_flow_style=None, sort_keys=False)


def zip_cross(control, zip_path, folder="inner/", compression=zipfile.ZIP_STORED):
    with zipfile.ZipFile(zip_path, "w", compression) as z:
        for f in sorted(control.parent.iterdir()):
            if f.suffix in (".csv", control.suffix):
                z.write(f, folder + f.name)
    return zip_path


def expected_founders(marker):
    return [{"A": 0, "B": 1, "-": NO_CALL}[c] for c in FOUNDER_CALLS[marker]]


def expected_strain(strain):
    return [{"A": 0, "H": 1, "B": 2}.get(c, NO_CALL) for c in STRAINS[strain]]


def run_prepare(cross, dest, **config):
    conf = dest.parent / "config.json"
    conf.write_text(json.dumps(dict(config, cross=str(cross))))
    return subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel", "prepare", "--config", str(conf), "--dest", str(dest)],
                          capture_output=True, text=True, cwd=REPO)


def assert_refused(done, dest, where, message):
    assert done.returncode == 1
    lines = done.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith(f"error: {where}: "), done.stderr
    assert message in lines[0]
    assert not dest.exists() and [p.name for p in dest.parent.iterdir()] == ["config.json"]


