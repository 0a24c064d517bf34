// Hidden-state codes decoded into funnel positions, for every coding.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>

#include "driver/driver.h"
#include "model/model.h"

namespace {

struct Decoded { int code, first, second; };

class ModelCoding : public ::testing::Test {
protected:
	void TearDown() override { resetModelState(); }
	static void autosome(int gen) { XChromosome = false; NoOfInbreedingGen = gen; InfoLength = gen >= 4 ? 8 : 6; }
	static void xWalk(int gen) { XChromosome = true; NoOfInbreedingGen = gen; InfoLength = 2 * gen + 1; }
	static void expectAutosome(const std::vector<Decoded>& cases) {
		for (const Decoded& d : cases) {
			EXPECT_EQ(decodeState(d.code, true), d.first) << "code " << d.code;
			EXPECT_EQ(decodeState(d.code, false), d.second) << "code " << d.code;
		}
	}
	static void expectX(const std::vector<Decoded>& cases) {
		for (const Decoded& d : cases) {
			EXPECT_EQ(decodeStateX(d.code, true), d.first) << "code " << d.code;
			EXPECT_EQ(decodeStateX(d.code, false), d.second) << "code " << d.code;
		}
	}
};

TEST_F(ModelCoding, GetbitCountsFromTheTopOnAutosomesAndFromTheBottomOnX) {
	autosome(4);
	EXPECT_EQ(getbit(128, 1), 1);
	EXPECT_EQ(getbit(128, 8), 0);
	EXPECT_EQ(getbit(1, 8), 1);
	EXPECT_EQ(getbit(255, 9), 0); // past the last bit
	xWalk(2);
	EXPECT_EQ(getbit(1, 1), 1);
	EXPECT_EQ(getbit(16, 5), 1);
	EXPECT_EQ(getbit(16, 1), 0);
	EXPECT_EQ(getbit(31, 6), 0);
}

TEST_F(ModelCoding, EightBitAutosomeExamples) {
	autosome(4);
	expectAutosome({{0, 0, 0}, {1, 0, 2}, {2, 0, 4}, {3, 0, 6}, {15, 6, 6}, {27, 4, 7},
	                {75, 4, 6}, {134, 2, 4}, {240, 1, 1}, {255, 7, 7}});
}

TEST_F(ModelCoding, EightBitAutosomeCoversFiftySixCombinations) {
	autosome(30);
	std::map<std::pair<int, int>, int> codes;
	for (int c = 0; c < 256; ++c) ++codes[{decodeState(c, true), decodeState(c, false)}];
	EXPECT_EQ(codes.size(), 56u);
	for (const auto& [pair, n] : codes) {
		int a = pair.first, b = pair.second;
		EXPECT_FALSE(a != b && a / 2 == b / 2) << "two members of one pair";
		EXPECT_EQ(n, a == b ? 8 : 4) << a << "," << b;
	}
}

TEST_F(ModelCoding, SixBitAutosomeExamplesAndHalves) {
	autosome(3);
	expectAutosome({{0, 0, 4}, {1, 0, 6}, {2, 2, 4}, {5, 0, 7}, {18, 3, 4}, {32, 1, 4}, {63, 3, 7}});
	autosome(0);
	std::map<std::pair<int, int>, int> codes;
	for (int c = 0; c < 64; ++c) ++codes[{decodeState(c, true), decodeState(c, false)}];
	EXPECT_EQ(codes.size(), 16u); // four first x four second positions
	for (const auto& [pair, n] : codes) {
		EXPECT_LT(pair.first, 4);
		EXPECT_GE(pair.second, 4);
		EXPECT_EQ(n, 4);
	}
}

TEST_F(ModelCoding, XWalkExamples) {
	xWalk(0);
	expectX({{0, 0, 4}, {1, 1, 4}});
	xWalk(1);
	expectX({{0, 0, 4}, {1, 2, 4}, {2, 0, 5}, {3, 2, 5}, {4, 1, 4}, {5, 2, 4}, {6, 1, 5}, {7, 2, 5}});
	xWalk(2);
	expectX({{0, 0, 0}, {1, 4, 0}, {2, 0, 2}, {4, 2, 0}, {16, 1, 1}, {21, 4, 1}, {31, 5, 2}});
	xWalk(3);
	expectX({{1, 0, 0}, {2, 0, 4}, {42, 0, 5}, {85, 1, 2}, {127, 2, 5}});
}

TEST_F(ModelCoding, XWalkReachesExactlyTheFunnelPositionsOfItsDepth) {
	const std::set<int> reach[4][2] = {{{0, 1}, {4}},
	                                   {{0, 1, 2}, {4, 5}},
	                                   {{0, 1, 2, 4, 5}, {0, 1, 2}},
	                                   {{0, 1, 2, 4, 5}, {0, 1, 2, 4, 5}}};
	for (int gen = 0; gen <= 3; ++gen) {
		xWalk(gen);
		std::set<int> first, second;
		for (int c = 0; c < 1 << InfoLength; ++c) {
			first.insert(decodeStateX(c, true));
			second.insert(decodeStateX(c, false));
		}
		EXPECT_EQ(first, reach[gen][0]) << "G = " << gen;
		EXPECT_EQ(second, reach[gen][1]) << "G = " << gen;
	}
}

TEST_F(ModelCoding, XAfterFourGenerationsMaleCodeIsThePositionFemaleReadsTwoLowBits) {
	XChromosome = true;
	NoOfInbreedingGen = 4;
	Sex = true;
	for (int c = 0; c < 8; ++c) {
		EXPECT_EQ(decodeStateX(c, true), c);
		EXPECT_EQ(decodeStateX(c, false), c);
	}
	Sex = false;
	NoOfInbreedingGen = 20;
	expectX({{6, 0, 1}, {61, 1, 0}, {3, 1, 1}, {0, 0, 0}});
}

} // namespace
