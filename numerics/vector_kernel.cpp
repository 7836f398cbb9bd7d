#include "numerics/vector_kernel.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int>& Active() {
  static std::atomic<int> active = [] {
    std::string note;
    const VectorKernel k = ResolveVectorKernel(std::getenv("TARNEL_KERNEL"), note);
    if (!note.empty()) std::fprintf(stderr, "tarnel: %s\n", note.c_str());
    return static_cast<int>(k);
  }();
  return active;
}

}  // namespace

const char* VectorKernelName(VectorKernel k) {
  switch (k) {
    case VectorKernel::Avx512:
      return "avx512";
    case VectorKernel::Avx2:
      return "avx2";
    case VectorKernel::Generic:
      break;
  }
  return "generic";
}

bool ParseVectorKernel(const std::string& name, VectorKernel& k) {
  for (VectorKernel candidate : kAllVectorKernels)
    if (name == VectorKernelName(candidate)) {
      k = candidate;
      return true;
    }
  return false;
}

bool VectorKernelSupported(VectorKernel k) {
  // The run-time library's checks include the operating system's saving of
  // the wider registers.
  __builtin_cpu_init();
  switch (k) {
    case VectorKernel::Avx512:
      return __builtin_cpu_supports("avx512f");
    case VectorKernel::Avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case VectorKernel::Generic:
      break;
  }
  return true;
}

VectorKernel BestVectorKernel() {
  if (VectorKernelSupported(VectorKernel::Avx512)) return VectorKernel::Avx512;
  if (VectorKernelSupported(VectorKernel::Avx2)) return VectorKernel::Avx2;
  return VectorKernel::Generic;
}

VectorKernel ResolveVectorKernel(const char* requested, std::string& note) {
  note.clear();
  const VectorKernel best = BestVectorKernel();
  if (!requested || !*requested) return best;
  VectorKernel k;
  if (!ParseVectorKernel(requested, k)) {
    note = std::string("TARNEL_KERNEL=") + requested +
           " is not a kernel (generic, avx2, avx512); using " + VectorKernelName(best);
    return best;
  }
  if (!VectorKernelSupported(k)) {
    note = std::string("TARNEL_KERNEL=") + requested + ": this processor lacks it; using " +
           VectorKernelName(best);
    return best;
  }
  return k;
}

VectorKernel ActiveVectorKernel() {
  return static_cast<VectorKernel>(Active().load(std::memory_order_relaxed));
}

bool SetActiveVectorKernel(VectorKernel k) {
  if (!VectorKernelSupported(k)) return false;
  Active().store(static_cast<int>(k), std::memory_order_relaxed);
  return true;
}
