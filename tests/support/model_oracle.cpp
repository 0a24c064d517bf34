#include "model_oracle.h"

#include <cmath>

#include "driver/driver.h"
#include "model/model.h"

namespace oracle {

double ProbUnion(const std::vector<double>& p)
{
	int n = (int)p.size();
	if (n == 0) return 0;
	double sum = 0;
	for (int i = 0; i < n - 1; ++i) {
		for (int j = i + 1; j < n - 1; ++j) {
			for (int k = j + 1; k < n; ++k) sum += (p[i] * p[j]) * p[k];
			sum -= p[i] * p[j];
		}
		sum -= p[i] * p[n - 1];
		sum += p[i];
	}
	return sum + p[n - 1];
}

static double clampAtZero(double v) { return v > 0 ? v : 0; }

void calcQuaternaryTransitionProbability(double r, double* out)
{
	int G = NoOfInbreedingGen;
	std::vector<double> s;
	for (int k = G - 1; k >= 0; --k) s.push_back((1 - F[k]) * r);
	double P1 = ProbUnion(s);

	s.clear();
	for (int b = 2; b <= G - 1; ++b) s.push_back(((1 - F[G - 1 - b]) * r) * F[b]);
	double P2 = ProbUnion(s);

	s.clear();
	double R2 = (r + r) - r * r;
	const double W = 0.4444444444444444;
	s.push_back(R2 * L4[G - 1] + (R2 * L3[G - 1]) * W);
	s.push_back((R2 * L4[G - 2]) * 0.5 + ((R2 * L3[G - 2]) * 0.5) * W);
	for (int b = 2; b <= G - 1; ++b) {
		int k = G - 1 - b;
		s.push_back(((2 * (R2 * L4[k])) / 3) * (1 - F[b]) + ((1 - F[b]) * ((2 * (R2 * L3[k])) / 3)) * W);
	}
	double P3 = ProbUnion(s);

	double A = (2 * P1 - 2 * P2 - P3) * 0.5;
	double FG = F[G];
	out[0] = clampAtZero(FG - P2 - A) / FG;
	out[1] = clampAtZero(1 - FG - A - P3) / (1 - FG);
	out[2] = A / FG;
	out[3] = A / (1 - FG);
	out[4] = P3 / (1 - FG);
	out[5] = P2 / FG;
	out[6] = A * A / FG;
	out[7] = A * A / (1 - FG);
	out[8] = A * A / (1 - FG);
}

double TransitionProb(double r, int from, int to)
{
	double c = ((1 - std::exp(NoOfInbreedingGen * (-0.2))) * r) * 3.5;
	if (c > 1) c = 1;
	if (Sex) {
		if (from == 3 || from == 6 || from == 7 || to == 3 || to == 6 || to == 7) return 0;
		return from == to ? 1 - c : c;
	}
	int x0 = from & 1, x1 = (from >> 1) & 1, y0 = to & 1, y1 = (to >> 1) & 1;
	if ((x1 && !x0) || (y1 && !y0)) return 0;
	double q = x0 == y0 ? 1 - c : c;
	return x1 == y1 ? (1 - c) * q : c * q;
}

void ElstonIduryCompute(int n, double r, const double* in, int offset, double* out)
{
	if (n == 16 && NoOfInbreedingGen >= 4) {
		for (int i = 0; i < 16; ++i) {
			out[i] = 0;
			for (int j = 0; j < 16; ++j)
				out[i] = in[offset + j] * (AlphaOrBeta ? baseMatrix(j, i) : baseMatrix(i, j)) + out[i];
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

} // namespace oracle
