// The tests' oracle for the model's fast code: the transition formulas
// written out plainly, scalar and one value at a time, in the order of
// operations the fast code must keep (its results are compared bit for bit).
// TARVEL itself never runs these.
#ifndef TARVEL_MODEL_ORACLE_H
#define TARVEL_MODEL_ORACLE_H

#include <vector>

namespace oracle {

// Union of independent events p[0..n-1] by inclusion-exclusion, cut after
// the third-order terms, in the running sum's order.
double ProbUnion(const std::vector<double>& p);

// The nine pair-factor values of one interval with fraction r, for
// NoOfInbreedingGen (at least 4) and the tables calcF filled.
void calcQuaternaryTransitionProbability(double r, double* out);

// X chromosome after more than three inbreeding generations: the move from
// code from to code to over an interval with fraction r (NoOfInbreedingGen,
// Sex).
double TransitionProb(double r, int from, int to);

// The transition product as the halving recursion: blocks of 16 through the
// pair factor (baseMatrix, after more than three inbreeding generations),
// leaves of 2, and a two-state level per halving on the way back up.
void ElstonIduryCompute(int n, double r, const double* in, int offset, double* out);

} // namespace oracle

#endif
