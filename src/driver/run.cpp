// The command line and the order of the stages of one run.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

#include "driver.h"
#include "../inference/inference.h"
#include "../model/model.h"
#include "../output/output.h"

using std::cout;

static void printUsage()
{
	cout << " Usage: TARVEL.exe <FounderFile> <StrainFile> <FunnelFile> <#Generation> [options]" << std::endl;
	cout << "        -cm: file containing genetic locations of SNP markers (in CM distance)" << std::endl;
	cout << "        -bp: file containing physical locations of SNP markers" << std::endl;
	cout << "        -s: m/f to indicate gender" << std::endl;
	cout << "        -e: estimated error rate" << std::endl;
	cout << "        -x: x chromosome" << std::endl;
	cout << "        -of: output format (0/1)" << std::endl;
	cout << "        either one of -cm or -bp must be used" << std::endl;
}

static bool takesValue(const char* a)
{
	return !strcmp(a, "-e") || !strcmp(a, "-s") || !strcmp(a, "-cm") || !strcmp(a, "-bp") ||
	       !strcmp(a, "-of");
}

static void fillPositional(const char* a)
{
	if (FounderFileName.empty()) FounderFileName = a;
	else if (SeqFileName.empty()) {
		SeqFileName = a;
		SolutionFileName = SeqFileName + ".prob";
	} else if (FounderGroupFileName.empty()) FounderGroupFileName = a;
	else if (NoOfInbreedingGen == -1) {
		// Saturate at the int range, as a 32-bit long does, so a huge or
		// hugely negative #Generation never wraps into an accepted one.
		long long g = strtol(a, nullptr, 10);
		g = g > INT_MAX ? INT_MAX : g < INT_MIN + 2 ? INT_MIN + 2 : g;
		NoOfInbreedingGen = (int)(g - 2);
	}
}

// Returns false when an option that needs a value ends the command line.
// *errorRate receives the last "-e" value (left alone when none is given).
static bool parseArgs(int argc, char** argv, double* errorRate)
{
	for (int i = 1; i < argc; ++i) {
		const char* a = argv[i];
		if (!strcmp(a, "-x")) {
			XChromosome = true;
			continue;
		}
		if (!takesValue(a)) {
			fillPositional(a);
			continue;
		}
		if (i + 1 >= argc) return false;
		const char* v = argv[++i];
		if (!strcmp(a, "-e")) {
			*errorRate = strtod(v, nullptr);
			p_y_given_q_value = 1 - *errorRate;
		} else if (!strcmp(a, "-s")) Sex = !strcmp(v, "M") || !strcmp(v, "m");
		else if (!strcmp(a, "-of")) outputInHAPPYFormat = (int)strtol(v, nullptr, 10);
		else {
			CMDistanceFile = v;
			useCM = !strcmp(a, "-cm");
		}
	}
	return true;
}

static bool isComplete()
{
	return !FounderFileName.empty() && !SeqFileName.empty() && !FounderGroupFileName.empty() &&
	       NoOfInbreedingGen != -1 && !CMDistanceFile.empty();
}

// Refuses parameter values the model cannot run with; true when all is well.
bool checkParameters(double errorRate)
{
	if (!(errorRate >= 0 && errorRate <= 1)) {
		cout << "Error: the error rate (-e) must lie between 0 and 1.\n";
		return false;
	}
	if (XChromosome && NoOfInbreedingGen <= -2) {
		cout << "Error: #Generation must be at least 2 on the X chromosome.\n";
		return false;
	}
	if (!XChromosome && NoOfInbreedingGen > MaxInbreedingGen) {
		cout << "Error: #Generation above 100 is not supported.\n";
		return false;
	}
	return true;
}

void sizeStateSpace()
{
	int g = NoOfInbreedingGen;
	if (!XChromosome) {
		InfoLength = g > 3 ? 8 : 6;
		NoOfStates = 1 << InfoLength;
	} else if (g <= 3) {
		InfoLength = 2 * g + 1;
		NoOfStates = 1 << InfoLength;
	} else
		NoOfStates = Sex ? 8 : 64;
}

static void printHeader()
{
	cout << "#Generation: " << NoOfInbreedingGen + 2 << "\n";
	cout << "Coding Bit-Length: " << InfoLength << "\n";
	cout << "#States: " << NoOfStates << "\n";
	cout << FounderFileName << "|\n";
	cout << SeqFileName << "|\n";
	cout << SolutionFileName << "|\n";
	cout << FounderGroupFileName << "|\n";
	cout << CMDistanceFile << "|\n";
}

// The funnel must name every founder exactly once, or founders would be
// dropped from (or counted twice in) the results.
bool funnelIsPermutation()
{
	if (FounderGroup1.size() != 8) return false;
	bool seen[8] = {false};
	for (int k = 0; k < 8; ++k) {
		int f = FounderGroup1[k];
		if (f < 0 || f > 7 || seen[f]) return false;
		seen[f] = true;
	}
	return true;
}

static int runStages(int argc, char** argv)
{
	double errorRate = 0.001;
	if (!parseArgs(argc, argv, &errorRate) || !isComplete()) {
		printUsage();
		return 1;
	}
	if (!checkParameters(errorRate)) return 1;
	sizeStateSpace();
	printHeader();
	if (!loadDataFiles()) return 1;
	if (NoOfFounders != 8) {
		cout << "The current version only supports 8 founders." << std::flush;
		return 1;
	}
	if (!funnelIsPermutation()) {
		cout << "Error: the funnel file must list each founder number from 1 to 8 exactly once.\n";
		return 1;
	}
	cout << "Computing Emission Prob\n";
	calcEmissionProb();
	if (!XChromosome && NoOfInbreedingGen > 3) calcF();
	cout << "Computing Alpha\n";
	if (!computeAlpha()) return 1;
	// computeBeta only sets the backward pass up: its rows are computed by
	// the writers' sweep (sweepMarkers), block by block, as the results are
	// written.
	cout << "Computing Beta\n";
	computeBeta();
	cout << "Writing Results\n";
	int ok;
	if (!XChromosome) ok = writeOutInferSolution();
	else if (Sex) ok = writeOutMaleInferSolution();
	else ok = writeOutFemaleInferSolution();
	return ok ? 0 : 1;
}

// The tables grow with the number of markers: a founder file with more
// markers than memory can hold is refused, wherever the room runs out.
int tarvelMain(int argc, char** argv)
{
	try {
		return runStages(argc, argv);
	} catch (const std::bad_alloc&) {
		refuseTooLarge();
		return 1;
	}
}
