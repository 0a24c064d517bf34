"""The differential cases: a fixed set covering every configuration and
refusal (the short form), and seeded random combinations on top of it (the
full form). A case is simulated data plus a TARVEL command line."""
import random

from inputs import Data

FILES = ["founders.txt", "strain.txt", "funnel.txt"]
CM = ["-cm", "positions.txt"]
BP = ["-bp", "bp.txt"]


class Case:
    """ARGS is TARVEL's command line, run where DATA's files are. EXPECT,
    when set, is the exit status the reference must give, so a case meant to
    be refused cannot silently turn into a run (or the other way round)."""

    def __init__(self, name, data, args, expect=None):
        self.name, self.data, self.args, self.expect = name, data, args, expect


def _run(gen, *opts):
    return FILES + [str(gen)] + list(opts)


def covering_cases():
    A, XM, XF = "auto", "xm", "xf"
    c = []

    def add(name, data, args, expect=None):
        c.append(Case(name, data, args, expect))

    # Autosome: both state spaces, every layout, cM and bp.
    add("auto-g20-happy-cm", Data(A, 20, 500, seed=11), _run(20, *CM), 0)
    add("auto-g20-labelled-bp", Data(A, 20, 500, seed=11), _run(20, *BP, "-of", "0"), 0)
    add("auto-g20-of7", Data(A, 20, 400, seed=12), _run(20, "-of", "7", *CM), 0)
    add("auto-g5-labelled-cm", Data(A, 5, 400, seed=13), _run(5, *CM, "-of", "0"), 0)
    add("auto-g5-happy-bp", Data(A, 5, 400, seed=13), _run(5, *BP), 0)
    add("auto-g3-labelled", Data(A, 3, 300, seed=14), _run(3, "-of", "0", *CM), 0)
    add("auto-g4-happy", Data(A, 4, 300, seed=15), _run(4, *BP, "-of", "1"), 0)
    add("auto-g6-labelled", Data(A, 6, 300, seed=16), _run(6, *CM, "-of", "0"), 0)
    # #Generation other than the simulated one, and 1 skipped.
    add("auto-run-g2", Data(A, 3, 300, seed=17), _run(2, *CM, "-of", "0"), 0)
    add("auto-run-g100", Data(A, 20, 300, seed=18), _run(100, *CM), 0)
    add("auto-run-g50-bp", Data(A, 8, 300, seed=19), _run(50, *BP, "-of", "0"), 0)
    add("auto-g1-skipped", Data(A, 20, 200, seed=20), FILES + ["1", "20"] + CM, 0)
    # Error rates.
    add("auto-e0", Data(A, 20, 300, seed=21), _run(20, *CM, "-e", "0"), 0)
    add("auto-e1", Data(A, 20, 300, seed=21), _run(20, *CM, "-e", "1"), 0)
    add("auto-e0.5-labelled", Data(A, 12, 300, seed=22), _run(12, "-e", "0.5", *CM, "-of", "0"), 0)
    add("auto-e1e-9-g5", Data(A, 5, 300, seed=23), _run(5, *BP, "-e", "1e-9"), 0)
    # Missing calls and founder genotypes, odd inputs that are still read.
    add("auto-n-calls", Data(A, 20, 400, seed=24, missing=0.3), _run(20, *CM), 0)
    add("auto-all-n", Data(A, 20, 200, seed=25, missing=1), _run(20, *CM, "-of", "0"), 0)
    add("auto-founder-missing", Data(A, 20, 400, seed=26, founder_missing=0.2), _run(20, *CM), 0)
    add("auto-founder-missing-g5", Data(A, 5, 300, seed=26, founder_missing=0.1),
        _run(5, *BP, "-of", "0"), 0)
    add("auto-equal-positions", Data(A, 20, 300, seed=27, edit="equal"), _run(20, *CM), 0)
    add("auto-equal-positions-bp", Data(A, 5, 300, seed=27, edit="equal"), _run(5, *BP), 0)
    add("auto-odd-calls", Data(A, 20, 300, seed=28, edit="odd-calls"), _run(20, *CM), 0)
    add("auto-corrupt-founder", Data(A, 20, 300, seed=29, edit="corrupt-founder"), _run(20, *CM))
    add("auto-short-strain", Data(A, 20, 300, seed=30, edit="short-strain"), _run(20, *CM))
    add("auto-compact-founders", Data(A, 20, 300, seed=31, edit="compact-founders"),
        _run(20, *CM), 0)
    # Marker counts from one upward, and a long run.
    for m in (1, 2, 3):
        add("auto-markers-%d" % m, Data(A, 20, m, seed=32 + m), _run(20, *CM), 0)
        add("auto-markers-%d-g5-labelled" % m, Data(A, 5, m, seed=32 + m), _run(5, *CM, "-of", "0"), 0)
    add("auto-long-run", Data(A, 20, 10000, length=150, seed=36), _run(20, *CM), 0)
    # X chromosome, male (every way of saying so) and female (any other letter).
    add("xm-g20-happy", Data(XM, 20, 400, seed=41), _run(20, "-x", "-s", "M", *CM), 0)
    add("xm-g20-labelled-bp", Data(XM, 20, 400, seed=41), _run(20, "-x", "-s", "m", *BP, "-of", "0"), 0)
    add("xm-g3-default-sex", Data(XM, 3, 300, seed=42), _run(3, "-x", *CM), 0)
    add("xm-run-g2", Data(XM, 3, 300, seed=43), _run(2, "-x", "-s", "M", *CM, "-of", "0"), 0)
    add("xm-run-g120", Data(XM, 20, 300, seed=44), _run(120, "-x", "-s", "M", *CM), 0)
    add("xm-g4-labelled-e0", Data(XM, 4, 300, seed=45), _run(4, "-x", *BP, "-of", "0", "-e", "0"), 0)
    add("xm-markers-1", Data(XM, 20, 1, seed=46), _run(20, "-x", *CM), 0)
    add("xf-g20-happy", Data(XF, 20, 400, seed=51), _run(20, "-x", "-s", "F", *CM), 0)
    add("xf-g5-labelled", Data(XF, 5, 300, seed=52), _run(5, "-x", "-s", "f", *CM, "-of", "0"), 0)
    add("xf-g3-labelled-bp", Data(XF, 3, 300, seed=53), _run(3, "-x", "-s", "F", *BP, "-of", "0"), 0)
    add("xf-g4-other-letter", Data(XF, 4, 300, seed=54), _run(4, "-x", "-s", "q", *CM), 0)
    add("xf-run-g2", Data(XF, 3, 300, seed=55), _run(2, "-x", "-s", "F", *CM, "-of", "0"), 0)
    add("xf-markers-2-founder-missing", Data(XF, 6, 2, seed=57, founder_missing=0.3),
        _run(6, "-x", "-s", "F", *CM, "-of", "0"), 0)
    # Long chromosomes, so that most founders hold a stretch somewhere.
    for i in range(3):
        add("xm-g8-labelled-long-%d" % i, Data(XM, 8, 3000, length=150, seed=71 + i),
            _run(8, "-x", *CM, "-of", "0"), 0)
    add("xf-g4-labelled-long", Data(XF, 4, 3000, length=150, seed=74),
        _run(4, "-x", "-s", "F", *CM, "-of", "0"), 0)
    add("xf-g12-happy-long", Data(XF, 12, 3000, length=150, seed=75), _run(12, "-x", "-s", "F", *BP), 0)
    add("auto-g6-labelled-long", Data(A, 6, 3000, length=150, seed=76), _run(6, *CM, "-of", "0"), 0)
    # Refused inputs: status 1 and no results file.
    add("refused-unsorted", Data(A, 20, 200, seed=61, edit="unsorted"), _run(20, *CM), 1)
    add("refused-unsorted-bp-x", Data(XM, 20, 200, seed=61, edit="unsorted"), _run(20, "-x", *BP), 1)
    add("refused-xf-e1-nothing-explains", Data(XF, 8, 300, seed=56),
        _run(8, "-x", "-s", "F", *BP, "-of", "0", "-e", "1"), 1)
    add("refused-four-founders", Data(A, 20, 100, seed=62, edit="four-founders"), _run(20, *CM), 1)
    add("refused-funnel-repeat", Data(A, 20, 100, seed=63, edit="funnel-repeat"), _run(20, *CM), 1)
    add("refused-few-positions", Data(A, 20, 100, seed=64, edit="few-positions"), _run(20, *CM), 1)
    add("refused-bad-position", Data(A, 20, 100, seed=65, edit="bad-position"), _run(20, *BP), 1)
    d = Data(A, 20, 50, seed=66)
    add("refused-e-above-1", d, _run(20, *CM, "-e", "1.5"), 1)
    add("refused-e-negative", d, _run(20, *CM, "-e", "-0.1"), 1)
    add("refused-g101", d, _run(101, *CM), 1)
    add("refused-x-g0", d, _run(0, "-x", *CM), 1)
    add("refused-no-arguments", d, [], 1)
    add("refused-no-positions", d, _run(20, "-of", "0"), 1)
    add("refused-option-at-end", d, _run(20, "-cm"), 1)
    add("refused-only-g1", d, FILES + ["1"] + CM, 1)
    add("refused-missing-strain", d, ["founders.txt", "nostrain.txt", "funnel.txt", "20"] + CM, 1)
    add("refused-missing-positions", d, _run(20, "-cm", "nopositions.txt"), 1)
    return c


GENERATIONS = [3, 4, 5, 6, 7, 8, 10, 12, 20, 30, 60, 100]


def _markers(rng):
    if rng.random() < 0.05:
        return rng.randint(5000, 25000)
    return int(round(10 ** rng.uniform(0, 3.5)))


def _run_generation(rng, kind, simulated):
    if rng.random() < 0.6:
        return simulated
    top = 100 if kind == "auto" else 150
    return min(top, rng.choice([2, 3, 5, 6, simulated + 1, simulated * 2, 100]))


def _options(rng, kind):
    opts = []
    if kind != "auto":
        opts.append("-x")
        sexes = ["M", "m", None] if kind == "xm" else ["F", "f", "w", "female"]
        sex = rng.choice(sexes)
        if sex:
            opts += ["-s", sex]
    if rng.random() < 0.1:  # the last -cm/-bp counts
        opts += rng.choice([["-cm", "nosuchfile.txt"], ["-bp", "nosuchfile.txt"]])
    opts += rng.choice([CM, BP])
    layout = rng.choice([None, "1", "0", "0", "2", "-1"])
    if layout:
        opts += ["-of", layout]
    e = rng.choice([None, None, "0", "1", "0.5", "0.001", "0.05", "1e-12", "0.999"])
    if e:
        if rng.random() < 0.1:  # the last -e counts
            opts += ["-e", "0.3"]
        opts += ["-e", e]
    return opts


def random_cases(n, seed=9):
    rng = random.Random(seed)
    cases = []
    for i in range(n):
        kind = rng.choice(["auto", "auto", "xm", "xf"])
        gen = rng.choice(GENERATIONS)
        markers = _markers(rng)
        data = Data(kind, gen, markers, length=markers / rng.uniform(3, 80) + rng.uniform(0.01, 5),
                    seed=1000 + i, error=rng.choice([0, 0.002, 0.02, 0.1]),
                    missing=rng.choice([0, 0.01, 0.1, 0.5]),
                    founder_missing=rng.choice([0, 0, 0.01, 0.1]),
                    edit=rng.choice([None] * 6 + ["equal", "odd-calls", "compact-founders",
                                                  "corrupt-founder", "short-strain"]))
        run_gen = _run_generation(rng, kind, gen)
        opts = _options(rng, kind)
        args = opts + _run(run_gen) if rng.random() < 0.2 else _run(run_gen, *opts)
        name = "random-%03d-%s-g%d-m%d" % (i, kind, run_gen, markers)
        cases.append(Case(name, data, args))
    return cases


def all_cases(short):
    c = covering_cases()
    return c if short else c + random_cases(180)
