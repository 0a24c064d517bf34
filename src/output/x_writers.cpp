// Results of an X-chromosome run, for a female (two X) or a male (one X).
#include "output.h"
#include "../driver/driver.h"
#include "../model/model.h"

// Rows hold the second copy's position and columns the first's, the other
// way round from autosomes, so the first copy's founder is named first.
static void placeFemale(int q, int* row, int* col)
{
	*row = decodeStateX(q, false);
	*col = decodeStateX(q, true);
}

int writeOutFemaleInferSolution() { return writePairResults(placeFemale, false); }

// A male has one X: one cell per funnel position.
int writeOutMaleInferSolution()
{
	std::ofstream out;
	if (!openResults(out)) return 0;
	double cell[8];
	for (int t = 0; t < L; ++t) {
		out << t << "|";
		for (double& v : cell) v = 0;
		for (int q = 0; q < NoOfStates; ++q) cell[decodeStateX(q, true)] += posteriorWeight(t, q);
		if (outputInHAPPYFormat != 1)
			for (int p = 0; p < 8; ++p) out << "(" << founderNumber(p) << ")," << cell[p] << "|";
		else
			for (int a = 0; a < 8; ++a)
				for (int b = 0; b <= a; ++b) {
					if (a == b) out << cell[founderPosition(a)] << ",";
					else out << "0,";
				}
		out << "\n";
	}
	return closeResults(out);
}
