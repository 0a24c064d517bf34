// Recombination fractions, the inbreeding tables, the pair-factor block
// of one interval and the X-chromosome transitions after four generations.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "driver/driver.h"
#include "model/model.h"
#include "model_oracle.h"

namespace {

class ModelTransition : public ::testing::Test {
protected:
	void TearDown() override { resetModelState(); }
	static std::vector<double> block(int gen, double r) {
		NoOfInbreedingGen = gen;
		std::vector<double> out(9);
		calcQuaternaryTransitionProbability(r, out.data());
		return out;
	}
	// The run's X matrix after four generations (Sex, NoOfInbreedingGen):
	// [from][to].
	static std::vector<std::vector<double>> xMatrix(double r) {
		NoOfStates = Sex ? 8 : 64;
		std::vector<double> t(NoOfStates * NoOfStates);
		TransitionMatrixX(r, t.data());
		std::vector<std::vector<double>> m(NoOfStates);
		for (int from = 0; from < NoOfStates; ++from)
			m[from].assign(t.begin() + from * NoOfStates, t.begin() + (from + 1) * NoOfStates);
		return m;
	}
	static void expectDigits(const std::vector<double>& got, const std::vector<double>& want) {
		for (size_t k = 0; k < want.size(); ++k)
			EXPECT_NEAR(got[k], want[k], 5e-6 * want[k]) << "entry " << k;
	}
};

TEST_F(ModelTransition, IntervalRecombinationFollowsHaldaneWithAFloorOfOneTenThousandthCM) {
	const double floor = 9.999989747377924e-07;
	EXPECT_EQ(IntervalRecombination(12.5f, 12.5f), floor);
	EXPECT_EQ(IntervalRecombination(12.5f, 12.50005f), floor);
	EXPECT_EQ(IntervalRecombination(3.0f, std::numeric_limits<float>::quiet_NaN()), floor);
	EXPECT_EQ(IntervalRecombination(10.0f, 11.0f), 0.009900663346622374);
	EXPECT_EQ(DistanceToRecombination(0.01), 0.009900663346622374);
	EXPECT_GT(IntervalRecombination(0.0f, 0.001f), floor);
	EXPECT_NEAR(IntervalRecombination(0.0f, 5000.0f), 0.5, 1e-15);
}

TEST_F(ModelTransition, InbreedingCoefficientsFollowFullSibMating) {
	calcF();
	EXPECT_EQ(F[0], 0.0);
	EXPECT_EQ(F[1], 0.0);
	EXPECT_EQ(F[2], 0.25);
	EXPECT_EQ(F[3], 0.375);
	EXPECT_EQ(F[4], 0.5);
	EXPECT_EQ(F[5], 0.59375);
	EXPECT_EQ(F[49], 0.9999638244732942);
	EXPECT_EQ(F[98], 0.9999999988822638);
	for (int g = 2; g <= MaxInbreedingGen; ++g)
		EXPECT_NEAR(F[g], (1 + 2 * F[g - 1] + F[g - 2]) / 4, 1e-15) << "g = " << g;
}

TEST_F(ModelTransition, HaplotypeTablesHalveAndQuarterPerGeneration) {
	calcF();
	EXPECT_EQ(L3[2], 0.375);
	EXPECT_EQ(L3[3], 0.21875);
	for (int i = 0; i < LTableSize; ++i) {
		EXPECT_EQ(L4[i], std::ldexp(1.0, -2 * i)) << "i = " << i;
		double closed = std::ldexp(1.0, 1 - i) - std::ldexp(1.0, 1 - 2 * i);
		EXPECT_NEAR(L3[i], closed, 1e-15 * closed) << "i = " << i;
	}
}

TEST_F(ModelTransition, TablesReachTheDeepestAcceptedGeneration) {
	ASSERT_EQ(FTableSize, 99);
	ASSERT_EQ(LTableSize, 98);
	calcF();
	for (int g = 0; g < FTableSize; ++g) ASSERT_TRUE(std::isfinite(F[g])) << g;
	for (int g = 3; g < FTableSize; ++g) EXPECT_GT(F[g], F[g - 1]) << g;
	EXPECT_GT(1 - F[MaxInbreedingGen], 0.0);
	EXPECT_GT(L4[LTableSize - 1], 0.0);
	EXPECT_GT(L3[LTableSize - 1], 0.0);
	for (int gen = 4; gen <= MaxInbreedingGen; ++gen)
		for (double r : {9.999989747377924e-07, 0.01, 0.2, 0.5})
			for (double v : block(gen, r)) ASSERT_TRUE(std::isfinite(v)) << "G " << gen << " r " << r;
}

// The oracle's union, which the kernels' batched one must match bit for bit
// (FastPaths.BatchedPairFactorBlocksMatchOneAtATime).
TEST_F(ModelTransition, ProbUnionCutsInclusionExclusionAfterThreeEvents) {
	std::vector<double> p;
	EXPECT_EQ(oracle::ProbUnion(p), 0.0);
	p = {0.3};
	EXPECT_EQ(oracle::ProbUnion(p), 0.3);
	p = {0.3, 0.6};
	EXPECT_DOUBLE_EQ(oracle::ProbUnion(p), 0.3 + 0.6 - 0.18);
	p = {0.1, 0.2, 0.3};
	EXPECT_DOUBLE_EQ(oracle::ProbUnion(p), 1 - 0.9 * 0.8 * 0.7);
	EXPECT_EQ(p, (std::vector<double>{0.1, 0.2, 0.3}));
	// the running sum's order is part of the result: summing singles, then
	// pairs, then the triple, or regrouping a triple product, gives 0.892
	p = {0.4, 0.4, 0.7};
	EXPECT_EQ(oracle::ProbUnion(p), 0.8920000000000001);
	p = {0.5, 0.5, 0.5, 0.5};
	EXPECT_EQ(oracle::ProbUnion(p), 1.0); // the true union is 0.9375
}

TEST_F(ModelTransition, PairFactorWorkedBlocksClampOnlyTheStays) {
	calcF();
	expectDigits(block(4, 0.01), {0.950753, 0.928407, 0.0367661, 0.0367661, 0.034827, 0.0124812,
	                              0.000675873, 0.000675873, 0.000675873});
	std::vector<double> b = block(10, 0.1); // 1 - F[G] - A - P3 < 0
	EXPECT_EQ(b[1], 0.0);
	b.erase(b.begin() + 1);
	expectDigits(b, {0.540277, 0.126459, 0.772808, 0.378638, 0.333263, 0.0137431, 0.0839857, 0.0839857});
}

// Every sum and product in its written order: later results are compared
// byte for byte.
TEST_F(ModelTransition, PairFactorBlocksAreBitExact) {
	calcF();
	struct { int gen; double r; double want[9]; } cases[] = {
	    {4, 0.3, {0.0, 0.0, 0.6469476874118378, 0.6469476874118378, 0.7708546251763239,
	              0.35812499999999997, 0.20927065512376253, 0.20927065512376253, 0.20927065512376253}},
	    {30, 0.01, {0.9416130235685736, 0.572641610926949, 0.0007858140085016565, 0.38656114494604527,
	                0.04079724412700578, 0.057601162422924845, 6.162509211367991e-07,
	                0.0003031489119199049, 0.0003031489119199049}},
	    {10, 0.1, {0.5402773779228686, 0.0, 0.12645942671850824, 0.7728076077242171,
	               0.3786382825229937, 0.33326319535862314, 0.013743113489508699,
	               0.0839856935469976, 0.0839856935469976}},
	    {98, 0.02, {0.8862564981228622, 0.0, 2.7625128996426347e-09, 2.4715248601202524,
	                0.08118706218180853, 0.11374349911462489, 7.63147751216198e-18,
	                6.827619300238179e-09, 6.827619300238179e-09}}};
	for (const auto& c : cases) {
		std::vector<double> b = block(c.gen, c.r);
		for (int k = 0; k < 9; ++k) EXPECT_EQ(b[k], c.want[k]) << "G " << c.gen << " entry " << k;
	}
}

TEST_F(ModelTransition, XMaleAfterFourGenerationsNeverEntersCodesThreeSixSeven) {
	NoOfInbreedingGen = 5;
	const double r = 0.013, c = ((1 - std::exp(5 * -0.2)) * r) * 3.5;
	auto T = xMatrix(r);
	for (int a = 0; a < 8; ++a)
		for (int b = 0; b < 8; ++b) {
			bool dead = a == 3 || a == 6 || a == 7 || b == 3 || b == 6 || b == 7;
			EXPECT_EQ(T[a][b], dead ? 0.0 : a == b ? 1 - c : c) << a << "->" << b;
		}
}

TEST_F(ModelTransition, XFemaleAfterFourGenerationsIgnoresHighBits) {
	Sex = false;
	NoOfInbreedingGen = 5;
	const double r = 0.02, c = ((1 - std::exp(5 * -0.2)) * r) * 3.5;
	auto T = xMatrix(r);
	for (int a = 0; a < 64; ++a) {
		EXPECT_EQ(T[a][2], 0.0);
		EXPECT_EQ(T[2 | (a & ~3)][a], 0.0);
		for (int b = 0; b < 64; ++b) EXPECT_EQ(T[a][b], T[b][a]);
	}
	EXPECT_EQ(T[0][4], (1 - c) * (1 - c));
	EXPECT_EQ(T[1][0], (1 - c) * c);
	EXPECT_EQ(T[3][0], c * c);
	EXPECT_EQ(T[63][7], (1 - c) * (1 - c));
}

TEST_F(ModelTransition, XChangeProbabilityIsCappedAtOneOverLongIntervals) {
	NoOfInbreedingGen = 98;
	const double r = 0.45; // 3.5 r (1 - exp(-0.2 G)) > 1
	auto male = xMatrix(r);
	EXPECT_EQ(male[0][0], 0.0);
	EXPECT_EQ(male[0][1], 1.0);
	Sex = false;
	auto T = xMatrix(r);
	for (int a = 0; a < 64; ++a)
		for (int b = 0; b < 64; ++b)
			EXPECT_TRUE(T[a][b] >= 0 && T[a][b] <= 1) << a << "->" << b << " " << T[a][b];
	EXPECT_EQ(T[0][3], 1.0);
}

} // namespace
