// The scaled forward pass. It keeps each marker's scaling factor (and the
// interval tables every pass shares), not the forward rows themselves.
//
// With T_t the transition matrix of interval t and e_t the emission row of
// marker t, the forward row a_t(q) = P(calls 0 .. t, state q at t) follows
// a_t(y) = e_t(y) sum over x of a_{t-1}(x) T_t(x -> y), from a_0 = prior
// times e_0. Each row is divided by its sum c_t = P(call t | calls 0 .. t-1)
// (p_y0_to_yt[t]), so the row kept is P(state q at t | calls 0 .. t) and
// never underflows; the product of the c_t is the likelihood of the calls.
#include <cmath>
#include <iostream>
#include <vector>

#include "block_filler.h"
#include "inference.h"
#include "steps.h"
#include "../driver/driver.h"
#include "../model/kernels.h"
#include "../model/model.h"

// After G generations the two copies descend from one founder with chance
// F[G] (calcF). In the eight-bit coding they do exactly when the pair
// fields agree (the member bits are shared): N / 4 codes, which share F[G]
// equally, while the other 3 N / 4 codes share 1 - F[G]. Up to three
// generations, and on the X, every code starts equally likely.
double prior(int q)
{
	int N = NoOfStates, G = NoOfInbreedingGen;
	if (XChromosome || G <= 3) return 1.0 / N;
	if (((q >> 2) & 3) == (q & 3)) return F[G] / N * 4; // both copies from one pair
	return (1.0 - F[G]) / N * 4 / 3;
}

// One buffer for the matrix of the interval at hand.
static double* matrix(int N)
{
	static std::vector<double> m;
	m.resize((size_t)N * N);
	return m.data();
}

static bool fullMatrix() { return XChromosome && NoOfInbreedingGen > 3; }
static bool pairFactor() { return !XChromosome && NoOfInbreedingGen > 3; }

// The forward product of interval t, before the emissions of marker t.
static void carryAcross(int t, double* previous, double divisor, double* row, const double* weights)
{
	if (pairFactor()) currentStep = t;
	AlphaOrBeta = true;
	ElstonIduryScaled(NoOfStates, interval_r[t], previous, divisor, nullptr, row, weights);
}

void forwardStepScaling(int t, double* previous, double divisor, const double* e, double* row)
{
	int N = NoOfStates;
	double r = interval_r[t];
	if (fullMatrix()) {
		if (divisor != 0) kernels().divideBy(previous, N, divisor);
		TransitionMatrixX(r, matrix(N));
		kernels().denseForward(previous, matrix(N), e, row, N);
		return;
	}
	carryAcross(t, previous, divisor, row, nullptr);
	kernels().multiplyBy(row, e, N);
}

void forwardStep(int t, const double* previous, const double* e, double* row)
{
	forwardStepScaling(t, const_cast<double*>(previous), 0, e, row); // only read
}

void backwardStepScaling(int t, double* next, double divisor, const double* eNext, double* row)
{
	int N = NoOfStates;
	double r = interval_r[t + 1];
	if (fullMatrix()) {
		if (divisor != 0) kernels().divideBy(next, N, divisor);
		TransitionMatrixX(r, matrix(N));
		kernels().denseBackward(next, matrix(N), eNext, row, N);
		return;
	}
	if (pairFactor()) currentStep = t + 1;
	AlphaOrBeta = false;
	ElstonIduryScaled(N, r, next, divisor, eNext, row, nullptr);
}

void backwardStep(int t, const double* next, const double* eNext, double* row)
{
	backwardStepScaling(t, const_cast<double*>(next), 0, eNext, row);
	kernels().divideBy(row, NoOfStates, p_y0_to_yt[t]);
}

// The sum of the row in state order, after it is multiplied by e where e
// is given. The sum is one long chain of additions; the gathering of the
// next interval's weights w from its block (where given) fills its idle
// cycles.
template <bool Multiply, bool Gather>
static double sumRow(double* row, const double* e, const double* block, double* w)
{
	const unsigned char* entry = pairFactorClasses(true);
	double sum = 0;
	for (int q = 0; q < NoOfStates; ++q) {
		if (Multiply) row[q] = e[q] * row[q];
		sum += row[q];
		if (Gather) w[q] = block[entry[q]]; // NoOfStates is 256 where blocks exist
	}
	return sum;
}

// The marker's scaling factor: the row (times e where given) summed in
// state order; the row is divided by it later, as the next step reads it.
// A sum of 0 (or one that is not finite) means no hidden state explains the
// genotypes seen so far.
static int scalingFactor(int t, double* row, const double* e, const double* nextBlock, double* w)
{
	double sum = e ? (nextBlock ? sumRow<true, true>(row, e, nextBlock, w)
	                            : sumRow<true, false>(row, e, nullptr, nullptr))
	               : (nextBlock ? sumRow<false, true>(row, nullptr, nextBlock, w)
	                            : sumRow<false, false>(row, nullptr, nullptr, nullptr));
	p_y0_to_yt[t] = sum;
	if (sum == 0 || !std::isfinite(sum)) {
		std::cout << "Error: no hidden state explains the genotypes at marker " << t
		          << "; try a non-zero error rate (-e).\n";
		return 0;
	}
	return 1;
}

// The fractions, and the room for the pair-factor blocks (filled beside
// the forward pass) where the run has them. They depend on the positions
// alone (the blocks also on the inbreeding depth), so tables left by an
// earlier strain of the same chromosome are kept. True when the blocks are
// still to be filled.
static bool fillIntervalTables()
{
	if (!interval_r) {
		interval_r = new double[L];
		interval_r[0] = 0;
		for (int t = 1; t < L; ++t) interval_r[t] = IntervalRecombination(CMDistance[t - 1], CMDistance[t]);
	}
	if (!pairFactor()) return false; // no other run reads the pair-factor blocks
	if (QuaTransProb && QuaTransGeneration == NoOfInbreedingGen) return false;
	QuaTransGeneration = -1; // until every block is filled
	if (!QuaTransProb) {
		QuaTransProb = new double*[L]();
		if (L >= 2) QuaTransBlocks = new double[9 * (size_t)(L - 1)];
		for (int t = 1; t < L; ++t) QuaTransProb[t] = QuaTransBlocks + 9 * (size_t)(t - 1);
	}
	return L >= 2;
}

void firstForwardRow(const double* e, double* row)
{
	for (int q = 0; q < NoOfStates; ++q) row[q] = prior(q) * e[q];
}

// Blocks of about the square root of the marker count keep the stored rows
// and one block's rows equally small.
static int spacingFor(int markers)
{
	int k = (int)std::ceil(std::sqrt((double)markers));
	return k < 1 ? 1 : k;
}

int computeAlpha()
{
	int N = NoOfStates, K = CheckpointSpacing = spacingFor(L);
	bool filling = fillIntervalTables();
	kernels(); // chosen before the filler's thread uses it
	BlockFiller blocks(interval_r + 1, QuaTransBlocks, filling ? L - 1 : 0);
	p_y0_to_yt = new double[L];
	alphaCheckpoints = new double[(size_t)((L - 1) / K) * N + 1];
	std::vector<double> previous(N), row(N);
	alignas(32) double weights[256]; // of the next interval, in pair-factor runs
	auto nextBlock = [&](int t) -> const double* {
		if (!pairFactor() || t + 1 >= L) return nullptr;
		if (filling) blocks.waitFor(t + 1);
		return QuaTransProb[t + 1];
	};
	firstForwardRow(emissionRowOf(0), row.data());
	if (!scalingFactor(0, row.data(), nullptr, nextBlock(0), weights)) return 0;
	for (int t = 1; t < L; ++t) {
		row.swap(previous);
		const double* e = emissionRowOf(t);
		if (fullMatrix()) {
			forwardStepScaling(t, previous.data(), p_y0_to_yt[t - 1], e, row.data());
			e = nullptr; // already applied
		} else
			carryAcross(t, previous.data(), p_y0_to_yt[t - 1], row.data(), pairFactor() ? weights : nullptr);
		if (t % K == 0) { // previous now holds the final row of the block before t
			double* keep = alphaCheckpoints + (size_t)(t / K - 1) * N;
			for (int q = 0; q < N; ++q) keep[q] = previous[q];
		}
		if (!scalingFactor(t, row.data(), e, nextBlock(t), weights)) return 0;
	}
	if (pairFactor()) QuaTransGeneration = NoOfInbreedingGen; // every block waited for
	return 1;
}
