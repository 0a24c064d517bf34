"""The thresholds of strain QC. The workflow takes each from its config key
qc_<name> (workflow/config.yaml, with the same defaults) and passes it to the
qc step as --<name>; docs/qc.md tells what each one does."""
from dataclasses import dataclass, fields

from tarvel_panel.errors import InputError


@dataclass
class Settings:
    call_rate_min: float = 0.9       # a lower call rate is flagged
    het_share_max: float = 0.1       # a larger heterozygous share of the genome is flagged
    error_min_prob: float = 0.9      # a call is checked where its top pair is at least this probable
    error_rate_max: float = 0.01     # a larger share of checked calls contradicting it is flagged
    cluster_min: int = 4             # error candidates that make a cluster ...
    cluster_gap: int = 10            # ... each at most this many checked markers from the next
    absent_share: float = 0.001      # a founder with a smaller share of the genome is absent
    x_min_prob: float = 0.99         # a barred founder this probable on the X ...
    x_min_markers: int = 10          # ... over this many scored markers is flagged
    mixed_min: float = 0.97          # two strains explaining this much of a strain's calls: a mixture
    duplicate_min: float = 0.95      # two strains sharing this much of the genome are flagged
    replicate_min: float = 0.9       # samples of one strain sharing less are flagged
    similarity_listed: float = 0.5   # pairs sharing this much are listed in similarity.tsv
    reference: str = ""              # a previous output folder to compare with, "" for none
    reference_min: float = 0.9       # agreeing less with the namesake there is flagged


SHARES = ("call_rate_min", "het_share_max", "error_min_prob", "error_rate_max", "absent_share", "x_min_prob",
          "mixed_min", "duplicate_min", "replicate_min", "similarity_listed", "reference_min")
COUNTS = ("cluster_min", "cluster_gap", "x_min_markers")


def add_options(parser):
    for f in fields(Settings):
        parser.add_argument(f"--{f.name.replace('_', '-')}", dest=f.name, default=f.default,
                            type=f.type, help=f"(default {f.default!r})")


def from_args(args):
    settings = Settings(**{f.name: getattr(args, f.name) for f in fields(Settings)})
    check(settings)
    return settings


def check(settings):
    for name in SHARES:
        value = getattr(settings, name)
        if not 0.0 <= value <= 1.0:
            raise InputError(f"qc_{name}", f"{value:g} is not a share between 0 and 1")
    for name in COUNTS:
        if getattr(settings, name) < 1:
            raise InputError(f"qc_{name}", f"{getattr(settings, name)} is not a count of 1 or more")
