#include "reset_state.h"

#include "driver/driver.h"

// Rows that a refused run never reached are null: the row tables are
// allocated zeroed.
template <class T> static void freeRows(T**& rows, int n)
{
	if (rows)
		for (int t = 0; t < n; ++t) delete[] rows[t];
	delete[] rows;
	rows = nullptr;
}

void resetModelState()
{
	freeRows(p_y_given_q, L);
	freeRows(alpha, L);
	freeRows(QuaTransProb, L);
	freeRows(beta, L);
	delete[] p_y0_to_yt;
	p_y0_to_yt = nullptr;
	outputInHAPPYFormat = 1;
	p_y_given_q_value = 0.999;
	Sex = true;
	XChromosome = false;
	useCM = false;
	NoOfInbreedingGen = -1;
	InfoLength = -1;
	NoOfStates = -1;
	NoOfFounders = -1;
	L = 0;
	FounderFileName.clear();
	SeqFileName.clear();
	SolutionFileName.clear();
	FounderGroupFileName.clear();
	CMDistanceFile.clear();
	delete[] FounderSet;
	FounderSet = nullptr;
	delete[] GenotypeSequence;
	GenotypeSequence = nullptr;
	FounderGroup1.clear();
	delete[] CMDistance;
	CMDistance = nullptr;
	L3[0] = 0.0;
	L3[1] = 0.5;
	L4[0] = 1.0;
	L4[1] = 0.25;
	for (int i = 2; i < LTableSize; ++i) L3[i] = L4[i] = 0;
	s.assign(60, 0.0);
	currentStep = 1;
	AlphaOrBeta = true;
}
