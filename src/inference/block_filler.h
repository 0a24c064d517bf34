// The pair-factor blocks of all intervals, computed on a second thread
// while the forward pass runs (each is needed only when the pass reaches
// its interval). Where no thread can be started they are computed at once.
#ifndef TARVEL_BLOCK_FILLER_H
#define TARVEL_BLOCK_FILLER_H

#include <atomic>
#include <thread>

class BlockFiller {
public:
	// Fills out + 9 i with the block of r[i], i < n.
	BlockFiller(const double* r, double* out, int n);
	~BlockFiller(); // stops and waits
	void waitFor(int count); // until blocks 0 .. count - 1 are filled

private:
	void fill();
	const double* r;
	double* out;
	int n;
	std::atomic<int> ready;
	std::atomic<bool> stop;
	std::thread worker;
};

#endif
