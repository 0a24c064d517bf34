// Property: on any input TARVEL either completes with a well-formed results
// file (exactly L lines of the layout's entry count, every value finite and
// not negative, autosome and male HAPPY lines summing to 1) or refuses with a
// message on standard output, status 1 and no results file; it never writes
// to standard error and never takes long. Runs the whole program in-process
// on generated inputs: valid ones and (five in six) systematically damaged
// ones, over every option combination and every #Generation from -5 to 120.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "quiet_stdout.h"
#include "results_check.h"

namespace {

struct Input {
	std::string files[4]; // founders, strain, funnel, positions
	bool missing[4] = {false, false, false, false};
	std::vector<std::string> options; // after the three file names
};

class Gen {
public:
	explicit Gen(unsigned seed) : rng(seed) {}
	unsigned below(unsigned n) { return n ? rng() % n : 0; }
	bool chance(unsigned percent) { return below(100) < percent; }
	template <class T> const T& pick(const std::vector<T>& v) { return v[below(v.size())]; }

	// A consistent input of 1 to 40 markers for positions in cM or bp.
	Input valid(bool cm)
	{
		Input in;
		int n = 1 + below(chance(10) ? 300 : 40);
		static const std::vector<std::string> seps = {" ", "\t", ",", "", "  ", ";"};
		double pos = cm ? below(100) : below(200000000);
		for (int t = 0; t < n; ++t) {
			std::string sep = pick(seps), line;
			for (int f = 0; f < 8; ++f)
				line += (f ? sep : "") + std::string(chance(3) ? "-" : "") + char('0' + below(2));
			in.files[0] += line + "\n";
			in.files[1] += std::string(1, "0120N"[below(5)]) + (chance(5) ? " extra text\n" : "\n");
			if (t && !chance(10)) // equal neighbours, small steps and long gaps
				pos += chance(5) ? (cm ? below(5000) : below(50) * 1e6) : below(1000) * (cm ? 0.01 : 1e3);
			std::ostringstream p;
			p.precision(9);
			if (cm) p << pos;
			else p << (long long)pos;
			in.files[3] += p.str() + "\n";
		}
		std::vector<int> funnel = {1, 2, 3, 4, 5, 6, 7, 8};
		std::shuffle(funnel.begin(), funnel.end(), rng);
		for (int f : funnel) in.files[2] += std::to_string(f) + (chance(30) ? "\n" : " ");
		return in;
	}

	// Breaks one thing the way real pipelines do.
	void damage(Input& in)
	{
		static const std::vector<std::string> stray = {"x", "-", "\r", "\t", "\xff", " ", std::string(1, '\0'),
		                                               "#", "e", ".", "+", "9", "-1", "\n", "\n\n"};
		static const std::vector<std::string> huge = {"1e39", "-1e39", "1e300", "inf", "-inf", "nan",
		                                              "99999999999", "0x7fffffff", "-2147483649",
		                                              "2147483648", "0x", "1e-45", "-0", "3.4e38"};
		static const std::vector<std::string> funnels = {"1 2 3 4 5 6 7", "1 1 2 3 4 5 6 7", "0 1 2 3 4 5 6 7",
		                                                 "1 2 3 4 5 6 7 9", "8 7 6 5 4 3 2 -1", "a b c",
		                                                 "1 2 3 4 x 5 6 7 8", "99999999999 1 2 3 4 5 6 7",
		                                                 "1 2 3 4 5 6 7 8 8", "2 1 4 3 6 5 8 7\r\n", "+1 +2 3 4 5 6 7 8", ""};
		std::string& f = in.files[below(4)];
		std::vector<std::string> lines = split(f);
		size_t i = below(lines.size());
		switch (below(13)) {
		case 0: // a truncated line
			if (!lines.empty()) lines[i].resize(below(lines[i].size() + 1));
			break;
		case 1: // an extra column
			if (!lines.empty()) lines[i] += pick(std::vector<std::string>{" 1", " 0 1", ",7", " -"});
			break;
		case 2: // a stray character
			f.insert(below(f.size() + 1), pick(stray));
			return;
		case 3: f.clear(); return;
		case 4: // a huge or odd number
			lines = split(in.files[3]);
			in.files[3] = join(lines, below(lines.size()), pick(huge));
			return;
		case 5: // Windows line ends
			for (std::string& l : lines) l += "\r";
			break;
		case 6: // unsorted positions
			lines = split(in.files[3]);
			i = below(lines.size());
			if (lines.size() > 1) std::swap(lines[i], lines[(i + 1) % lines.size()]);
			in.files[3] = join(lines);
			return;
		case 7: // a line missing, or one too many
			if (chance(50) && !lines.empty()) lines.erase(lines.begin() + i);
			else lines.insert(lines.begin() + i, lines.empty() ? "1" : lines[i]);
			break;
		case 8: in.files[2] = pick(funnels); return;
		case 9: // a first line, or any line, blank or empty
			lines.insert(lines.begin() + (chance(50) ? 0 : i), chance(50) ? "" : "   ");
			break;
		case 10: in.missing[below(4)] = true; return;
		case 11: // a truncated download
			f.resize(below(f.size() + 1));
			return;
		default: // an odd genotype call in the strain
			lines = split(in.files[1]);
			i = below(lines.size());
			if (!lines.empty()) lines[i] = pick(std::vector<std::string>{"n", "3", "A", " ", "-", "\r", "1/1"});
			in.files[1] = join(lines);
			return;
		}
		f = join(lines);
	}

	// Command-line damage: a word dropped or doubled, an option without its
	// value, an empty or extra argument.
	void damageOptions(std::vector<std::string>& o)
	{
		static const std::vector<std::string> extra = {"", "-E", "extra", "-x", "-e", "-of", "-s", "-cm", "--x", "7"};
		size_t i = below(o.size() + 1);
		if (chance(40) && !o.empty()) o.erase(o.begin() + std::min(i, o.size() - 1));
		else o.insert(o.begin() + i, pick(extra));
	}

	std::mt19937 rng;

private:
	static std::vector<std::string> split(const std::string& s)
	{
		std::vector<std::string> out;
		std::istringstream in(s);
		for (std::string l; std::getline(in, l);) out.push_back(l);
		return out;
	}
	static std::string join(std::vector<std::string> lines, size_t replace = SIZE_MAX, const std::string& by = "")
	{
		std::string out;
		for (size_t k = 0; k < lines.size(); ++k) out += (k == replace ? by : lines[k]) + "\n";
		return out;
	}
};

struct Outcome {
	int rc = -1;
	std::string out, err, results, problem;
	double seconds = 0;
};

class RobustnessProperty : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string tmpl = ::testing::TempDir() + "tarvel_robust_XXXXXX";
		ASSERT_NE(mkdtemp(&tmpl[0]), nullptr);
		dir = tmpl;
	}
	void TearDown() override
	{
		for (const char* n : {"f", "s", "n", "p", "s.prob"}) std::remove((dir + "/" + n).c_str());
		rmdir(dir.c_str());
	}

	Outcome run(const Input& in)
	{
		static const char* names[4] = {"f", "s", "n", "p"};
		std::vector<std::string> words = {"TARVEL"};
		for (int k = 0; k < 4; ++k) {
			std::string path = dir + "/" + names[k];
			std::remove(path.c_str());
			if (!in.missing[k]) std::ofstream(path, std::ios::binary) << in.files[k];
			if (k < 3) words.push_back(path);
		}
		for (const std::string& o : in.options) words.push_back(o == "@P" ? dir + "/p" : o);
		std::vector<char*> argv;
		for (std::string& w : words) argv.push_back(&w[0]);
		argv.push_back(nullptr);
		const std::string results = dir + "/s.prob";
		std::remove(results.c_str());

		Outcome o;
		auto start = std::chrono::steady_clock::now();
		::testing::internal::CaptureStderr();
		{
			QuietStdout quiet;
			o.rc = tarvelMain((int)words.size(), argv.data());
			o.out = quiet.text();
		}
		o.err = ::testing::internal::GetCapturedStderr();
		o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		std::ifstream file(results, std::ios::binary);
		if (file) o.results.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
		o.problem = judge(o, bool(file));
		resetModelState();
		return o;
	}

	// What is wrong with the outcome of a run, or "" (reads the model state).
	static std::string judge(const Outcome& o, bool resultsExist)
	{
		if (!o.err.empty()) return "standard error: " + o.err;
		if (o.seconds > 20) return "took " + std::to_string(o.seconds) + " s";
		if (o.rc == 0) return resultsExist ? checkResultsText(o.results) : "status 0 without results";
		if (o.rc != 1) return "status " + std::to_string(o.rc);
		if (resultsExist) return "results file left after a refusal";
		std::string last = o.out.substr(o.out.find_last_of('\n', o.out.size() - 2) + 1);
		for (const char* m : {"Error", "not sorted", "only supports 8 founders", "must be used"})
			if (last.find(m) != std::string::npos) return "";
		return "refused without a message: [" + last + "]";
	}

	std::string dir;
};

std::string describe(const Input& in)
{
	std::string d = "options:";
	for (const std::string& o : in.options) d += " [" + o + "]";
	const char* names[4] = {"founders", "strain", "funnel", "positions"};
	for (int k = 0; k < 4; ++k)
		d += std::string("\n--- ") + names[k] + (in.missing[k] ? " (missing)" : "") + "\n" +
		     in.files[k].substr(0, 600);
	return d;
}

TEST_F(RobustnessProperty, EveryInputCompletesWellFormedOrIsRefused)
{
	Gen g(20240611u);
	static const std::vector<std::vector<std::string>> chromosomes = {{}, {"-x"}, {"-x", "-s", "f"}, {"-x", "-s", "M"}};
	static const std::vector<std::vector<std::string>> layouts = {{}, {"-of", "0"}, {"-of", "1"}, {"-of", "-1"}};
	static const std::vector<std::string> errorRates = {"", "0", "0.001", "0.01", "0.5", "1", "1e-12",
	                                                    "0.9999999", "-0.1", "2", "nan", "abc", "1e-320"};
	int inputs = 0, failures = 0, completed[2] = {0, 0}; // undamaged, damaged
	for (int round = 0; round < 6; ++round) // the first round undamaged
		for (int gen = -5; gen <= 120; ++gen)
			for (int combo = 0; combo < 16; ++combo) {
				bool cm = (combo + gen) % 2 == 0;
				Input in = g.valid(cm);
				std::vector<std::vector<std::string>> groups = {{std::to_string(gen)}, {cm ? "-cm" : "-bp", "@P"},
				                                                chromosomes[combo % 4], layouts[combo / 4]};
				const std::string& e = g.pick(errorRates);
				if (!e.empty()) groups.push_back({"-e", e});
				std::shuffle(groups.begin(), groups.end(), g.rng); // positional and options in any order
				for (auto& words : groups) in.options.insert(in.options.end(), words.begin(), words.end());
				if (round > 0) {
					for (unsigned k = 1 + g.below(3); k > 0; --k) g.damage(in);
					if (g.chance(15)) g.damageOptions(in.options);
				}
				Outcome o = run(in);
				++inputs;
				completed[round > 0] += o.rc == 0;
				if (!o.problem.empty() && ++failures <= 10)
					ADD_FAILURE() << o.problem << "\n" << describe(in) << "\nstdout:\n" << o.out;
			}
	std::printf("[ robustness ] %d inputs, %d failed; completed: %d of 2016 undamaged, %d of %d damaged\n", inputs,
	            failures, completed[0], completed[1], inputs - 2016);
	RecordProperty("inputs", inputs);
	EXPECT_EQ(failures, 0);
	// the generator must reach the inference, not only the refusals
	EXPECT_GT(completed[0], 2016 / 3);
	EXPECT_GT(completed[1], (inputs - 2016) / 12);
}

} // namespace
