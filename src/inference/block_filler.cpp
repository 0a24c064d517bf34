#include "block_filler.h"

#include <system_error>

#include "../model/model.h"

static const int Batch = 256; // intervals per step of the worker

BlockFiller::BlockFiller(const double* r, double* out, int n) : r(r), out(out), n(n), ready(0), stop(false)
{
	try {
		worker = std::thread(&BlockFiller::fill, this);
	} catch (const std::system_error&) {
		fill();
	}
}

BlockFiller::~BlockFiller()
{
	stop = true;
	if (worker.joinable()) worker.join();
}

void BlockFiller::fill()
{
	for (int first = 0; first < n && !stop; first += Batch) {
		int count = n - first < Batch ? n - first : Batch;
		calcQuaternaryTransitionProbabilities(r + first, out + 9 * (size_t)first, count);
		ready.store(first + count, std::memory_order_release);
	}
}

void BlockFiller::waitFor(int count)
{
	while (ready.load(std::memory_order_acquire) < count) std::this_thread::yield();
}
