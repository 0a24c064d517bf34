// Recombination fractions, the inbreeding tables and the transition values
// built from them.
#include <cmath>
#include <vector>

#include "model.h"
#include "kernels.h"
#include "../driver/driver.h"

// Haldane's map function: with crossovers placed as a Poisson process, x
// of them expected over x Morgans, two points are recombined when an odd
// number falls between them: sum over odd k of e^-x x^k / k! = e^-x sinh x
// = (1 - e^-2x) / 2.
double DistanceToRecombination(double x) { return 0.5 * (1 - exp(x * (-2.0))); }

// Haldane map over the interval between two stored marker positions (cM).
// Markers closer than 0.0001 cM (or a distance that is not a number) get
// the fraction of 0.0001 cM, so no interval is ever free of recombination.
double IntervalRecombination(float earlier, float later)
{
	float d = later - earlier;
	if (!(d > 0.0001f)) d = 0.0001f;
	return DistanceToRecombination((double)d * 0.01);
}

// F[g]: the inbreeding coefficient after g generations of full-sibling
// mating, the chance that the strain's two copies at a point descend from
// one and the same founder copy (F[0] = F[1] = 0). The loop sums
// F[g] = sum over k = 2 .. g of (1 + F[g - k]) / 2^k; taking half of the same
// sum for g - 1 away leaves F[g] - F[g - 1] / 2 = (1 + F[g - 2]) / 4, which
// is Wright's recurrence for sibling mating, F[g] = (1 + 2 F[g - 1] +
// F[g - 2]) / 4 (0, 0, 1/4, 3/8, 1/2, 19/32, ... towards 1).
//
// L4[i] and L3[i]: the chances that the four genes of the sibling pair, i
// generations into the inbreeding, trace back to four, or to exactly three,
// different genes of the pair it started from. One generation back each sib
// took one of its father's two genes and one of its mother's. Four
// different genes stay four when the sibs took different genes from both
// parents (1/4) and become three when from one parent only (1/2). Three
// stay three with chance 1/2: where the shared gene sits within one parent,
// the sibs must take different genes from the other; where it is one gene
// of each parent, both unshared genes show in 9/16 of the draws and in 1/16
// they are all that shows, 9/16 - 1/16 = 1/2. Hence L4[i] = L4[i - 1] / 4 and L3[i] = L3[i - 1] / 2
// + L4[i - 1] / 2, from L4[0] = 1 and L3[0] = 0: L4[i] = 4^-i and
// L3[i] = 2^(1 - i) - 2^(1 - 2i).
void calcF()
{
	for (int g = 0; g < FTableSize; ++g) {
		F[g] = 0;
		for (int j = g - 2, c = 0; j >= 0; --j, ++c)
			F[g] = (1 / pow(2.0, c + 2)) * (1 + F[j]) + F[g];
	}
	for (int i = 2; i < LTableSize; ++i) {
		L4[i] = L4[i - 1] * 0.25;
		L3[i] = L3[i - 1] * 0.5 + L4[i - 1] * 0.5;
	}
}

// The pair-factor block of one interval: the batched computation for a
// batch of one.
void calcQuaternaryTransitionProbability(double r, double* out)
{
	calcQuaternaryTransitionProbabilities(&r, out, 1);
}

// X chromosome after more than three inbreeding generations: c is the
// chance that a copy's founder changes across the interval. Each
// generation can add a change where the copies still differ, so c grows
// with G, from 0 towards the limit 3.5 r the model takes. It is capped at
// 1: over long intervals it would pass 1 and make 1 - c a negative
// "probability".
static double changeChance(double r)
{
	double c = ((1 - exp(NoOfInbreedingGen * (-0.2))) * r) * 3.5;
	return c > 1 ? 1 : c;
}

// A male's code is the funnel position of his one X. Fathers pass their X
// to daughters only, so with each cross written mother first, in the funnel
// ((0 x 1) x (2 x 3)) x ((4 x 5) x (6 x 7)) the son of 2 x 3 carries the X
// of 2 alone, the son of 6 x 7 that of 6, and the male of the last cross,
// son of the 4 x 5 daughter, that of 4 or 5: positions 3, 6 and 7 never
// reach the strain. Between the others the X moves with chance c.
// A female's code gives each copy's founder in one bit (bit 0 the first
// copy, bit 1 the second); the two bits change independently, so a move
// has (1 - c)^2, c (1 - c) or c^2 by the bits it changes. The order (first
// 0, second 1) is left out so that the mixed pair is counted once, as
// (1, 0); bits 2 to 5 play no part.
static double transitionFor(double c, int from, int to)
{
	if (Sex) {
		if (from == 3 || from == 6 || from == 7 || to == 3 || to == 6 || to == 7) return 0;
		return from == to ? 1 - c : c;
	}
	int x0 = from & 1, x1 = (from >> 1) & 1, y0 = to & 1, y1 = (to >> 1) & 1;
	if ((x1 && !x0) || (y1 && !y0)) return 0;
	double q = x0 == y0 ? 1 - c : c;
	return x1 == y1 ? (1 - c) * q : c * q;
}

// Which of 0, 1 - c and c each entry of the run's matrix holds: the rule
// of transitionFor, read off it once per state count and sex (with a c
// that keeps the values apart).
struct TransitionKinds {
	std::vector<unsigned char> kind;
	int states = -1;
	bool male = false;
};
static TransitionKinds kinds;

void forgetTransitionKinds() { kinds = TransitionKinds(); }

static const std::vector<unsigned char>& transitionKinds()
{
	int N = NoOfStates;
	if (kinds.states == N && kinds.male == Sex) return kinds.kind;
	kinds.states = N;
	kinds.male = Sex;
	kinds.kind.resize((size_t)N * N);
	for (int from = 0; from < N; ++from)
		for (int to = 0; to < N; ++to) {
			double v = transitionFor(0.25, from, to);
			kinds.kind[from * N + to] =
			    v == 0 ? 0 : v == 0.75 ? 1 : v == 0.25 ? 2 : v == 0.5625 ? 3 : v == 0.1875 ? 4 : 5;
		}
	return kinds.kind;
}

void TransitionMatrixX(double r, double* t)
{
	double c = changeChance(r);
	// the values transitionFor forms from c, in its own operations
	const double value[6] = {0, 1 - c, c, (1 - c) * (1 - c), c * (1 - c), c * c};
	const std::vector<unsigned char>& kind = transitionKinds();
	for (size_t m = 0; m < kind.size(); ++m) t[m] = value[kind[m]];
}

void calcQuaternaryTransitionProbabilities(const double* r, double* out, int n)
{
	kernels().quaternaryBlocks(r, out, n, NoOfInbreedingGen, F, L3, L4);
}
