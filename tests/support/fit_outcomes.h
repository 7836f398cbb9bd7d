#pragma once
// How the fits of one synthetic set ended, judged together: each ends
// within 1 % of the lowest rmsd any fit reached on the set, unless its end
// names the limit that stopped it or says that it stopped away from a
// minimum.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fit/fit_end.h"
#include "numerics/vector_kernel.h"

namespace fitoutcomes {

// Whether a row of a fit table runs in this process. Every row runs on the
// kernel the program chooses; under another one (ctest runs the programs
// once more per kernel, TARNEL_KERNEL set) only the rows marked to. The
// kernels differ only in the rounding of the dispatched loops, and a row
// costs minutes of CPU a kernel: the marked rows are those where rounding
// decides, one of each kind (see the table).
inline bool RowRunsUnderThisKernel(bool everyKernel) {
  return everyKernel || ActiveVectorKernel() == BestVectorKernel();
}

struct Outcome {
  std::string what;  // the method and start
  float rmsd;
  FitEndKind end;
  std::string text;
};

// `bound` is the largest rmsd an end that claims a minimum may have
// (1.01 times the best, or what an exact fit leaves).
inline void ExpectNearTheBestOrANamedEnd(const std::vector<Outcome>& outcomes, float bound) {
  for (const Outcome& o : outcomes) {
    if (o.end == FitEndKind::Limit || o.end == FitEndKind::NotReached) continue;
    EXPECT_LE(o.rmsd, bound) << o.what << ": " << o.text;
  }
}

}  // namespace fitoutcomes
