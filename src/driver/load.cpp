// Reading the founder, strain, funnel and marker position files.
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "bounded_lines.h"
#include "driver.h"

using std::cout;

// A panel of more founders is refused by main once the files are read.
const int MostFounders = 8;

static bool isDigit(char b) { return b >= '0' && b <= '9'; }

int countPiece(const std::string& line)
{
	int n = 0;
	for (char b : line)
		if (isDigit(b)) ++n;
	return n;
}

// A file that cannot be opened, or opens but cannot be read (a directory).
static int unreadable(const char* what, const std::string& name)
{
	cout << "Error in opening " << what << " for reading:" << name << "\n";
	return 0;
}

static int overlong(const char* what, const std::string& name, long long lineNo)
{
	cout << "Error: line " << lineNo << " of the " << what << " " << name << " is longer than "
	     << MaxLineBytes << " bytes.\n";
	return 0;
}

int refuseTooLarge()
{
	cout << "Error: the founder file " << FounderFileName << " is too large to be held in memory.\n";
	return 0;
}

// Appends the genotypes of one line to the founder columns (keep false:
// only counts them); returns how many the line holds.
static int storeFounderLine(const std::string& line, bool keep)
{
	int c = 0;
	for (size_t i = 0; i < line.size(); ++i) {
		if (!isDigit(line[i])) continue;
		// genotypes past the founder count have no column to go to
		if (keep && c < NoOfFounders)
			FounderSet[c].push_back(i > 0 && line[i - 1] == '-' ? '-' : line[i]);
		++c;
	}
	if (keep && c < NoOfFounders) // founders left without a genotype count as missing
		for (int f = c; f < NoOfFounders; ++f) FounderSet[f].push_back('-');
	return c;
}

// Files are opened in the platform's text mode: on Windows a "\r" before
// "\n" is dropped there, on Linux every byte of a line is kept.
int readFounderFile()
{
	std::ifstream in(FounderFileName);
	if (!in) {
		cout << "Error in opening Founder file for reading";
		return 0;
	}
	std::string line;
	long long lineNo = 0;
	LineStatus status;
	// Genotypes of a panel main refuses are counted, not kept: a long first
	// line would otherwise multiply what every later line costs.
	bool keep = true;
	while ((status = readLine(in, line)) == LineRead) {
		++lineNo;
		if (NoOfFounders == -1) {
			NoOfFounders = countPiece(line);
			FounderSet = new std::vector<char>[NoOfFounders];
			keep = NoOfFounders <= MostFounders;
		}
		if (line.empty()) continue;
		if (L == INT_MAX) return refuseTooLarge(); // markers are counted in an int
		++L;
		if (storeFounderLine(line, keep) != NoOfFounders)
			cout << "Error: input founder data corrupted.\n";
	}
	if (status == LineTooLong) return overlong("founder file", FounderFileName, lineNo + 1);
	if (in.bad()) { // a read error (a directory, say) is not the end of the file
		cout << "Error in opening Founder file for reading";
		return 0;
	}
	return 1;
}

int readStrainFile()
{
	std::ifstream in(SeqFileName);
	if (!in) return unreadable("Sequence file", SeqFileName);
	GenotypeSequence = new char[L];
	std::string line;
	long long lineNo = 0, n = 0;
	LineStatus status;
	while ((status = readLine(in, line)) == LineRead) {
		++lineNo;
		if (line.empty()) continue;
		if (n < L) GenotypeSequence[n] = line[0];
		++n;
	}
	if (status == LineTooLong) return overlong("strain file", SeqFileName, lineNo + 1);
	if (in.bad()) return unreadable("Sequence file", SeqFileName);
	if (n != L) {
		cout << "Error: input genotype file corrupted.\n";
		for (long long t = n; t < L; ++t) GenotypeSequence[t] = 'N'; // no call: uninformative
	}
	return 1;
}

// The funnel's integers are read as "in >> v" reads them from the whole
// file, one line at a time (no integer spans a line feed, which is
// whitespace), so no line is read past the last integer needed. An entry
// that cannot be read is stored as -1, which no founder column has, so the
// funnel check in main refuses it; as on the stream, every extraction after
// a failed one fails too.
int readFunnelFile(std::ifstream& in)
{
	if (!in) return unreadable("Funnel file", FounderGroupFileName);
	std::istringstream rest; // what is left of the line being read
	std::string text;
	long long lineNo = 0;
	bool failed = false;
	for (int k = 0; k < NoOfFounders; ++k) {
		int v = 0;
		while (!failed && (rest >> std::ws).eof()) {
			LineStatus s = readLine(in, text);
			if (s == LineTooLong) return overlong("funnel file", FounderGroupFileName, lineNo + 1);
			failed = s == NoMoreLines;
			++lineNo;
			rest.clear();
			rest.str(text);
		}
		if (!failed && !(rest >> v)) failed = true;
		FounderGroup1.push_back(failed ? -1 : v - 1);
	}
	if (in.bad()) return unreadable("Funnel file", FounderGroupFileName);
	return 1;
}

// Reads the position at the start of a line; false when none can be read.
// "%f" also reads "nan", "inf" and "infinity" in any case, and a number too
// large for a float becomes infinite: none of these is a position.
static bool readPosition(const std::string& line, float* pos)
{
	if (useCM) return std::sscanf(line.c_str(), "%f", pos) == 1 && std::isfinite(*pos);
	long long bp;
	if (std::sscanf(line.c_str(), "%lli", &bp) != 1) return false;
	if (bp < INT_MIN || bp > INT_MAX) return false;
	*pos = (float)((int)bp / 1000000.0);
	return true;
}

int readPositionFile()
{
	CMDistance = new float[L];
	std::ifstream in(CMDistanceFile);
	if (!in) return unreadable("CM Distance File", CMDistanceFile);
	std::string line;
	long long lineNo = 0, k = 0;
	float prev = 0, pos = 0;
	LineStatus status;
	while ((status = readLine(in, line)) == LineRead) {
		++lineNo;
		if (line.empty()) continue;
		if (!readPosition(line, &pos)) {
			cout << "Error: cannot read a position from line " << lineNo
			     << " of the marker position file.\n";
			return 0;
		}
		if (k < L) CMDistance[k] = pos;
		if (k >= 1 && prev > pos) {
			cout << "The data in Distance File is not sorted" << std::endl;
			return 0;
		}
		prev = pos;
		++k;
	}
	if (status == LineTooLong) return overlong("marker position file", CMDistanceFile, lineNo + 1);
	if (in.bad()) return unreadable("CM Distance File", CMDistanceFile);
	if (k != L) {
		cout << "Error: the marker position file holds " << k << " positions for " << L
		     << " markers.\n";
		return 0;
	}
	return 1;
}

int loadDataFiles()
{
	if (!readFounderFile()) return 0;
	if (!readStrainFile()) return 0;
	cout << " L = " << L << " , NoOfFounders = " << NoOfFounders << "\n";
	std::ifstream funnel(FounderGroupFileName); // stays open while positions are read
	if (!readFunnelFile(funnel)) return 0;
	return readPositionFile();
}
