// formatNumber against the standard stream of the runtime it is built for,
// on a large sample of every kind in format_samples.h. Built with MinGW-w64
// and run under Wine by format_number_check.sh, where the stream formats
// through the MinGW runtime's printf rather than glibc's.
#include <cstdio>
#include <sstream>
#include <string>

#include "format_samples.h"
#include "output/format_number.h"

namespace {

int passed = 0, failed = 0;

template <class Generate>
void check(const char* kind, Generate&& generate) {
	std::ostringstream stream;
	long values = 0, mismatches = 0;
	generate([&](double v) {
		char buf[FormatNumberMaxLength];
		const std::size_t n = formatNumber(v, buf);
		stream.str("");
		stream << v;
		++values;
		if (stream.str() == std::string(buf, n)) return;
		if (++mismatches <= 5)
			std::printf("  %a: stream \"%s\", formatNumber \"%.*s\"\n", v, stream.str().c_str(),
			            static_cast<int>(n), buf);
	});
	std::printf("%-40s %9ld values, %ld differ\n", kind, values, mismatches);
	++(mismatches ? failed : passed);
}

}  // namespace

int main() {
	namespace fs = format_samples;
	check("zeros, infinities, NaNs, subnormals", [](auto use) { fs::specialValues(use); });
	check("powers of ten and neighbours", [](auto use) { fs::powerOfTenBoundaries(use); });
	check("near ties, 1e-300 .. 1", [](auto use) { fs::roundingTies(-300, 0, 300, 12, use); });
	check("near ties, every exponent", [](auto use) { fs::roundingTies(-323, 308, 100, 13, use); });
	check("fixed / scientific switches", [](auto use) { fs::notationSwitches(use); });
	check("random bit patterns", [](auto use) { fs::randomBits(3000000, 14, use); });
	check("random probabilities", [](auto use) { fs::randomProbabilities(1500000, 15, use); });
	std::printf("%d kinds the same, %d differ\n", passed, failed);
	return failed ? 1 : 0;
}
