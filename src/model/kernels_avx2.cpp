// The kernel set for CPUs with AVX2: the same loops on four-double vectors.
// Only "avx2" is enabled, never "fma", so no product and sum are fused.
#include "kernels.h"

#if defined(TARVEL_AVX2) && (defined(__x86_64__) || defined(__i386__))
#pragma GCC push_options
#pragma GCC target("avx2")
#define KERNEL_NS avx2_kernels
#define KERNEL_NAME "avx2"
#define KERNEL_BYTES 32
#include "kernels_body.h"
#pragma GCC pop_options

const Kernels* avx2Kernels()
{
	if (!__builtin_cpu_supports("avx2")) return nullptr;
	return &avx2_kernels::kernelSet;
}
#else
const Kernels* avx2Kernels() { return nullptr; }
#endif
