// Results output: posterior weights summed into founder-pair (or, for a
// male X, single-founder) probabilities, one line per marker.
#ifndef TARVEL_OUTPUT_H
#define TARVEL_OUTPUT_H

#include "line_pipe.h"

// The cells of marker t (into cell) from its forward and backward rows.
typedef void (*CellSummer)(int t, const double* alpha, const double* beta, double* cell, void* context);
// The values a marker's line holds, in the order of its text, from its
// cells (out: room for MaxLineValues); returns how many.
const int MaxLineValues = 64;
typedef int (*LineValues)(const double* cell, double* out, const void* context);

// One writer's way from a marker's rows to its line, context handed to each.
struct ResultsLayout {
	CellSummer cells;
	LineFormatter format;
	LineValues values;
	void* context;
};
// What becomes of a run's lines; returns 0 after a failure, 1 otherwise.
typedef int (*ResultsSink)(const ResultsLayout& layout, void* sinkContext);

// Opens the results file, sweeps the markers (each marker's cells summed as
// the sweep reaches it, its line formatted beside the sweep) and closes the
// file: 0 when it cannot be written (no file left behind). The results file
// is the default sink of the writers.
int writeResults(const ResultsLayout& layout, void* sinkContext = nullptr);

// Each builds its layout for the run's state coding, funnel and
// outputInHAPPYFormat and hands it to sink; returns what sink returns.
int writeOutInferSolution(ResultsSink sink = writeResults, void* sinkContext = nullptr);
int writeOutMaleInferSolution(ResultsSink sink = writeResults, void* sinkContext = nullptr);
int writeOutFemaleInferSolution(ResultsSink sink = writeResults, void* sinkContext = nullptr);

// Shared by the writers
// w[q] = beta[q] * alpha[q] * p_y0_to_yt[t] for every state of marker t.
void posteriorWeights(int t, const double* alpha, const double* beta, double* w);
int founderNumber(int position);
int founderPosition(int founderIndex);
int writePairResults(void (*place)(int q, int* row, int* col), bool sumOrientations, ResultsSink sink,
                     void* sinkContext);

#endif
