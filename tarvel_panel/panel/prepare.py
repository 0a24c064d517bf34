"""Prepare one TARVEL run per strain and chromosome from a workflow config.

    python3 -m tarvel_panel prepare --config CONFIG.json --dest OUT/prepared

writes, all at once (a temporary folder renamed when complete):
  panel.json                    founders (names shown) and their alleles, strains,
                                chromosomes, site counts
  chr<c>/markers.tsv            marker names and positions in map order
  chr<c>/founders.txt, positions.txt    TARVEL's founder and position files
  chr<c>/<s>/strain.txt, funnel.txt, job.json   one TARVEL run
where <c> and <s> are the chromosome's and the strain's safe names (paths.py);
panel.json keeps the real names beside them.
"""
import argparse
import glob
import json
import os
import shutil
import sys
from dataclasses import dataclass

import numpy as np

from tarvel_panel import paths
from tarvel_panel.errors import InputError, run_command
from tarvel_panel.support.config import with_defaults
from tarvel_panel.inputs.sources import load_panel
from tarvel_panel.panel.model import MAX_GENERATION, MIN_GENERATION, NO_CALL, OPTIONAL_STRAIN_KEYS, site_notes
from tarvel_panel.panel.safe_names import safe_names
from tarvel_panel.panel.x_copies import x_sex


STRAIN_CODES = {0: "0", 1: "1", 2: "2", NO_CALL: "N"}
FOUNDER_CODES = {0: "0", 1: "1", NO_CALL: "-1"}
# generations from which a strain counts as inbred: its X runs as one copy


@dataclass
class Options:
    generation: int
    error_rate: float
    founder_missing: str   # "keep" or "mask"


def options_from(config):
    return Options(generation=_generation(config["generation"]),
                   error_rate=_error_rate(config["error_rate"]),
                   founder_missing=_founder_missing(config["founder_missing"]))


def _generation(value):
    try:
        generation = int(str(value))
    except ValueError:
        raise InputError("config generation", f"'{value}' is not a whole number")
    if not MIN_GENERATION <= generation <= MAX_GENERATION:
        raise InputError("config generation", f"{generation} is outside {MIN_GENERATION}..{MAX_GENERATION}")
    return generation


def _error_rate(value):
    try:
        rate = float(value)
    except (TypeError, ValueError):
        rate = -1.0
    if not 0.0 <= rate <= 1.0:
        raise InputError("config error_rate", f"'{value}' is not a rate between 0 and 1")
    return rate


def _founder_missing(value):
    if value not in ("keep", "mask"):
        raise InputError("config founder_missing", f"must be keep or mask, not '{value}'")
    return value


def masked(calls, untyped):
    """Strain calls (per marker, or markers x strains) with N wherever any
    founder is untyped (`untyped`, per marker): TARVEL scores an untyped
    founder as disagreeing with every homozygous call."""
    calls = calls.copy()
    calls[untyped] = NO_CALL
    return calls


def write_prepared(panel, options, dest):
    prefix = os.path.join(os.path.dirname(os.path.abspath(dest)), f".{os.path.basename(dest)}.tmp-")
    _remove_leftovers(prefix)
    tmp = f"{prefix}{os.getpid()}"
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    try:
        _write_all(panel, options, tmp)
        if os.path.exists(dest):
            shutil.rmtree(dest)
        os.rename(tmp, dest)
    except BaseException:
        shutil.rmtree(tmp, ignore_errors=True)
        raise


def _remove_leftovers(prefix):
    """Temporary folders that a killed prepare left behind."""
    for path in glob.glob(glob.escape(prefix) + "*"):
        pid = path[len(prefix):]
        if not pid.isdigit() or not _alive(int(pid)):
            shutil.rmtree(path, ignore_errors=True)


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def _write_all(panel, options, root):
    safes = safe_names([s.name for s in panel.strains], beside=paths.BESIDE_STRAINS)
    chrom_safes = safe_names([c.name for c in panel.chromosomes], beside=paths.CHROMOSOME_PARTS)
    generations = [s.generation or options.generation for s in panel.strains]
    pos_flag = "-bp" if panel.pos_unit == "bp" else "-cm"
    funnels = [" ".join(str(f) for f in s.funnel) for s in panel.strains]
    site_stats = {}
    for chrom, chrom_safe in zip(panel.chromosomes, chrom_safes):
        chr_dir = paths.chromosome_dir(root, chrom_safe)
        os.makedirs(chr_dir)
        founders = chrom.founder_geno
        _write_markers(chrom.markers, founders, chr_dir)
        untyped = (founders == NO_CALL).any(axis=1)
        site_stats[chrom.name] = dict(panel.site_stats.get(chrom.name, {}),
                                      founder_untyped_markers=int(np.count_nonzero(untyped)))
        mask = untyped if options.founder_missing == "mask" else None
        for k, (strain, safe, generation, funnel, calls) in enumerate(zip(
                panel.strains, safes, generations, funnels, _strain_columns(chrom, len(panel.strains)))):
            job = {"strain": strain.name, "chromosome": chrom.name, "generation": generation,
                   "x": chrom.is_x, "sex": x_sex(strain, generation) if chrom.is_x else None,
                   "error_rate": options.error_rate, "positions": pos_flag, "markers": len(chrom.markers)}
            _write_job(paths.job_dir(root, chrom_safe, safe), funnel, strain_text(calls, mask), job)
    left_out = {} if panel.samples_left_out is None else {"samples_left_out": panel.samples_left_out}
    _write_json(os.path.join(root, "panel.json"), {
        "founders": panel.founders, "alleles": panel.alleles or panel.founders, "pos_unit": panel.pos_unit,
        "strains": [_strain_entry(s, safe, g) for s, safe, g in zip(panel.strains, safes, generations)],
        "chromosomes": [{"name": c.name, "safe": safe, "is_x": c.is_x, "markers": len(c.markers)}
                        for c, safe in zip(panel.chromosomes, chrom_safes)],
        "site_stats": site_stats, **left_out,
        "founder_missing": options.founder_missing, "error_rate": options.error_rate})


def _strain_entry(strain, safe, generation):
    """A strain's panel.json entry; the optional attributes only where set."""
    entry = {"name": strain.name, "safe": safe, "funnel": list(strain.funnel), "sex": strain.sex,
             "generation": generation}
    entry.update({k: getattr(strain, k) for k in OPTIONAL_STRAIN_KEYS if getattr(strain, k) is not None})
    return entry


# markers turned into text and written at a time
LINES_AT_ONCE = 100_000


def _write_markers(markers, founders, chr_dir):
    """markers.tsv, positions.txt and founders.txt, a block of markers at a time."""
    founder_text, founder_index = _founder_lines(founders)
    with open(os.path.join(chr_dir, paths.MARKERS), "w") as table, \
            open(os.path.join(chr_dir, paths.POSITIONS), "w") as positions, \
            open(os.path.join(chr_dir, paths.FOUNDERS), "w") as founder_file:
        table.write("marker\tpos\tpmap\tgmap\n")
        for start in range(0, len(markers), LINES_AT_ONCE):
            block = slice(start, start + LINES_AT_ONCE)
            pos = [repr(p) for p in markers.pos[block].tolist()]
            table.writelines(f"{name}\t{p}\t{pm}\t{gm}\n" for name, p, pm, gm in zip(
                markers.names[block], pos, _map_texts(markers.pmap[block]), _map_texts(markers.gmap[block])))
            positions.writelines(p + "\n" for p in pos)
            founder_file.writelines(founder_text[i] for i in founder_index[block].tolist())


def _map_texts(positions):
    """Map positions (pmap Mbp, gmap cM), empty where the source has none."""
    return ["" if p != p else repr(p) for p in positions.tolist()]


def _founder_lines(founder_geno):
    """The distinct founder lines (rows repeat, so each is made once) and
    which of them each marker has."""
    digits = np.minimum(founder_geno, 2).astype(np.int64)   # 0, 1 and NO_CALL as 2
    keys = digits @ 3 ** np.arange(founder_geno.shape[1], dtype=np.int64)
    _, first, index = np.unique(keys, return_index=True, return_inverse=True)
    texts = [" ".join(FOUNDER_CODES[g] for g in founder_geno[i].tolist()) + "\n" for i in first]
    return texts, index.reshape(-1)


# strains whose calls are taken from the source at a time: a few
# megabytes each at a million markers
STRAINS_AT_ONCE = 16


def _strain_columns(chrom, strains):
    """Each strain's calls on `chrom` in turn, taken a few strains at a time."""
    for start in range(0, strains, STRAINS_AT_ONCE):
        block = chrom.strain_columns(range(start, min(start + STRAINS_AT_ONCE, strains)))
        for k in range(block.shape[1]):
            yield block[:, k]


_STRAIN_BYTES = np.zeros(256, np.uint8)
for _value, _text in STRAIN_CODES.items():
    _STRAIN_BYTES[_value] = ord(_text)


def strain_text(calls, untyped=None):
    """A strain.txt's bytes from one strain's calls (per marker), N where
    `untyped` (per marker, or None) is set."""
    if untyped is not None:
        calls = masked(calls, untyped)
    text = np.empty((len(calls), 2), np.uint8)
    text[:, 0] = _STRAIN_BYTES[calls]
    text[:, 1] = ord("\n")
    return text.tobytes()


def _write_job(job_dir, funnel, text, job):
    os.makedirs(job_dir)
    with open(os.path.join(job_dir, "strain.txt"), "wb") as f:
        f.write(text)
    _write_lines(os.path.join(job_dir, "funnel.txt"), [funnel])
    _write_json(os.path.join(job_dir, "job.json"), job)


def _write_lines(path, lines):
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def _write_json(path, data):
    with open(path, "w") as f:
        json.dump(data, f, indent=1)
        f.write("\n")


# up to this many chromosomes the prepare line names each with its markers
LISTED_CHROMOSOMES = 6


def describe(panel):
    text = (f"prepare: {_count(panel.strains, 'strain')}, {_count(panel.chromosomes, 'chromosome')} "
            f"({_chromosomes(panel.chromosomes)}); "
            f"{_count(range(len(panel.strains) * len(panel.chromosomes)), 'TARVEL run')}")
    text += "".join(f"\nprepare: {note}" for note in site_notes(panel) + panel.notes)
    if not any(c.is_x for c in panel.chromosomes):
        named_x = [c.name for c in panel.chromosomes if c.name.lower() in ("x", "chrx")]
        if named_x:
            text += f"\nprepare: note: chromosome {named_x[0]} runs as an autosome (the input names no X chromosome)"
    return text


def _chromosomes(chromosomes):
    """Each chromosome with its markers, or for many of them the first and
    last, the markers in all and the X: one short line for a whole genome."""
    if len(chromosomes) <= LISTED_CHROMOSOMES:
        return ", ".join(f"{c.name}: {len(c.markers)} markers{', the X chromosome' if c.is_x else ''}"
                         for c in chromosomes)
    counts = [len(c.markers) for c in chromosomes]
    x = [f"; the X chromosome: {c.name}" for c in chromosomes if c.is_x]
    return (f"{chromosomes[0].name} to {chromosomes[-1].name}: {sum(counts):,} markers, "
            f"{min(counts):,} to {max(counts):,} per chromosome{''.join(x)}")


def _count(items, noun):
    return f"{len(items)} {noun}{'' if len(items) == 1 else 's'}"


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel prepare", description=__doc__.split("\n")[0])
    parser.add_argument("--config", required=True, help="the workflow config as a JSON file")
    parser.add_argument("--dest", required=True, help="folder to create (OUT/prepared)")
    args = parser.parse_args(argv)
    def work():
        config = _read_config(args.config)
        options = options_from(config)
        panel = load_panel(config)
        print(describe(panel), file=sys.stderr, flush=True)
        write_prepared(panel, options, args.dest)
    return run_command(work, lambda e: f"{e.filename or args.dest}: cannot be written ({e.strerror})")


def _read_config(path):
    """The settings record, each key it does not set at its default."""
    try:
        with open(path) as f:
            given = json.load(f)
    except (OSError, ValueError, RecursionError) as e:
        raise InputError(path, f"cannot read the workflow config ({e})")
    if not isinstance(given, dict):
        raise InputError(path, "cannot read the workflow config (not a JSON object)")
    return with_defaults(given)


if __name__ == "__main__":
    sys.exit(main())
