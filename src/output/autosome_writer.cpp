// Results of an autosome run.
#include "output.h"
#include "../driver/driver.h"
#include "../model/model.h"

int writeOutInferSolution()
{
	std::ofstream out;
	if (!openResults(out)) return 0;
	double cell[64];
	for (int t = 0; t < L; ++t) {
		out << t << "|";
		for (double& v : cell) v = 0;
		for (int q = 0; q < NoOfStates; ++q) {
			int r = decodeState(q, true);
			int c = decodeState(q, false);
			cell[8 * r + c] += posteriorWeight(t, q);
		}
		if (outputInHAPPYFormat != 1)
			writeLabelledPairs(out, cell);
		else
			writeHappyPairs(out, cell, true);
		out << "\n";
	}
	return closeResults(out);
}
