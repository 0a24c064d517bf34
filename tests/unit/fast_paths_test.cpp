// The fast paths of the inference give the same bits as the plain
// computations they replace (the oracle of tests/support): the bottom-up
// product against the halving recursion, batched pair-factor blocks against
// one block at a time, the X matrix against the move-by-move rule, the
// AVX2 kernels against the portable ones, emission masks against the
// agreement rule, and the rows recomputed from checkpoints against passes
// that keep every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "inference/inference.h"
#include "inference/steps.h"
#include "model/kernels.h"
#include "model/model.h"
#include "model_oracle.h"
#include "quiet_stdout.h"

namespace {

std::vector<const Kernels*> kernelSets()
{
	std::vector<const Kernels*> sets = {&portableKernels()};
	if (avx2Kernels()) sets.push_back(avx2Kernels());
	return sets;
}

bool sameBits(const double* a, const double* b, int n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

class FastPaths : public ::testing::Test {
protected:
	void TearDown() override
	{
		selectKernels(nullptr);
		resetModelState();
	}
};

TEST_F(FastPaths, BottomUpProductMatchesTheRecursionOnEveryCoding)
{
	std::mt19937 rng(7);
	std::uniform_real_distribution<double> u(0.0, 1.0);
	double block[9];
	double* rows[2] = {block, block};
	QuaTransProb = rows;
	currentStep = 1;
	calcF();
	struct Coding { bool x; int gen, states; };
	const Coding codings[] = {{false, 0, 64}, {false, 3, 64}, {false, 4, 256}, {false, 20, 256},
	                          {true, 0, 2},   {true, 1, 8},   {true, 2, 32},  {true, 3, 128},
	                          {false, 4, 4},  {false, 4, 16}};
	for (const Kernels* set : kernelSets()) {
		selectKernels(set);
		for (const Coding& c : codings) {
			XChromosome = c.x;
			NoOfInbreedingGen = c.gen;
			for (double r : {9.999989747377924e-07, 0.013, 0.31, 0.5}) {
				if (c.gen >= 4) calcQuaternaryTransitionProbability(r, block);
				std::vector<double> in(c.states), want(c.states), got(c.states);
				for (double& v : in) v = u(rng) * (u(rng) < 0.1 ? 1e-300 : 1);
				for (bool forward : {true, false}) {
					AlphaOrBeta = forward;
					oracle::ElstonIduryCompute(c.states, r, in.data(), 0, want.data());
					ElstonIduryCompute(c.states, r, in.data(), 0, got.data());
					EXPECT_TRUE(sameBits(want.data(), got.data(), c.states))
					    << set->name << ", " << c.states << " states, generation " << c.gen << ", r " << r;
				}
			}
		}
	}
	QuaTransProb = nullptr; // the blocks above are not the run's to free
}

TEST_F(FastPaths, BatchedPairFactorBlocksMatchOneAtATime)
{
	calcF();
	std::vector<double> r = {9.999989747377924e-07, 1e-4, 0.003, 0.02, 0.1, 0.25, 0.4, 0.5};
	for (int i = 0; i < 29; ++i) r.push_back(0.5 * i / 29.0); // not a multiple of any batch
	for (const Kernels* set : kernelSets()) {
		selectKernels(set);
		for (int gen = 4; gen <= MaxInbreedingGen; gen += gen < 12 ? 1 : 17) {
			NoOfInbreedingGen = gen;
			std::vector<double> batch(9 * r.size());
			calcQuaternaryTransitionProbabilities(r.data(), batch.data(), (int)r.size());
			for (size_t i = 0; i < r.size(); ++i) {
				double one[9];
				oracle::calcQuaternaryTransitionProbability(r[i], one);
				ASSERT_TRUE(sameBits(one, &batch[9 * i], 9)) << set->name << ", generation " << gen << ", r " << r[i];
			}
		}
	}
}

TEST_F(FastPaths, XTransitionMatrixHoldsTransitionProb)
{
	NoOfInbreedingGen = 18;
	for (bool male : {true, false}) {
		Sex = male;
		NoOfStates = male ? 8 : 64;
		for (double r : {0.001, 0.2, 0.45}) {
			std::vector<double> t(NoOfStates * NoOfStates);
			TransitionMatrixX(r, t.data());
			for (int from = 0; from < NoOfStates; ++from)
				for (int to = 0; to < NoOfStates; ++to)
					ASSERT_EQ(oracle::TransitionProb(r, from, to), t[from * NoOfStates + to]) << from << "->" << to;
		}
	}
}

// Every state's emission against the rule: '0' and '2' need both founders
// to carry that allele, '1' two different founder characters, other calls
// never agree, 'N' is 1 everywhere.
TEST_F(FastPaths, EmissionRowsFollowTheAgreementRule)
{
	const char founders[] = "01-";
	const char calls[] = "012Nx";
	struct Run { bool x, male; int gen, states, info; };
	const Run runs[] = {{false, true, 2, 64, 6}, {false, true, 18, 256, 8}, {true, true, 3, 128, 7},
	                    {true, false, 3, 128, 7}, {true, true, 18, 8, -1},  {true, false, 18, 64, -1}};
	std::mt19937 rng(3);
	for (const Run& run : runs) {
		resetModelState();
		XChromosome = run.x, Sex = run.male, NoOfInbreedingGen = run.gen, NoOfStates = run.states;
		InfoLength = run.info;
		L = 40;
		p_y_given_q_value = 0.99;
		FounderSet = new std::vector<char>[8];
		GenotypeSequence = new char[L];
		for (int f = 0; f < 8; ++f) FounderGroup1.push_back((f + 3) % 8);
		for (int t = 0; t < L; ++t) {
			GenotypeSequence[t] = calls[t % 5];
			for (int f = 0; f < 8; ++f) FounderSet[f].push_back(founders[rng() % 3]);
		}
		calcEmissionProb();
		std::vector<double> row(NoOfStates);
		for (int t = 0; t < L; ++t) {
			emissionRow(t, row.data());
			char g = GenotypeSequence[t];
			for (int q = 0; q < NoOfStates; ++q) {
				int p1 = run.x ? decodeStateX(q, true) : decodeState(q, true);
				int p2 = !run.x ? decodeState(q, false) : run.male ? p1 : decodeStateX(q, false);
				char a1 = FounderSet[FounderGroup1[p1]][t], a2 = FounderSet[FounderGroup1[p2]][t];
				bool agree = g == '0' ? a1 == '0' && a2 == '0' : g == '2' ? a1 == '1' && a2 == '1' : g == '1' && a1 != a2;
				float want = g == 'N' ? 1.0f : agree ? (float)0.99 : (float)(1.0 - 0.99);
				ASSERT_EQ((double)want, row[q]) << "marker " << t << ", state " << q;
			}
		}
	}
}

// A run of L markers on a random strain, then every row the sweep hands out
// against passes that keep all rows: bit for bit, on both sides of every
// block boundary (blocks of about sqrt(L) markers).
void expectSweepMatchesFullPasses(int markers, bool x, bool male, int gen, int states, int info)
{
	resetModelState();
	XChromosome = x, Sex = male, NoOfInbreedingGen = gen, NoOfStates = states, InfoLength = info;
	L = markers;
	FounderSet = new std::vector<char>[8];
	GenotypeSequence = new char[L];
	CMDistance = new float[L];
	std::mt19937 rng(markers);
	for (int f = 0; f < 8; ++f) FounderGroup1.push_back(f);
	for (int t = 0; t < L; ++t) {
		GenotypeSequence[t] = "0122N"[rng() % 5];
		CMDistance[t] = t * 0.37f;
		for (int f = 0; f < 8; ++f) FounderSet[f].push_back("01"[rng() % 2]);
	}
	calcEmissionProb();
	if (!x && gen > 3) calcF();
	ASSERT_EQ(1, computeAlpha());
	computeBeta();

	int N = NoOfStates;
	std::vector<std::vector<double>> alpha(L, std::vector<double>(N)), beta(L, std::vector<double>(N));
	std::vector<double> e(N);
	emissionRow(0, e.data());
	firstForwardRow(e.data(), alpha[0].data());
	kernels().divideBy(alpha[0].data(), N, p_y0_to_yt[0]);
	for (int t = 1; t < L; ++t) {
		emissionRow(t, e.data());
		forwardStep(t, alpha[t - 1].data(), e.data(), alpha[t].data());
		kernels().divideBy(alpha[t].data(), N, p_y0_to_yt[t]);
	}
	for (int q = 0; q < N; ++q) beta[L - 1][q] = 1.0 / p_y0_to_yt[L - 1];
	for (int t = L - 2; t >= 0; --t) {
		emissionRow(t + 1, e.data());
		backwardStep(t, beta[t + 1].data(), e.data(), beta[t].data());
	}
	struct Seen {
		const std::vector<std::vector<double>>*alpha, *beta;
		std::vector<int> order; // markers visited, -1 - block after each block
	} seen = {&alpha, &beta, {}};
	sweepMarkers(
	    [](int t, const double* a, const double* b, void* context) {
		    Seen& s = *(Seen*)context;
		    s.order.push_back(t);
		    ASSERT_TRUE(sameBits((*s.alpha)[t].data(), a, NoOfStates)) << "forward row " << t;
		    ASSERT_TRUE(sameBits((*s.beta)[t].data(), b, NoOfStates)) << "backward row " << t;
	    },
	    [](int block, void* context) { ((Seen*)context)->order.push_back(-1 - block); }, &seen);
	// the last block first, the markers of each in order
	std::vector<int> expected;
	int K = CheckpointSpacing;
	for (int block = (L - 1) / K; block >= 0; --block) {
		for (int t = block * K; t < std::min(L, block * K + K); ++t) expected.push_back(t);
		expected.push_back(-1 - block);
	}
	EXPECT_EQ(expected, seen.order);
}

TEST_F(FastPaths, RowsRecomputedFromCheckpointsEqualTheFullPasses)
{
	for (int markers : {1, 2, 3, 15, 16, 17, 50})
		expectSweepMatchesFullPasses(markers, false, true, 18, 256, 8);
	expectSweepMatchesFullPasses(26, false, true, 2, 64, 6);
	expectSweepMatchesFullPasses(26, true, true, 3, 128, 7);
	expectSweepMatchesFullPasses(26, true, true, 18, 8, -1);
	expectSweepMatchesFullPasses(26, true, false, 18, 64, -1);
}

// The shipped examples run whole with each kernel set: the same bytes.
std::string resultsWith(const Kernels* set, const std::string& dir, std::vector<std::string> extra)
{
	resetModelState();
	selectKernels(set);
	std::string out = (std::filesystem::temp_directory_path() / "tarvel_kernels_strain.txt").string();
	std::filesystem::copy_file(dir + "/strain.txt", out, std::filesystem::copy_options::overwrite_existing);
	std::vector<std::string> args = {"TARVEL", dir + "/founders.txt", out, dir + "/funnel.txt", "20",
	                                 "-cm", dir + "/positions.txt"};
	args.insert(args.end(), extra.begin(), extra.end());
	std::vector<char*> argv;
	for (std::string& a : args) argv.push_back(&a[0]);
	QuietStdout quiet;
	int rc = tarvelMain((int)argv.size(), argv.data());
	std::ifstream in(out + ".prob", std::ios::binary);
	std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	std::filesystem::remove(out);
	std::filesystem::remove(out + ".prob");
	return std::to_string(rc) + "\n" + quiet.text() + bytes;
}

TEST_F(FastPaths, KernelSetsWriteTheSameResults)
{
	if (!avx2Kernels()) GTEST_SKIP() << "this CPU has no AVX2";
	std::string examples = std::string(TARVEL_TEST_DATA) + "/../../examples";
	struct Case { std::string dir; std::vector<std::string> options; };
	const Case cases[] = {{"/autosome", {}}, {"/autosome", {"-of", "0", "-e", "0.02"}},
	                      {"/x/male", {"-x"}}, {"/x/female", {"-x", "-s", "F"}}};
	for (const Case& c : cases) {
		std::string portable = resultsWith(&portableKernels(), examples + c.dir, c.options);
		EXPECT_GT(portable.size(), 100000u) << c.dir;
		EXPECT_TRUE(portable == resultsWith(avx2Kernels(), examples + c.dir, c.options)) << c.dir;
	}
}

} // namespace
