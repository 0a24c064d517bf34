#include "chromosome.h"

#include <iostream>

#include "driver/driver.h"
#include "messages.h"

bool loadChromosome(const Chromosome& c)
{
	resetModelState();
	FounderFileName = c.founders;
	CMDistanceFile = c.positions;
	useCM = c.cm;
	XChromosome = c.x;
	int ok;
	{
		CoreMessages messages;
		ok = readFounderFile();
		messages.printWith(c.founders + ": ");
		if (ok) {
			ok = readPositionFile();
			messages.printWith(c.positions + ": ");
		}
	}
	if (!ok) return false;
	if (NoOfFounders != 8) {
		std::cout << c.founders << ": The current version only supports 8 founders.\n";
		return false;
	}
	return true;
}
