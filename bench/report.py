"""The benchmark's tables, as Markdown."""
import math

from measure import STAGE_NAMES


def _s(x):
    return "—" if x is None or math.isnan(x) else "%.3f" % x


def _mb(kib):
    return "—" if kib is None else "%.0f" % (kib / 1024.0)


def timing_table(rows):
    """ROWS: dicts with config, markers, build, ref_s, cand_s (medians),
    min_ratio (of the fastest runs), ref_kib, cand_kib, same."""
    out = ["| configuration | markers | candidate build | reference median s | candidate median s "
           "| ratio | ratio of minima | reference peak MB | candidate peak MB | results identical |",
           "|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        ratio = r["cand_s"] / r["ref_s"] if r["ref_s"] else float("nan")
        out.append("| %s | %d | %s | %s | %s | %s | %.3f | %s | %s | %s |" % (
            r["config"], r["markers"], r["build"], _s(r["ref_s"]), _s(r["cand_s"]),
            "—" if math.isnan(ratio) else "%.3f" % ratio, r["min_ratio"],
            _mb(r["ref_kib"]), _mb(r["cand_kib"]), "yes" if r["same"] else "NO"))
    return "\n".join(out)


def stage_table(rows):
    """ROWS: (config, who, markers, {stage: seconds} or None)."""
    out = ["| configuration | binary | " + " | ".join(STAGE_NAMES) + " | total |",
           "|---|---|" + "---|" * (len(STAGE_NAMES) + 1)]
    for config, who, markers, stages in rows:
        if stages is None:
            cells = ["—"] * (len(STAGE_NAMES) + 1)
        else:
            us = [stages[s] * 1e6 / markers for s in STAGE_NAMES]
            cells = ["%.2f" % u for u in us + [sum(us)]]
        out.append("| %s | %s | %s |" % (config, who, " | ".join(cells)))
    return "\n".join(out)
