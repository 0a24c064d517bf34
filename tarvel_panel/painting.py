"""Painting a chromosome by founder: the most probable founder pair at every
marker, split into the founders of the two chromosome copies, and the runs of
markers that look the same on one copy.

Pairs come in the HAPPY order of founder numbers: (1,1), (2,1), (2,2), (3,1),
..., (8,8); founders here are numbered 0..7.
"""
from dataclasses import dataclass
from typing import List, Sequence, Tuple

FOUNDERS = 8
PAIRS = FOUNDERS * (FOUNDERS + 1) // 2
DEFAULT_THRESHOLD = 0.5


_PAIRS = [(low, high) for high in range(FOUNDERS) for low in range(high + 1)]


def pair_founders(index: int) -> Tuple[int, int]:
    """Founders (lower, higher) of the pair at `index` in HAPPY order."""
    return _PAIRS[index]


def pair_index(a: int, b: int) -> int:
    low, high = min(a, b), max(a, b)
    return high * (high + 1) // 2 + low


def top_pair(values: Sequence[float]) -> int:
    """Index of the largest value; the first one in HAPPY order on a tie."""
    best = 0
    for k in range(1, len(values)):
        if values[k] > values[best]:
            best = k
    return best


@dataclass(frozen=True)
class MarkerPaint:
    copy1: int          # founder of copy 1: the lower founder number of the pair
    copy2: int
    low: bool           # top pair's probability below the threshold
    top: int            # the pair's HAPPY index


def paint_markers(probs: Sequence[Sequence[float]],
                  threshold: float = DEFAULT_THRESHOLD) -> List[MarkerPaint]:
    painted = []
    for values in probs:
        k = top_pair(values)
        low, high = pair_founders(k)
        painted.append(MarkerPaint(low, high, values[k] < threshold, k))
    return painted


@dataclass(frozen=True)
class Segment:
    copy: int           # 1 or 2
    founder: int        # 0..7
    low: bool
    start: float        # position
    end: float
    first: int          # marker indices, inclusive
    last: int


def boundaries(positions: Sequence[float]) -> List[float]:
    """Edges of the stretch each marker stands for.

    A change between two markers is placed halfway between them: where it
    really lies is unknown, and halfway favours neither side. The first and
    last marker stand at the chromosome's ends, since nothing is known beyond
    them.
    """
    inner = [(positions[i] + positions[i + 1]) / 2 for i in range(len(positions) - 1)]
    return [positions[0]] + inner + [positions[-1]]


def copy_segments(positions: Sequence[float], painted: Sequence[MarkerPaint],
                  copy: int) -> List[Segment]:
    """Runs of markers with the same (founder, low confidence) on one copy."""
    if len(positions) != len(painted):
        raise ValueError("one painted marker per position expected")
    if not positions:
        return []
    edges = boundaries(positions)
    look = [((p.copy1 if copy == 1 else p.copy2), p.low) for p in painted]
    segments, first = [], 0
    for i in range(1, len(look) + 1):
        if i == len(look) or look[i] != look[first]:
            founder, low = look[first]
            segments.append(Segment(copy, founder, low, edges[first], edges[i],
                                    first, i - 1))
            first = i
    return segments


def paint(positions: Sequence[float], probs: Sequence[Sequence[float]],
          threshold: float = DEFAULT_THRESHOLD) -> List[Segment]:
    """Segments of copy 1, then of copy 2, along one chromosome."""
    painted = paint_markers(probs, threshold)
    return copy_segments(positions, painted, 1) + copy_segments(positions, painted, 2)


def top_pair_changes(positions: Sequence[float], probs: Sequence[Sequence[float]]) -> List[float]:
    """Positions (halfway between markers) where the most probable pair changes."""
    edges = boundaries(positions) if positions else []
    tops = [top_pair(v) for v in probs]
    return [edges[i] for i in range(1, len(tops)) if tops[i] != tops[i - 1]]


def founder_probs(values: Sequence[float]) -> List[float]:
    """Each founder's share: P(aa) + half of P(ab) over every other b."""
    share = [0.0] * FOUNDERS
    for k, v in enumerate(values):
        a, b = pair_founders(k)
        if a == b:
            share[a] += v
        else:
            share[a] += v / 2
            share[b] += v / 2
    return share
