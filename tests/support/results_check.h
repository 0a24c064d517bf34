// Test-only: checks the shape and the values of a results file written by a
// run that ended with status 0. Header-only so the fuzz target can use it too.
#ifndef TARVEL_RESULTS_CHECK_H
#define TARVEL_RESULTS_CHECK_H

#include <cmath>
#include <cstdlib>
#include <string>

#include "driver/driver.h"

// Entries per line for the run parameters now in the model state.
inline int expectedEntries()
{
	if (outputInHAPPYFormat == 1) return 36;
	if (XChromosome && Sex) return 8;
	return NoOfInbreedingGen <= 3 ? 64 : 36;
}

// A printed probability: a number that is finite, not negative and read whole.
inline bool isProbabilityText(const std::string& v)
{
	if (v.empty() || v[0] == '-') return false;
	char* end = nullptr;
	double x = std::strtod(v.c_str(), &end);
	return *end == '\0' && std::isfinite(x) && x >= 0;
}

// Returns "" when the text holds exactly L lines "t|" + the layout's entries,
// every value a probability and, for autosome and male HAPPY lines, the 36
// values summing to 1 within the rounding of their six printed digits.
inline std::string checkResultsText(const std::string& text)
{
	const bool happy = outputInHAPPYFormat == 1;
	const bool sumsToOne = happy && (!XChromosome || Sex);
	const int entries = expectedEntries();
	size_t at = 0;
	for (int t = 0; t < L; ++t) {
		size_t nl = text.find('\n', at);
		if (nl == std::string::npos) return "line " + std::to_string(t) + " missing";
		std::string line = text.substr(at, nl - at), head = std::to_string(t) + "|";
		at = nl + 1;
		if (line.compare(0, head.size(), head) != 0) return "line " + line + ": bad index";
		int n = 0;
		double sum = 0;
		for (size_t p = head.size(); p < line.size(); ++n) {
			if (!happy) { // "(a,b),v|" or "(a),v|"
				size_t close = line.find("),", p);
				if (line[p] != '(' || close == std::string::npos) return "bad label: " + line;
				p = close + 2;
			}
			size_t stop = line.find(happy ? ',' : '|', p);
			if (stop == std::string::npos) return "unterminated entry: " + line;
			std::string v = line.substr(p, stop - p);
			if (!isProbabilityText(v)) return "bad value [" + v + "]: " + line;
			sum += std::strtod(v.c_str(), nullptr);
			p = stop + 1;
		}
		if (n != entries)
			return std::to_string(n) + " entries, expected " + std::to_string(entries) + ": " + line;
		if (sumsToOne && std::fabs(sum - 1) > 1e-4) return "sum " + std::to_string(sum) + ": " + line;
	}
	if (at != text.size()) return "text after line " + std::to_string(L);
	return "";
}

#endif
