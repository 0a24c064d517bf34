// The results of a two-copy run (autosome or female X): the posterior of
// every state summed into the 8 x 8 position-pair table, one line per
// marker, made as soon as the marker's rows are known.
#include <algorithm>
#include <string>
#include <vector>

#include "line_pipe.h"
#include "output.h"
#include "results_text.h"
#include "../driver/driver.h"

// One value of a line: cell a, plus cell b when b >= 0, or twice cell a.
struct Entry {
	std::string label; // text before the value
	int a, b;
	bool doubled;
};

struct PairWriter {
	std::vector<int> cellOf;        // state -> 8 row + column
	std::vector<int> statesByCell;  // the states of cell 0, then of cell 1, ..., each ascending
	int cellStart[65];              // cell c's states: statesByCell[cellStart[c] .. cellStart[c + 1])
	int fullest[64];                // the cells, those with the most states first
	std::vector<int> cellsWithRank; // [k]: how many cells have a k-th state (a prefix of fullest)
	std::vector<int> byRank;        // the k-th state of each of those cells, k = 0, 1, ...
	std::vector<Entry> entries;
	std::vector<double> weight;
	char separator;
};

// Cell (r, c) of the table is cell[8 * r + c]. Up to three inbreeding
// generations every cell is written; after that only one orientation of
// each pair (column founder smaller, doubled) and the diagonal.
static void labelledEntries(PairWriter& w)
{
	bool allCells = NoOfInbreedingGen <= 3;
	for (int r = 0; r < 8; ++r)
		for (int c = 0; c < 8; ++c) {
			bool doubled = false;
			if (!allCells) {
				if (founderNumber(c) < founderNumber(r)) doubled = true;
				else if (c != r) continue;
			}
			std::string label = "(" + std::to_string(founderNumber(c)) + "," +
			                    std::to_string(founderNumber(r)) + "),";
			w.entries.push_back({label, 8 * r + c, -1, doubled});
		}
	w.separator = '|';
}

// The 36 founder-number pairs (1,1), (2,1), (2,2), (3,1), ... in founder
// order whatever the funnel order. Off the diagonal either both orientations
// of the pair are summed or the one with the smaller founder in the row is
// doubled.
static void happyEntries(PairWriter& w, bool sumOrientations)
{
	for (int a = 0; a < 8; ++a)
		for (int b = 0; b <= a; ++b) {
			int pa = founderPosition(a), pb = founderPosition(b);
			if (a == b) w.entries.push_back({"", 8 * pa + pa, -1, false});
			else if (sumOrientations) w.entries.push_back({"", 8 * pb + pa, 8 * pa + pb, false});
			else w.entries.push_back({"", 8 * pb + pa, -1, true});
		}
	w.separator = ',';
}

// Cell c of the table: its states' posterior weights summed in ascending
// order, as a pass over all states adding each to its cell does. The
// cells' sums advance side by side, one state of each cell at a time.
static void sumCells(int t, const double* alpha, const double* beta, double* cell, void* context)
{
	PairWriter& w = *(PairWriter*)context;
	posteriorWeights(t, alpha, beta, w.weight.data());
	const double* weight = w.weight.data();
	const int* state = w.byRank.data();
	double sum[64];
	for (int j = 0; j < 64; ++j) sum[j] = 0;
	for (int n : w.cellsWithRank) {
		for (int j = 0; j < n; ++j) sum[j] += weight[state[j]];
		state += n;
	}
	for (int j = 0; j < 64; ++j) cell[w.fullest[j]] = sum[j];
}

static double entryValue(const Entry& e, const double* cell)
{
	return e.b >= 0 ? cell[e.a] + cell[e.b] : e.doubled ? 2 * cell[e.a] : cell[e.a];
}

static void formatLine(const LineRecord& line, ResultsText& text, void* context)
{
	const PairWriter& w = *(const PairWriter*)context;
	appendInt(text, line.t);
	appendChar(text, '|');
	for (const Entry& e : w.entries) {
		appendBytes(text, e.label.data(), e.label.size());
		appendNumber(text, entryValue(e, line.cell));
		appendChar(text, w.separator);
	}
	endLine(text);
}

static int lineValues(const double* cell, double* out, const void* context)
{
	const PairWriter& w = *(const PairWriter*)context;
	int n = 0;
	for (const Entry& e : w.entries) out[n++] = entryValue(e, cell);
	return n;
}

// The states in rank order: first the first state of every cell, fullest
// cells first, then the second state of every cell that has one, and so on.
static void rankStates(PairWriter& w)
{
	auto size = [&](int c) { return w.cellStart[c + 1] - w.cellStart[c]; };
	for (int c = 0; c < 64; ++c) w.fullest[c] = c;
	std::stable_sort(w.fullest, w.fullest + 64, [&](int a, int b) { return size(a) > size(b); });
	for (int k = 0; k < size(w.fullest[0]); ++k) {
		int n = 0;
		while (n < 64 && size(w.fullest[n]) > k) {
			w.byRank.push_back(w.statesByCell[w.cellStart[w.fullest[n]] + k]);
			++n;
		}
		w.cellsWithRank.push_back(n);
	}
}

int writePairResults(void (*place)(int q, int* row, int* col), bool sumOrientations, ResultsSink sink,
                     void* sinkContext)
{
	PairWriter w;
	w.cellOf.resize(NoOfStates > 0 ? NoOfStates : 0);
	for (int q = 0; q < NoOfStates; ++q) {
		int r, c;
		place(q, &r, &c);
		w.cellOf[q] = 8 * r + c;
	}
	w.weight.resize(w.cellOf.size());
	w.cellStart[0] = 0;
	for (int c = 0; c < 64; ++c) {
		for (int q = 0; q < NoOfStates; ++q)
			if (w.cellOf[q] == c) w.statesByCell.push_back(q);
		w.cellStart[c + 1] = (int)w.statesByCell.size();
	}
	rankStates(w);
	if (outputInHAPPYFormat != 1) labelledEntries(w);
	else happyEntries(w, sumOrientations);
	return sink({sumCells, formatLine, lineValues, &w}, sinkContext);
}
