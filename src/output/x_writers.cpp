// Results of an X-chromosome run, for a female (two X) or a male (one X).
#include <string>
#include <vector>

#include "line_pipe.h"
#include "output.h"
#include "results_text.h"
#include "../driver/driver.h"
#include "../model/model.h"

// Rows hold the second copy's position and columns the first's, the other
// way round from autosomes, so the first copy's founder is named first.
static void placeFemale(int q, int* row, int* col)
{
	*row = decodeStateX(q, false);
	*col = decodeStateX(q, true);
}

int writeOutFemaleInferSolution(ResultsSink sink, void* sinkContext)
{
	return writePairResults(placeFemale, false, sink, sinkContext);
}

// A male has one X: one cell per funnel position.
struct MaleWriter {
	std::vector<int> cellOf; // state -> funnel position
	std::vector<double> weight;
	int happyCell[36];       // funnel position of a homozygous pair, -1 for the rest
	std::string labels[8];
};

static void sumMaleCells(int t, const double* alpha, const double* beta, double* cell, void* context)
{
	MaleWriter& w = *(MaleWriter*)context;
	for (int p = 0; p < 8; ++p) cell[p] = 0;
	posteriorWeights(t, alpha, beta, w.weight.data());
	for (int q = 0; q < NoOfStates; ++q) cell[w.cellOf[q]] += w.weight[q];
}

static void formatMaleLine(const LineRecord& line, ResultsText& text, void* context)
{
	const MaleWriter& w = *(const MaleWriter*)context;
	const double* cell = line.cell;
	appendInt(text, line.t);
	appendChar(text, '|');
	if (outputInHAPPYFormat != 1)
		for (int p = 0; p < 8; ++p) {
			appendBytes(text, w.labels[p].data(), w.labels[p].size());
			appendNumber(text, cell[p]);
			appendChar(text, '|');
		}
	else
		for (int k = 0; k < 36; ++k) {
			if (w.happyCell[k] >= 0) appendNumber(text, cell[w.happyCell[k]]);
			else appendChar(text, '0');
			appendChar(text, ',');
		}
	endLine(text);
}

// The pairs of two different founders hold 0, which the text writes as "0".
static int maleLineValues(const double* cell, double* out, const void* context)
{
	const MaleWriter& w = *(const MaleWriter*)context;
	if (outputInHAPPYFormat != 1) {
		for (int p = 0; p < 8; ++p) out[p] = cell[p];
		return 8;
	}
	for (int k = 0; k < 36; ++k) out[k] = w.happyCell[k] >= 0 ? cell[w.happyCell[k]] : 0.0;
	return 36;
}

int writeOutMaleInferSolution(ResultsSink sink, void* sinkContext)
{
	MaleWriter w;
	for (int q = 0; q < NoOfStates; ++q) w.cellOf.push_back(decodeStateX(q, true));
	w.weight.resize(w.cellOf.size());
	for (int p = 0; p < 8; ++p) w.labels[p] = "(" + std::to_string(founderNumber(p)) + "),";
	int k = 0;
	for (int a = 0; a < 8; ++a)
		for (int b = 0; b <= a; ++b) w.happyCell[k++] = a == b ? founderPosition(a) : -1;
	return sink({sumMaleCells, formatMaleLine, maleLineValues, &w}, sinkContext);
}
