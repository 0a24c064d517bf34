// The backward pass, scaled by the forward pass's factors so that
// alpha * beta * p_y0_to_yt is the posterior of each state. Its rows are
// computed block by block, last block first, as sweepMarkers hands them to
// the writers with the forward rows recomputed beside them; no row is kept
// beyond its block.
#include "inference.h"
#include "../driver/driver.h"

void computeBeta()
{
	AlphaOrBeta = false;
	if (!XChromosome && NoOfInbreedingGen > 3 && L > 1) currentStep = 1;
}
