// Formats a double exactly as `std::ostream << v` does with the stream's
// default flags and precision (6 significant digits, %g-style), but without
// the stream machinery: the writers put many numbers into one buffer.
#ifndef TARVEL_FORMAT_NUMBER_H
#define TARVEL_FORMAT_NUMBER_H

#include <cstddef>

// Longest text formatNumber writes ("-1.23457e-308" is 13 characters).
constexpr std::size_t FormatNumberMaxLength = 32;

// Writes v into buf (room for FormatNumberMaxLength characters, no
// terminating NUL) and returns the length of the text. Bytes of buf after
// the text, up to FormatNumberMaxLength, may be overwritten.
std::size_t formatNumber(double v, char* buf);

#endif
