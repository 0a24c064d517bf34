// Probability of the strain's genotype call at every marker given each
// hidden state: agreement or disagreement with the state's founders. A row
// takes two values only, so a marker keeps just which of the 64 funnel
// position pairs agree, and rows are spelled out when a pass needs them.
#include <vector>

#include "inference.h"
#include "../driver/driver.h"
#include "../model/kernels.h"
#include "../model/model.h"

static bool agrees(char g, char a1, char a2)
{
	switch (g) {
	case '0': return a1 == '0' && a2 == '0';
	case '2': return a1 == '1' && a2 == '1';
	case '1': return a1 != a2;
	default: return false;
	}
}

static char founderAt(int position, int t) { return FounderSet[FounderGroup1[position]][t]; }

// Funnel positions (8 first + second) of every state's two copies.
static std::vector<unsigned long long> statePair;

static int pairOf(int q)
{
	if (!XChromosome) return 8 * decodeState(q, true) + decodeState(q, false);
	if (Sex) return 9 * decodeStateX(q, true); // one X: its founder stands for both copies
	return 8 * decodeStateX(q, true) + decodeStateX(q, false);
}

void calcEmissionProb()
{
	statePair.resize(NoOfStates);
	for (int q = 0; q < NoOfStates; ++q) statePair[q] = (unsigned long long)pairOf(q);
	p_y_given_q = new std::uint64_t[L];
	for (int t = 0; t < L; ++t) {
		char g = GenotypeSequence[t], f[8];
		for (int p = 0; p < 8; ++p) f[p] = founderAt(p, t);
		std::uint64_t mask = 0;
		for (int a = 0; a < 8; ++a)
			for (int b = 0; b < 8; ++b)
				if (agrees(g, f[a], f[b])) mask |= std::uint64_t(1) << (8 * a + b);
		p_y_given_q[t] = mask;
	}
}

void emissionRow(int t, double* row)
{
	int n = NoOfStates;
	if (GenotypeSequence[t] == 'N') {
		for (int q = 0; q < n; ++q) row[q] = 1.0f;
		return;
	}
	// Kept as floats: GCC 12 folds a (float) cast away inside a double array.
	float agree = (float)p_y_given_q_value, disagree = (float)(1.0 - p_y_given_q_value);
	kernels().emissionRow(p_y_given_q[t], statePair.data(), agree, disagree, row, n);
}
