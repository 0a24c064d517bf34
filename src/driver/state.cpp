// Definitions of the process-wide model state with the values a process
// starts with, and resetModelState(), which puts every one of them back and
// empties the caches the stages keep between calls, so that one process can
// make several runs (the tests and the fuzz target do). resetStrainState()
// does the same for the part that belongs to one strain, so that several
// strains can be run on one chromosome read once. Each variable stands in
// the definitions and in one of the two resets: add a new one to both, here.
#include "driver.h"
#include "../inference/inference.h"
#include "../model/kernels.h"
#include "../model/model.h"

int outputInHAPPYFormat = 1;
double p_y_given_q_value = 0.999;
bool Sex = true;
bool XChromosome = false;
bool useCM = false;
int NoOfInbreedingGen = -1;
int InfoLength = -1;
int NoOfStates = -1;
int NoOfFounders = -1;
int L = 0;

std::string FounderFileName;
std::string SeqFileName;
std::string SolutionFileName;
std::string FounderGroupFileName;
std::string CMDistanceFile;

std::vector<char>* FounderSet = nullptr;
char* GenotypeSequence = nullptr;
std::vector<int> FounderGroup1;
float* CMDistance = nullptr;

double L3[LTableSize] = {0.0, 0.5};
double L4[LTableSize] = {1.0, 0.25};
double* F = new double[FTableSize];

std::uint64_t* p_y_given_q = nullptr;
double* interval_r = nullptr;
double* p_y0_to_yt = nullptr;
double** QuaTransProb = nullptr;
double* QuaTransBlocks = nullptr;
int QuaTransGeneration = -1;
int CheckpointSpacing = 0;
double* alphaCheckpoints = nullptr;

int currentStep = 1;
bool AlphaOrBeta = true;

template <class T> static void release(T*& table)
{
	delete[] table;
	table = nullptr;
}

void resetStrainState()
{
	outputInHAPPYFormat = 1;
	p_y_given_q_value = 0.999;
	Sex = true;
	NoOfInbreedingGen = -1;
	InfoLength = -1;
	NoOfStates = -1;

	SeqFileName.clear();
	SolutionFileName.clear();
	FounderGroupFileName.clear();

	release(GenotypeSequence);
	FounderGroup1.clear();

	for (int i = 0; i < LTableSize; ++i) L3[i] = L4[i] = 0;
	L3[1] = 0.5;
	L4[0] = 1.0;
	L4[1] = 0.25;
	for (int g = 0; g < FTableSize; ++g) F[g] = 0;

	release(p_y_given_q);
	release(p_y0_to_yt);
	CheckpointSpacing = 0;
	release(alphaCheckpoints);

	currentStep = 1;
	AlphaOrBeta = true;

	forgetEmissionRows();
	forgetTransitionKinds();
}

void resetModelState()
{
	resetStrainState();
	XChromosome = false;
	useCM = false;
	NoOfFounders = -1;
	L = 0;

	FounderFileName.clear();
	CMDistanceFile.clear();

	release(FounderSet);
	release(CMDistance);

	release(interval_r);
	release(QuaTransProb);
	release(QuaTransBlocks);
	QuaTransGeneration = -1;

	selectKernels(nullptr);
}
