// The engine's list of strains: one tab-separated line per strain of one
// chromosome,
//   strain file, funnel file, #Generation, sex, error rate, values path[, text path]
// with sex m or f (M, F), or - where TARVEL would be given no -s (an
// autosome, or a male X). Empty lines are skipped.
#ifndef TARVEL_ENGINE_JOB_LIST_H
#define TARVEL_ENGINE_JOB_LIST_H

#include <string>
#include <vector>

struct Job {
	int line;              // in the list, from 1
	std::string strain;    // TARVEL's StrainFile
	std::string funnel;    // TARVEL's FunnelFile
	int generation;        // TARVEL's #Generation
	bool male;             // -s m, or no -s
	double errorRate;      // TARVEL's -e
	std::string values;    // the binary values file to write
	std::string text;      // TARVEL's results text to write too; empty: none
};

// Reads and checks the whole list; false after a fault (one line printed:
// the list, the line and what is wrong). Never returns an empty list.
bool readJobList(const std::string& path, std::vector<Job>& jobs);

// "LIST:LINE: " for messages about a job.
std::string jobPrefix(const std::string& listPath, const Job& job);

#endif
