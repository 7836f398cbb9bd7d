// Prints, separated by ";", the vector kernels this processor runs other
// than the one the program chooses by itself: the test programs that
// depend on rounding run once more under each of them.
#include <cstdio>

#include "numerics/vector_kernel.h"

int main() {
  const VectorKernel best = BestVectorKernel();
  const char* separator = "";
  for (VectorKernel k : kAllVectorKernels)
    if (k != best && VectorKernelSupported(k)) {
      std::printf("%s%s", separator, VectorKernelName(k));
      separator = ";";
    }
  return 0;
}
