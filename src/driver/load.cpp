// Reading the founder, strain, funnel and marker position files.
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "driver.h"

using std::cout;

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
	while (std::getline(in, line)) {
		if (NoOfFounders == -1) {
			NoOfFounders = countPiece(line);
			FounderSet = new std::vector<char>[NoOfFounders];
		}
		if (line.empty()) continue;
		++L;
		int c = 0;
		for (size_t i = 0; i < line.size(); ++i) {
			if (!isDigit(line[i])) continue;
			// genotypes past the founder count have no column to go to
			if (c < NoOfFounders)
				FounderSet[c].push_back(i > 0 && line[i - 1] == '-' ? '-' : line[i]);
			++c;
		}
		if (c != NoOfFounders) {
			cout << "Error: input founder data corrupted.\n";
			// founders left without a genotype on this line count as missing
			for (; c < NoOfFounders; ++c) FounderSet[c].push_back('-');
		}
	}
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
	long n = 0;
	while (std::getline(in, line)) {
		if (line.empty()) continue;
		if (n < L) GenotypeSequence[n] = line[0];
		++n;
	}
	if (in.bad()) return unreadable("Sequence file", SeqFileName);
	if (n != L) {
		cout << "Error: input genotype file corrupted.\n";
		for (long t = n; t < L; ++t) GenotypeSequence[t] = 'N'; // no call: uninformative
	}
	return 1;
}

// An entry that cannot be read is stored as -1, which no founder column
// has, so the funnel check in main refuses it.
int readFunnelFile(std::ifstream& in)
{
	if (!in) return unreadable("Funnel file", FounderGroupFileName);
	for (int k = 0; k < NoOfFounders; ++k) {
		int v = 0;
		FounderGroup1.push_back(in >> v ? v - 1 : -1);
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
	long lineNo = 0, k = 0;
	float prev = 0, pos = 0;
	while (std::getline(in, line)) {
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
