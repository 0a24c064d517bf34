#include "reset_state.h"

#include "driver/driver.h"

void resetModelState()
{
	delete[] p_y_given_q;
	p_y_given_q = nullptr;
	delete[] interval_r;
	interval_r = nullptr;
	delete[] p_y0_to_yt;
	p_y0_to_yt = nullptr;
	delete[] QuaTransProb;
	QuaTransProb = nullptr;
	delete[] QuaTransBlocks;
	QuaTransBlocks = nullptr;
	delete[] alphaCheckpoints;
	alphaCheckpoints = nullptr;
	CheckpointSpacing = 0;
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
