// The kernel set every x86-64 CPU runs (SSE2).
#include "kernels.h"

#define KERNEL_NS portable_kernels
#define KERNEL_BYTES 16
#include "kernels_body.h"

const Kernels& portableKernels()
{
	using namespace portable_kernels;
	static const Kernels set = {"portable",   pairBlocks,   leafPairs,     twoStateLevels,
	                            multiplyBy,   product,      divideBy,      posterior,
	                            denseForward, denseBackward, emissionRow,
	                            quaternaryBlocks};
	return set;
}
