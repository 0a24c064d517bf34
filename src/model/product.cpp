// The transition matrix of one interval applied to a vector factor by
// factor, never formed whole.
//
// The bits of a code change independently, so the matrix of an interval is
// the Kronecker product T = T_1 (x) T_2 (x) ... of one factor per part of
// the code, most significant first: the 2 x 2 factor [[1 - r, r], [r, 1 - r]]
// of each two-state bit and, after three inbreeding generations, the 16 x 16
// pair factor of the low four bits. By the mixed-product identity
// (A (x) B)(C (x) D) = AC (x) BD, T = (T_1 (x) I (x) ...)(I (x) T_2 (x) ...)...,
// so T applied to a vector is each factor applied in turn along its own
// bit: 2 N multiplications per two-state bit and 16 N for the pair factor,
// where the whole matrix would take N^2. The forward pass forms
// out[y] = sum over x of in[x] T(x -> y), the backward pass out[x] = sum
// over y of T(x -> y) in[y]; only the pair factor is not symmetric, so only
// its weights differ between the two (pairFactorWeights).
#include "model.h"
#include "kernels.h"
#include "../driver/driver.h"

// Entry of the nine-value block for each move of the pair factor, [from][to]:
// by the classes at both ends and the number of pair fields that change.
// A value is "same" when both haplotypes sit in the same pair, "split" otherwise.
static constexpr int pairClass(int from, int to)
{
	bool fromSame = (from >> 2) == (from & 3), toSame = (to >> 2) == (to & 3);
	int changed = ((from >> 2) != (to >> 2)) + ((from & 3) != (to & 3));
	if (changed == 0) return fromSame ? 0 : 1;
	if (changed == 1) return fromSame ? 2 : toSame ? 3 : 4;
	return fromSame ? (toSame ? 5 : 6) : (toSame ? 7 : 8);
}

struct PairClasses {
	unsigned char k[16][16];
	unsigned char weight[2][256]; // [forward] entry of w[16 j + i]
	constexpr PairClasses() : k(), weight()
	{
		for (int from = 0; from < 16; ++from)
			for (int to = 0; to < 16; ++to) k[from][to] = (unsigned char)pairClass(from, to);
		for (int j = 0; j < 16; ++j)
			for (int i = 0; i < 16; ++i) {
				weight[1][16 * j + i] = k[j][i];
				weight[0][16 * j + i] = k[i][j];
			}
	}
};
static constexpr PairClasses classes;

double baseMatrix(int from, int to) { return QuaTransProb[currentStep][classes.k[from][to]]; }

const unsigned char* pairFactorClasses(bool forward) { return classes.weight[forward]; }

// Unrolled over a constant table: the nine values are loaded once and
// each weight is one store.
template <bool Forward> static void gatherWeights(const double* block, double* w)
{
	double v[9];
	for (int k = 0; k < 9; ++k) v[k] = block[k];
#pragma GCC unroll 256
	for (int m = 0; m < 256; ++m) w[m] = v[classes.weight[Forward][m]];
}

void pairFactorWeights(const double* block, bool forward, double* w)
{
	if (forward) gatherWeights<true>(block, w);
	else gatherWeights<false>(block, w);
}

// Bottom-up: first every block of the lowest factor (the pair factor's
// blocks of 16, or the two-state leaves), then each two-state level above
// it. Every output sees the same operations, in the same order, as in the
// halving recursion: out[i] = sum_j x[j] w(j, i) per block of 16, and
// a (1 - r) + r b, b (1 - r) + a r per level.
void ElstonIduryScaled(int n, double r, double* in, double divisor, const double* e, double* out,
                       const double* weights)
{
	const Kernels& k = kernels();
	if (n >= 16 && NoOfInbreedingGen >= 4) {
		alignas(32) double w[256];
		if (!weights) pairFactorWeights(QuaTransProb[currentStep], AlphaOrBeta, w);
		k.pairBlocks(in, e, divisor, out, weights ? weights : w, n);
		k.twoStateLevels(out, n, 16, r);
		return;
	}
	if (divisor != 0) k.divideBy(in, n, divisor);
	if (e) {
		k.product(e, in, out, n);
		in = out; // the leaves read each pair before writing it
	}
	k.leafPairs(in, out, n, r);
	k.twoStateLevels(out, n, 2, r);
}

void ElstonIduryCompute(int n, double r, const double* in, int offset, double* out)
{
	// with no divisor and no emissions the input is only read
	ElstonIduryScaled(n, r, const_cast<double*>(in + offset), 0, nullptr, out, nullptr);
}
