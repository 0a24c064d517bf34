// Default stream formatting of a double, made fast.
//
// libstdc++'s num_put (bits/locale_facets.tcc, _M_insert_float) formats a
// double under the default flags by calling vsnprintf in the "C" locale with
// "%.*g" and the stream's precision, 6 by default; the MinGW-w64 build does
// the same through the MinGW runtime's own C99 printf (its C++ headers set
// __USE_MINGW_ANSI_STDIO), which also writes at least two exponent digits.
// Either printf rounds the exact binary value correctly to 6 significant
// digits. So the text is fixed by two numbers: the 6-digit integer
// n = round(|v| / 10^(X-5)) and the decimal exponent X of its first digit.
//
// Fast path, and why it is exact. For a normal |v| >= 1e-300 take
// k = 5 - X' with X' an estimate of X, and y = fl(|v| * P[k]) where P[k] is
// 10^k rounded to the nearest double (exact for 0 <= k <= 22). Two roundings,
// each with relative error at most u = 2^-53, so for y < 1e6
//     |y - |v| * 10^k| <= 1e6 * (2u + u^2) < 2.3e-10.
// Once 1e5 <= y < 1e6, y and the exact scaled value have the same nearest
// integer unless a half-integer lies within 2.3e-10 of y; Tie (1e-9) is more
// than four times that, and such values go to the stream instead. If the
// exact value lies just outside [1e5, 1e6) while y is inside, it lies within
// 2.3e-10 of an edge, and printf rounds it to the same 1 followed by zeros
// at the same exponent that y gives. y - floor(y) and its distance from 0.5
// are computed exactly (y < 2^20).
//
// Everything else is written by the stream itself: -0, infinities, NaN,
// subnormals, |v| < 1e-300, and the near-ties.
#include "output/format_number.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>

#ifdef TARVEL_COUNT_FORMAT_FALLBACKS
long formatNumberFallbacks = 0;  // read by tools/format_bench
#endif

namespace {

constexpr int MinPower = -303;  // enough for DBL_MAX: X = 308, k = -303
constexpr int MaxPower = 306;   // enough for 1e-300: X' = -301, k = 306
constexpr double FastMin = 1e-300;
constexpr double Tie = 1e-9;

// 10^p for p = MinPower..MaxPower; the compiler converts each literal to the
// nearest double.
const double PowersOfTen[MaxPower - MinPower + 1] = {
	1e-303, 1e-302, 1e-301, 1e-300, 1e-299, 1e-298, 1e-297, 1e-296, 1e-295, 1e-294,
	1e-293, 1e-292, 1e-291, 1e-290, 1e-289, 1e-288, 1e-287, 1e-286, 1e-285, 1e-284,
	1e-283, 1e-282, 1e-281, 1e-280, 1e-279, 1e-278, 1e-277, 1e-276, 1e-275, 1e-274,
	1e-273, 1e-272, 1e-271, 1e-270, 1e-269, 1e-268, 1e-267, 1e-266, 1e-265, 1e-264,
	1e-263, 1e-262, 1e-261, 1e-260, 1e-259, 1e-258, 1e-257, 1e-256, 1e-255, 1e-254,
	1e-253, 1e-252, 1e-251, 1e-250, 1e-249, 1e-248, 1e-247, 1e-246, 1e-245, 1e-244,
	1e-243, 1e-242, 1e-241, 1e-240, 1e-239, 1e-238, 1e-237, 1e-236, 1e-235, 1e-234,
	1e-233, 1e-232, 1e-231, 1e-230, 1e-229, 1e-228, 1e-227, 1e-226, 1e-225, 1e-224,
	1e-223, 1e-222, 1e-221, 1e-220, 1e-219, 1e-218, 1e-217, 1e-216, 1e-215, 1e-214,
	1e-213, 1e-212, 1e-211, 1e-210, 1e-209, 1e-208, 1e-207, 1e-206, 1e-205, 1e-204,
	1e-203, 1e-202, 1e-201, 1e-200, 1e-199, 1e-198, 1e-197, 1e-196, 1e-195, 1e-194,
	1e-193, 1e-192, 1e-191, 1e-190, 1e-189, 1e-188, 1e-187, 1e-186, 1e-185, 1e-184,
	1e-183, 1e-182, 1e-181, 1e-180, 1e-179, 1e-178, 1e-177, 1e-176, 1e-175, 1e-174,
	1e-173, 1e-172, 1e-171, 1e-170, 1e-169, 1e-168, 1e-167, 1e-166, 1e-165, 1e-164,
	1e-163, 1e-162, 1e-161, 1e-160, 1e-159, 1e-158, 1e-157, 1e-156, 1e-155, 1e-154,
	1e-153, 1e-152, 1e-151, 1e-150, 1e-149, 1e-148, 1e-147, 1e-146, 1e-145, 1e-144,
	1e-143, 1e-142, 1e-141, 1e-140, 1e-139, 1e-138, 1e-137, 1e-136, 1e-135, 1e-134,
	1e-133, 1e-132, 1e-131, 1e-130, 1e-129, 1e-128, 1e-127, 1e-126, 1e-125, 1e-124,
	1e-123, 1e-122, 1e-121, 1e-120, 1e-119, 1e-118, 1e-117, 1e-116, 1e-115, 1e-114,
	1e-113, 1e-112, 1e-111, 1e-110, 1e-109, 1e-108, 1e-107, 1e-106, 1e-105, 1e-104,
	1e-103, 1e-102, 1e-101, 1e-100, 1e-99, 1e-98, 1e-97, 1e-96, 1e-95, 1e-94,
	1e-93, 1e-92, 1e-91, 1e-90, 1e-89, 1e-88, 1e-87, 1e-86, 1e-85, 1e-84,
	1e-83, 1e-82, 1e-81, 1e-80, 1e-79, 1e-78, 1e-77, 1e-76, 1e-75, 1e-74,
	1e-73, 1e-72, 1e-71, 1e-70, 1e-69, 1e-68, 1e-67, 1e-66, 1e-65, 1e-64,
	1e-63, 1e-62, 1e-61, 1e-60, 1e-59, 1e-58, 1e-57, 1e-56, 1e-55, 1e-54,
	1e-53, 1e-52, 1e-51, 1e-50, 1e-49, 1e-48, 1e-47, 1e-46, 1e-45, 1e-44,
	1e-43, 1e-42, 1e-41, 1e-40, 1e-39, 1e-38, 1e-37, 1e-36, 1e-35, 1e-34,
	1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24,
	1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14,
	1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4,
	1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6,
	1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16,
	1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26,
	1e27, 1e28, 1e29, 1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36,
	1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46,
	1e47, 1e48, 1e49, 1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56,
	1e57, 1e58, 1e59, 1e60, 1e61, 1e62, 1e63, 1e64, 1e65, 1e66,
	1e67, 1e68, 1e69, 1e70, 1e71, 1e72, 1e73, 1e74, 1e75, 1e76,
	1e77, 1e78, 1e79, 1e80, 1e81, 1e82, 1e83, 1e84, 1e85, 1e86,
	1e87, 1e88, 1e89, 1e90, 1e91, 1e92, 1e93, 1e94, 1e95, 1e96,
	1e97, 1e98, 1e99, 1e100, 1e101, 1e102, 1e103, 1e104, 1e105, 1e106,
	1e107, 1e108, 1e109, 1e110, 1e111, 1e112, 1e113, 1e114, 1e115, 1e116,
	1e117, 1e118, 1e119, 1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126,
	1e127, 1e128, 1e129, 1e130, 1e131, 1e132, 1e133, 1e134, 1e135, 1e136,
	1e137, 1e138, 1e139, 1e140, 1e141, 1e142, 1e143, 1e144, 1e145, 1e146,
	1e147, 1e148, 1e149, 1e150, 1e151, 1e152, 1e153, 1e154, 1e155, 1e156,
	1e157, 1e158, 1e159, 1e160, 1e161, 1e162, 1e163, 1e164, 1e165, 1e166,
	1e167, 1e168, 1e169, 1e170, 1e171, 1e172, 1e173, 1e174, 1e175, 1e176,
	1e177, 1e178, 1e179, 1e180, 1e181, 1e182, 1e183, 1e184, 1e185, 1e186,
	1e187, 1e188, 1e189, 1e190, 1e191, 1e192, 1e193, 1e194, 1e195, 1e196,
	1e197, 1e198, 1e199, 1e200, 1e201, 1e202, 1e203, 1e204, 1e205, 1e206,
	1e207, 1e208, 1e209, 1e210, 1e211, 1e212, 1e213, 1e214, 1e215, 1e216,
	1e217, 1e218, 1e219, 1e220, 1e221, 1e222, 1e223, 1e224, 1e225, 1e226,
	1e227, 1e228, 1e229, 1e230, 1e231, 1e232, 1e233, 1e234, 1e235, 1e236,
	1e237, 1e238, 1e239, 1e240, 1e241, 1e242, 1e243, 1e244, 1e245, 1e246,
	1e247, 1e248, 1e249, 1e250, 1e251, 1e252, 1e253, 1e254, 1e255, 1e256,
	1e257, 1e258, 1e259, 1e260, 1e261, 1e262, 1e263, 1e264, 1e265, 1e266,
	1e267, 1e268, 1e269, 1e270, 1e271, 1e272, 1e273, 1e274, 1e275, 1e276,
	1e277, 1e278, 1e279, 1e280, 1e281, 1e282, 1e283, 1e284, 1e285, 1e286,
	1e287, 1e288, 1e289, 1e290, 1e291, 1e292, 1e293, 1e294, 1e295, 1e296,
	1e297, 1e298, 1e299, 1e300, 1e301, 1e302, 1e303, 1e304, 1e305, 1e306,
};

double powerOfTen(int p) { return PowersOfTen[p - MinPower]; }

std::size_t formatByStream(double v, char* buf) {
#ifdef TARVEL_COUNT_FORMAT_FALLBACKS
	++formatNumberFallbacks;
#endif
	std::ostringstream s;
	s.imbue(std::locale::classic());
	s << v;
	const std::string text = s.str();
	std::memcpy(buf, text.data(), text.size());
	return text.size();
}

// floor(log10(|v|)) or one less, from the binary exponent of a normal v.
int decimalExponentEstimate(double v) {
	std::uint64_t bits;
	std::memcpy(&bits, &v, sizeof bits);
	const int binaryExponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
	// 78913 / 2^18 is log10(2) to within 2e-7, so this is floor(e * log10(2))
	// for every exponent here (rounded down, also for negative e).
	const int scaled = binaryExponent * 78913;
	return (scaled >= 0 ? scaled : scaled - 262143) / 262144;
}

// The 6 digits of |v| rounded to 6 significant digits, and the exponent of
// the first one; false where that cannot be shown exact here.
bool roundToSixDigits(double a, int& digits, int& exponent) {
	int x = decimalExponentEstimate(a);
	double y = a * powerOfTen(5 - x);
	if (y >= 1e6) y = a * powerOfTen(5 - ++x);
	else if (y < 1e5) y = a * powerOfTen(5 - --x);
	if (!(y >= 1e5 && y < 1e6)) return false;
	const int whole = static_cast<int>(y);
	const double fraction = y - whole;
	if (std::fabs(fraction - 0.5) <= Tie) return false;
	digits = whole + (fraction > 0.5);
	if (digits == 1000000) digits = 100000, ++x;
	exponent = x;
	return true;
}

// The text pieces below are written with fixed-length copies that may run
// past the last character; the caller's buffer has FormatNumberMaxLength
// bytes, more than the longest text plus such a copy.

// "00", "01", ..., "99".
struct DigitPairTable {
	char text[200];
	constexpr DigitPairTable() : text() {
		for (int i = 0; i < 100; ++i) {
			text[2 * i] = static_cast<char>('0' + i / 10);
			text[2 * i + 1] = static_cast<char>('0' + i % 10);
		}
	}
};
constexpr DigitPairTable DigitPairs;

// "e-308" ... "e-05", ..., "e+00", ..., "e+308" and their lengths.
constexpr int MaxExponent = 308;
struct ExponentText {
	char text[7];
	unsigned char length;
};
struct ExponentTable {
	ExponentText entry[2 * MaxExponent + 1];
	constexpr ExponentTable() : entry() {
		for (int x = -MaxExponent; x <= MaxExponent; ++x) {
			ExponentText& t = entry[x + MaxExponent];
			const int e = x < 0 ? -x : x;
			int n = 0;
			t.text[n++] = 'e';
			t.text[n++] = x < 0 ? '-' : '+';
			if (e >= 100) t.text[n++] = static_cast<char>('0' + e / 100);
			t.text[n++] = static_cast<char>('0' + e / 10 % 10);
			t.text[n++] = static_cast<char>('0' + e % 10);
			t.length = static_cast<unsigned char>(n);
		}
	}
};
const ExponentTable Exponents;

// The digit texts are handled as 64-bit words whose byte i is character i.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digit words need little-endian order");

std::uint64_t digitPair(unsigned i) {
	std::uint16_t pair;
	std::memcpy(&pair, DigitPairs.text + 2 * i, sizeof pair);
	return pair;
}

// The six digit characters of 100000 <= n < 1000000 in bytes 0..5, zero
// bytes above. Built in a register: storing the pieces to memory and
// loading them back as one word would stall store forwarding.
std::uint64_t sixDigitWord(unsigned n) {
	const unsigned high = n / 10000, rest = n % 10000;
	return digitPair(high) | digitPair(rest / 100) << 16 | digitPair(rest % 100) << 32;
}

// How many digits remain once trailing zeros are dropped: the highest byte
// that is not '0' (the first digit never is).
int significantDigits(std::uint64_t word) {
	return (63 - __builtin_clzll(word - 0x303030303030u)) / 8 + 1;
}

void store(char* out, std::uint64_t word) { std::memcpy(out, &word, sizeof word); }

// %g with precision 6: scientific below 1e-4 and from 1e6, fixed between;
// no trailing zeros in the fraction and no point without one.
std::size_t writeGeneral(int digits, int exponent, char* out) {
	const std::uint64_t word = sixDigitWord(static_cast<unsigned>(digits));
	const int significant = significantDigits(word);
	if (exponent < -4 || exponent >= 6) {
		out[0] = static_cast<char>(word);
		out[1] = '.';
		store(out + 2, word >> 8);
		char* p = out + significant + (significant > 1);
		const ExponentText& e = Exponents.entry[exponent + MaxExponent];
		std::memcpy(p, e.text, sizeof e.text);
		return static_cast<std::size_t>(p - out) + e.length;
	}
	if (exponent >= 0) {
		store(out, word);
		out[exponent + 1] = '.';
		store(out + exponent + 2, word >> (8 * (exponent + 1)));
		return static_cast<std::size_t>(significant > exponent + 1 ? significant + 1 : exponent + 1);
	}
	std::memcpy(out, "0.000000", 8);
	store(out + 1 - exponent, word);
	return static_cast<std::size_t>(1 - exponent + significant);
}

}  // namespace

std::size_t formatNumber(double v, char* buf) {
	if (v == 0 && !std::signbit(v)) {
		buf[0] = '0';
		return 1;
	}
	const double a = std::fabs(v);
	int digits, exponent;
	if (!(a >= FastMin && a <= std::numeric_limits<double>::max()) ||
	    !roundToSixDigits(a, digits, exponent))
		return formatByStream(v, buf);
	std::size_t n = 0;
	if (v < 0) buf[n++] = '-';
	return n + writeGeneral(digits, exponent, buf + n);
}
