// The binary values file: for each marker, the values of TARVEL's results
// line for it, as little-endian IEEE-754 float64, never as text.
//
//   offset  size  content (integers unsigned, little-endian)
//   0       8     magic, the ASCII bytes "TARVPROB"
//   8       4     format version, 1
//   12      4     V, values per line (36: the HAPPY layout's pairs)
//   16      8     M, markers (lines)
//   24      8 V M the values, line by line in marker order; value k of
//                 marker t at offset 24 + 8 (V t + k)
//
// so a complete file is exactly 24 + 8 V M bytes long.
#ifndef TARVEL_ENGINE_VALUES_FILE_H
#define TARVEL_ENGINE_VALUES_FILE_H

#include <cstdint>
#include <string>

#include "atomic_output.h"

const char ValuesMagic[8] = {'T', 'A', 'R', 'V', 'P', 'R', 'O', 'B'};
const std::uint32_t ValuesVersion = 1;
const int ValuesHeaderSize = 24;

class ValuesFile {
public:
	ValuesFile(const std::string& target, long markers, int valuesPerLine);
	~ValuesFile(); // an unfinished file is removed
	// Each returns false with the reason in *why.
	bool open(std::string* why);
	// Lines first .. first + count - 1, V values each, in any order of calls.
	bool writeLines(long first, long count, const double* values, std::string* why);
	// Every line written: the file goes in place.
	bool finish(std::string* why);

	const std::string& target() const { return out.target(); }

private:
	bool put(const unsigned char* bytes, size_t n, long long offset, std::string* why);
	AtomicOutput out;
	long markers, linesWritten = 0;
	int perLine;
	int fd = -1;
};

#endif
