#include "numerics/upper_envelope.h"

#include <cstddef>
#include <vector>

#include "numerics/sorting.h"

namespace {

void Collapse(int n, const float* x, const float* y, int* count, float* xOut, float* yOut) {
  std::vector<float> xs(x, x + n + 1), ys(y, y + n + 1);
  sort2(n, xs.data(), ys.data());
  int m = 0;
  for (int i = 1; i <= n; ++i) {
    if (m > 0 && xs[static_cast<size_t>(i)] == xOut[m]) {
      if (ys[static_cast<size_t>(i)] > yOut[m]) yOut[m] = ys[static_cast<size_t>(i)];
    } else {
      ++m;
      xOut[m] = xs[static_cast<size_t>(i)];
      yOut[m] = ys[static_cast<size_t>(i)];
    }
  }
  *count = m;
}

}  // namespace

void UpperEnvelope(int n, const float* x, const float* x2, const float* y, int* count1,
                   float* x1Out, float* y1Out, int* count2, float* y2Out, float* x2Out) {
  if (n < 1) {
    *count1 = *count2 = 0;
    return;
  }
  Collapse(n, x, y, count1, x1Out, y1Out);
  Collapse(n, x2, y, count2, x2Out, y2Out);
}
