// One interval of each pass, shared by the passes and the sweep that
// recomputes their rows. The Scaling forms take the neighbouring row before
// its division by divisor and divide it in place as they read it (divisor 0:
// the row is final), so that the divisions overlap the product's sums.
#ifndef TARVEL_STEPS_H
#define TARVEL_STEPS_H

// Prior of state q at the first marker.
double prior(int q);
void firstForwardRow(const double* e, double* row); // prior times emission

// The forward row of marker t before normalisation: the row of marker
// t - 1 carried across the interval, times the emissions e of marker t.
void forwardStep(int t, const double* previous, const double* e, double* row);
void forwardStepScaling(int t, double* previous, double divisor, const double* e, double* row);

// The backward row of marker t from the row of marker t + 1 and that
// marker's emissions. The Scaling form leaves out the division by
// p_y0_to_yt[t].
void backwardStep(int t, const double* next, const double* eNext, double* row);
void backwardStepScaling(int t, double* next, double divisor, const double* eNext, double* row);

#endif
