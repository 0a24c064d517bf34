// The transition matrix of one interval applied factor by factor, checked
// against the same matrix written out in full.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "driver/driver.h"
#include "model/model.h"

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

class ModelProduct : public ::testing::Test {
protected:
	double rows[3][9];
	double* rowPointers[3] = {rows[0], rows[1], rows[2]};

	// Interval 2 carries block entry k = 100 + k; the other rows are NaN
	// so that reading the wrong interval shows up.
	void SetUp() override {
		for (int t = 0; t < 3; ++t)
			for (int k = 0; k < 9; ++k) rows[t][k] = t == 2 ? 100 + k : NaN;
		QuaTransProb = rowPointers;
		currentStep = 2;
	}
	void TearDown() override {
		QuaTransProb = nullptr;
		resetModelState();
	}
	static void coding(bool x, int gen) {
		XChromosome = x;
		NoOfInbreedingGen = gen;
		InfoLength = x ? 2 * gen + 1 : gen >= 4 ? 8 : 6;
	}
	// T(x -> y) in full: 1 - r or r for every two-state bit, times the
	// pair-factor entry of the low four bits when they form one factor.
	static double dense(int x, int y, int bits, double r, bool pairFactor) {
		double t = 1;
		for (int b = pairFactor ? 4 : 0; b < bits; ++b) t *= ((x ^ y) >> b & 1) ? r : 1 - r;
		return pairFactor ? t * baseMatrix(x & 15, y & 15) : t;
	}
	// Random input placed after n NaNs, read through the offset; both
	// orientations against the dense sums.
	static void expectMatchesDense(int bits, double r) {
		bool pairFactor = NoOfInbreedingGen >= 4;
		int n = 1 << bits;
		std::mt19937 rng(bits);
		std::uniform_real_distribution<double> u(0.05, 1.0);
		std::vector<double> buffer(2 * n, NaN);
		const double* in = buffer.data() + n;
		for (int i = n; i < 2 * n; ++i) buffer[i] = u(rng);
		for (bool forward : {true, false}) {
			AlphaOrBeta = forward;
			std::vector<double> out(n + 1, -1.0);
			ElstonIduryCompute(n, r, buffer.data(), n, out.data());
			for (int i = 0; i < n; ++i) {
				double want = 0;
				for (int j = 0; j < n; ++j)
					want += forward ? in[j] * dense(j, i, bits, r, pairFactor)
					                : dense(i, j, bits, r, pairFactor) * in[j];
				ASSERT_NEAR(out[i], want, 1e-13 * want)
				    << (forward ? "forward" : "backward") << " n " << n << " r " << r << " out " << i;
			}
			EXPECT_EQ(out[n], -1.0) << "wrote past the block";
		}
	}
};

TEST_F(ModelProduct, BaseMatrixClassifiesPairFactorMoves) {
	struct { int from, to, entry; } cases[] = {{0, 0, 0}, {0, 5, 5}, {0, 1, 2}, {0, 6, 6}, {1, 0, 3},
	                                           {1, 10, 7}, {1, 1, 1}, {1, 2, 4}, {1, 9, 4}, {1, 4, 8}};
	for (auto c : cases) EXPECT_EQ(baseMatrix(c.from, c.to), 100 + c.entry) << c.from << "->" << c.to;
	currentStep = 1;
	for (int k = 0; k < 9; ++k) rows[1][k] = 200 + k;
	EXPECT_EQ(baseMatrix(1, 4), 208);
}

TEST_F(ModelProduct, BaseMatrixEntriesServeTheirShareOfAllPairs) {
	int count[9] = {};
	for (int from = 0; from < 16; ++from)
		for (int to = 0; to < 16; ++to) {
			double v = baseMatrix(from, to);
			ASSERT_TRUE(v >= 100 && v <= 108 && v == std::floor(v)) << from << "->" << to;
			++count[(int)v - 100];
		}
	const int want[9] = {4, 12, 24, 24, 48, 12, 24, 24, 84};
	for (int k = 0; k < 9; ++k) EXPECT_EQ(count[k], want[k]) << "entry " << k;
}

TEST_F(ModelProduct, TwoStateFactorsMixByRecombination) {
	coding(false, 2);
	double out[4];
	const double one[4] = {1, 0, 0, 0};
	ElstonIduryCompute(2, 0.1, one, 0, out);
	EXPECT_DOUBLE_EQ(out[0], 0.9);
	EXPECT_DOUBLE_EQ(out[1], 0.1);
	const double r = 0.2;
	ElstonIduryCompute(4, r, one, 0, out);
	EXPECT_DOUBLE_EQ(out[0], (1 - r) * (1 - r));
	EXPECT_DOUBLE_EQ(out[1], r * (1 - r));
	EXPECT_DOUBLE_EQ(out[2], r * (1 - r));
	EXPECT_DOUBLE_EQ(out[3], r * r);
}

TEST_F(ModelProduct, UniformVectorStaysUniformWithoutPairFactor) {
	for (int bits : {6, 7}) {
		coding(bits == 7, 3);
		int n = 1 << bits;
		std::vector<double> in(n, 1.0 / n), out(n);
		for (bool forward : {true, false}) {
			AlphaOrBeta = forward;
			ElstonIduryCompute(n, 0.37, in.data(), 0, out.data());
			for (double v : out) EXPECT_NEAR(v, 1.0 / n, 1e-16);
		}
	}
}

TEST_F(ModelProduct, PairFactorOrientationFollowsThePass) {
	coding(false, 4);
	const double r = 0.05, stay4 = std::pow(1 - r, 4);
	std::vector<double> in(256, 0.0), out(256);
	in[1] = 1;
	ElstonIduryCompute(256, r, in.data(), 0, out.data()); // forward: 1 -> 0, split to same
	EXPECT_DOUBLE_EQ(out[0], 103 * stay4);
	AlphaOrBeta = false;
	ElstonIduryCompute(256, r, in.data(), 0, out.data()); // backward: 0 -> 1, same to split
	EXPECT_DOUBLE_EQ(out[0], 102 * stay4);
}

TEST_F(ModelProduct, FactorisedProductEqualsDenseMatrixForEveryCoding) {
	for (double r : {9.999989747377924e-07, 0.07, 0.31, 0.5}) {
		coding(false, 3);
		expectMatchesDense(4, r); // a block of 16 without pair factor
		expectMatchesDense(6, r);
		for (int gen = 0; gen <= 3; ++gen) {
			coding(true, gen);
			expectMatchesDense(2 * gen + 1, r);
		}
		coding(false, 4);
		expectMatchesDense(8, r); // distinct, asymmetric entries 100..108
	}
}

TEST_F(ModelProduct, FactorisedProductEqualsDenseMatrixWithComputedBlocks) {
	calcF();
	for (int gen : {4, 12, 98}) {
		coding(false, gen);
		calcQuaternaryTransitionProbability(0.02, rows[2]);
		expectMatchesDense(8, 0.02);
	}
}

// Results are compared byte for byte: the pair block sums j upwards and
// the halves split on the most significant bit first.
TEST_F(ModelProduct, ProductIsBitExact) {
	calcF();
	coding(false, 10);
	calcQuaternaryTransitionProbability(0.1, rows[2]);
	std::vector<double> in(256), out(256);
	for (int x = 0; x < 256; ++x) in[x] = 1.0 / (x + 1);
	ElstonIduryCompute(256, 0.1, in.data(), 0, out.data());
	EXPECT_EQ(out[0], 1.251743863971895);
	EXPECT_EQ(out[77], 0.05906545030384681);
	EXPECT_EQ(out[255], 0.0320327177503994);
	AlphaOrBeta = false;
	ElstonIduryCompute(256, 0.1, in.data(), 0, out.data());
	EXPECT_EQ(out[0], 0.5691507752677104);
	EXPECT_EQ(out[77], 0.09184902295915594);
	EXPECT_EQ(out[255], 0.011466179220304079);
	coding(false, 2);
	ElstonIduryCompute(64, 0.07, in.data(), 0, out.data());
	EXPECT_EQ(out[0], 0.7115239057916395);
	EXPECT_EQ(out[21], 0.05226376992028318);
	EXPECT_EQ(out[63], 0.017613792439473665);
}

} // namespace
