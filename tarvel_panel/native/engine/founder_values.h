// A line's founder values: what the panel's tables take from the 36 pair
// values of a marker, so that a strain's file need not hold the pairs.
//
//   0..7  founder a's probability, P(aa) + 1/2 of each P(ab), summed pair
//         by pair in layout order
//   8     the most probable pair's layout index (the first of equal ones)
//   9     its value
//   10    the heterozygous pairs' values summed in layout order
//
// Each sum runs in the order the panel's own derivation from the pair
// values takes, so both give the same doubles.
#ifndef TARVEL_ENGINE_FOUNDER_VALUES_H
#define TARVEL_ENGINE_FOUNDER_VALUES_H

const int FounderValuesPerLine = 11;

// pairs: the 36 values of a line in the HAPPY layout.
void founderValues(const double* pairs, double* out);

#endif
