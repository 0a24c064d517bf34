"""The sample table (CSV): one row per genotyped sample the panel uses.

    sample,strain,funnel,sex,generation,role
    S0042,CC001/Unc,AGBFDHCE,female,,strain
    F_B6_1,B,,,,founder

`sample` is the sample's ID in the FinalReports, `strain` the strain it is a
sample of, or for role `founder` the founder (a name of founder_names, a
letter A..H or a number 1..8). `funnel`, for a strain, as the VCF strain
table takes it (strain_fields.parse_funnel); `sex` female/male (F/M) or
empty; `generation` empty for the workflow's default; `role` strain (the
default when empty or without the column) or founder. Other columns are
ignored."""
from dataclasses import dataclass
from typing import Optional, Tuple

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.arrays.csv_rows import CsvTable
from tarvel_panel.inputs.strain_fields import founder_number, parse_funnel, parse_generation, parse_sex


ROLES = ("strain", "founder")


@dataclass
class SampleRow:
    sample: str
    line: int
    strain: Optional[str] = None          # a strain's sample
    funnel: Optional[Tuple[int, ...]] = None
    sex: Optional[str] = None
    generation: Optional[int] = None
    founder: Optional[int] = None         # a founder's sample: 1..8


def read_sample_table(path, founder_names):
    """The table's rows in its order, founders' and strains'."""
    table = CsvTable(path, "sample table")
    sample, strain = table.column("sample"), table.column("strain")
    optional = {name: table.optional_column(name) for name in ("funnel", "sex", "generation", "role")}
    rows, seen = [], {}
    for line, fields in table.rows():
        cell = {name: (fields[i] if i is not None else "") for name, i in optional.items()}
        row = _row(table.path, line, fields[sample], fields[strain], cell, founder_names)
        if row.sample in seen:
            raise InputError(table.path, f"sample {row.sample!r} comes twice (also on line {seen[row.sample]})", line)
        seen[row.sample] = line
        rows.append(row)
    if not any(r.strain is not None for r in rows):
        raise InputError(table.path, "the sample table lists no strain's sample (role strain)")
    return rows


def _row(path, line, sample, strain, cell, founder_names):
    if not sample:
        raise InputError(path, "no sample ID", line)
    role = cell["role"].lower() or "strain"
    if role not in ROLES:
        raise InputError(path, f"role {cell['role']!r} is not strain or founder", line)
    if role == "founder":
        founder = founder_number(strain, founder_names)
        if founder is None:
            raise InputError(path, f"founder {strain!r} is not one of {', '.join(founder_names)} "
                             "(nor a letter A..H or a number 1..8)", line)
        return SampleRow(sample, line, founder=founder)
    if not strain:
        raise InputError(path, f"sample {sample!r} names no strain", line)
    if not cell["funnel"]:
        raise InputError(path, f"sample {sample!r} of strain {strain!r} has no funnel", line)
    return SampleRow(sample, line, strain=strain, funnel=parse_funnel(path, line, cell["funnel"], founder_names),
                     sex=parse_sex(path, line, cell["sex"]),
                     generation=parse_generation(path, line, cell["generation"]))
