// The transition matrix of one interval applied to a vector factor by
// factor, never formed whole.
#include "model.h"
#include "../driver/driver.h"

// Entry of the interval's pair-factor block for a move of the pair factor
// from one value to another. A value is "same" when both haplotypes sit in
// the same pair, "split" otherwise.
double baseMatrix(int from, int to)
{
	bool fromSame = (from >> 2) == (from & 3), toSame = (to >> 2) == (to & 3);
	int changed = ((from >> 2) != (to >> 2)) + ((from & 3) != (to & 3));
	int k;
	if (changed == 0) k = fromSame ? 0 : 1;
	else if (changed == 1) k = fromSame ? 2 : toSame ? 3 : 4;
	else k = fromSame ? (toSame ? 5 : 6) : (toSame ? 7 : 8);
	return QuaTransProb[currentStep][k];
}

void ElstonIduryCompute(int n, double r, const double* in, int offset, double* out)
{
	if (n == 16 && NoOfInbreedingGen >= 4) {
		for (int i = 0; i < 16; ++i) {
			out[i] = 0;
			for (int j = 0; j < 16; ++j) {
				double w = AlphaOrBeta ? baseMatrix(j, i) : baseMatrix(i, j);
				out[i] = in[offset + j] * w + out[i];
			}
		}
		return;
	}
	if (n == 2) {
		out[0] = (1 - r) * in[offset] + r * in[offset + 1];
		out[1] = r * in[offset] + (1 - r) * in[offset + 1];
		return;
	}
	int h = n / 2;
	ElstonIduryCompute(h, r, in, offset, out);
	ElstonIduryCompute(h, r, in, offset + h, out + h);
	for (int i = 0; i < h; ++i) {
		double a = out[i], b = out[h + i];
		out[i] = a * (1 - r) + r * b;
		out[h + i] = b * (1 - r) + a * r;
	}
}
