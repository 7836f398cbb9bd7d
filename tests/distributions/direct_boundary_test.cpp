#include "distributions/direct_boundary.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fit/model_params.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/scripted_ui.h"
#include "test_support.h"

namespace {

CCurve* GssCurve() {
  float s[] = {0, 4.0f, 5.0f, 6.0f};
  float g[] = {0, 2.0f, -1.0f, 0.5f};
  return new CCurve(s, g, 3, 1, 1);
}

}  // namespace

TEST(DirectBoundaryModel, NeedsMeniscusAndBottom) {
  conti_test::TestScans t(2, 20, 2, 19, true);
  gModelParams.meniscus = 0.0f;
  gModelParams.bottom = 7.2f;
  t.s.model[1][5] = 3.0f;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("", "set Meniscus and Bottom first");
  CCurve* c = GssCurve();
  MakeDirectBoundaryModelFromGss(*c, 0, 3);
  delete c;
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_EQ(t.s.model[1][5], 3.0f);
}

TEST(DirectBoundaryModel, SharpBoundariesWithRadialDilution) {
  const int R = 200;
  conti_test::TestScans t(2, R, 1, R, true);
  t.s.leftFitLimit = 6.0f;
  t.s.rightFitLimit = 6.2f;
  gModelParams.meniscus = gModelParameterVector.P[13] = 6.0f;
  gModelParams.bottom = gModelParameterVector.P[14] = 7.2f;
  t.s.records[1].w2t = 2e10;
  t.s.records[2].w2t = 5e10;
  CCurve* c = GssCurve();
  MakeDirectBoundaryModelFromGss(*c, 0, 3);
  delete c;
  // Points 1 (s 4, g 2) and 3 (s 6, g 0.5) with ds = 1; point 2 (g < 0) adds nothing.
  for (int j = 1; j <= 2; ++j) {
    const double w2t = t.s.records[j].w2t;
    for (int r = 1; r <= R; ++r) {
      double expect = 0.0;
      for (auto [sk, a] : {std::pair{4.0, 2.0}, std::pair{6.0, 0.5}})
        if (t.s.grid[r] >= 6.0 * std::exp(w2t * sk * 1e-13))
          expect += a * std::exp(-2.0 * w2t * sk * 1e-13);
      EXPECT_NEAR(t.s.model[j][r], expect, 1e-6) << j << " " << r;
      EXPECT_EQ(t.s.gridModel[j][r], t.s.model[j][r]);
    }
  }
}
