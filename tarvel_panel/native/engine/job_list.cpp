#include "job_list.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>

namespace {

std::vector<std::string> splitTabs(const std::string& line)
{
	std::vector<std::string> fields;
	size_t start = 0;
	for (;;) {
		size_t tab = line.find('\t', start);
		fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
		if (tab == std::string::npos) return fields;
		start = tab + 1;
	}
}

// The whole field as a base-10 integer; no blanks, no trailing text.
bool wholeNumber(const std::string& s, int* value)
{
	if (s.empty() || std::isspace((unsigned char)s[0])) return false;
	errno = 0;
	char* end = nullptr;
	long v = std::strtol(s.c_str(), &end, 10);
	if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
	*value = (int)v;
	return true;
}

// The whole field as a finite decimal number, as strtod reads it.
bool decimalNumber(const std::string& s, double* value)
{
	if (s.empty() || std::isspace((unsigned char)s[0])) return false;
	char* end = nullptr;
	double v = std::strtod(s.c_str(), &end);
	if (*end != '\0' || !std::isfinite(v)) return false;
	*value = v;
	return true;
}

bool sexCode(const std::string& s, bool* male)
{
	if (s == "m" || s == "M" || s == "-") *male = true;
	else if (s == "f" || s == "F") *male = false;
	else return false;
	return true;
}

// The fields of one line; the reason it is refused otherwise.
bool parseJob(const std::string& line, Job& job, std::string& why)
{
	if (line.find('\r') != std::string::npos) {
		why = "holds a carriage return (the list needs Unix line ends)";
		return false;
	}
	std::vector<std::string> f = splitTabs(line);
	if (f.size() != 6 && f.size() != 7) {
		why = "has " + std::to_string(f.size()) +
		      " tab-separated fields, not 6 or 7 (strain, funnel, #Generation, sex, error rate, "
		      "values path[, text path])";
		return false;
	}
	static const char* names[] = {"strain file", "funnel file", "#Generation", "sex",
	                              "error rate",  "values path", "text path"};
	for (size_t i = 0; i < f.size(); ++i)
		if (f[i].empty()) {
			why = std::string("has an empty ") + names[i];
			return false;
		}
	job.strain = f[0];
	job.funnel = f[1];
	job.values = f[5];
	job.text = f.size() == 7 ? f[6] : "";
	if (!wholeNumber(f[2], &job.generation)) why = "#Generation '" + f[2] + "' is not a whole number";
	else if (job.generation < 2) why = "#Generation " + f[2] + " is below 2";
	else if (!sexCode(f[3], &job.male)) why = "sex '" + f[3] + "' is not m, f or -";
	else if (!decimalNumber(f[4], &job.errorRate)) why = "error rate '" + f[4] + "' is not a number";
	else if (job.values == job.text) why = "names one file for the values and the text";
	else return true;
	return false;
}

bool refuse(const std::string& path, int line, const std::string& why)
{
	std::cout << path;
	if (line) std::cout << ":" << line;
	std::cout << ": " << why << "\n";
	return false;
}

} // namespace

bool readJobList(const std::string& path, std::vector<Job>& jobs)
{
	std::ifstream in(path);
	if (!in) return refuse(path, 0, std::string("cannot be read (") + std::strerror(errno) + ")");
	std::set<std::string> outputs;
	std::string text, why;
	for (int line = 1; std::getline(in, text); ++line) {
		if (text.empty()) continue;
		Job job;
		job.line = line;
		if (!parseJob(text, job, why)) return refuse(path, line, why);
		for (const std::string* out : {&job.values, &job.text})
			if (!out->empty() && !outputs.insert(*out).second)
				return refuse(path, line, "writes " + *out + ", which an earlier line writes too");
		jobs.push_back(job);
	}
	if (in.bad()) return refuse(path, 0, "cannot be read");
	if (jobs.empty()) return refuse(path, 0, "lists no strain");
	return true;
}

std::string jobPrefix(const std::string& listPath, const Job& job)
{
	return listPath + ":" + std::to_string(job.line) + ": ";
}
