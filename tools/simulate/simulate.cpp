// tarvel_simulate: breeds one recombinant inbred strain from eight founders
// through the funnel and brother-sister inbreeding, for one chromosome, and
// writes the four input files of TARVEL plus the true founder origin of the
// strain's two chromosome copies at every marker.
//
// Breeding: generation 1 crosses the founders at funnel positions 1x2, 3x4,
// 5x6 and 7x8 (dam first, sire second), generation 2 crosses the daughter of
// 1x2 with the son of 3x4 and the daughter of 5x6 with the son of 7x8,
// generation 3 is a brother and a sister from the cross of those two, and
// every later generation is a brother and a sister from the previous pair.
// Crossovers follow the Haldane model (a Poisson process of one crossover per
// Morgan). On the X chromosome a son gets his one X from his mother and a
// daughter gets her father's X unchanged.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The Mersenne Twister's output is fixed by the standard; the conversions
// below are our own, so a seed gives the same strain with any library.
struct Rng {
	std::mt19937_64 engine;
	explicit Rng(uint64_t seed) : engine(seed) {}
	double uniform() { return (double)(engine() >> 11) * 0x1.0p-53; } // [0, 1)
	int below(int n) { return (int)(uniform() * n); }
};

// A chromosome copy as segments: from `start` (cM) up to the next segment's
// start, the copy descends from the founder at funnel position `position`.
struct Segment {
	double start;
	int position;
};
using Copy = std::vector<Segment>;

struct Animal {
	Copy maternal, paternal; // a male's X has no paternal copy
	bool male;
};

struct Options {
	std::string out = ".";
	std::string positionsFile;
	std::string foundersFile; // founder genotypes to breed from instead of drawing them
	int markers = 3000;
	double length = 100;
	int generation = 20;
	uint64_t seed = 1;
	bool x = false;
	bool male = false;
	double error = 0.002;
	double missing = 0.01;
	double founderMissing = 0;
	std::vector<int> funnel; // founder numbers at funnel positions; empty = random
};

void append(Copy& out, double start, int position)
{
	if (out.empty() || out.back().position != position) out.push_back({start, position});
}

// Appends the part of `src` that lies in [from, to).
void copyRange(const Copy& src, double from, double to, Copy& out)
{
	for (size_t i = 0; i < src.size(); ++i) {
		double end = i + 1 < src.size() ? src[i + 1].start : INFINITY;
		if (end <= from || src[i].start >= to) continue;
		append(out, std::max(src[i].start, from), src[i].position);
	}
}

// One meiosis: a random starting copy, crossovers at the points of a
// Poisson process with rate 1 per 100 cM.
Copy meiosis(const Copy& a, const Copy& b, double length, Rng& rng)
{
	std::vector<double> cuts;
	for (double pos = 0;;) {
		pos += -std::log(1 - rng.uniform()) * 100;
		if (pos >= length) break;
		cuts.push_back(pos);
	}
	bool fromA = rng.uniform() < 0.5;
	Copy out;
	double from = 0;
	for (size_t i = 0; i <= cuts.size(); ++i) {
		double to = i < cuts.size() ? cuts[i] : INFINITY;
		copyRange(fromA ? a : b, from, to, out);
		fromA = !fromA;
		from = to;
	}
	return out;
}

// What a parent passes on. A father passes his X unchanged.
Copy gamete(const Animal& parent, bool xChrom, double length, Rng& rng)
{
	if (xChrom && parent.male) return parent.maternal;
	return meiosis(parent.maternal, parent.paternal, length, rng);
}

Animal cross(const Animal& dam, const Animal& sire, bool male, bool xChrom, double length,
             Rng& rng)
{
	Animal child;
	child.male = male;
	child.maternal = gamete(dam, xChrom, length, rng);
	if (!(xChrom && male)) child.paternal = gamete(sire, xChrom, length, rng);
	return child;
}

Animal founder(int position, bool male, bool xChrom)
{
	Animal f;
	f.male = male;
	f.maternal = {{0, position}};
	if (!(xChrom && male)) f.paternal = {{0, position}};
	return f;
}

Animal breed(const Options& o, double length, Rng& rng)
{
	auto child = [&](const Animal& dam, const Animal& sire, bool male) {
		return cross(dam, sire, male, o.x, length, rng);
	};
	Animal f[8];
	for (int k = 0; k < 8; ++k) f[k] = founder(k, k % 2 == 1, o.x);
	Animal d01 = child(f[0], f[1], false), s23 = child(f[2], f[3], true);
	Animal d45 = child(f[4], f[5], false), s67 = child(f[6], f[7], true);
	Animal d0123 = child(d01, s23, false), s4567 = child(d45, s67, true);
	Animal sister = child(d0123, s4567, false), brother = child(d0123, s4567, true);
	for (int g = 4; g <= o.generation; ++g) {
		Animal s = child(sister, brother, false), b = child(sister, brother, true);
		sister = s;
		brother = b;
	}
	return o.male ? brother : sister;
}

int positionAt(const Copy& c, double pos)
{
	int p = c.front().position;
	for (const Segment& s : c)
		if (s.start <= pos) p = s.position;
	return p;
}

[[noreturn]] void usage(const std::string& why)
{
	if (!why.empty()) std::cerr << "tarvel_simulate: " << why << "\n";
	std::cerr << "usage: tarvel_simulate [--out DIR] [--markers N] [--length CM] [--positions FILE]\n"
	             "       [--generation N] [--seed N] [--x] [--sex M|F] [--error RATE]\n"
	             "       [--missing RATE] [--founder-missing RATE] [--funnel \"3 1 4 2 8 5 7 6\"]\n"
	             "       [--founders FILE]\n";
	std::exit(2);
}

Options parse(int argc, char** argv)
{
	Options o;
	for (int i = 1; i < argc; ++i) {
		std::string a = argv[i];
		if (a == "--x") {
			o.x = true;
			continue;
		}
		if (a == "--help" || a == "-h") usage("");
		if (i + 1 >= argc) usage("missing value after " + a);
		std::string v = argv[++i];
		char* end = nullptr;
		double num = std::strtod(v.c_str(), &end);
		bool isNum = end != v.c_str() && *end == '\0';
		if (a == "--out") o.out = v;
		else if (a == "--positions") o.positionsFile = v;
		else if (a == "--founders") o.foundersFile = v;
		else if (a == "--sex") o.male = v == "M" || v == "m";
		else if (a == "--funnel") {
			std::istringstream in(v);
			for (int n; in >> n;) o.funnel.push_back(n);
			std::vector<int> sorted = o.funnel;
			std::sort(sorted.begin(), sorted.end());
			if (sorted != std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8})
				usage("--funnel needs the numbers 1 to 8, each once");
		} else if (!isNum) usage("bad value for " + a + ": " + v);
		else if (a == "--markers") o.markers = (int)num;
		else if (a == "--length") o.length = num;
		else if (a == "--generation") o.generation = (int)num;
		else if (a == "--seed") o.seed = (uint64_t)num;
		else if (a == "--error") o.error = num;
		else if (a == "--missing") o.missing = num;
		else if (a == "--founder-missing") o.founderMissing = num;
		else usage("unknown option " + a);
	}
	if (o.generation < 3) usage("--generation must be 3 or more (3 = the funnel's last cross)");
	if (o.markers < 1 || o.length <= 0) usage("--markers and --length must be positive");
	return o;
}

std::ofstream create(const Options& o, const char* name)
{
	std::ofstream f(std::filesystem::path(o.out) / name);
	if (!f) {
		std::cerr << "tarvel_simulate: cannot write " << o.out << "/" << name << "\n";
		std::exit(1);
	}
	return f;
}

// Marker positions: read from a file, or spread evenly with jitter over the
// chromosome. Written with four decimals and used as written.
std::vector<double> markerPositions(const Options& o, Rng& rng)
{
	std::vector<double> pos;
	if (!o.positionsFile.empty()) {
		std::ifstream in(o.positionsFile);
		if (!in) usage("cannot read " + o.positionsFile);
		for (double p; in >> p;) pos.push_back(p);
		if (pos.empty() || !std::is_sorted(pos.begin(), pos.end()))
			usage(o.positionsFile + " must hold positions in increasing order");
		return pos;
	}
	for (int i = 0; i < o.markers; ++i) {
		char text[32];
		std::snprintf(text, sizeof text, "%.4f", (i + rng.uniform()) * o.length / o.markers);
		pos.push_back(std::strtod(text, nullptr));
	}
	return pos;
}

[[noreturn]] void badFile(const std::string& file, size_t line, const std::string& why)
{
	std::cerr << "tarvel_simulate: " << file;
	if (line) std::cerr << ":" << line;
	std::cerr << ": " << why << "\n";
	std::exit(1);
}

// A founder genotype as TARVEL reads it: the allele, and whether it is
// written as missing ("-" before it). A missing genotype keeps its allele so
// that strains bred from a shared founder file still carry real alleles.
struct FounderCall {
	int allele;
	bool missing;
};

// Reads a founder file in TARVEL's format (eight genotypes 0/1 per marker,
// any separators, "-" before a genotype marks it missing, empty lines
// skipped); it must hold one line per marker position.
std::vector<std::vector<FounderCall>> readFounders(const std::string& file, size_t markers)
{
	std::ifstream in(file);
	if (!in) badFile(file, 0, "cannot read");
	std::vector<std::vector<FounderCall>> rows;
	std::string text;
	for (size_t line = 1; std::getline(in, text); ++line) {
		std::vector<FounderCall> row;
		bool minus = false;
		for (char c : text) {
			if (c == '0' || c == '1') row.push_back({c - '0', minus}), minus = false;
			else if (c == '-') minus = true;
			else if (c == ' ' || c == '\t' || c == ',' || c == '\r') continue;
			else badFile(file, line, std::string("unexpected character '") + c + "'");
		}
		if (row.empty()) continue;
		if (row.size() != 8)
			badFile(file, line, "needs 8 founder genotypes, has " + std::to_string(row.size()));
		rows.push_back(row);
	}
	if (rows.size() != markers)
		badFile(file, 0, "has " + std::to_string(rows.size()) + " markers, the positions " +
		                     std::to_string(markers));
	return rows;
}

} // namespace

int main(int argc, char** argv)
{
	Options o = parse(argc, argv);
	Rng rng(o.seed);

	std::vector<int> funnel = o.funnel; // founder number at each funnel position
	if (funnel.empty()) {
		funnel = {1, 2, 3, 4, 5, 6, 7, 8};
		for (int k = 7; k > 0; --k) std::swap(funnel[k], funnel[rng.below(k + 1)]);
	}
	std::vector<double> pos = markerPositions(o, rng);

	// Founder alleles, drawn before the breeding so that a brother and a
	// sister simulated with one seed share founders, funnel and positions:
	// at each marker one to four founders carry the rarer allele.
	// With --founders the alleles come from that file; its missing marks are
	// kept and --founder-missing adds more.
	std::vector<std::vector<FounderCall>> given;
	if (!o.foundersFile.empty()) given = readFounders(o.foundersFile, pos.size());
	std::error_code failed;
	std::filesystem::create_directories(o.out, failed); // create() reports a failure
	std::vector<std::vector<int>> allele(pos.size(), std::vector<int>(8));
	std::ofstream founders = create(o, "founders.txt");
	for (size_t t = 0; t < pos.size(); ++t) {
		std::vector<int>& row = allele[t];
		if (given.empty()) {
			int carriers = 1 + rng.below(4), rare = rng.below(2);
			for (int& a : row) a = 1 - rare;
			for (int n = 0; n < carriers;) {
				int f = rng.below(8);
				if (row[f] != rare) row[f] = rare, ++n;
			}
		} else
			for (int f = 0; f < 8; ++f) row[f] = given[t][f].allele;
		for (int f = 0; f < 8; ++f) {
			bool missing = rng.uniform() < o.founderMissing || (!given.empty() && given[t][f].missing);
			founders << (missing ? "-" : "") << row[f] << (f < 7 ? " " : "\n");
		}
	}

	double length = std::max(o.length, pos.back());
	Animal strain = breed(o, length, rng);

	std::ofstream calls = create(o, "strain.txt"), funnelFile = create(o, "funnel.txt"),
	              positions = create(o, "positions.txt"), truth = create(o, "truth.txt");
	for (int k = 0; k < 8; ++k) funnelFile << funnel[k] << (k < 7 ? " " : "\n");
	int hetOrigin = 0;
	for (size_t t = 0; t < pos.size(); ++t) {
		// The strain's founders (numbers 1..8) and its genotype call.
		int a = funnel[positionAt(strain.maternal, pos[t])];
		int b = strain.paternal.empty() ? a : funnel[positionAt(strain.paternal, pos[t])];
		hetOrigin += a != b;
		truth << a << " " << b << "\n";
		int call = allele[t][a - 1] + allele[t][b - 1]; // copies of allele 1
		if (rng.uniform() < o.missing) calls << "N\n";
		else {
			if (rng.uniform() < o.error) call = (call + 1 + rng.below(2)) % 3;
			calls << call << "\n";
		}
		char text[32];
		std::snprintf(text, sizeof text, "%.4f", pos[t]);
		positions << text << "\n";
	}
	std::cout << "tarvel_simulate: " << pos.size() << " markers, #Generation " << o.generation
	          << ", " << (o.x ? "X chromosome" : "autosome") << ", " << (o.male ? "male" : "female")
	          << ", " << hetOrigin << " markers with two different founders, written to " << o.out
	          << "\n";
	return 0;
}
