// Inheritance model: hidden-state coding, recombination and transition
// tables, and the factorised transition product. Pure operations over the
// run parameters of the model state.
#ifndef TARVEL_MODEL_H
#define TARVEL_MODEL_H

// State coding
int getbit(int code, int position);
int decodeState(int code, bool first);
int decodeStateX(int code, bool first);

// Recombination and transition probabilities
double DistanceToRecombination(double x);
double IntervalRecombination(float earlier, float later);
void calcF();
// The pair-factor blocks of n intervals (the kernels' quaternaryBlocks):
// out + 9 i receives the nine values of the interval with fraction r[i].
void calcQuaternaryTransitionProbabilities(const double* r, double* out, int n);
void calcQuaternaryTransitionProbability(double r, double* out); // n = 1
// X chromosome after more than three inbreeding generations: the move from
// every state to every state of the run, t[from * N + to].
void TransitionMatrixX(double r, double* t);
void forgetTransitionKinds(); // the matrix layout kept between calls, for resetModelState

// Factorised transition product
double baseMatrix(int from, int to);
// The 16 x 16 weights w[16 j + i] of the pair factor from value j to value i
// (forward) or from i to j (backward), gathered from a nine-value block:
// w[m] = block[pairFactorClasses(forward)[m]].
void pairFactorWeights(const double* block, bool forward, double* w);
const unsigned char* pairFactorClasses(bool forward);
void ElstonIduryCompute(int n, double r, const double* in, int offset, double* out);
// The product applied to e * (in / divisor), e left out when null; unless
// divisor is 0, in / divisor replaces in (the row it scales, made final).
// weights: the interval's pair-factor weights when already gathered, or null.
void ElstonIduryScaled(int n, double r, double* in, double divisor, const double* e, double* out,
                       const double* weights);

#endif
