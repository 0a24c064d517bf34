// Lines of an input file read in bounded pieces, so that a file with no
// line feed in sight (a device, a binary file, a line of gigabytes) is
// refused after MaxLineBytes instead of being held in memory whole.
#ifndef TARVEL_BOUNDED_LINES_H
#define TARVEL_BOUNDED_LINES_H

#include <cstddef>
#include <istream>
#include <string>

// A founder line holds eight genotypes and their separators, a strain line
// one call, a position line one number: real lines are tens of bytes. A
// mebibyte leaves room for any annotation a line may carry, and bounds what
// a hostile line can cost.
const std::size_t MaxLineBytes = 1 << 20;

enum LineStatus {
	LineRead,    // line holds the next line, without its line feed
	NoMoreLines, // the end of the file, or a read error (in.bad())
	LineTooLong  // the next line is longer than MaxLineBytes; line holds a part of it
};

// std::getline with a bound: the same lines, in the same pieces.
LineStatus readLine(std::istream& in, std::string& line);

#endif
