// The backward pass, scaled by the forward pass's factors so that
// alpha * beta * p_y0_to_yt is the posterior of each state: with
// b_t(x) = P(calls t+1 .. L-1 | state x at t), the row kept is
// beta_t = b_t / (c_t c_{t+1} ... c_{L-1}), which follows
// beta_t(x) = sum over y of T_{t+1}(x -> y) e_{t+1}(y) beta_{t+1}(y) / c_t
// from beta_{L-1} = 1 / c_{L-1}. The forward row kept is
// alpha_t = a_t / (c_0 ... c_t), so alpha_t beta_t c_t = a_t b_t / (c_0 ...
// c_{L-1}) = P(state q at t | all calls).
#include "inference.h"
#include "../driver/driver.h"

// This only turns the transition product round. The backward rows are
// computed in sweepMarkers (sweep.cpp), which the writers run while they
// write the results: block by block, last block first, beside the forward
// rows recomputed from the stored ones; no row is kept beyond its block.
void computeBeta()
{
	AlphaOrBeta = false;
	if (!XChromosome && NoOfInbreedingGen > 3 && L > 1) currentStep = 1;
}
