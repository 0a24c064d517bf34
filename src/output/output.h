// Results output: posterior weights summed into founder-pair (or, for a
// male X, single-founder) probabilities, one line per marker.
#ifndef TARVEL_OUTPUT_H
#define TARVEL_OUTPUT_H

#include "line_pipe.h"

// Each returns 0 when the results file cannot be written (message printed,
// no file left behind), 1 otherwise.
int writeOutInferSolution();
int writeOutMaleInferSolution();
int writeOutFemaleInferSolution();

// Shared by the writers
// The cells of marker t (into cell) from its forward and backward rows.
typedef void (*CellSummer)(int t, const double* alpha, const double* beta, double* cell, void* context);
// Opens the results file, sweeps the markers (each marker's cells summed as
// the sweep reaches it, its line formatted beside the sweep, context handed
// to both) and closes the file: 0 when it cannot be written.
int writeResults(CellSummer cells, LineFormatter format, void* context);
// w[q] = beta[q] * alpha[q] * p_y0_to_yt[t] for every state of marker t.
void posteriorWeights(int t, const double* alpha, const double* beta, double* w);
int founderNumber(int position);
int founderPosition(int founderIndex);
int writePairResults(void (*place)(int q, int* row, int* col), bool sumOrientations);

#endif
