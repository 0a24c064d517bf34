// formatNumber against the standard stream's default formatting, byte for
// byte, on millions of doubles chosen where a shortcut would go wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "format_samples.h"
#include "output/format_number.h"

namespace {

namespace fs = format_samples;

// Counts the values formatNumber writes differently from `stream << v`, or
// with more than FormatNumberMaxLength characters, or past the
// FormatNumberMaxLength bytes it may use.
class StreamComparison {
public:
	auto use() {
		return [this](double v) { compare(v); };
	}
	void expectSameBytes(long minimumValues) {
		EXPECT_GE(values_, minimumValues);
		EXPECT_EQ(mismatches_, 0) << "of " << values_ << " values";
	}

private:
	std::ostringstream stream_;
	long values_ = 0, mismatches_ = 0;

	void compare(double v) {
		char buf[FormatNumberMaxLength + 8];
		std::memset(buf, '#', sizeof buf);
		const std::size_t n = formatNumber(v, buf);
		stream_.str("");
		stream_ << v;
		const std::string expected = stream_.str();
		++values_;
		const std::size_t room = FormatNumberMaxLength;
		const bool untouched = n <= room &&
		    std::string(buf + room, sizeof buf - room) == std::string(sizeof buf - room, '#');
		if (untouched && expected == std::string(buf, n)) return;
		if (++mismatches_ <= 10)
			ADD_FAILURE() << std::hexfloat << v << ": stream \"" << expected << "\", formatNumber \""
			              << std::string(buf, std::min(n, sizeof buf)) << "\""
			              << (untouched ? "" : " (wrote past its room)");
	}
};

TEST(FormatNumber, ZerosInfinitiesNaNsExtremesAndSubnormals) {
	StreamComparison c;
	fs::specialValues(c.use());
	c.expectSameBytes(20000);
}

TEST(FormatNumber, EveryPowerOfTenAndItsNeighbours) {
	StreamComparison c;
	fs::powerOfTenBoundaries(c.use());
	c.expectSameBytes(20000);
}

TEST(FormatNumber, NearRoundingTiesOverTheProbabilityRange) {
	StreamComparison c;
	fs::roundingTies(-300, 0, 120, 2, c.use());
	c.expectSameBytes(600000);
}

TEST(FormatNumber, NearRoundingTiesAtEveryExponent) {
	StreamComparison c;
	fs::roundingTies(-323, 308, 25, 3, c.use());
	c.expectSameBytes(250000);
}

TEST(FormatNumber, SwitchesBetweenFixedAndScientificNotation) {
	StreamComparison c;
	fs::notationSwitches(c.use());
	c.expectSameBytes(900);
}

TEST(FormatNumber, RandomDoublesOfEveryExponent) {
	StreamComparison c;
	fs::randomBits(1000000, 4, c.use());
	c.expectSameBytes(1000000);
}

TEST(FormatNumber, RandomProbabilities) {
	StreamComparison c;
	fs::randomProbabilities(500000, 5, c.use());
	c.expectSameBytes(1000000);
}

}  // namespace
