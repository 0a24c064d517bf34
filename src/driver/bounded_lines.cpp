#include "bounded_lines.h"

// istream::getline fills a piece and sets failbit when the line goes on
// past it, eofbit when the file ends first, and neither when it took the
// line feed.
LineStatus readLine(std::istream& in, std::string& line)
{
	char piece[1 << 14];
	line.clear();
	bool taken = false; // any byte of this line, its line feed included
	for (;;) {
		in.getline(piece, sizeof piece);
		if (in.bad()) return NoMoreLines;
		std::size_t n = (std::size_t)in.gcount();
		bool ended = !in.fail() && !in.eof();
		std::size_t bytes = ended ? n - 1 : n;
		if (n) taken = true;
		if (line.size() + bytes > MaxLineBytes) return LineTooLong;
		line.append(piece, bytes);
		if (ended) return LineRead;
		if (in.eof()) return taken ? LineRead : NoMoreLines;
		in.clear(); // the piece is full and the line goes on
	}
}
