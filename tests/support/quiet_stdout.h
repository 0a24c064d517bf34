// Standard output of an in-process TARVEL run, kept from the terminal for
// as long as a QuietStdout lives; text() is what the run printed.
#ifndef TARVEL_QUIET_STDOUT_H
#define TARVEL_QUIET_STDOUT_H

#include <iostream>
#include <sstream>
#include <string>

class QuietStdout {
public:
	QuietStdout() : was(std::cout.rdbuf(held.rdbuf())) {}
	~QuietStdout() { std::cout.rdbuf(was); }
	QuietStdout(const QuietStdout&) = delete;
	QuietStdout& operator=(const QuietStdout&) = delete;
	std::string text() const { return held.str(); }

private:
	std::ostringstream held;
	std::streambuf* was;
};

#endif
