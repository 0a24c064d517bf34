// HMM inference: the emission table and the scaled forward and backward
// passes over the markers.
#ifndef TARVEL_INFERENCE_H
#define TARVEL_INFERENCE_H

void calcEmissionProb();
int computeAlpha(); // 0 when some marker is explained by no hidden state
void computeBeta();

#endif
