// tarvel_engine: every strain of one chromosome in one process, each with
// exactly the values TARVEL would write to its results file.
//
//   tarvel_engine --founders FILE --positions FILE (-cm | -bp) [-x] [--founder-values] --jobs LIST
//
// The founder and position files are read once; LIST (job_list.h) names
// each strain's files and parameters. Strains of one #Generation (and, on
// the X, one sex) run one after another, in list order within each group,
// so the tables that depend only on these are made once per group. Each
// strain's values file (values_file.h: its 36 pair values a line, or with
// --founder-values the 11 founder values of founder_values.h, all a table
// needs), and its text when asked, appear
// complete or not at all; "done N SECONDS" on standard output follows each
// strain, N its line in LIST, SECONDS its wall time to the microsecond (a
// small chromosome takes well under a millisecond). A fault prints one line
// naming the file or the list line and ends the run with status 1; the
// strains finished before it keep their files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "chromosome.h"
#include "job_list.h"
#include "strain_run.h"
#include "driver/driver.h"

namespace {

struct Arguments {
	Chromosome chromosome{"", "", false, false};
	std::string jobs;
	bool positionUnit = false;
	bool founderValues = false;
};

void printUsage()
{
	std::cout << "Usage: tarvel_engine --founders FILE --positions FILE (-cm | -bp) [-x] [--founder-values] --jobs LIST\n"
	             "  LIST: one strain per line, tab-separated: strain file, funnel file, #Generation,\n"
	             "  sex (m, f or -), error rate, values file[, results text file]\n";
}

// False on anything but the words above, each given once.
bool parseArguments(int argc, char** argv, Arguments& a)
{
	bool x = false;
	for (int i = 1; i < argc; ++i) {
		std::string w = argv[i];
		std::string* value = w == "--founders" ? &a.chromosome.founders
		                     : w == "--positions" ? &a.chromosome.positions
		                     : w == "--jobs" ? &a.jobs : nullptr;
		if (value) {
			if (i + 1 >= argc || !value->empty() || !*argv[i + 1]) return false;
			*value = argv[++i];
		} else if ((w == "-cm" || w == "-bp") && !a.positionUnit) {
			a.positionUnit = true;
			a.chromosome.cm = w == "-cm";
		} else if (w == "-x" && !x) x = true;
		else if (w == "--founder-values" && !a.founderValues) a.founderValues = true;
		else return false;
	}
	a.chromosome.x = x;
	return !a.chromosome.founders.empty() && !a.chromosome.positions.empty() && !a.jobs.empty() &&
	       a.positionUnit;
}

// Stable: list order within each group, groups in order of first appearance.
std::vector<const Job*> groupedByTables(const std::vector<Job>& jobs, bool x)
{
	auto key = [x](const Job& j) { return std::make_pair(j.generation, x && j.male); };
	std::vector<const Job*> order;
	for (const Job& j : jobs)
		if (std::none_of(order.begin(), order.end(), [&](const Job* o) { return key(*o) == key(j); }))
			for (const Job& same : jobs)
				if (key(same) == key(j)) order.push_back(&same);
	return order;
}

} // namespace

static int runAll(const Arguments& a)
{
	std::vector<Job> jobs;
	if (!readJobList(a.jobs, jobs) || !loadChromosome(a.chromosome)) return 1;
	for (const Job& job : jobs)
		if (!checkJob(job, jobPrefix(a.jobs, job))) return 1;
	for (const Job* job : groupedByTables(jobs, a.chromosome.x)) {
		auto start = std::chrono::steady_clock::now();
		if (!runStrain(*job, jobPrefix(a.jobs, *job), a.founderValues)) return 1;
		std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
		char text[32];
		std::snprintf(text, sizeof text, "%.6f", seconds.count());
		std::cout << "done " << job->line << " " << text << std::endl;
	}
	return 0;
}

int main(int argc, char** argv)
{
	Arguments a;
	if (!parseArguments(argc, argv, a)) {
		printUsage();
		return 1;
	}
	removeTemporariesOnSignals();
	// as TARVEL: running out of memory is one line and status 1, never an
	// abort; the unwinding removes the strain's temporary files
	try {
		return runAll(a);
	} catch (const std::bad_alloc&) {
		refuseTooLarge();
		return 1;
	}
}
