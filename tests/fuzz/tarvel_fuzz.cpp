// libFuzzer target: one whole TARVEL run per input.
//
// The input is split at lines that hold exactly "%%" into up to five parts:
// founder file, strain file, funnel file, marker position file and the
// command-line words after the three file names (split at blanks and line
// breaks; "@P" stands for the position file, "@E" for an empty argument, "@M"
// for a file that does not exist). Missing parts are empty.
//
// Beyond sanitizer reports, a run is a finding when it ends with a status
// other than 0 or 1, leaves a results file behind after a refusal, or writes
// a results file that is not well formed (see results_check.h).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "quiet_stdout.h"
#include "results_check.h"

static std::string dir;

static void writeFile(const std::string& path, const std::string& text)
{
	std::ofstream(path, std::ios::binary) << text;
}

static void fail(const char* what, const std::string& detail)
{
	fprintf(stderr, "TARVEL fuzz finding: %s\n%s\n", what, detail.substr(0, 2000).c_str());
	abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	char tmpl[] = "/tmp/tarvel_fuzz_XXXXXX";
	if (!mkdtemp(tmpl)) abort();
	dir = tmpl;
	atexit([] {
		for (const char* n : {"/f", "/s", "/n", "/p", "/s.prob"}) std::remove((dir + n).c_str());
		rmdir(dir.c_str());
	});
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	std::string in(reinterpret_cast<const char*>(data), size), parts[5];
	int k = 0;
	for (size_t at = 0; k < 5;) {
		size_t sep = in.find("\n%%\n", at);
		if (k == 4 || sep == std::string::npos) {
			parts[k++] = in.substr(at);
			break;
		}
		parts[k++] = in.substr(at, sep - at + 1);
		at = sep + 4;
	}
	const std::string founders = dir + "/f", strain = dir + "/s", funnel = dir + "/n",
	                  positions = dir + "/p", results = strain + ".prob";
	writeFile(founders, parts[0]);
	writeFile(strain, parts[1]);
	writeFile(funnel, parts[2]);
	writeFile(positions, parts[3]);

	std::vector<std::string> words = {"TARVEL", founders, strain, funnel};
	std::istringstream cmd(parts[4]);
	for (std::string w; words.size() < 20 && cmd >> w;)
		words.push_back(w == "@P" ? positions : w == "@E" ? "" : w == "@M" ? dir + "/missing" : w);
	std::vector<char*> argv;
	for (std::string& w : words) argv.push_back(&w[0]);
	argv.push_back(nullptr);

	int rc;
	{
		QuietStdout quiet; // standard output is thrown away
		rc = tarvelMain((int)words.size(), argv.data());
	}
	std::ifstream out(results, std::ios::binary);
	if (rc == 1 && out) fail("results file left after a refusal", parts[4]);
	if (rc != 0 && rc != 1) fail("exit status other than 0 or 1", parts[4]);
	if (rc == 0) {
		if (!out) fail("no results file after success", parts[4]);
		std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
		std::string why = checkResultsText(text);
		if (!why.empty()) fail("malformed results", why);
	}
	std::remove(results.c_str());
	resetModelState();
	return 0;
}
