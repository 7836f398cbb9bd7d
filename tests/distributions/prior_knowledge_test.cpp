#include "distributions/prior_knowledge.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/distribution_loader.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace {

// Area and centre of mass of the placed four-point profile, by the
// trapezoid rule on a fine subdivision (independent of the closed form).
void Moments(const double* x, double y1, double y2, double* area, double* mean) {
  const double xs[4] = {x[0], x[1], x[2], x[3]};
  const double ys[4] = {0, y1, y2, 0};
  double A = 0, F = 0;
  for (int k = 0; k < 3; ++k) {
    const int steps = 20000;
    for (int i = 0; i < steps; ++i) {
      const double a = xs[k] + (xs[k + 1] - xs[k]) * i / steps;
      const double b = xs[k] + (xs[k + 1] - xs[k]) * (i + 1) / steps;
      const double ya = ys[k] + (ys[k + 1] - ys[k]) * i / steps;
      const double yb = ys[k] + (ys[k + 1] - ys[k]) * (i + 1) / steps;
      A += (b - a) * (ya + yb) / 2;
      F += (b - a) * (a * ya + b * yb) / 2;
    }
  }
  *area = A;
  *mean = F / A;
}

TEST(PriorSpecies, FourPointProfileCarriesTheSignalAtItsTarget) {
  struct Case {
    double x[4];
    double S, target;
    double h, y1, y2;  // expected
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, 1, 2.3, 0.5, 0.7, 0.3},
      {{1, 2, 3, 4}, 1, 2.5, 0.5, 0.5, 0.5},
      {{1, 2, 3, 4}, 1, 2.0, 0.5, 1.0, 0.0},  // on x1: 2h and 0, no search
      {{1, 1.5, 2.5, 4}, 2, 2.0, 1.0, 1.0 + 0.5384615, 1.0 - 0.5384615},
  };
  for (const Case& c : cases) {
    const double grid[5] = {0, c.x[0], c.x[1], c.x[2], c.x[3]};
    double values[5] = {9, 9, 9, 9, 9};
    PlaceDiscreteSpecies(grid, 2, c.S, c.target, values);
    EXPECT_NEAR(CurrentPriorBoundaryProfile().h, c.h, 1e-12);
    EXPECT_NEAR(values[2], c.y1, 2e-4) << c.target;
    EXPECT_NEAR(values[3], c.y2, 2e-4) << c.target;
    EXPECT_EQ(values[1], 9);
    EXPECT_EQ(values[4], 9);
    if (c.target != c.x[1]) {
      // The tilt keeps the area only where both flanks are equally wide;
      // the centre of mass is always the target.
      double area = 0, mean = 0;
      Moments(c.x, values[2], values[3], &area, &mean);
      if (c.x[2] - c.x[0] == c.x[3] - c.x[1]) {
        EXPECT_NEAR(area, c.S, 1e-6);
      }
      EXPECT_NEAR(mean, c.target, 2e-4);
    }
  }
}

TEST(PriorSpecies, ObjectiveWithoutAreaIsTheTarget) {
  PriorBoundaryProfile p;
  p.x0 = 1;
  p.x1 = 2;
  p.x2 = 3;
  p.x3 = 4;
  p.h = 0;
  p.target = 2.7;
  EXPECT_EQ(PriorBoundaryObjective(p, 0.0), 2.7);
  CurrentPriorBoundaryProfile() = p;
  EXPECT_EQ(PriorBoundaryObjective(0.0), 2.7);
  p.h = 0.5;
  EXPECT_NEAR(PriorBoundaryObjective(p, 0.0), 2.5 - 2.7, 1e-12);
}

class KvdImport : public ::testing::Test {
 protected:
  KvdImport() : scope_(ui_) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = 1;
    gModelSelectorFlags.CSModel = 1;
    ContiSettings& cs = Conti();
    cs.gridSize = 20;
    grid_ = vector(1, 20);
    for (int i = 1; i <= 20; ++i) grid_[i] = static_cast<float>(i);  // 1..20 S
    cs.sValues = grid_;
    Priors().importedX.clear();
    Priors().importedY.clear();
  }
  ~KvdImport() override {
    Conti().sValues = nullptr;
    Conti().gridSize = 0;
    free_vector(grid_, 1, 20);
    gModelSelectorFlags = ModelSelectorFlags{};
  }
  std::string File(const std::vector<std::pair<double, double>>& rows) {
    const std::string path = (dir_ / "prior.dat").string();
    std::ofstream out(path);
    for (const auto& [s, v] : rows) out << s << " " << v << "\n";
    return path;
  }
  void ExpectNoFailures() {
    for (const auto& f : ui_.failures) ADD_FAILURE() << f;
  }

  teststate::TempFolder folder_;
  const std::filesystem::path dir_{folder_.path()};
  float* grid_ = nullptr;
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_;
};

TEST_F(KvdImport, ProfileAndSpeciesOverTheGridWithTheBaseline) {
  // Profile 10 .. 5 S listed falling (value = s), species a at 12.3 S of
  // signal 2, species b (the baseline) of amplitude 1.
  const std::string path =
      File({{10, 10}, {9, 9}, {8, 8}, {7, 7}, {6, 6}, {5, 5}, {12.3, 2}, {3, 1}});
  ASSERT_EQ(ImportMaxEntPriorFile(path), 1);
  const std::vector<double>& x = Priors().importedX;
  const std::vector<double>& y = Priors().importedY;
  ASSERT_EQ(x.size(), 21u);
  EXPECT_EQ(x[7], 7.0);
  for (int i = 6; i <= 10; ++i) EXPECT_NEAR(y[i], i + 0.01, 2e-4) << i;
  // Species a on grid 12 and 13: area 2 with its centre at 12.3.
  const double xs[4] = {11, 12, 13, 14};
  double area = 0, mean = 0;
  Moments(xs, y[12] - 0.01, y[13] - 0.01, &area, &mean);
  EXPECT_NEAR(area, 2.0, 1e-6);
  EXPECT_NEAR(mean, 12.3, 2e-4);
  for (int i : {1, 2, 3, 4, 15, 20}) EXPECT_DOUBLE_EQ(y[i], 0.01) << i;
  ExpectNoFailures();
}

TEST_F(KvdImport, AProfileInsideOneIntervalPlacesTheSecondSpecies) {
  const std::string path = File({{7.6, 1}, {7.3, 1}, {12.0, 2}, {7.5, 1.5}});
  ASSERT_EQ(ImportMaxEntPriorFile(path), 1);
  const std::vector<double>& y = Priors().importedY;
  const double xs[4] = {6, 7, 8, 9};
  double area = 0, mean = 0;
  Moments(xs, y[7] - 0.015, y[8] - 0.015, &area, &mean);
  EXPECT_NEAR(area, 1.5, 1e-6);
  EXPECT_NEAR(mean, 7.5, 2e-4);
  // On a grid point: 2h and 0.
  EXPECT_NEAR(y[12], 2.0 * 2.0 / 4.0 * 2.0 + 0.015, 1e-9);
  EXPECT_NEAR(y[13], 0.015, 1e-9);
  ExpectNoFailures();
}

TEST_F(KvdImport, RefusalsSayWhyAndBuildNothing) {
  struct Case {
    std::vector<std::pair<double, double>> rows;
    const char* message;
  };
  const Case cases[] = {
      {{}, "Could Not Open MaxEnt Prior File"},
      {{{12.0, 2}, {3, 1}}, "Could Not Open MaxEnt Prior File"},  // no profile row
      {{{19.5, 1}, {10, 1}, {12.0, 2}, {3, 1}}, "KV boundary out of s-range"},
      {{{10, 1}, {2.5, 1}, {12.0, 2}, {3, 1}}, "KV boundary out of s-range"},
      {{{10, 1}, {5, 1}, {19.5, 2}, {3, 1}}, "KV boundary out of s-range"},
  };
  for (const Case& c : cases) {
    if (c.rows.empty()) ui_.ExpectBox("", "could not read from");
    ui_.ExpectBox("Error", c.message);
    EXPECT_EQ(ImportMaxEntPriorFile(File(c.rows)), 0) << c.message;
    EXPECT_TRUE(Priors().importedY.empty());
  }
  gModelSelectorFlags.CSff0Model = 1;
  ui_.ExpectBox("Error", "Error: Importing KV Prior requires c(s) model to be active");
  EXPECT_EQ(ImportMaxEntPriorFile(File({{10, 1}, {5, 1}, {12, 2}, {3, 1}})), 0);
  EXPECT_TRUE(ui_.AllConsumed());
  ExpectNoFailures();
}

}  // namespace
