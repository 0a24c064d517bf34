// Picks the kernel set: AVX2 where the CPU has it, else the portable one.
#include "kernels.h"

#ifdef TARVEL_AVX2
const Kernels& avx2KernelSet(); // kernels_avx2.cpp, built with -mavx2

const Kernels* avx2Kernels() { return __builtin_cpu_supports("avx2") ? &avx2KernelSet() : nullptr; }
#else
const Kernels* avx2Kernels() { return nullptr; }
#endif

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
