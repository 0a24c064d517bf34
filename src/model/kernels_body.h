// Body of one kernel set, included once per instruction set with
//   KERNEL_NS    namespace of the set
//   KERNEL_NAME  its name, as the Kernels table gives it
//   KERNEL_BYTES width of the vectors of the product loops (16 or 32)
// It must include nothing: every function here is compiled for the target
// of the including file and none may be shared with another set. The file
// ends with the set's table, KERNEL_NS::kernelSet.
namespace KERNEL_NS {

typedef double V __attribute__((vector_size(KERNEL_BYTES)));
const int W = KERNEL_BYTES / 8;

template <class T> static inline T load(const double* p)
{
	T v;
	__builtin_memcpy(&v, p, sizeof v);
	return v;
}
template <class T> static inline void store(double* p, T v) { __builtin_memcpy(p, &v, sizeof v); }
template <class T> static inline T splat(double x)
{
	T v;
	for (int i = 0; i < (int)(sizeof v / 8); ++i) v[i] = x;
	return v;
}

// The m inputs of a group as the sums use them: in / d where d is not 0
// (left in in as well), then e * that where e is given.
static inline const double* groupInputs(double* in, const double* e, double d, double* x, int m)
{
	if (d == 0 && !e) return in;
	V dv = splat<V>(d);
	for (int q = 0; q < m; q += W) {
		V v = load<V>(in + q);
		if (d != 0) {
			v = v / dv;
			store(in + q, v);
		}
		if (e) v = load<V>(e + q) * v;
		store(x + q, v);
	}
	return x;
}

// Two blocks of 16 at a time: each weight vector serves both, and eight
// independent sums are in flight. The divisions of a group's inputs overlap
// the sums of the group before.
static void pairBlocks(double* in, const double* e, double d, double* out, const double* w, int n)
{
	const int P = 16 / W;
	double buffer[32];
	int b = 0;
	for (; W >= 4 && b + 32 <= n; b += 32) { // SSE2 has registers for one block only
		const double* x = groupInputs(in + b, e ? e + b : nullptr, d, buffer, 32);
		const double* y = x + 16;
		V acc[P], bcc[P];
		for (int c = 0; c < P; ++c) acc[c] = bcc[c] = splat<V>(0.0);
		for (int j = 0; j < 16; ++j) {
			V xj = splat<V>(x[j]), yj = splat<V>(y[j]);
			for (int c = 0; c < P; ++c) {
				V wj = load<V>(w + 16 * j + W * c);
				acc[c] = xj * wj + acc[c];
				bcc[c] = yj * wj + bcc[c];
			}
		}
		for (int c = 0; c < P; ++c) {
			store(out + b + W * c, acc[c]);
			store(out + b + 16 + W * c, bcc[c]);
		}
	}
	for (; b < n; b += 16) {
		const double* x = groupInputs(in + b, e ? e + b : nullptr, d, buffer, 16);
		V acc[P];
		for (int c = 0; c < P; ++c) acc[c] = splat<V>(0.0);
		for (int j = 0; j < 16; ++j) {
			V xj = splat<V>(x[j]);
			for (int c = 0; c < P; ++c) acc[c] = xj * load<V>(w + 16 * j + W * c) + acc[c];
		}
		for (int c = 0; c < P; ++c) store(out + b + W * c, acc[c]);
	}
}

// row[q] = value[bit pair[q] of mask]
static void emissionRow(unsigned long long mask, const unsigned long long* pair, float agree,
                        float disagree, double* row, int n)
{
	typedef unsigned long long U __attribute__((vector_size(KERNEL_BYTES)));
	typedef long long S __attribute__((vector_size(KERNEL_BYTES)));
	double a = agree, d = disagree;
	U m;
	for (int l = 0; l < W; ++l) m[l] = mask;
	V av = splat<V>(a), dv = splat<V>(d);
	int q = 0;
	for (; q + W <= n; q += W) {
		U idx;
		__builtin_memcpy(&idx, pair + q, sizeof idx);
		S set = (S)((m >> idx) & 1) != 0;
		store(row + q, set ? av : dv);
	}
	for (; q < n; ++q) row[q] = (mask >> pair[q]) & 1 ? a : d;
}

// Two-double vectors: the levels narrower than V (h = 2 under AVX2).
typedef double V2 __attribute__((vector_size(16)));

// out[k] = s a + r b and out[k + 1] = r a + s b, each product and sum with
// the scalar operands in their scalar order: (s, r) * (a, a) + (r, s) * (b, b).
static void leafPairs(const double* in, double* out, int n, double r)
{
	V sr, rs;
	for (int l = 0; l < W; ++l) {
		sr[l] = l & 1 ? r : 1 - r;
		rs[l] = l & 1 ? 1 - r : r;
	}
	double s = 1 - r;
	int k = 0;
	for (; k + W <= n; k += W) {
		// (a, a) and (b, b) of every pair, element by element: GCC and clang
		// both turn this into shuffles (GCC alone has __builtin_shuffle)
		V x = load<V>(in + k), as, bs;
		for (int l = 0; l < W; ++l) {
			as[l] = x[l & ~1];
			bs[l] = x[l | 1];
		}
		store(out + k, sr * as + rs * bs);
	}
	for (; k < n; k += 2) {
		double a = in[k], b = in[k + 1];
		out[k] = s * a + r * b;
		out[k + 1] = r * a + s * b;
	}
}

template <class T> static inline void level(T& lo, T& hi, T s, T r)
{
	T a = lo, b = hi;
	lo = a * s + r * b;
	hi = b * s + a * r;
}

// Levels h and 2 h in one sweep over the vector: elements i, i + h, i + 2h,
// i + 3h of each group of 4h take level h, then level 2h, as in two passes.
template <class T> static inline void twoLevels(double* g, int i, int h, T s, T r)
{
	T e0 = load<T>(g + i), e1 = load<T>(g + i + h), e2 = load<T>(g + i + 2 * h),
	  e3 = load<T>(g + i + 3 * h);
	level(e0, e1, s, r);
	level(e2, e3, s, r);
	level(e0, e2, s, r);
	level(e1, e3, s, r);
	store(g + i, e0);
	store(g + i + h, e1);
	store(g + i + 2 * h, e2);
	store(g + i + 3 * h, e3);
}

template <> inline double load<double>(const double* p) { return *p; }
template <> inline void store<double>(double* p, double v) { *p = v; }

static void twoStateLevels(double* v, int n, int from, double r)
{
	double s = 1 - r;
	V sv = splat<V>(s), rv = splat<V>(r);
	int h = from;
	for (; 4 * h <= n; h *= 4)
		for (int base = 0; base < n; base += 4 * h) {
			int i = 0;
			if (h >= W)
				for (; i < h; i += W) twoLevels(v + base, i, h, sv, rv);
			else if (h >= 2)
				for (; i + 2 <= h; i += 2) twoLevels(v + base, i, h, splat<V2>(s), splat<V2>(r));
			for (; i < h; ++i) twoLevels(v + base, i, h, s, r);
		}
	for (; h < n; h *= 2)
		for (int base = 0; base < n; base += 2 * h) {
			double* lo = v + base;
			double* hi = v + base + h;
			int i = 0;
			if (h >= W)
				for (; i < h; i += W) {
					V a = load<V>(lo + i), b = load<V>(hi + i);
					level(a, b, sv, rv);
					store(lo + i, a);
					store(hi + i, b);
				}
			else if (h >= 2)
				for (; i + 2 <= h; i += 2) {
					V2 a = load<V2>(lo + i), b = load<V2>(hi + i);
					level(a, b, splat<V2>(s), splat<V2>(r));
					store(lo + i, a);
					store(hi + i, b);
				}
			for (; i < h; ++i) level(lo[i], hi[i], s, r);
		}
}

static void multiplyBy(double* v, const double* e, int n)
{
	int q = 0;
	for (; q + W <= n; q += W) store(v + q, load<V>(e + q) * load<V>(v + q));
	for (; q < n; ++q) v[q] = e[q] * v[q];
}

static void product(const double* e, const double* x, double* out, int n)
{
	int q = 0;
	for (; q + W <= n; q += W) store(out + q, load<V>(e + q) * load<V>(x + q));
	for (; q < n; ++q) out[q] = e[q] * x[q];
}

static void divideBy(double* v, int n, double d)
{
	V dv = splat<V>(d);
	int q = 0;
	for (; q + W <= n; q += W) store(v + q, load<V>(v + q) / dv);
	for (; q < n; ++q) v[q] = v[q] / d;
}

static void posterior(const double* b, const double* a, double p, double* w, int n)
{
	V pv = splat<V>(p);
	int q = 0;
	for (; q + W <= n; q += W) store(w + q, load<V>(b + q) * load<V>(a + q) * pv);
	for (; q < n; ++q) w[q] = b[q] * a[q] * p;
}

static void denseForward(const double* a, const double* t, const double* e, double* out, int n)
{
	int q = 0;
	for (; q + W <= n; q += W) {
		V acc = splat<V>(0.0), eq = load<V>(e + q);
		for (int p = 0; p < n; ++p) acc += (splat<V>(a[p]) * load<V>(t + p * n + q)) * eq;
		store(out + q, acc);
	}
	for (; q < n; ++q) {
		double acc = 0;
		for (int p = 0; p < n; ++p) acc += (a[p] * t[p * n + q]) * e[q];
		out[q] = acc;
	}
}

static void denseBackward(const double* b, const double* t, const double* e, double* out, int n)
{
	int q = 0;
	for (; q + W <= n; q += W) {
		V acc = splat<V>(0.0);
		for (int p = 0; p < n; ++p) acc += (splat<V>(b[p]) * load<V>(t + p * n + q)) * splat<V>(e[p]);
		store(out + q, acc);
	}
	for (; q < n; ++q) {
		double acc = 0;
		for (int p = 0; p < n; ++p) acc += (b[p] * t[p * n + q]) * e[p];
		out[q] = acc;
	}
}

// The interval batches: C vectors of W fractions side by side, so that C
// independent sums are in flight in every step of the union's long chain.
const int C = 4;
const int BW = C * W;
struct B {
	V v[C];
};

static inline B bsplat(double x)
{
	B b;
	for (int c = 0; c < C; ++c) b.v[c] = splat<V>(x);
	return b;
}
#define LANEWISE(expr)                                                                     \
	({                                                                                     \
		B out_;                                                                            \
		for (int c = 0; c < C; ++c) out_.v[c] = (expr);                                    \
		out_;                                                                              \
	})

// The cut union of BW lists side by side; p[m] holds entry m of every list.
// For independent events inclusion-exclusion gives the chance that at
// least one happens, sum p_i - sum p_i p_j + sum p_i p_j p_k - ... over
// i < j < k ..., which is 1 - prod (1 - p_i). The sum stops after the
// triples: with chances about r each, the first term left out is of order
// r^4, below what the model resolves over short intervals; over long ones
// the cut sum can pass the true union (four chances of 1/2: 1, not 15/16).
// The running sum's order is part of the result.
static B probUnion(const B* p, int n)
{
	B sum = bsplat(0.0);
	if (n == 0) return sum;
	for (int i = 0; i < n - 1; ++i) {
		for (int j = i + 1; j < n - 1; ++j) {
			V pij[C];
			for (int c = 0; c < C; ++c) pij[c] = p[i].v[c] * p[j].v[c];
			for (int k = j + 1; k < n; ++k)
				for (int c = 0; c < C; ++c) sum.v[c] += pij[c] * p[k].v[c];
			for (int c = 0; c < C; ++c) sum.v[c] -= pij[c];
		}
		for (int c = 0; c < C; ++c) sum.v[c] -= p[i].v[c] * p[n - 1].v[c];
		for (int c = 0; c < C; ++c) sum.v[c] += p[i].v[c];
	}
	return LANEWISE(sum.v[c] + p[n - 1].v[c]);
}

static inline V clampAtZero(V v)
{
	V zero = splat<V>(0.0);
	return v > zero ? v : zero;
}

// The nine values of the pair factor over an interval with fraction r, for
// BW fractions at once (G = the inbreeding generations, F, L3, L4 the tables
// of calcF).
//
// A pair-factor value holds the pair fields of the two copies. It is
// "same" when they agree (the copies then descend from one founder) and
// "split" otherwise; the prior gives same the chance F[G] (see prior()).
// Each of the nine values is the chance of a move, jointly with the class
// it starts from, divided by that class's prior: F[G] for moves from same,
// 1 - F[G] for moves from split, so that it reads as P(to | from). With
// the lists s taken as independent events and united by probUnion:
//   P1: some generation k < G places a recombination in the interval (r)
//       while the copies still differ there (1 - F[k]): a pair field changes.
//   P2: such a change in generation G - 1 - b, after which b generations
//       make the copies identical again (F[b]): same to same with both
//       fields changed (entry 5).
//   P3: split to split with one field changed (entry 4), from
//       R2 = r + r - r r = 1 - (1 - r)^2, the chance that at least one of a
//       generation's two meioses recombines in the interval, weighted by the
//       sib pair's four-gene and three-gene shares L4 and L3 (W = 4/9, the
//       double nearest it, on L3), in full for generation G - 1, by 1/2 for
//       G - 2, and for earlier ones by 2/3 (1 - F[b]): 4 of the 6 one-field
//       moves from a split value land on a split value, and the copies must
//       still differ b generations later.
//   A = P1 - P2 - P3 / 2: a move of one field between same and split. Its
//       joint chance is the same either way, so entries 2 and 3 differ only
//       by the divisor. A move of both fields to or from split
//       counts as two such moves, A^2 (entries 6, 7, 8).
//   Entries 0 and 1, the stays, are what is left of each class's chance
//   after its moves: F[G] - P2 - A and 1 - F[G] - A - P3, clamped at 0 (a
//   value not above 0, or not a number, becomes 0) where the cut unions
//   overshoot. The rows need not sum to 1: every marker is rescaled.
static void quaternaryBatch(const B& r, double* out[], int G, const double* F, const double* L3,
                            const double* L4)
{
	// The longest list is P1's or P3's, G terms each.
	B s[MaxInbreedingGen];
	int n = 0;
	for (int k = G - 1; k >= 0; --k) s[n++] = LANEWISE(splat<V>(1 - F[k]) * r.v[c]);
	B P1 = probUnion(s, n);

	n = 0;
	for (int b = 2; b <= G - 1; ++b)
		s[n++] = LANEWISE((splat<V>(1 - F[G - 1 - b]) * r.v[c]) * splat<V>(F[b]));
	B P2 = probUnion(s, n);

	n = 0;
	V Wt = splat<V>(0.4444444444444444), half = splat<V>(0.5), two = splat<V>(2.0),
	  three = splat<V>(3.0), one = splat<V>(1.0);
	B R2 = LANEWISE((r.v[c] + r.v[c]) - r.v[c] * r.v[c]);
	s[n++] = LANEWISE(R2.v[c] * splat<V>(L4[G - 1]) + (R2.v[c] * splat<V>(L3[G - 1])) * Wt);
	s[n++] = LANEWISE((R2.v[c] * splat<V>(L4[G - 2])) * half +
	                  ((R2.v[c] * splat<V>(L3[G - 2])) * half) * Wt);
	for (int b = 2; b <= G - 1; ++b) {
		int k = G - 1 - b;
		V notF = splat<V>(1 - F[b]);
		s[n++] = LANEWISE(((two * (R2.v[c] * splat<V>(L4[k]))) / three) * notF +
		                  (notF * ((two * (R2.v[c] * splat<V>(L3[k]))) / three)) * Wt);
	}
	B P3 = probUnion(s, n);

	V FG = splat<V>(F[G]);
	for (int c = 0; c < C; ++c) {
		V A = (two * P1.v[c] - two * P2.v[c] - P3.v[c]) * half;
		V v[9];
		v[0] = clampAtZero(FG - P2.v[c] - A) / FG;
		v[1] = clampAtZero(one - FG - A - P3.v[c]) / (one - FG);
		v[2] = A / FG;
		v[3] = A / (one - FG);
		v[4] = P3.v[c] / (one - FG);
		v[5] = P2.v[c] / FG;
		v[6] = A * A / FG;
		v[7] = A * A / (one - FG);
		v[8] = A * A / (one - FG);
		for (int l = 0; l < W; ++l)
			if (double* dest = out[c * W + l])
				for (int k = 0; k < 9; ++k) dest[k] = v[k][l];
	}
}
#undef LANEWISE

static void quaternaryBlocks(const double* r, double* out, int n, int G, const double* F,
                             const double* L3, const double* L4)
{
	for (int first = 0; first < n; first += BW) {
		B rv;
		double* dest[BW];
		for (int l = 0; l < BW; ++l) {
			int i = first + l < n ? first + l : n - 1;
			rv.v[l / W][l % W] = r[i];
			dest[l] = first + l < n ? out + 9 * (first + l) : nullptr;
		}
		quaternaryBatch(rv, dest, G, F, L3, L4);
	}
}

// The table of this set, each entry by name.
constexpr Kernels table()
{
	Kernels k{};
	k.name = KERNEL_NAME;
	k.pairBlocks = pairBlocks;
	k.leafPairs = leafPairs;
	k.twoStateLevels = twoStateLevels;
	k.multiplyBy = multiplyBy;
	k.product = product;
	k.divideBy = divideBy;
	k.posterior = posterior;
	k.denseForward = denseForward;
	k.denseBackward = denseBackward;
	k.emissionRow = emissionRow;
	k.quaternaryBlocks = quaternaryBlocks;
	return k;
}
constexpr Kernels kernelSet = table();

} // namespace KERNEL_NS
