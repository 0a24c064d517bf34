// The chromosome all strains of a run share: its founder genotypes and
// marker positions, read once into the core's model state.
#ifndef TARVEL_ENGINE_CHROMOSOME_H
#define TARVEL_ENGINE_CHROMOSOME_H

#include <string>

struct Chromosome {
	std::string founders, positions;
	bool cm; // positions in centimorgans (-cm), else base pairs (-bp)
	bool x;  // the X chromosome (-x)
};

// Reads both files, with TARVEL's messages (each after the file's name);
// false when TARVEL would refuse them.
bool loadChromosome(const Chromosome& c);

#endif
