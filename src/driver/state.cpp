// Definitions and start-up values of the process-wide model state.
#include "driver.h"

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
std::vector<double> s(60);

std::uint64_t* p_y_given_q = nullptr;
double* interval_r = nullptr;
double* p_y0_to_yt = nullptr;
double** QuaTransProb = nullptr;
double* QuaTransBlocks = nullptr;
int CheckpointSpacing = 0;
double* alphaCheckpoints = nullptr;

int currentStep = 1;
bool AlphaOrBeta = true;
