// Micro-benchmark (not a test): formatNumber against `stream << v` on the
// numbers a results file holds, and how often formatNumber falls back to
// the stream. Build and run from the repository's top directory:
//   bash tools/format_bench/run.sh
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "output/format_number.h"

extern long formatNumberFallbacks;

namespace {

// Posterior-like values: many near 0 or 1, the rest spread over decades,
// some exact zeros.
std::vector<double> typicalValues(std::size_t count) {
	std::mt19937_64 random(7);
	std::uniform_real_distribution<double> unit(0.0, 1.0), decades(-300.0, 0.0);
	std::vector<double> values(count);
	for (double& v : values) {
		const double kind = unit(random);
		v = kind < 0.1 ? 0.0 : kind < 0.4 ? unit(random) : kind < 0.5 ? 1.0 - std::pow(10.0, decades(random) / 20)
		                                                 : std::pow(10.0, decades(random));
	}
	return values;
}

template <class Write>
double nanosecondsPerValue(const std::vector<double>& values, Write&& write) {
	double best = 1e300;
	for (int round = 0; round < 5; ++round) {
		const auto start = std::chrono::steady_clock::now();
		for (double v : values) write(v);
		const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
		best = std::min(best, took.count() / values.size());
	}
	return best;
}

}  // namespace

int main() {
	const std::vector<double> values = typicalValues(2000000);
	std::vector<char> out(values.size() * FormatNumberMaxLength);

	char* p = out.data();
	const double fast = nanosecondsPerValue(values, [&](double v) {
		p += formatNumber(v, p);
		p = p > out.data() + out.size() - 64 ? out.data() : p;
	});
	std::ostringstream stream;
	const double streamed = nanosecondsPerValue(values, [&](double v) {
		stream << v;
		if (stream.tellp() > 1 << 20) stream.str("");
	});
	std::printf("formatNumber %.1f ns/value, stream %.1f ns/value: %.1fx faster\n", fast, streamed,
	            streamed / fast);
	formatNumberFallbacks = 0;
	char buf[FormatNumberMaxLength];
	for (double v : values) formatNumber(v, buf);
	std::printf("fallbacks to the stream: %ld of %zu values\n", formatNumberFallbacks, values.size());
}
