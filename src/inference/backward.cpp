// The backward pass, scaled by the forward pass's factors so that
// alpha * beta * p_y0_to_yt is the posterior of each state. It keeps the
// backward row of the last marker of every block of CheckpointSpacing
// markers; sweepMarkers recomputes the rows of a block from it.
#include <cmath>
#include <vector>

#include "inference.h"
#include "steps.h"
#include "../driver/driver.h"
#include "../model/kernels.h"

// Blocks of about the square root of the marker count keep the stored rows
// and one block's rows equally small.
static int spacingFor(int markers)
{
	int k = (int)std::ceil(std::sqrt((double)markers));
	return k < 1 ? 1 : k;
}

static bool endsBlock(int t) { return t == L - 1 || (t + 1) % CheckpointSpacing == 0; }

void computeBeta()
{
	int N = NoOfStates;
	AlphaOrBeta = false;
	CheckpointSpacing = spacingFor(L);
	size_t blocks = (L + CheckpointSpacing - 1) / CheckpointSpacing;
	betaCheckpoints = new double[blocks * N];
	std::vector<double> next(N), row(N);
	for (int q = 0; q < N; ++q) row[q] = 1.0 / p_y0_to_yt[L - 1];
	double pending = 0; // the divisor row still waits for (0: none)
	for (int t = L - 1;; --t) {
		if (endsBlock(t)) {
			if (pending != 0) kernels().divideBy(row.data(), N, pending);
			pending = 0;
			double* keep = betaCheckpoints + (size_t)(t / CheckpointSpacing) * N;
			for (int q = 0; q < N; ++q) keep[q] = row[q];
		}
		if (t == 0) break;
		row.swap(next);
		backwardStepScaling(t - 1, next.data(), pending, emissionRowOf(t), row.data());
		pending = p_y0_to_yt[t - 1];
	}
	if (!XChromosome && NoOfInbreedingGen > 3 && L > 1) currentStep = 1;
}
