// The text of a results file, gathered in one large buffer. The markers
// come in blocks, the last block first, so the text of each block waits in
// a spill (a temporary file, or memory where none can be made) until the
// file is written whole, block by block in marker order.
#ifndef TARVEL_RESULTS_TEXT_H
#define TARVEL_RESULTS_TEXT_H

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <vector>

struct SpillPiece {
	size_t offset, size; // bytes into the spill
	std::fpos_t position; // the offset as the temporary file has it
};

struct ResultsText {
	std::ofstream* file;
	std::vector<char> buffer;
	size_t used;
	std::FILE* spill;             // null: the spill is held in memory
	std::vector<char> held;
	size_t spilled, blockStart;
	std::fpos_t blockPosition;
	std::vector<SpillPiece> blocks;
	bool failed;
};

void beginText(ResultsText& text, std::ofstream& file, bool tempFile = true); // false: memory
void spillText(ResultsText& text);           // moves what is gathered to the spill
void endBlock(ResultsText& text, int block); // the text since the last call is block's
// Writes the blocks in order and lets the spill go; a spill that could not
// be read back leaves the file stream failed.
void flushText(ResultsText& text);
// The number exactly as "file << v" writes it (default flags, precision 6).
void appendNumber(ResultsText& text, double v);

inline void appendBytes(ResultsText& text, const char* bytes, size_t n)
{
	for (size_t i = 0; i < n; ++i) text.buffer[text.used + i] = bytes[i];
	text.used += n;
}

inline void appendChar(ResultsText& text, char c) { text.buffer[text.used++] = c; }

inline void appendInt(ResultsText& text, long v)
{
	char digits[24];
	int n = 0;
	unsigned long u = v < 0 ? 0UL - (unsigned long)v : (unsigned long)v;
	do digits[n++] = (char)('0' + u % 10);
	while (u /= 10);
	if (v < 0) appendChar(text, '-');
	while (n) appendChar(text, digits[--n]);
}

// Called after every line: the buffer always has room for one more line.
inline void endLine(ResultsText& text)
{
	appendChar(text, '\n');
	if (text.used > text.buffer.size() / 2) spillText(text);
}

#endif
