// The scaled forward pass.
#include <cmath>
#include <iostream>

#include "inference.h"
#include "../driver/driver.h"
#include "../model/model.h"

static double prior(int q)
{
	int N = NoOfStates, G = NoOfInbreedingGen;
	if (XChromosome || G <= 3) return 1.0 / N;
	if (((q >> 2) & 3) == (q & 3)) return F[G] / N * 4; // both copies from one pair
	return (1.0 - F[G]) / N * 4 / 3;
}

// Divides row t by its sum, which becomes the marker's scaling factor.
// A sum of 0 (or one that is not finite) means no hidden state explains
// the genotypes seen so far.
static int normalise(int t)
{
	double sum = p_y0_to_yt[t];
	if (sum == 0 || !std::isfinite(sum)) {
		std::cout << "Error: no hidden state explains the genotypes at marker " << t
		          << "; try a non-zero error rate (-e).\n";
		return 0;
	}
	for (int q = 0; q < NoOfStates; ++q) alpha[t][q] = alpha[t][q] / sum;
	return 1;
}

// X chromosome after more than three inbreeding generations: the small
// transition matrix is summed in full.
static void carryXForward(int t, double r)
{
	const float* e = p_y_given_q[t];
	for (int q = 0; q < NoOfStates; ++q) {
		alpha[t][q] = 0;
		for (int p = 0; p < NoOfStates; ++p)
			alpha[t][q] += (alpha[t - 1][p] * TransitionProb(r, p, q)) * e[q];
		p_y0_to_yt[t] += alpha[t][q];
	}
}

int computeAlpha()
{
	int N = NoOfStates;
	bool pairFactor = !XChromosome && NoOfInbreedingGen > 3;
	alpha = new double*[L]();
	QuaTransProb = new double*[L]();
	p_y0_to_yt = new double[L];
	alpha[0] = new double[N];
	p_y0_to_yt[0] = 0;
	for (int q = 0; q < N; ++q) {
		alpha[0][q] = prior(q) * p_y_given_q[0][q];
		p_y0_to_yt[0] += alpha[0][q];
	}
	if (!normalise(0)) return 0;
	for (int t = 1; t < L; ++t) {
		double r = IntervalRecombination(CMDistance[t - 1], CMDistance[t]);
		alpha[t] = new double[N];
		p_y0_to_yt[t] = 0;
		if (pairFactor) {
			QuaTransProb[t] = new double[9];
			calcQuaternaryTransitionProbability(r, QuaTransProb[t]);
			currentStep = t;
		}
		if (XChromosome && NoOfInbreedingGen > 3)
			carryXForward(t, r);
		else {
			ElstonIduryCompute(N, r, alpha[t - 1], 0, alpha[t]);
			for (int q = 0; q < N; ++q) {
				alpha[t][q] = p_y_given_q[t][q] * alpha[t][q];
				p_y0_to_yt[t] += alpha[t][q];
			}
		}
		if (!normalise(t)) return 0;
	}
	return 1;
}
