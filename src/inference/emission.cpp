// Probability of the strain's genotype call at every marker given each
// hidden state: agreement or disagreement with the state's founders.
#include "inference.h"
#include "../driver/driver.h"
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

void calcEmissionProb()
{
	const float agree = (float)p_y_given_q_value;
	const float disagree = (float)(1.0 - p_y_given_q_value);
	p_y_given_q = new float*[L]();
	for (int t = 0; t < L; ++t) {
		float* row = p_y_given_q[t] = new float[NoOfStates];
		char g = GenotypeSequence[t];
		for (int q = 0; q < NoOfStates; ++q) {
			if (g == 'N') {
				row[q] = 1.0f;
				continue;
			}
			char a1, a2;
			if (!XChromosome) {
				a1 = founderAt(decodeState(q, true), t);
				a2 = founderAt(decodeState(q, false), t);
			} else if (Sex) // one X: its founder stands for both copies
				a1 = a2 = founderAt(decodeStateX(q, true), t);
			else {
				a1 = founderAt(decodeStateX(q, true), t);
				a2 = founderAt(decodeStateX(q, false), t);
			}
			row[q] = agrees(g, a1, a2) ? agree : disagree;
		}
	}
}
