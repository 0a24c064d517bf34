// The text of a results file, gathered in one large buffer and handed to
// the file stream in big pieces instead of one stream call per value.
#ifndef TARVEL_RESULTS_TEXT_H
#define TARVEL_RESULTS_TEXT_H

#include <cstddef>
#include <fstream>
#include <vector>

struct ResultsText {
	std::ofstream* file;
	std::vector<char> buffer;
	size_t used;
};

void beginText(ResultsText& text, std::ofstream& file);
void flushText(ResultsText& text); // writes out what is gathered
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
	if (text.used > text.buffer.size() / 2) flushText(text);
}

#endif
