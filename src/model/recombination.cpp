// Recombination fractions, the inbreeding tables and the transition values
// built from them.
#include <cmath>
#include <vector>

#include "model.h"
#include "kernels.h"
#include "../driver/driver.h"

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

// X chromosome after more than three inbreeding generations. c is capped
// at 1: over long intervals it would pass 1 and make 1 - c a negative
// "probability".
static double changeChance(double r)
{
	double c = ((1 - exp(NoOfInbreedingGen * (-0.2))) * r) * 3.5;
	return c > 1 ? 1 : c;
}

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
