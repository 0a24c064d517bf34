// Results output: posterior weights summed into founder-pair (or, for a
// male X, single-founder) probabilities, one line per marker.
#ifndef TARVEL_OUTPUT_H
#define TARVEL_OUTPUT_H

#include <fstream>

// Each returns 0 when the results file cannot be written (message printed,
// no file left behind), 1 otherwise.
int writeOutInferSolution();
int writeOutMaleInferSolution();
int writeOutFemaleInferSolution();

// Shared by the writers
bool openResults(std::ofstream& out);
int closeResults(std::ofstream& out);
// w[q] = beta[q] * alpha[q] * p_y0_to_yt[t] for every state of marker t.
void posteriorWeights(int t, const double* alpha, const double* beta, double* w);
int founderNumber(int position);
int founderPosition(int founderIndex);
int writePairResults(void (*place)(int q, int* row, int* col), bool sumOrientations);

#endif
