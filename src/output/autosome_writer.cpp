// Results of an autosome run.
#include "output.h"
#include "../model/model.h"

// Rows hold the first copy's funnel position, columns the second's.
static void placeAutosome(int q, int* row, int* col)
{
	*row = decodeState(q, true);
	*col = decodeState(q, false);
}

int writeOutInferSolution(ResultsSink sink, void* sinkContext)
{
	return writePairResults(placeAutosome, true, sink, sinkContext);
}
