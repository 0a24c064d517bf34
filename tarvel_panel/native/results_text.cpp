// The two hot loops of the panel's collect and batch steps, called from
// Python (tarvel_panel/native.py) through ctypes: reading TARVEL's results
// text into numbers, and writing rows of numbers the way TARVEL writes its
// own. Both touch every value of every strain of the panel, which Python
// does about ten times slower.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "output/format_number.h"

namespace {

constexpr int Pairs = 36;

// 10^0 .. 10^22, each exactly a double.
constexpr double ExactPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A number as TARVEL writes one (at most 15 digits, a decimal exponent of
// at most 22 either way): m * 10^e is then one multiplication or division of
// two exact doubles, so it is rounded once, correctly, as from_chars rounds.
// Anything else goes to from_chars itself.
std::from_chars_result readNumber(const char* p, const char* end, double& v) {
	const char* start = p;
	unsigned long long m = 0;
	int digits = 0, scale = 0;
	for (; p < end && isDigit(*p) && digits <= 15; ++p, ++digits) m = m * 10 + static_cast<unsigned>(*p - '0');
	if (p < end && *p == '.')
		for (++p; p < end && isDigit(*p) && digits <= 15; ++p, ++digits, --scale)
			m = m * 10 + static_cast<unsigned>(*p - '0');
	int exponent = 0;
	if (digits > 0 && digits <= 15 && p < end && (*p == 'e' || *p == 'E')) {
		++p;
		const bool negative = p < end && *p == '-';
		if (p < end && (*p == '-' || *p == '+')) ++p;
		int n = 0;
		for (; p < end && isDigit(*p) && n < 4; ++p, ++n) exponent = exponent * 10 + (*p - '0');
		if (n == 0 || n == 4) digits = 0;
		if (negative) exponent = -exponent;
	}
	const int e = scale + exponent;
	if (digits == 0 || digits > 15 || e < -22 || e > 22 || (p < end && isDigit(*p)))
		return std::from_chars(start, end, v);
	const double mantissa = static_cast<double>(m);
	v = e < 0 ? mantissa / ExactPowers[-e] : mantissa * ExactPowers[e];
	return {p, std::errc()};
}

// The line's index: decimal digits without sign or leading zeros, equal to
// `expected`; p moves past it.
bool readIndex(const char*& p, const char* end, long expected) {
	const char* start = p;
	long value = 0;
	if (p == end || !isDigit(*p) || (*p == '0' && p + 1 < end && isDigit(p[1]))) return false;
	while (p < end && isDigit(*p) && p - start < 18) value = value * 10 + (*p++ - '0');
	return value == expected;
}

// One line "index|v1,v2,...,v36," (its newline excluded; a carriage return
// before it allowed), every value a number in [0, top].
bool readLine(const char* p, const char* end, long index, double top, double* out) {
	if (end > p && end[-1] == '\r') --end;
	if (!readIndex(p, end, index) || p == end || *p++ != '|') return false;
	for (int k = 0; k < Pairs; ++k) {
		const std::from_chars_result r = readNumber(p, end, out[k]);
		if (r.ec != std::errc() || r.ptr == end || *r.ptr != ',') return false;
		if (!std::isfinite(out[k]) || !(out[k] >= 0.0) || out[k] > top) return false;
		p = r.ptr + 1;
	}
	return p == end;
}

}  // namespace

extern "C" {

// Reads the n bytes of a results file into out[markers][36]. Returns 0 when
// the file is `markers` lines "i|v1,...,v36," (i = 0, 1, ...; the last
// newline may be missing) with every value in [0, top]; -1 when the count of
// lines is not `markers` (*lines gets the count); else the number (from 1)
// of the first line that is not such a line.
long tarvel_parse_results(const char* data, std::size_t n, long markers, double top, double* out, long* lines) {
	const char* end = data + n;
	long count = 0;
	for (const char* p = data; p < end; ++count) {
		const char* next = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
		p = next ? next + 1 : end;
	}
	*lines = count;
	if (count != markers) return -1;
	const char* p = data;
	for (long i = 0; i < count; ++i) {
		const char* next = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
		const char* lineEnd = next ? next : end;
		if (!readLine(p, lineEnd, i, top, out + i * Pairs)) return i + 1;
		p = lineEnd + 1;
	}
	return 0;
}

// Bytes tarvel_format_rows may need for `rows` rows of `cols` values and
// `text` bytes of lead and tails in all.
std::size_t tarvel_format_rows_room(long rows, long cols, std::size_t text) {
	return static_cast<std::size_t>(rows) * (static_cast<std::size_t>(cols) * (FormatNumberMaxLength + 1) + 1) +
	       text + FormatNumberMaxLength;
}

// Writes, for each row r, lead, the tail tails[ends[r-1]:ends[r]], then each
// of the row's values after a comma as `std::ostream << v` writes it, then a
// newline. values holds rows x cols doubles, row after row. Returns the
// number of bytes written to out (room: tarvel_format_rows_room).
std::size_t tarvel_format_rows(const double* values, long rows, long cols, const char* lead,
                               std::size_t leadLength, const char* tails, const long* ends, char* out) {
	char* q = out;
	long start = 0;
	for (long r = 0; r < rows; ++r) {
		std::memcpy(q, lead, leadLength);
		q += leadLength;
		std::memcpy(q, tails + start, static_cast<std::size_t>(ends[r] - start));
		q += ends[r] - start;
		start = ends[r];
		for (long c = 0; c < cols; ++c) {
			*q++ = ',';
			q += formatNumber(values[r * cols + c], q);
		}
		*q++ = '\n';
	}
	return static_cast<std::size_t>(q - out);
}
}
