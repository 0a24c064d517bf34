// Run driver and inputs: the process-wide model state every stage shares,
// the command line, and the reading of the four input files.
#ifndef TARVEL_DRIVER_H
#define TARVEL_DRIVER_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "../model/inbreeding_depth.h"

// The per-generation tables: F is read up to index MaxInbreedingGen, L3 and
// L4 up to MaxInbreedingGen - 1.
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

// Inference tables, each one allocation. Per marker a run keeps only what
// every pass needs (the emission masks, the interval fractions, the scaling
// factors and, after four inbreeding generations, the pair-factor blocks);
// the forward rows are recomputed where they are needed, from a stored
// forward row every CheckpointSpacing markers, as the backward pass meets
// them.
extern std::uint64_t* p_y_given_q; // marker t: bit 8 a + b set when the founders at
                                   // funnel positions a and b agree with the call
extern double* interval_r;         // interval_r[t]: fraction between markers t - 1 and t
extern double* p_y0_to_yt;         // per-marker scaling factors of the forward pass
extern double** QuaTransProb;      // rows 1 .. L - 1 point into QuaTransBlocks; only in
                                   // autosome runs after more than three inbreeding generations
extern double* QuaTransBlocks;     // nine values per interval
extern int QuaTransGeneration;     // the inbreeding depth all blocks were made for, -1: not made
extern int CheckpointSpacing;      // K: markers per block of the stored rows
extern double* alphaCheckpoints;   // block c (not the last): the forward row of its last marker

// Steering of the transition product
extern int currentStep;
extern bool AlphaOrBeta;

// Every variable above back to its start-up value, its tables released, and
// the stages' caches emptied: the process is as new (state.cpp).
void resetModelState();
// The same for what belongs to one strain only; the chromosome stays: its
// founders, positions, XChromosome and useCM, and the interval tables made
// from the positions (kept for the next strain's forward pass).
void resetStrainState();

int countPiece(const std::string& line);
int loadDataFiles();
// Says the founder file holds more markers than memory (or a count) can
// hold; returns 0.
int refuseTooLarge();
// The stages of loadDataFiles, each reading its file by the file names and
// printing its own messages; 0 after a failure.
int readFounderFile();
int readStrainFile();
int readFunnelFile(std::ifstream& in); // in: FounderGroupFileName, opened
int readPositionFile();

// Checks of the run's parameters (errorRate: the value of -e), and the
// sizing of the state space from them: parts of tarvelMain (run.cpp).
bool checkParameters(double errorRate);
void sizeStateSpace();
bool funnelIsPermutation();

// The whole run; main() is a thin wrapper so tests can drive it.
int tarvelMain(int argc, char** argv);

#endif
