// The markers in order with their forward and backward rows: the forward
// row is carried along, the backward rows of each block are recomputed,
// last marker first, from the block's stored row. Every row comes out bit
// for bit as the passes computed it.
#include <vector>

#include "inference.h"
#include "steps.h"
#include "../driver/driver.h"
#include "../model/kernels.h"

void sweepMarkers(MarkerVisitor visit, void* context)
{
	int N = NoOfStates, K = CheckpointSpacing;
	bool savedDirection = AlphaOrBeta;
	int savedStep = currentStep;
	std::vector<double> beta((size_t)K * N), alpha(N), previous(N), scratch(N);
	for (int start = 0; start < L; start += K) {
		int end = start + K < L ? start + K : L;
		const double* stored = betaCheckpoints + (size_t)(start / K) * N;
		double* b = beta.data();
		for (int q = 0; q < N; ++q) b[(size_t)(end - 1 - start) * N + q] = stored[q];
		for (int t = end - 2; t >= start; --t)
			backwardStep(t, b + (size_t)(t + 1 - start) * N, emissionRowOf(t + 1),
			             b + (size_t)(t - start) * N, scratch.data());
		for (int t = start; t < end; ++t) {
			const double* et = emissionRowOf(t);
			if (t == 0) firstForwardRow(et, alpha.data());
			else {
				alpha.swap(previous);
				forwardStep(t, previous.data(), et, alpha.data());
			}
			kernels().divideBy(alpha.data(), N, p_y0_to_yt[t]);
			visit(t, alpha.data(), b + (size_t)(t - start) * N, context);
		}
	}
	AlphaOrBeta = savedDirection;
	currentStep = savedStep;
}
