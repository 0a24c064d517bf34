// The backward pass with the posterior rows: the blocks of CheckpointSpacing
// markers last first; in each, the backward rows from the row carried over
// from the block after it, last marker first, then the forward rows from
// the block's stored row, and the markers of the block in order. Every row
// comes out bit for bit as whole passes would compute it.
#include <vector>

#include "inference.h"
#include "steps.h"
#include "../driver/driver.h"
#include "../model/kernels.h"

void sweepMarkers(MarkerVisitor visit, BlockVisitor blockDone, void* context)
{
	int N = NoOfStates, K = CheckpointSpacing;
	bool savedDirection = AlphaOrBeta;
	int savedStep = currentStep;
	const Kernels& k = kernels();
	std::vector<double> beta((size_t)K * N), carried(N), alpha(N), previous(N);
	for (int block = (L - 1) / K; block >= 0; --block) {
		int start = block * K, end = start + K < L ? start + K : L;
		auto rowOf = [&](int t) { return beta.data() + (size_t)(t - start) * N; };
		double pending = 0; // the divisor the newest row still waits for
		if (end == L)
			for (int q = 0; q < N; ++q) rowOf(L - 1)[q] = 1.0 / p_y0_to_yt[L - 1];
		else {
			backwardStepScaling(end - 1, carried.data(), 0, emissionRowOf(end), rowOf(end - 1));
			pending = p_y0_to_yt[end - 1];
		}
		for (int t = end - 2; t >= start; --t) {
			backwardStepScaling(t, rowOf(t + 1), pending, emissionRowOf(t + 1), rowOf(t));
			pending = p_y0_to_yt[t];
		}
		if (pending != 0) k.divideBy(rowOf(start), N, pending);
		for (int q = 0; q < N; ++q) carried[q] = rowOf(start)[q];

		// Each forward row is made final by the step that reads it, so
		// marker t - 1 is visited after step t; the block's last row is
		// divided on its own.
		if (start == 0) firstForwardRow(emissionRowOf(0), alpha.data());
		else {
			const double* stored = alphaCheckpoints + (size_t)(block - 1) * N;
			for (int q = 0; q < N; ++q) previous[q] = stored[q];
			forwardStepScaling(start, previous.data(), 0, emissionRowOf(start), alpha.data());
		}
		for (int t = start + 1; t < end; ++t) {
			alpha.swap(previous);
			forwardStepScaling(t, previous.data(), p_y0_to_yt[t - 1], emissionRowOf(t), alpha.data());
			visit(t - 1, previous.data(), rowOf(t - 1), context);
		}
		k.divideBy(alpha.data(), N, p_y0_to_yt[end - 1]);
		visit(end - 1, alpha.data(), rowOf(end - 1), context);
		blockDone(block, context);
	}
	AlphaOrBeta = savedDirection;
	currentStep = savedStep;
}
