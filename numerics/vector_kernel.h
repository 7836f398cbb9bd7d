#pragma once
// The vector units the hot loops are compiled for. Each dispatched routine
// (the product of the normal equations, the Cholesky steps of the maximum
// entropy, the kernel packing, the Lamm step checks) exists once per kernel,
// and all of them follow one choice, made once when first asked: the best
// kernel the processor has, or the one the environment variable
// TARNEL_KERNEL names ("generic", "avx2", "avx512"). Forcing a kernel lets
// one machine show what another processor computes; a name the program
// does not know, or a kernel the processor lacks, falls back to the best
// one and says so once on stderr, so that no instruction the processor
// lacks ever runs.
#include <string>

enum class VectorKernel : int {
  Generic = 0,  // x86-64 baseline (SSE2): every processor
  Avx2 = 1,     // AVX2 with FMA
  Avx512 = 2,   // AVX-512 F
};

constexpr VectorKernel kAllVectorKernels[] = {VectorKernel::Generic, VectorKernel::Avx2,
                                              VectorKernel::Avx512};

// "generic", "avx2", "avx512".
const char* VectorKernelName(VectorKernel k);

// True for one of the names above (k set), false otherwise (k unchanged).
bool ParseVectorKernel(const std::string& name, VectorKernel& k);

// Whether this processor (and its operating system) can run k.
bool VectorKernelSupported(VectorKernel k);

// The best kernel this processor runs.
VectorKernel BestVectorKernel();

// The choice for a requested name (nullptr or empty: none requested): the
// kernel named when the processor has it, else the best one. `note` gets
// the line that says why the request was not followed, or stays empty.
VectorKernel ResolveVectorKernel(const char* requested, std::string& note);

// The kernel every dispatched routine runs. The first call reads
// TARNEL_KERNEL and writes the fallback note, if any, to stderr.
VectorKernel ActiveVectorKernel();

// Switches every dispatched routine to k, for comparing kernels within one
// process; false (no change) when the processor lacks it. Not to be called
// while a computation runs.
bool SetActiveVectorKernel(VectorKernel k);

// The variant of a routine for the active kernel.
template <typename F>
F ForActiveKernel(F generic, F avx2, F avx512) {
  switch (ActiveVectorKernel()) {
    case VectorKernel::Avx512:
      return avx512;
    case VectorKernel::Avx2:
      return avx2;
    case VectorKernel::Generic:
      break;
  }
  return generic;
}

// The instruction sets each kernel's variants are compiled for; they must
// match what VectorKernelSupported checks. (A build tuned for its own
// processor, TARNEL_NATIVE, compiles the generic copies for it too: there
// the generic kernel no longer stands for other processors.)
#define TARNEL_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define TARNEL_TARGET_AVX512 __attribute__((target("avx512f")))
