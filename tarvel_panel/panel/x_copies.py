"""How a strain's X runs: as one copy (TARVEL's -s M) or as two (-s F). The
one rule that prepare, the batches, collect and the QC share, kept free of
heavy imports so that a batch job starts at once."""
from types import SimpleNamespace

# from this #Generation on a strain counts as inbred
INBRED_GENERATION = 6


def x_sex(strain, generation):
    """TARVEL's -s for a strain's X: an inbred strain's X is one founder's
    copy whatever its sex (the two-copy female model at that depth can only
    place the founders at funnel places 1 and 2), so it runs as male."""
    if generation >= INBRED_GENERATION:
        return "M"
    return "M" if strain.sex == "male" else "F"


def two_copy_x(chrom, strain):
    """Whether a prepared strain's run of a prepared chromosome is the
    two-copy X model, whose pair values may exceed 1."""
    return bool(chrom["is_x"]) and x_sex(SimpleNamespace(sex=strain.get("sex")), strain["generation"]) == "F"
