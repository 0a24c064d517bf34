"""The benchmark's runs: what is simulated and how TARVEL is run on it.
Every run simulates with seed 1 over the simulator's default 100 cM."""


class Config:
    """MARKERS (QUICK_MARKERS with --quick) simulated with SIMULATE options,
    TARVEL run with the RUN arguments after the three file names.
    TIMED: measured side by side over --runs runs (else the one observed
    run's wall time counts). PORTABLE: also time the portable build."""

    def __init__(self, name, simulate, run, markers, quick_markers, timed=True, portable=True):
        self.name, self.simulate, self.run = name, simulate, run
        self.markers, self.quick_markers = markers, quick_markers
        self.timed, self.portable = timed, portable

    def marker_count(self, quick):
        return self.quick_markers if quick else self.markers


CONFIGS = [
    Config("autosome G20 (256 states)", ["--generation", "20"], ["20"], 100_000, 10_000),
    Config("autosome G5 (64 states)", ["--generation", "5"], ["5"], 100_000, 10_000),
    Config("male X G20", ["--generation", "20", "--x", "--sex", "M"], ["20", "-x", "-s", "M"],
           100_000, 10_000),
    Config("autosome G20, 1M markers", ["--generation", "20"], ["20"], 1_000_000, 100_000,
           timed=False, portable=False),
]


def by_name(names):
    """The configurations whose name starts with one of NAMES (all for none)."""
    if not names:
        return CONFIGS
    chosen = [c for c in CONFIGS if any(c.name.startswith(n) for n in names)]
    if not chosen:
        raise ValueError("no configuration starts with " + ", ".join(names) + "; there are: "
                         + "; ".join(c.name for c in CONFIGS))
    return chosen
