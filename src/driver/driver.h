// Run driver and inputs: the process-wide model state every stage shares,
// the command line, and the reading of the four input files.
#ifndef TARVEL_DRIVER_H
#define TARVEL_DRIVER_H

#include <string>
#include <vector>

// Deepest sibling inbreeding an autosome run accepts (#Generation 100).
// The per-generation tables are sized from it: F is read up to index
// MaxInbreedingGen, L3 and L4 up to MaxInbreedingGen - 1.
const int MaxInbreedingGen = 98;
const int FTableSize = MaxInbreedingGen + 1;
const int LTableSize = MaxInbreedingGen;

// Run parameters
extern int outputInHAPPYFormat;
extern double p_y_given_q_value;
extern bool Sex;          // true = male
extern bool XChromosome;
extern bool useCM;
extern int NoOfInbreedingGen;
extern int InfoLength;
extern int NoOfStates;
extern int NoOfFounders;
extern int L;

// File names, exactly as given on the command line
extern std::string FounderFileName;
extern std::string SeqFileName;
extern std::string SolutionFileName;
extern std::string FounderGroupFileName;
extern std::string CMDistanceFile;

// Input data
extern std::vector<char>* FounderSet;  // NoOfFounders vectors of L genotypes
extern char* GenotypeSequence;         // L strain genotypes
extern std::vector<int> FounderGroup1; // funnel position -> founder column
extern float* CMDistance;              // L marker positions (cM)

// Per-generation tables
extern double L3[LTableSize];
extern double L4[LTableSize];
extern double* F;
extern std::vector<double> s;

// Inference arrays
extern float** p_y_given_q;
extern double** alpha;
extern double* p_y0_to_yt;
extern double** QuaTransProb;
extern double** beta;

// Steering of the transition product
extern int currentStep;
extern bool AlphaOrBeta;

int countPiece(const std::string& line);
int loadDataFiles();

// The whole run; main() is a thin wrapper so tests can drive it.
int tarvelMain(int argc, char** argv);

#endif
