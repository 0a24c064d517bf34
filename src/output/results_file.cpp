// The results file itself and the parts of its layouts that all writers share.
#include <cstdio>
#include <iostream>

#include "output.h"
#include "../driver/driver.h"

// Text mode: on Windows every "\n" reaches the file as "\r\n".
bool openResults(std::ofstream& out)
{
	out.open(SolutionFileName, std::ios::out | std::ios::trunc);
	if (out) return true;
	std::cout << "Error in opening Solution file for writing:" << SolutionFileName << "\n";
	return false;
}

// A results file that was not written whole is removed: a short file
// would pass for a complete one.
int closeResults(std::ofstream& out)
{
	out.close();
	if (!out.fail()) return 1;
	std::cout << "Error in writing Solution file:" << SolutionFileName << "\n";
	std::remove(SolutionFileName.c_str());
	return 0;
}

double posteriorWeight(int t, int q) { return beta[t][q] * alpha[t][q] * p_y0_to_yt[t]; }

int founderNumber(int position) { return FounderGroup1[position] + 1; }

int founderPosition(int founderIndex)
{
	for (int p = 0; p < 8; ++p)
		if (FounderGroup1[p] == founderIndex) return p;
	return -1; // not reached: main refuses funnels that miss a founder
}

// Cell (r, c) of the 8 x 8 position-pair table is cell[8 * r + c]. Up to
// three inbreeding generations every cell is written; after that only one
// orientation of each pair (column founder smaller, doubled) and the diagonal.
static void writeLabelledPairs(std::ostream& out, const double* cell)
{
	bool allCells = NoOfInbreedingGen <= 3;
	for (int r = 0; r < 8; ++r)
		for (int c = 0; c < 8; ++c) {
			double v = cell[8 * r + c];
			if (!allCells) {
				if (founderNumber(c) < founderNumber(r)) v = 2 * v;
				else if (c != r) continue;
			}
			out << "(" << founderNumber(c) << "," << founderNumber(r) << ")," << v << "|";
		}
}

// The 36 founder-number pairs (1,1), (2,1), (2,2), (3,1), ... in founder
// order whatever the funnel order. Off the diagonal either both orientations
// of the pair are summed or the one with the smaller founder in the row is
// doubled.
static void writeHappyPairs(std::ostream& out, const double* cell, bool sumOrientations)
{
	for (int a = 0; a < 8; ++a)
		for (int b = 0; b <= a; ++b) {
			int pa = founderPosition(a), pb = founderPosition(b);
			if (a == b) out << cell[8 * pa + pa] << ",";
			else if (sumOrientations) out << cell[8 * pb + pa] + cell[8 * pa + pb] << ",";
			else out << 2 * cell[8 * pb + pa] << ",";
		}
}

// Writes the results file of a two-copy run: the posterior of every state
// summed into the 8 x 8 position-pair table, one line per marker.
int writePairResults(void (*place)(int q, int* row, int* col), bool sumOrientations)
{
	std::ofstream out;
	if (!openResults(out)) return 0;
	double cell[64];
	for (int t = 0; t < L; ++t) {
		out << t << "|";
		for (double& v : cell) v = 0;
		for (int q = 0; q < NoOfStates; ++q) {
			int r, c;
			place(q, &r, &c);
			cell[8 * r + c] += posteriorWeight(t, q);
		}
		if (outputInHAPPYFormat != 1) writeLabelledPairs(out, cell);
		else writeHappyPairs(out, cell, sumOrientations);
		out << "\n";
	}
	return closeResults(out);
}
