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
	const Kernels& k = kernels();
	std::vector<double> beta((size_t)K * N), alpha(N), previous(N);
	for (int start = 0; start < L; start += K) {
		int end = start + K < L ? start + K : L;
		const double* stored = betaCheckpoints + (size_t)(start / K) * N;
		double* b = beta.data();
		auto rowOf = [&](int t) { return b + (size_t)(t - start) * N; };
		for (int q = 0; q < N; ++q) rowOf(end - 1)[q] = stored[q];
		double pending = 0; // the divisor the newest row still waits for
		for (int t = end - 2; t >= start; --t) {
			backwardStepScaling(t, rowOf(t + 1), pending, emissionRowOf(t + 1), rowOf(t));
			pending = p_y0_to_yt[t];
		}
		if (pending != 0) k.divideBy(rowOf(start), N, pending);
		// Each forward row is made final by the step that reads it, so
		// marker t - 1 is visited after step t; the block's last row is
		// divided on its own.
		for (int t = start; t < end; ++t) {
			const double* et = emissionRowOf(t);
			if (t == 0) firstForwardRow(et, alpha.data());
			else {
				alpha.swap(previous);
				forwardStepScaling(t, previous.data(), t > start ? p_y0_to_yt[t - 1] : 0, et,
				                   alpha.data());
				if (t > start) visit(t - 1, previous.data(), rowOf(t - 1), context);
			}
		}
		k.divideBy(alpha.data(), N, p_y0_to_yt[end - 1]);
		visit(end - 1, alpha.data(), rowOf(end - 1), context);
	}
	AlphaOrBeta = savedDirection;
	currentStep = savedStep;
}
