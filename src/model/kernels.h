// Vector loops of the inference: each output is formed by exactly the
// operations, in exactly the order, of the scalar code it replaces; the
// vectors run across independent outputs only. One portable set and, where
// the CPU has it, an AVX2 set chosen when the program starts.
#ifndef TARVEL_KERNELS_H
#define TARVEL_KERNELS_H

#include "inbreeding_depth.h"

// The entries are set by name (kernels_body.h), never by position: two of
// them share one signature.
struct Kernels {
	const char* name;
	// out[16b + i] = sum over j (in order) of x[16b + j] * w[16j + i], from 0,
	// where x = e * (in / d): in / d replaces in first unless d is 0, and the
	// product with e is left out when e is null.
	void (*pairBlocks)(double* in, const double* e, double d, double* out, const double* w, int n);
	// out[2k], out[2k + 1] from in[2k], in[2k + 1]: the two-state leaf.
	void (*leafPairs)(const double* in, double* out, int n, double r);
	// Two-state factors in place, halves h = from, 2 from, ... n / 2.
	void (*twoStateLevels)(double* v, int n, int from, double r);
	// v[q] = e[q] * v[q]
	void (*multiplyBy)(double* v, const double* e, int n);
	// out[q] = e[q] * v[q]
	void (*product)(const double* e, const double* v, double* out, int n);
	// v[q] = v[q] / d
	void (*divideBy)(double* v, int n, double d);
	// w[q] = b[q] * a[q] * p
	void (*posterior)(const double* b, const double* a, double p, double* w, int n);
	// Full small matrix t[p * n + q]: forward out[q] = sum_p (a[p] t[pq]) e[q],
	// backward out[q] = sum_p (b[p] t[pq]) e[p].
	void (*denseForward)(const double* a, const double* t, const double* e, double* out, int n);
	void (*denseBackward)(const double* b, const double* t, const double* e, double* out, int n);
	// An emission row: row[q] = agree where bit pair[q] of mask is set,
	// disagree elsewhere (single-precision values widened).
	void (*emissionRow)(unsigned long long mask, const unsigned long long* pair, float agree,
	                    float disagree, double* row, int n);
	// The pair-factor blocks of n intervals (9 values each) for fractions r,
	// G from 4 to MaxInbreedingGen.
	void (*quaternaryBlocks)(const double* r, double* out, int n, int G, const double* F,
	                         const double* L3, const double* L4);
};

const Kernels& portableKernels();
const Kernels* avx2Kernels(); // null when not built in or the CPU lacks AVX2
const Kernels& kernels();     // the set this run uses
void selectKernels(const Kernels* set); // null: the best the CPU runs (the default)

#endif
