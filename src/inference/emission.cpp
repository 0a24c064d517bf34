// Probability of the strain's genotype call at every marker given each
// hidden state: agreement or disagreement with the state's founders. A row
// takes two values only, so a marker keeps just which of the 64 funnel
// position pairs agree, and rows are spelled out when a pass needs them.
#include <vector>

#include "inference.h"
#include "../driver/driver.h"
#include "../model/kernels.h"
#include "../model/model.h"

static char founderAt(int position, int t) { return FounderSet[FounderGroup1[position]][t]; }

// Funnel positions (8 first + second) of every state's two copies.
static std::vector<unsigned long long> statePair;

static int pairOf(int q)
{
	if (!XChromosome) return 8 * decodeState(q, true) + decodeState(q, false);
	if (Sex) return 9 * decodeStateX(q, true); // one X: its founder stands for both copies
	return 8 * decodeStateX(q, true) + decodeStateX(q, false);
}

// Rows already spelled out, by mask: a chromosome has a few hundred
// distinct masks, so most markers find their row here.
struct RowCache {
	static const int Slots = 1024;
	std::vector<double> rows;
	std::vector<std::uint64_t> mask;
	std::vector<bool> filled;
	std::vector<double> missing; // the row of an 'N' call
	int states = -1;
	double agree = 0, disagree = 0;
};
static RowCache cache;

static void resetCache(float agree, float disagree)
{
	int n = NoOfStates;
	cache.states = n;
	cache.agree = agree;
	cache.disagree = disagree;
	cache.rows.assign((size_t)RowCache::Slots * n, 0.0);
	cache.mask.assign(RowCache::Slots, 0);
	cache.filled.assign(RowCache::Slots, false);
	cache.missing.assign(n, 1.0f);
}

// Bits b of the result: funnel positions whose founder carries c.
static unsigned carrying(const char* f, char c)
{
	unsigned bits = 0;
	for (int p = 0; p < 8; ++p) bits |= unsigned(f[p] == c) << p;
	return bits;
}

// Bit 8 a + b set when the call agrees with founders f[a] and f[b]
// ('0' needs two founders with allele 0, '2' two with allele 1, '1' two
// different founder characters; any other call agrees with none).
static std::uint64_t agreementMask(char g, const char* f)
{
	if (g != '0' && g != '1' && g != '2') return 0;
	unsigned zero = carrying(f, '0'), one = carrying(f, '1');
	std::uint64_t mask = 0;
	for (int a = 0; a < 8; ++a) {
		unsigned row;
		if (g == '0') row = (zero >> a) & 1 ? zero : 0;
		else if (g == '2') row = (one >> a) & 1 ? one : 0;
		else row = ~(f[a] == '0' ? zero : f[a] == '1' ? one : carrying(f, f[a])) & 0xffu;
		mask |= std::uint64_t(row) << (8 * a);
	}
	return mask;
}

void forgetEmissionRows()
{
	cache = RowCache();
	statePair.clear();
}

void calcEmissionProb()
{
	cache.states = -1; // a new run: rows of an earlier one no longer hold
	statePair.resize(NoOfStates);
	for (int q = 0; q < NoOfStates; ++q) statePair[q] = (unsigned long long)pairOf(q);
	p_y_given_q = new std::uint64_t[L];
	for (int t = 0; t < L; ++t) {
		char f[8];
		for (int p = 0; p < 8; ++p) f[p] = founderAt(p, t);
		p_y_given_q[t] = agreementMask(GenotypeSequence[t], f);
	}
}

const double* emissionRowOf(int t)
{
	// Kept as floats: GCC 12 folds a (float) cast away inside a double array.
	float agree = (float)p_y_given_q_value, disagree = (float)(1.0 - p_y_given_q_value);
	if (cache.states != NoOfStates || cache.agree != agree || cache.disagree != disagree)
		resetCache(agree, disagree);
	if (GenotypeSequence[t] == 'N') return cache.missing.data();
	std::uint64_t mask = p_y_given_q[t];
	int slot = (int)((mask * 0x9E3779B97F4A7C15ull) >> 54);
	double* row = cache.rows.data() + (size_t)slot * NoOfStates;
	if (!cache.filled[slot] || cache.mask[slot] != mask) {
		kernels().emissionRow(mask, statePair.data(), agree, disagree, row, NoOfStates);
		cache.mask[slot] = mask;
		cache.filled[slot] = true;
	}
	return row;
}

void emissionRow(int t, double* row)
{
	const double* cached = emissionRowOf(t);
	for (int q = 0; q < NoOfStates; ++q) row[q] = cached[q];
}
