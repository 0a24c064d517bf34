// One interval of each pass, shared by the passes and the sweep that
// recomputes their rows.
#ifndef TARVEL_STEPS_H
#define TARVEL_STEPS_H

// Prior of state q at the first marker.
double prior(int q);
void firstForwardRow(const double* e, double* row); // prior times emission

// The forward row of marker t before normalisation: the row of marker
// t - 1 carried across the interval, times the emissions e of marker t.
void forwardStep(int t, const double* previous, const double* e, double* row);

// The backward row of marker t from the row of marker t + 1 and that
// marker's emissions; scratch holds NoOfStates doubles.
void backwardStep(int t, const double* next, const double* eNext, double* row, double* scratch);

#endif
