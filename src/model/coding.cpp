// Hidden-state codes and their decoding into funnel positions.
#include "model.h"
#include "../driver/driver.h"

// Positions count from 1. On autosomes position 1 is the most significant
// bit of the code, on the X chromosome the least significant one.
int getbit(int code, int position)
{
	if (position < 1 || position > InfoLength) return 0;
	int bit = XChromosome ? position - 1 : InfoLength - position;
	return (code >> bit) & 1;
}

int decodeState(int code, bool first)
{
	if (NoOfInbreedingGen >= 4) {
		// the pair field picks the pair, the pair's member bit the founder
		int pair = first ? (code >> 2) & 3 : code & 3;
		return 2 * pair + getbit(code, pair + 1);
	}
	if (first) return (code & 2) ? 2 + getbit(code, 2) : getbit(code, 1);
	return (code & 1) ? 6 + getbit(code, 4) : 4 + getbit(code, 3);
}

// Walks the X pedigree from the strain back up the funnel; m is true while
// the walk stands on a female-line ancestor.
static int walkX(int code, bool first)
{
	int p = first ? 1 : 2;
	bool m = !first;
	while (InfoLength - p >= 2) {
		int v = getbit(code, p), rest = InfoLength - p;
		if (!m && !v) p += 2;
		else if (!m) {
			if (rest == 2) return 2;
			p += 3;
			m = true;
		} else if (!v) {
			p += 3;
			m = false;
		} else {
			if (rest <= 4) return 2;
			p += 4;
		}
	}
	int v = getbit(code, p);
	return p == InfoLength ? v : 4 + v;
}

int decodeStateX(int code, bool first)
{
	if (NoOfInbreedingGen >= 4) {
		if (Sex) return code;
		return first ? code & 1 : (code >> 1) & 1;
	}
	return walkX(code, first);
}
