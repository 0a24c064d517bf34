#include "founder_values.h"

void founderValues(const double* pairs, double* out)
{
	for (int f = 0; f < 8; ++f) out[f] = 0.0;
	double het = 0.0;
	int top = 0;
	// pair k is (a, b), a = 1..8, b = 1..a
	for (int a = 1, k = 0; a <= 8; ++a)
		for (int b = 1; b <= a; ++b, ++k) {
			double v = pairs[k];
			if (a == b) out[a - 1] += v;
			else {
				double half = v / 2;
				out[a - 1] += half;
				out[b - 1] += half;
				het += v;
			}
			if (v > pairs[top]) top = k;
		}
	out[8] = top;
	out[9] = pairs[top];
	out[10] = het;
}
