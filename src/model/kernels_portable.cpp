// The kernel set every x86-64 CPU runs (SSE2).
#include "kernels.h"

#define KERNEL_NS portable_kernels
#define KERNEL_NAME "portable"
#define KERNEL_BYTES 16
#include "kernels_body.h"

const Kernels& portableKernels() { return portable_kernels::kernelSet; }
