// Picks the kernel set: AVX2 where the CPU has it, else the portable one.
#include "kernels.h"

static const Kernels* chosen = nullptr;

const Kernels& kernels()
{
	if (!chosen) selectKernels(nullptr);
	return *chosen;
}

void selectKernels(const Kernels* set)
{
	chosen = set ? set : avx2Kernels() ? avx2Kernels() : &portableKernels();
}
