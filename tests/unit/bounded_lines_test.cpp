// Lines read in bounded pieces: the same lines std::getline gives, wherever
// a line ends against the pieces, and none held past the bound.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/bounded_lines.h"

namespace {

std::vector<std::string> byGetline(const std::string& text)
{
	std::istringstream in(text);
	std::vector<std::string> lines;
	for (std::string line; std::getline(in, line);) lines.push_back(line);
	return lines;
}

std::vector<std::string> byReadLine(const std::string& text)
{
	std::istringstream in(text);
	std::vector<std::string> lines;
	std::string line;
	LineStatus s;
	while ((s = readLine(in, line)) == LineRead) lines.push_back(line);
	EXPECT_EQ(s, NoMoreLines);
	EXPECT_EQ(readLine(in, line), NoMoreLines); // and it stays at the end
	return lines;
}

TEST(BoundedLines, SameLinesAsGetlineWhereverALineEnds)
{
	// lengths around the 16 KiB pieces the reader takes, and the bound itself
	for (size_t n : {0, 1, 16382, 16383, 16384, 16385, 32767, 32768, 100000, (int)MaxLineBytes}) {
		std::string a(n, 'a'), b = std::string(n / 3, 'b') + '\0' + "\r";
		for (const std::string& text :
		     {a, a + "\n", a + "\n\n", "\n" + a + "\n" + b, a + "\n" + b + "\n", b + "\n\n" + a})
			EXPECT_EQ(byReadLine(text), byGetline(text)) << "line length " << n;
	}
}

TEST(BoundedLines, ALineOverTheBoundIsRefusedUnheld)
{
	std::istringstream in("first\n" + std::string(MaxLineBytes + 1, 'z') + "\nafter\n");
	std::string line;
	ASSERT_EQ(readLine(in, line), LineRead);
	EXPECT_EQ(line, "first");
	EXPECT_EQ(readLine(in, line), LineTooLong);
	EXPECT_LE(line.size(), MaxLineBytes);

	// one byte over, with no line feed after it
	std::istringstream last(std::string(MaxLineBytes + 1, 'z'));
	EXPECT_EQ(readLine(last, line), LineTooLong);
}

} // namespace
