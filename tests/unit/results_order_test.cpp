// The results text is made block by block, the last block first, and may be
// formatted on a second thread: the file must still hold every line once,
// in marker order.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "inference/block_filler.h"
#include "model/model.h"
#include "output/line_pipe.h"
#include "output/results_text.h"

namespace {

std::string tempPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

std::string readAll(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream s;
	s << in.rdbuf();
	return s.str();
}

std::string lineOf(int t) { return "line " + std::to_string(t) + std::string(t % 700, 'x') + "\n"; }

// Blocks of 300 lines ended last first; a block's text is larger than the
// text buffer, so each block reaches the spill in several pieces.
std::string writeBlocksBackwards(bool tempFile, int blocks)
{
	std::string path = tempPath("tarvel_spill_order.txt");
	std::ofstream out(path);
	ResultsText text;
	beginText(text, out, tempFile);
	for (int b = blocks - 1; b >= 0; --b) {
		for (int t = 300 * b; t < 300 * b + 300; ++t) {
			std::string line = lineOf(t);
			appendBytes(text, line.data(), line.size());
			spillText(text); // as endLine does when the buffer is half full
		}
		endBlock(text, b);
	}
	flushText(text);
	out.close();
	EXPECT_FALSE(out.fail());
	return readAll(path);
}

} // namespace

// A temporary file that runs out of room part way: the text moves to memory
// and no byte is lost.
TEST(ResultsOrder, ASpillThatRunsOutOfRoomIsHeldInMemoryInstead)
{
	std::string path = tempPath("tarvel_spill_full.txt");
	std::ofstream out(path);
	ResultsText text;
	beginText(text, out);
	ASSERT_NE(nullptr, text.spill);
	std::fclose(text.spill);
	static char room[5000]; // about three blocks of the text below
	text.spill = fmemopen(room, sizeof room, "w+");
	ASSERT_NE(nullptr, text.spill);
	std::setvbuf(text.spill, nullptr, _IONBF, 0);
	std::fgetpos(text.spill, &text.blockPosition);
	std::string expected;
	for (int b = 7; b >= 0; --b) {
		std::string block;
		for (int t = 10 * b; t < 10 * b + 10; ++t) block += "line " + std::to_string(t) + std::string(150, 'y') + "\n";
		expected = block + expected;
		appendBytes(text, block.data(), block.size());
		endBlock(text, b);
	}
	EXPECT_EQ(nullptr, text.spill); // moved to memory
	flushText(text);
	out.close();
	EXPECT_FALSE(out.fail());
	EXPECT_EQ(expected, readAll(path));
}

TEST(ResultsOrder, BlocksMadeLastFirstAreWrittenInMarkerOrderFromATempFileOrFromMemory)
{
	std::string expected;
	for (int t = 0; t < 300 * 5; ++t) expected += lineOf(t);
	EXPECT_EQ(expected, writeBlocksBackwards(true, 5));
	EXPECT_EQ(expected, writeBlocksBackwards(false, 5));
	EXPECT_EQ("", writeBlocksBackwards(true, 0));
}

namespace {

void formatTestLine(const LineRecord& line, ResultsText& text, void*)
{
	appendInt(text, line.t);
	appendChar(text, ':');
	appendNumber(text, line.cell[0]);
	appendChar(text, ',');
	appendNumber(text, line.cell[63]);
	endLine(text);
}

// Many more lines than the pipe holds at once, in blocks of 97 handed over
// last block first, as the sweep does.
std::string pipeLines(bool thread)
{
	std::string path = tempPath("tarvel_pipe_order.txt");
	std::ofstream out(path);
	ResultsText text;
	beginText(text, out);
	LinePipe* pipe = startLines(text, formatTestLine, nullptr, thread);
	const int blocks = 40, size = 97;
	for (int b = blocks - 1; b >= 0; --b) {
		for (int t = b * size; t < (b + 1) * size; ++t) {
			LineRecord& line = nextLine(pipe);
			line.t = t;
			line.cell[0] = t / 7.0;
			line.cell[63] = 1.0 / (t + 1);
			handLine(pipe);
		}
		endLineBlock(pipe, b);
	}
	finishLines(pipe);
	flushText(text);
	out.close();
	return readAll(path);
}

} // namespace

TEST(ResultsOrder, LinesFormattedOnASecondThreadEqualLinesFormattedInPlace)
{
	std::string inPlace = pipeLines(false), threaded = pipeLines(true);
	EXPECT_EQ(inPlace, threaded);
	std::ostringstream expected;
	for (int t = 0; t < 40 * 97; ++t) expected << t << ':' << t / 7.0 << ',' << 1.0 / (t + 1) << '\n';
	EXPECT_EQ(expected.str(), threaded);
}

TEST(ResultsOrder, BlocksFilledBesideTheForwardPassEqualBlocksComputedAtOnce)
{
	resetModelState();
	NoOfInbreedingGen = 18;
	calcF();
	const int n = 1000; // not a whole number of the filler's batches
	std::vector<double> r(n), atOnce(9 * n), beside(9 * n, -1);
	for (int i = 0; i < n; ++i) r[i] = 0.5 * i / n;
	calcQuaternaryTransitionProbabilities(r.data(), atOnce.data(), n);
	{
		BlockFiller filler(r.data(), beside.data(), n);
		filler.waitFor(300);
		for (int k = 0; k < 9 * 300; ++k) ASSERT_EQ(atOnce[k], beside[k]) << k;
		filler.waitFor(n);
	}
	EXPECT_EQ(atOnce, beside);
}
