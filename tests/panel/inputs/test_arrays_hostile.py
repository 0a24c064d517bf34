"""Malformed array inputs, each made from the example (examples/panel/arrays)
by changing one file: the prepare step stops with one line naming the file,
the line where there is one and what is wrong, status 1, nothing written."""
import gzip
import json
import shutil
import subprocess
import zipfile

import pytest
from conftest import REPO

from tarvel_panel.panel import prepare


EXAMPLE = REPO / "examples" / "panel" / "arrays"
REPORTS = ["report_1.txt", "report_2.txt.gz", "report_3.zip"]


def edit(name, change):
    """A case that rewrites the example file `name` as change(text)."""
    def apply(folder):
        path = folder / name
        if name.endswith(".gz"):
            path.write_bytes(gzip.compress(change(gzip.decompress(path.read_bytes()).decode()).encode()))
        elif name.endswith(".zip"):
            with zipfile.ZipFile(path) as z:
                member, text = z.namelist()[0], z.read(z.namelist()[0]).decode()
            with zipfile.ZipFile(path, "w") as z:
                z.writestr(member, change(text))
        else:
            path.write_bytes(change(path.read_bytes().decode()).encode())
    return apply


def lines_changed(number, change):
    """change(line) for the line `number` (1-based)."""
    def on(text):
        lines = text.splitlines(True)
        lines[number - 1] = change(lines[number - 1])
        return "".join(lines)
    return on


def cut_bytes(name, keep):
    def apply(folder):
        path = folder / name
        path.write_bytes(path.read_bytes()[:keep])
    return apply


def truncated_by_the_simulator(folder):
    subprocess.run(["/usr/bin/python3", str(REPO / "tools/simulate/panel_to_arrays.py"), "--truncated",
                    str(REPO / "examples/panel/panel.yaml"), str(folder)], check=True, capture_output=True)


R1 = "report_1.txt"
# line 12 of report_1.txt is its first row: c1_0001, SIM01_1
CASES = {
    "report cut short": (truncated_by_the_simulator, R1, None,
                         "truncated: the header gives 808 SNPs x 5 samples, 4,040 rows, but the table ends after"),
    "last line cut": (edit(R1, lambda t: t[:-9]), R1, 4051, "truncated: the last line ends early"),
    "allele not a base": (edit(R1, lines_changed(12, lambda l: l.replace("\tA\tA\t", "\tA\tX\t"))), R1, 12,
                          "Allele2 'X' is not one of -, A, C, G, T, I, D, B"),
    "field missing": (edit(R1, lines_changed(20, lambda l: l.replace("\t", "", 1))), R1, 20,
                      "4 fields where the column names are 5"),
    "no allele column": (edit(R1, lambda t: t.replace("Allele2 - Forward", "Allele2 - Fwd")), R1, 11,
                         "no column 'Allele2 - Forward'"),
    "not a report": (edit(R1, lambda t: "SNP Name\t" + t), R1, 1, "not a GenomeStudio FinalReport"),
    "no [Data]": (edit(R1, lambda t: t.replace("[Data]", "Data")), R1, None, "no [Data] line"),
    "no SNP count": (edit(R1, lambda t: t.replace("Num SNPs", "n").replace("Total SNPs", "t")), R1, None,
                     "gives no Num SNPs or Total SNPs"),
    "more samples than the header": (edit(R1, lambda t: t.replace("Num Samples\t5", "Num Samples\t4")), R1, 3244,
                                     "more samples than the header's Num Samples, 4"),
    "a row twice": (edit(R1, lines_changed(13, lambda l: l.replace("c1_0002", "c1_0001"))), R1, None,
                    "no row for SNP 'c1_0002' of sample 'SIM01_1', while another row comes twice"),
    "a sample in two reports": (edit(R1, lambda t: t.replace("SIM01_1", "FA_1")), "report_3.zip/report_3.txt",
                                None, "sample 'FA_1' is also in"),
    "gzip cut short": (cut_bytes("report_2.txt.gz", 30000), "report_2.txt.gz", None,
                       "truncated: the compressed data ends early"),
    "zip cut short": (cut_bytes("report_3.zip", 20000), "report_3.zip", None, "not a readable zip file"),
    "a report missing": (lambda folder: (folder / "report_2.txt.gz").unlink(), "report_2.txt.gz", None,
                         "cannot be read (No such file or directory)"),
    "a zip without a report": (edit("report_3.zip", lambda t: t.replace("[Header]", "Header")), "report_3.zip", None,
                               "the zip holds no FinalReport"),
    "annotation lacks the cM column": (edit("annotation.csv", lambda t: t.replace("cM_cox", "cM")), "annotation.csv",
                                       1, "no column 'cM_cox' (the config's annotation_cm)"),
    "annotation marker twice": (edit("annotation.csv", lines_changed(3, lambda l: l.replace("c1_0002", "c1_0001"))),
                                "annotation.csv", 3, "marker 'c1_0001' comes twice"),
    "annotation position": (edit("annotation.csv", lines_changed(4, lambda l: l.replace(",4576502,", ",4.5e,"))),
                            "annotation.csv", 4, "bp_grcm39 '4.5e' is not a position"),
    "annotation unique flag": (edit("annotation.csv", lines_changed(5, lambda l: l.replace("TRUE", "maybe"))),
                               "annotation.csv", 5, "unique 'maybe' is not TRUE or FALSE"),
    "annotation field missing": (edit("annotation.csv", lines_changed(6, lambda l: l.replace(",plus", ""))),
                                 "annotation.csv", 6, "5 fields where the header has 6"),
    "sample table without strains": (edit("samples.csv", lambda t: t.replace("strain,funnel", "line,funnel", 1)),
                                     "samples.csv", 1, "no column 'strain'"),
    "bad funnel": (edit("samples.csv", lines_changed(18, lambda l: l.replace(",CGE", ",CCE"))), "samples.csv", 18,
                   "funnel 'CCEABDFH' is not the eight founders"),
    "bad role": (edit("samples.csv", lines_changed(18, lambda l: l.replace(",strain", ",parent"))), "samples.csv", 18,
                 "role 'parent' is not strain or founder"),
    "unknown founder": (edit("samples.csv", lines_changed(2, lambda l: l.replace(",A,", ",Z,"))), "samples.csv", 2,
                        "founder 'Z' is not one of A, B"),
    "bad sex": (edit("samples.csv", lines_changed(18, lambda l: l.replace(",male,", ",boy,"))), "samples.csv", 18,
                "sex 'boy' is not female/male"),
    "sample twice": (edit("samples.csv", lines_changed(19, lambda l: l.replace("SIM02_1", "SIM01_1"))),
                     "samples.csv", 19, "sample 'SIM01_1' comes twice (also on line 18)"),
    "sample in no report": (edit("samples.csv", lines_changed(19, lambda l: l.replace("SIM02_1", "SIM02_9"))),
                            "samples.csv", 19, "sample 'SIM02_9' is in no FinalReport"),
    "a strain named like a replicate": (edit("samples.csv", lines_changed(19, lambda l: l.replace(
        "SIM02/Tv", "SIM03/Tv (SIM03_1)"))), "samples.csv", 19, "would be named 'SIM03/Tv (SIM03_1)'"),
    "founder without samples": (edit("samples.csv", lambda t: t.replace("_1,A,", "_1,B,").replace("_2,A,", "_2,B,")),
                                "samples.csv", None, "founder A has no sample"),
}
TABLE_CASES = {
    "founder call": (edit("founder_geno.csv", lines_changed(3, lambda l: l.replace(",A,", ",Q,", 1))),
                     "founder_geno.csv", 3, "founder call 'Q' is not A, B, H or -"),
    "founder column": (edit("founder_geno.csv", lambda t: t.replace(",H\n", ",I\n", 1)), "founder_geno.csv", 2,
                       "no column for founder H"),
    "allele codes alike": (edit("allele_codes.csv", lines_changed(3, lambda l: l.replace(",A,G", ",A,A"))),
                           "allele_codes.csv", 3, "are not two different alleles"),
}


def run_prepare(folder, capsys, **keys):
    config = {"finalreports": [str(folder / r) for r in REPORTS], "array_annotation": str(folder / "annotation.csv"),
              "sample_table": str(folder / "samples.csv"), **keys}
    (folder / "config.json").write_text(json.dumps(config))
    status = prepare.main(["--config", str(folder / "config.json"), "--dest", str(folder / "prepared")])
    return status, capsys.readouterr().err


def refused(tmp_path, capsys, case, **keys):
    change, name, line, fragment = case
    folder = tmp_path / "in"
    shutil.copytree(EXAMPLE, folder)
    change(folder)
    status, err = run_prepare(folder, capsys, **keys)
    where = f"{folder / name}:{line}: " if line else f"{folder / name}: "
    assert (status, err.count("\n"), err.startswith(f"error: {where}"), fragment in err) == (1, 1, True, True), err
    assert not (folder / "prepared").exists()


@pytest.mark.parametrize("case", CASES)
def test_a_bad_report_annotation_or_sample_table_is_refused(tmp_path, capsys, case):
    refused(tmp_path, capsys, CASES[case])


@pytest.mark.parametrize("case", TABLE_CASES)
def test_bad_founder_tables_are_refused(tmp_path, capsys, case):
    refused(tmp_path, capsys, TABLE_CASES[case], founder_genotypes=str(tmp_path / "in" / "founder_geno.csv"),
            allele_codes=str(tmp_path / "in" / "allele_codes.csv"))


def test_the_example_prepares(tmp_path, capsys):
    """The cases above fail for what they change, not for the example itself."""
    shutil.copytree(EXAMPLE, tmp_path / "in")
    status, err = run_prepare(tmp_path / "in", capsys)
    assert status == 0 and "1 sample of the FinalReports not in the sample table: H2O" in err
