// Properties of the inference on strains bred by tools/simulate: the scaled
// forward-backward pass gives a posterior at every marker (forward rows and
// posterior weights sum to 1, and they match an unscaled forward-backward
// over the explicit transition matrices), and the most probable founder pair
// is the true one at nearly every marker of an inbred autosome.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver.h"
#include "inference/inference.h"
#include "model/model.h"
#include "output/output.h"
#include "quiet_stdout.h"

namespace fs = std::filesystem;

namespace {

// Temporary directories, removed when the test process ends.
struct TempDirs {
	std::vector<fs::path> made;
	fs::path make()
	{
		std::string dir = (fs::temp_directory_path() / "tarvel_sim_XXXXXX").string();
		if (!mkdtemp(&dir[0])) return {};
		made.push_back(dir);
		return dir;
	}
	~TempDirs()
	{
		std::error_code ignored;
		for (const fs::path& d : made) fs::remove_all(d, ignored);
	}
} tempDirs;

// A strain bred by the simulator into a fresh directory, once per option set.
fs::path simulated(const std::string& options)
{
	static std::map<std::string, fs::path> made;
	auto it = made.find(options);
	if (it != made.end()) return it->second;
#ifdef TARVEL_SIMULATE
	fs::path dir = tempDirs.make();
	std::string cmd = std::string("\"") + TARVEL_SIMULATE + "\" --out " + dir.string() + " " + options +
	                  " >/dev/null";
	if (dir.empty() || std::system(cmd.c_str()) != 0) return {};
	return made[options] = dir;
#else
	(void)options;
	return {};
#endif
}

// Runs TARVEL in-process on a simulated strain; the model state stays for
// inspection until the next run.
int runOn(const fs::path& dir, const std::string& generation, std::vector<std::string> options)
{
	resetModelState();
	std::vector<std::string> args = {"TARVEL",        (dir / "founders.txt").string(),
	                                 (dir / "strain.txt").string(), (dir / "funnel.txt").string(),
	                                 generation,      "-cm",
	                                 (dir / "positions.txt").string()};
	args.insert(args.end(), options.begin(), options.end());
	std::vector<char*> argv;
	for (std::string& a : args) argv.push_back(&a[0]);
	QuietStdout quiet;
	return tarvelMain((int)argv.size(), argv.data());
}

std::vector<std::string> readLines(const fs::path& file)
{
	std::ifstream in(file);
	std::vector<std::string> lines;
	for (std::string line; std::getline(in, line);) lines.push_back(line);
	return lines;
}

// The 36 values of a HAPPY line, in the order (1,1), (2,1), (2,2), (3,1), ...
std::vector<double> happyValues(const std::string& line)
{
	std::vector<double> v;
	std::istringstream in(line.substr(line.find('|') + 1));
	for (std::string item; std::getline(in, item, ',');) v.push_back(std::stod(item));
	return v;
}

// Every marker's forward and backward rows, as the writers see them.
struct Rows {
	std::vector<std::vector<double>> alpha, beta;
	double posterior(int t, int q) const { return beta[t][q] * alpha[t][q] * p_y0_to_yt[t]; }
};

Rows markerRows()
{
	Rows rows;
	rows.alpha.resize(L);
	rows.beta.resize(L);
	sweepMarkers(
	    [](int t, const double* a, const double* b, void* context) {
		    Rows& r = *(Rows*)context;
		    r.alpha[t].assign(a, a + NoOfStates);
		    r.beta[t].assign(b, b + NoOfStates);
	    },
	    [](int, void*) {}, &rows);
	return rows;
}

std::vector<double> emissions(int t)
{
	std::vector<double> row(NoOfStates);
	emissionRow(t, row.data());
	return row;
}

struct Config {
	const char* name;
	const char* strain; // simulator options
	const char* generation;
	std::vector<std::string> options;
};

const char* kAutosome = "--markers 400 --length 120 --generation 20 --seed 3";
const char* kFemaleX = "--markers 400 --length 80 --generation 20 --x --sex F --seed 3";
const char* kMaleX = "--markers 400 --length 80 --generation 20 --x --sex M --seed 3";

const std::vector<Config> kConfigs = {
    {"autosome_gen3", kAutosome, "3", {}},      {"autosome_gen5", kAutosome, "5", {}},
    {"autosome_gen6", kAutosome, "6", {}},      {"autosome_gen9", kAutosome, "9", {}},
    {"autosome_gen20", kAutosome, "20", {"-of", "0"}},
    {"female_x_gen2", kFemaleX, "2", {"-x", "-s", "F"}},
    {"female_x_gen3", kFemaleX, "3", {"-x", "-s", "F"}},
    {"female_x_gen4", kFemaleX, "4", {"-x", "-s", "F"}},
    {"female_x_gen5", kFemaleX, "5", {"-x", "-s", "F"}},
    {"female_x_gen6", kFemaleX, "6", {"-x", "-s", "F"}},
    {"female_x_gen12", kFemaleX, "12", {"-x", "-s", "F", "-of", "0"}},
    {"male_x_gen2", kMaleX, "2", {"-x"}},       {"male_x_gen3", kMaleX, "3", {"-x"}},
    {"male_x_gen5", kMaleX, "5", {"-x", "-of", "0"}},
    {"male_x_gen6", kMaleX, "6", {"-x"}},       {"male_x_gen12", kMaleX, "12", {"-x"}},
};

class EveryConfiguration : public ::testing::TestWithParam<Config> {
protected:
	void SetUp() override
	{
		dir = simulated(GetParam().strain);
		if (dir.empty()) GTEST_SKIP() << "the simulator is not available";
		ASSERT_EQ(0, runOn(dir, GetParam().generation, GetParam().options));
	}
	fs::path dir;
};

TEST_P(EveryConfiguration, ForwardRowsAndPosteriorWeightsSumToOneAtEveryMarker)
{
	Rows rows = markerRows();
	ASSERT_EQ((size_t)L, rows.alpha.size());
	for (int t = 0; t < L; ++t) {
		double forward = 0, posterior = 0, lowest = 0;
		for (int q = 0; q < NoOfStates; ++q) {
			forward += rows.alpha[t][q];
			posterior += rows.posterior(t, q);
			lowest = std::min(lowest, rows.posterior(t, q));
		}
		ASSERT_NEAR(1.0, forward, 1e-9) << "marker " << t;
		ASSERT_NEAR(1.0, posterior, 1e-9) << "marker " << t;
		ASSERT_GE(lowest, -1e-15) << "marker " << t;
	}
	if (XChromosome || outputInHAPPYFormat != 1) return;
	std::vector<std::string> lines = readLines(dir / "strain.txt.prob");
	ASSERT_EQ((size_t)L, lines.size());
	for (const std::string& line : lines) {
		std::vector<double> v = happyValues(line);
		ASSERT_EQ(36u, v.size()) << line;
		double sum = 0;
		for (double x : v) sum += x;
		ASSERT_NEAR(1.0, sum, 1e-5) << line; // six printed digits per value
	}
}

// T[a][b]: weight of a move from state a at marker t - 1 to b at marker t,
// read off the model's own transition operators one state at a time.
std::vector<std::vector<double>> transitionMatrix(int t)
{
	int n = NoOfStates;
	double r = IntervalRecombination(CMDistance[t - 1], CMDistance[t]);
	std::vector<std::vector<double>> T(n, std::vector<double>(n));
	if (XChromosome && NoOfInbreedingGen > 3) {
		std::vector<double> full(n * n);
		TransitionMatrixX(r, full.data());
		for (int a = 0; a < n; ++a) T[a].assign(full.begin() + a * n, full.begin() + (a + 1) * n);
		return T;
	}
	std::vector<double> unit(n, 0.0);
	for (int a = 0; a < n; ++a) {
		AlphaOrBeta = true;
		currentStep = t;
		unit.assign(n, 0.0);
		unit[a] = 1;
		ElstonIduryCompute(n, r, unit.data(), 0, T[a].data());
	}
	return T;
}

// The smoothing identity without any scaling: posterior(t, q) = f_t(q) b_t(q)
// / sum f_{L-1}, with f and b the plain forward and backward sums in long
// double over the explicit matrices, on the strain's first 12 markers. The
// prior enters through alpha[0].
TEST_P(EveryConfiguration, PosteriorMatchesUnscaledForwardBackward)
{
	const int markers = 12;
	fs::path cut = dir / "first_markers";
	fs::create_directories(cut);
	for (const char* name : {"founders.txt", "strain.txt", "positions.txt"}) {
		std::vector<std::string> lines = readLines(dir / name);
		std::ofstream out(cut / name);
		for (int t = 0; t < markers; ++t) out << lines.at(t) << "\n";
	}
	fs::copy_file(dir / "funnel.txt", cut / "funnel.txt", fs::copy_options::overwrite_existing);
	ASSERT_EQ(0, runOn(cut, GetParam().generation, GetParam().options));
	ASSERT_EQ(markers, L);

	const int n = NoOfStates;
	std::vector<std::vector<std::vector<double>>> T(markers);
	for (int t = 1; t < markers; ++t) T[t] = transitionMatrix(t);
	std::vector<std::vector<long double>> f(markers, std::vector<long double>(n)),
	    b(markers, std::vector<long double>(n, 1.0L));
	Rows rows = markerRows();
	std::vector<std::vector<double>> e(markers);
	for (int t = 0; t < markers; ++t) e[t] = emissions(t);
	for (int q = 0; q < n; ++q) f[0][q] = rows.alpha[0][q];
	for (int t = 1; t < markers; ++t)
		for (int q = 0; q < n; ++q) {
			long double s = 0;
			for (int p = 0; p < n; ++p) s += f[t - 1][p] * T[t][p][q];
			f[t][q] = s * e[t][q];
		}
	for (int t = markers - 2; t >= 0; --t)
		for (int q = 0; q < n; ++q) {
			long double s = 0;
			for (int p = 0; p < n; ++p) s += T[t + 1][q][p] * e[t + 1][p] * b[t + 1][p];
			b[t][q] = s;
		}
	long double total = 0;
	for (int q = 0; q < n; ++q) total += f[markers - 1][q];
	for (int t = 0; t < markers; ++t)
		for (int q = 0; q < n; ++q)
			ASSERT_NEAR((double)(f[t][q] * b[t][q] / total), rows.posterior(t, q), 1e-9)
			    << "marker " << t << ", state " << q;
}

INSTANTIATE_TEST_SUITE_P(Runs, EveryConfiguration, ::testing::ValuesIn(kConfigs),
                         [](const ::testing::TestParamInfo<Config>& info) { return info.param.name; });

// After more than three inbreeding generations an autosome's two copies play
// the same part: the posterior of (first copy a, second b) equals that of
// (b, a), so the labelled layout may write one orientation doubled.
TEST(InbredAutosome, PosteriorIsTheSameForBothOrientationsOfAPair)
{
	fs::path dir = simulated(kAutosome);
	if (dir.empty()) GTEST_SKIP() << "the simulator is not available";
	for (const char* generation : {"6", "9", "20"}) {
		ASSERT_EQ(0, runOn(dir, generation, {}));
		Rows rows = markerRows();
		for (int t = 0; t < L; ++t) {
			double cell[8][8] = {};
			for (int q = 0; q < NoOfStates; ++q)
				cell[decodeState(q, true)][decodeState(q, false)] += rows.posterior(t, q);
			for (int a = 0; a < 8; ++a)
				for (int c = 0; c < a; ++c)
					ASSERT_NEAR(cell[a][c], cell[c][a], 1e-12) << "#Generation " << generation << ", marker " << t;
		}
	}
}

// Fraction of markers whose most probable HAPPY pair is the simulated truth.
double accuracy(const fs::path& dir)
{
	std::vector<std::string> truth = readLines(dir / "truth.txt");
	std::vector<std::string> results = readLines(dir / "strain.txt.prob");
	if (truth.size() != results.size() || truth.empty()) return -1;
	int right = 0;
	for (size_t t = 0; t < truth.size(); ++t) {
		int a, b;
		std::istringstream(truth[t]) >> a >> b;
		if (a < b) std::swap(a, b);
		std::vector<double> v = happyValues(results[t]);
		int best = (int)(std::max_element(v.begin(), v.end()) - v.begin());
		right += best == a * (a - 1) / 2 + (b - 1);
	}
	return (double)right / truth.size();
}

struct Strain {
	const char* name;
	const char* simulate;
	const char* generation;
	std::vector<std::string> options;
};

class SimulatedStrains : public ::testing::TestWithParam<Strain> {};

// Measured on 10 strains of 3000 markers each: 99.7-99.8% for autosomes at
// #Generation 6 to 20 and 99.9% for #Generation 3 and male X chromosomes;
// the misses lie next to crossovers.
TEST_P(SimulatedStrains, MostProbablePairIsTheTrueOneAtNearlyEveryMarker)
{
	fs::path dir = simulated(GetParam().simulate);
	if (dir.empty()) GTEST_SKIP() << "the simulator is not available";
	ASSERT_EQ(0, runOn(dir, GetParam().generation, GetParam().options));
	double share = accuracy(dir);
	std::cout << "[ accuracy ] " << GetParam().name << ": " << share << "\n";
	EXPECT_GE(share, 0.985);
}

INSTANTIATE_TEST_SUITE_P(
    Accuracy, SimulatedStrains,
    ::testing::Values(
        Strain{"autosome_gen6", "--markers 2000 --generation 6 --seed 21", "6", {}},
        Strain{"autosome_gen8", "--markers 2000 --generation 8 --seed 22", "8", {}},
        Strain{"autosome_gen12", "--markers 2000 --generation 12 --seed 23", "12", {}},
        Strain{"autosome_gen20", "--markers 2000 --generation 20 --seed 24", "20", {}},
        Strain{"autosome_gen20_funnel", "--markers 2000 --funnel '3 1 4 2 8 5 7 6' --seed 25", "20", {}},
        Strain{"autosome_gen3", "--markers 2000 --generation 3 --seed 26", "3", {}},
        Strain{"male_x_gen20", "--markers 1500 --length 70 --x --sex M --seed 27", "20", {"-x"}}),
    [](const ::testing::TestParamInfo<Strain>& info) { return info.param.name; });

// The shipped example is a strain simulated at #Generation 20.
TEST(ShippedExample, MostProbablePairIsTheTrueOneAtNearlyEveryMarker)
{
	fs::path example = fs::path(TARVEL_TEST_DATA) / ".." / ".." / "examples" / "autosome";
	fs::path dir = tempDirs.make();
	ASSERT_FALSE(dir.empty());
	for (const char* name : {"founders.txt", "strain.txt", "funnel.txt", "positions.txt", "truth.txt"})
		fs::copy_file(example / name, dir / name);
	ASSERT_EQ(0, runOn(dir, "20", {}));
	EXPECT_EQ(3000, L);
	EXPECT_GE(accuracy(dir), 0.985);
}

// Up to #Generation 5 the model keeps one copy from each half of the funnel,
// so an inbred strain analysed there comes out heterozygous at every marker.
TEST(NotYetInbredModel, InbredStrainComesOutHeterozygousEverywhere)
{
	fs::path dir = simulated("--markers 2000 --generation 20 --seed 24");
	if (dir.empty()) GTEST_SKIP() << "the simulator is not available";
	ASSERT_EQ(0, runOn(dir, "5", {}));
	for (const std::string& line : readLines(dir / "strain.txt.prob")) {
		std::vector<double> v = happyValues(line);
		for (int a = 1; a <= 8; ++a) ASSERT_EQ(0.0, v[a * (a + 1) / 2 - 1]) << line;
	}
}

} // namespace
