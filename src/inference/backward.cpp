// The backward pass, scaled by the forward pass's factors so that
// alpha * beta * p_y0_to_yt is the posterior of each state.
#include <vector>

#include "inference.h"
#include "../driver/driver.h"
#include "../model/model.h"

static void carryXBackward(int t, double r)
{
	const float* e = p_y_given_q[t + 1];
	for (int q = 0; q < NoOfStates; ++q) {
		beta[t][q] = 0;
		for (int p = 0; p < NoOfStates; ++p)
			beta[t][q] += (beta[t + 1][p] * TransitionProb(r, p, q)) * e[p];
		beta[t][q] = beta[t][q] / p_y0_to_yt[t];
	}
}

void computeBeta()
{
	int N = NoOfStates;
	AlphaOrBeta = false;
	beta = new double*[L]();
	beta[L - 1] = new double[N];
	static std::vector<double> scratch; // one buffer for every interval
	scratch.assign(N, 0.0);
	for (int q = 0; q < N; ++q) beta[L - 1][q] = 1.0 / p_y0_to_yt[L - 1];
	for (int t = L - 2; t >= 0; --t) {
		double r = IntervalRecombination(CMDistance[t], CMDistance[t + 1]);
		beta[t] = new double[N];
		if (XChromosome && NoOfInbreedingGen > 3) {
			carryXBackward(t, r);
			continue;
		}
		for (int q = 0; q < N; ++q) scratch[q] = p_y_given_q[t + 1][q] * beta[t + 1][q];
		if (!XChromosome && NoOfInbreedingGen > 3) currentStep = t + 1;
		ElstonIduryCompute(N, r, scratch.data(), 0, beta[t]);
		for (int q = 0; q < N; ++q) beta[t][q] = beta[t][q] / p_y0_to_yt[t];
	}
}
