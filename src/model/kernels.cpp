// Picks the kernel set once, on first use.
#include "kernels.h"

const Kernels& kernels()
{
	static const Kernels* chosen = avx2Kernels() ? avx2Kernels() : &portableKernels();
	return *chosen;
}
