// Reading the founder, strain, funnel and marker position files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"

namespace {

const std::string ThreeMarkers = "0 0 1 1 0 1 0 1\n0 -1 1 1 0 1 0 0\n1 1 0 0 1 0 1 0\n";
const std::string TwoMarkers = "0 0 1 1 0 1 0 1\n1 1 0 0 1 0 1 0\n";
const std::string Identity = "1 2 3 4 5 6 7 8\n";

class Load : public testing::Test {
protected:
	std::string dir, out;

	void SetUp() override
	{
		resetModelState();
		char tmpl[] = "/tmp/tarvel_load_XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
	}
	void TearDown() override
	{
		std::filesystem::remove_all(dir);
		resetModelState();
	}
	std::string file(const std::string& name, const std::string& bytes)
	{
		std::string path = dir + "/" + name;
		std::ofstream(path, std::ios::binary) << bytes;
		return path;
	}
	// Start-up state, the four files written with the given bytes.
	void prepare(const std::string& founders, const std::string& strain,
	             const std::string& positions, bool cm = true,
	             const std::string& funnel = Identity)
	{
		resetModelState();
		FounderFileName = file("founders", founders);
		SeqFileName = file("strain", strain);
		FounderGroupFileName = file("funnel", funnel);
		CMDistanceFile = file("positions", positions);
		useCM = cm;
	}
	int run()
	{
		testing::internal::CaptureStdout();
		int r = loadDataFiles();
		out = testing::internal::GetCapturedStdout();
		return r;
	}
	int load(const std::string& founders, const std::string& strain,
	         const std::string& positions, bool cm = true,
	         const std::string& funnel = Identity)
	{
		prepare(founders, strain, positions, cm, funnel);
		return run();
	}
	// Genotypes of every founder at marker t, founder column 0 first.
	std::string marker(int t)
	{
		std::string m;
		for (int f = 0; f < NoOfFounders; ++f) m += FounderSet[f].at(t);
		return m;
	}
	void expectEveryFounderHoldsL()
	{
		for (int f = 0; f < NoOfFounders; ++f) EXPECT_EQ((int)FounderSet[f].size(), L) << f;
	}
	std::string strain() { return std::string(GenotypeSequence, L); }
	std::vector<float> positions() { return std::vector<float>(CMDistance, CMDistance + L); }
};

std::string header(int markers, int founders = 8)
{
	return " L = " + std::to_string(markers) + " , NoOfFounders = " + std::to_string(founders) + "\n";
}

const std::string FounderWarning = "Error: input founder data corrupted.\n";
const std::string StrainWarning = "Error: input genotype file corrupted.\n";

TEST_F(Load, CountPieceCountsDigitBytesOnly)
{
	EXPECT_EQ(countPiece(""), 0);
	EXPECT_EQ(countPiece("0 1 1 0 0 1 0 1"), 8);
	EXPECT_EQ(countPiece("0,1,1,0,0,1,0,1"), 8);
	EXPECT_EQ(countPiece("01100101"), 8);
	EXPECT_EQ(countPiece("0 -1 - 9\r"), 3);
	EXPECT_EQ(countPiece(" \t;abc-\r"), 0);
	// superscript one (Latin-1), Arabic-Indic one and fullwidth one (UTF-8)
	EXPECT_EQ(countPiece("\xb9 \xd9\xa1 \xef\xbc\x91"), 0);
	EXPECT_EQ(countPiece("1\xb9" "2"), 2);
}

TEST_F(Load, ReadsAConsistentSetSkippingEmptyLines)
{
	ASSERT_EQ(load("0 0 1 1 0 1 0 1\n\n0 -1 1 1 0 1 0 0\n1 1 0 0 1 0 1 0\n\n", "0\n\n1\nN\n",
	               "10.5\n\n12.0\n12.0\n", true, "8 7 6 5 4 3 2 1\n"),
	          1);
	EXPECT_EQ(out, header(3));
	EXPECT_EQ(L, 3);
	EXPECT_EQ(NoOfFounders, 8);
	EXPECT_EQ(marker(0), "00110101");
	EXPECT_EQ(marker(1), "0-110100");
	EXPECT_EQ(marker(2), "11001010");
	EXPECT_EQ(strain(), "01N");
	EXPECT_EQ(FounderGroup1, (std::vector<int>{7, 6, 5, 4, 3, 2, 1, 0}));
	EXPECT_EQ(positions(), (std::vector<float>{10.5f, 12.0f, 12.0f}));

	// the funnel is read as whitespace-separated integers, the first eight count
	const std::vector<int> swapped{1, 0, 3, 2, 5, 4, 7, 6};
	ASSERT_EQ(load(ThreeMarkers, "0\n1\nN\n", "1\n2\n3\n", true, "2 1 4 3 6 5 8 7"), 1);
	EXPECT_EQ(FounderGroup1, swapped);
	ASSERT_EQ(load(ThreeMarkers, "0\n1\nN\n", "1\n2\n3\n", true, "2\n1\n4\n\t3 6\n5\n8\n\n7\n9 9\n"), 1);
	EXPECT_EQ(FounderGroup1, swapped);
}

TEST_F(Load, FunnelIsReadAsStreamExtractionReadsTheWholeFile)
{
	// the entries "in >> v" gives on the file as one stream, -1 where it fails
	auto extracted = [](const std::string& text) {
		std::istringstream in(text);
		std::vector<int> v;
		for (int k = 0, x; k < 8; ++k) v.push_back(in >> x ? x - 1 : -1);
		return v;
	};
	const std::string cases[] = {
	    "8 7 6 5 4 3 2 1",        "8\n7\r\n6 5\n\n\n4\t3 2\n1\n",
	    " \v\f8 7\r6\n5 4 3 2 1 junk", "1 2 3 4 5 6 7 8x\n",
	    "1 2 x 4 5 6 7 8",        "1 2 3abc 4 5 6 7 8",
	    "1 2 -\n3 4 5 6 7 8",      "+1 -2 99999999999 4 5 6 7 8",
	    "1 2 3",                  "",
	    "\n\n  \n",              std::string("5 6\0 7 8 1 2 3 4", 17),
	    "0x3 4 010 1 2 3 4 5",    "-\n",
	    "2\n",                    "1 2 3 4 5 6 7\n+",
	};
	for (const std::string& funnel : cases) {
		ASSERT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n", true, funnel), 1) << funnel;
		EXPECT_EQ(FounderGroup1, extracted(funnel)) << funnel;
	}
}

TEST_F(Load, FounderGenotypesAreSingleDigitsBetweenAnySeparators)
{
	ASSERT_EQ(load("0 1 1 0 0 1 0 1\n"
	               "0,1,1,0,0,1,0,1\n"
	               "01100101\n"
	               "0 -1 - 1\t0;0 1 -\xb9 0 1\n" // a "-" not before a digit separates
	               "-1-0 1 1 0 0 1 0\n"
	               "1 1 0 0 1 1 0 0\r\n", // a carriage return is one more separator
	               "0\n0\n0\n0\n0\n0\n", "1\n2\n3\n4\n5\n6\n"),
	          1);
	EXPECT_EQ(out, header(6));
	EXPECT_EQ(marker(0), "01100101");
	EXPECT_EQ(marker(1), "01100101");
	EXPECT_EQ(marker(2), "01100101");
	EXPECT_EQ(marker(3), "0-100101");
	EXPECT_EQ(marker(4), "--110010");
	EXPECT_EQ(marker(5), "11001100");
}

TEST_F(Load, FounderLinesWithTheWrongCountAreWarnedAndPadded)
{
	ASSERT_EQ(load("0 1 1 0 0 1 0 1\n"
	               "   \n"                  // blanks only: a marker without genotypes
	               "1 0 0 1 1 0 1 0 1 1\n"  // two too many
	               "0 1 -0\n"               // five too few
	               "\r\n"                   // a blank line of a CRLF file
	               "1 1 1 1 0 0 0 0\n",
	               "0\n0\n0\n0\n0\n0\n", "1\n2\n3\n4\n5\n6\n"),
	          1);
	EXPECT_EQ(out, FounderWarning + FounderWarning + FounderWarning + FounderWarning + header(6));
	expectEveryFounderHoldsL();
	EXPECT_EQ(marker(1), "--------");
	EXPECT_EQ(marker(2), "10011010");
	EXPECT_EQ(marker(3), "01------");
	EXPECT_EQ(marker(4), "--------");
	EXPECT_EQ(marker(5), "11110000");

	// the first line alone sets the founder count; the funnel gives as many entries
	ASSERT_EQ(load("0 1 0 1\n1 0 1 0 1 1 1 1\n", "0\n0\n", "1\n2\n"), 1);
	EXPECT_EQ(out, FounderWarning + header(2, 4));
	EXPECT_EQ(NoOfFounders, 4);
	expectEveryFounderHoldsL();
	EXPECT_EQ(marker(1), "1010");
	EXPECT_EQ(FounderGroup1, (std::vector<int>{0, 1, 2, 3}));

	// an empty first line still is the first line: no founders at all
	ASSERT_EQ(load("\n0 1 1 0 0 1 0 1\n  \n", "0\n0\n", "1\n2\n"), 1);
	EXPECT_EQ(out, FounderWarning + header(2, 0));
	EXPECT_TRUE(FounderGroup1.empty());
}

TEST_F(Load, StrainTakesTheFirstByteOfEachNonEmptyLine)
{
	ASSERT_EQ(load(ThreeMarkers, "2 extra text\n\n 1\nN\n", "1\n2\n3\n"), 1);
	EXPECT_EQ(out, header(3));
	EXPECT_EQ(strain(), "2 N");

	// one line short: one warning, the missing marker carries no genotype
	ASSERT_EQ(load(ThreeMarkers, "0\n1\n", "1\n2\n3\n"), 1);
	EXPECT_EQ(out, StrainWarning + header(3));
	EXPECT_EQ(strain(), "01N");

	// two lines too many: one warning, the first L lines are used
	ASSERT_EQ(load(ThreeMarkers, "0\n1\n2\n0\n1\n", "1\n2\n3\n"), 1);
	EXPECT_EQ(out, StrainWarning + header(3));
	EXPECT_EQ(strain(), "012");

	// CRLF: a blank line is a marker whose genotype is the carriage return
	ASSERT_EQ(load(ThreeMarkers, "0\r\n\r\n2\r\n", "1\n2\n3\n"), 1);
	EXPECT_EQ(out, header(3));
	EXPECT_EQ(strain(), "0\r2");
	ASSERT_EQ(load(ThreeMarkers, "0\r\n1\r\n2\r\n\r\n", "1\n2\n3\n"), 1);
	EXPECT_EQ(out, StrainWarning + header(3));
	EXPECT_EQ(strain(), "012");
}

TEST_F(Load, PositionsInCentimorgans)
{
	ASSERT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1.0\n1.0\n2.5\n"), 1);
	EXPECT_EQ(positions(), (std::vector<float>{1.0f, 1.0f, 2.5f}));
	ASSERT_EQ(load(ThreeMarkers, "0\n0\n0\n", "  3.25 cM\n4e0\n+5\r\n"), 1);
	EXPECT_EQ(positions(), (std::vector<float>{3.25f, 4.0f, 5.0f}));

	EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1.0\n0.9\n2.0\n"), 0);
	EXPECT_EQ(out, header(3) + "The data in Distance File is not sorted\n");

	const std::string unreadable = "Error: cannot read a position from line ";
	const std::string ofFile = " of the marker position file.\n";
	EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1.0\n\nabc\n2.0\n"), 0);
	EXPECT_EQ(out, header(3) + unreadable + "3" + ofFile);
	EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1.0\r\n\r\n2.0\r\n"), 0);
	EXPECT_EQ(out, header(3) + unreadable + "2" + ofFile);

	// lines past the L-th are still read and checked, then the count
	EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n0.5\n"), 0);
	EXPECT_EQ(out, header(3) + "The data in Distance File is not sorted\n");
	EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n4\nx\n"), 0);
	EXPECT_EQ(out, header(3) + unreadable + "5" + ofFile);
	EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n4\n"), 0);
	EXPECT_EQ(out, header(3) + "Error: the marker position file holds 4 positions for 3 markers.\n");
	EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1\n\n2\n"), 0);
	EXPECT_EQ(out, header(3) + "Error: the marker position file holds 2 positions for 3 markers.\n");
}

TEST_F(Load, PositionsInBasePairsAreStoredInMegabases)
{
	const std::string five = ThreeMarkers + TwoMarkers;
	ASSERT_EQ(load(five, "0\n0\n0\n0\n0\n", "-2147483648\n010\n\n0x10\n1500000\n2147483647 bp\n", false), 1);
	EXPECT_EQ(out, header(5));
	EXPECT_EQ(positions(), (std::vector<float>{(float)(-2147483648.0 / 1e6), (float)(8 / 1e6),
	                                           (float)(16 / 1e6), 1.5f, (float)(2147483647 / 1e6)}));

	// order is judged on the stored floats: these two collapse to one value
	EXPECT_EQ(load(TwoMarkers, "0\n0\n", "2147483647\n2147483600\n", false), 1);

	const std::string unreadable = "Error: cannot read a position from line ";
	const std::string ofFile = " of the marker position file.\n";
	for (const char* bad : {"2147483648", "-2147483649", "0x80000000", ".5", "99999999999999999999"}) {
		EXPECT_EQ(load(ThreeMarkers, "0\n0\n0\n", "1\n" + std::string(bad) + "\n3\n", false), 0) << bad;
		EXPECT_EQ(out, header(3) + unreadable + "2" + ofFile) << bad;
	}
}

TEST_F(Load, FilesThatCannotBeOpenedAreRefusedInLoadOrder)
{
	const std::string missing = dir + "/missing";

	prepare(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n");
	FounderFileName = missing;
	EXPECT_EQ(run(), 0);
	EXPECT_EQ(out, "Error in opening Founder file for reading");

	prepare(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n");
	SeqFileName = missing;
	EXPECT_EQ(run(), 0);
	EXPECT_EQ(out, "Error in opening Sequence file for reading:" + missing + "\n");

	// the funnel is refused before the position file is looked at
	prepare(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n");
	FounderGroupFileName = missing;
	CMDistanceFile = missing + "2";
	EXPECT_EQ(run(), 0);
	EXPECT_EQ(out, header(3) + "Error in opening Funnel file for reading:" + missing + "\n");

	prepare(ThreeMarkers, "0\n0\n0\n", "1\n2\n3\n");
	CMDistanceFile = missing;
	EXPECT_EQ(run(), 0);
	EXPECT_EQ(out, header(3) + "Error in opening CM Distance File for reading:" + missing + "\n");
}

} // namespace
