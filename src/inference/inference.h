// HMM inference: the emission masks and the scaled forward and backward
// passes over the markers.
#ifndef TARVEL_INFERENCE_H
#define TARVEL_INFERENCE_H

void calcEmissionProb();
void forgetEmissionRows(); // the rows kept between calls, for resetModelState
int computeAlpha(); // 0 when some marker is explained by no hidden state
void computeBeta();  // sets the backward pass up; sweepMarkers runs it

// Row t of the emission table, p(call at t | state q) for every state, as
// doubles (the single-precision values widened).
void emissionRow(int t, double* row);
// The same row, read in place; it holds until the next call.
const double* emissionRowOf(int t);

// Visits every marker with its normalised forward row and its scaled
// backward row; alpha[q] * beta[q] * p_y0_to_yt[t] is the posterior of
// state q. The markers come in blocks of CheckpointSpacing, the last block
// first and the markers of each block in order; blockDone follows the last
// marker of each block.
typedef void (*MarkerVisitor)(int t, const double* alpha, const double* beta, void* context);
typedef void (*BlockVisitor)(int block, void* context);
void sweepMarkers(MarkerVisitor visit, BlockVisitor blockDone, void* context);

#endif
