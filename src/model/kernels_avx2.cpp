// The kernel set for CPUs with AVX2: the same loops on four-double vectors.
// This file alone is compiled with -mavx2 (never -mfma, so no product and
// sum are fused), and it includes no header with code of its own: no inline
// function built for AVX2 here can stand in for another file's copy. The
// table is a constant, so nothing here runs before kernels.cpp has found
// AVX2 on the CPU.
#ifndef __AVX2__
#error "kernels_avx2.cpp must be compiled with -mavx2"
#endif

#include "kernels.h"

#define KERNEL_NS avx2_kernels
#define KERNEL_NAME "avx2"
#define KERNEL_BYTES 32
#include "kernels_body.h"

const Kernels& avx2KernelSet() { return avx2_kernels::kernelSet; }
