// Doubles on which a number formatter is most likely to go wrong, by kind;
// each generator hands every value to `use`. Shared by the unit test and the
// Windows check (tests/windows/format_number_check.cpp).
#ifndef TARVEL_FORMAT_SAMPLES_H
#define TARVEL_FORMAT_SAMPLES_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace format_samples {

// v and its `ulps` neighbours on each side, and all of them negated.
template <class Use>
void around(double v, int ulps, Use&& use) {
	double below = v, above = v;
	use(v), use(-v);
	for (int i = 0; i < ulps; ++i) {
		below = std::nextafter(below, 0.0);
		above = std::nextafter(above, std::numeric_limits<double>::infinity());
		use(below), use(-below), use(above), use(-above);
	}
}

inline double decimal(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

inline double fromBits(std::uint64_t bits) {
	double v;
	std::memcpy(&v, &bits, sizeof v);
	return v;
}

// Zeros, infinities, NaNs, the extremes, and subnormals.
template <class Use>
void specialValues(Use&& use) {
	using L = std::numeric_limits<double>;
	for (double v : {0.0, L::infinity(), L::quiet_NaN(), L::max(), L::min(), L::denorm_min()})
		use(v), use(-v);
	around(1e-300, 8, use);  // the edge of the fast range
	std::mt19937_64 random(1);
	for (int i = 0; i < 20000; ++i) use(fromBits(random() & 0x800fffffffffffffull));
}

// 10^e and its neighbours for every decimal exponent a double reaches.
template <class Use>
void powerOfTenBoundaries(Use&& use) {
	for (int e = -323; e <= 308; ++e) around(decimal("1e" + std::to_string(e)), 8, use);
}

// The doubles nearest d.ddddd5 x 10^e, where the 6-digit rounding turns, and
// a few ulps around them: `count` random mantissas per exponent, plus the
// ones that carry into the next decade (9.999995) or sit at its start.
template <class Use>
void roundingTies(int minExponent, int maxExponent, int count, unsigned seed, Use&& use) {
	std::mt19937_64 random(seed);
	std::uniform_int_distribution<int> mantissa(100000, 999999);
	char text[40];
	for (int e = minExponent; e <= maxExponent; ++e)
		for (int i = 0; i < count + 2; ++i) {
			const int m = i == 0 ? 999999 : i == 1 ? 100000 : mantissa(random);
			std::snprintf(text, sizeof text, "%d.%05d5e%d", m / 100000, m % 100000, e);
			around(decimal(text), 4, use);
		}
}

// Where the text switches between fixed and scientific notation.
template <class Use>
void notationSwitches(Use&& use) {
	for (const char* text : {"1e-05", "9.999995e-06", "0.0001", "9.999995e-05", "9.9999949e-05",
	                         "9.9999951e-05", "99999.95", "100000", "999999", "999999.5",
	                         "999999.4999999", "999999.5000001", "1e+06", "9.999995"})
		around(decimal(text), 16, use);
}

// Uniform random bit patterns: every exponent, sign, NaN payload.
template <class Use>
void randomBits(int count, unsigned seed, Use&& use) {
	std::mt19937_64 random(seed);
	for (int i = 0; i < count; ++i) use(fromBits(random()));
}

// Probabilities: uniform in [0, 1], and log-uniform over 1e-300 .. 1.
template <class Use>
void randomProbabilities(int count, unsigned seed, Use&& use) {
	std::mt19937_64 random(seed);
	std::uniform_real_distribution<double> unit(0.0, 1.0), exponent(-300.0, 0.0);
	for (int i = 0; i < count; ++i) use(unit(random)), use(std::pow(10.0, exponent(random)));
}

}  // namespace format_samples

#endif
