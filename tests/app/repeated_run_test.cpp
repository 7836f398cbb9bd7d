// A Run computes the model from the entries as they stand: a second Run
// with nothing changed in between gives the first one's result.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "model_dialog_support.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/work_blocks.h"
#include "distributions/conti_model_family.h"
#include "distributions/model_entries.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"

namespace {

class RepeatedRun : public ModelDialogTest {
 protected:
  struct Result {
    double rmsd = 0;
    std::vector<float> s, c;
  };
  Result Run() {
    Result r;
    r.rmsd = RunRmsd(Window());
    const ContiSettings& cs = Conti();
    for (int i = 1; i <= cs.gridSize; ++i) {
      r.s.push_back(cs.sValues[i]);
      r.c.push_back(cs.distribution[i]);
    }
    return r;
  }
};

// A Run after the box, the solvent dialog or the Lamm settings dialog
// changed an entry the kernels or the normal equations were computed from
// equals the Run of a new program on the new entries:
// what a c(s,f/f0) Run keeps for the next one on an unchanged grid is not
// taken then (it was, and the Run repeated the model without the noise).
TEST_F(RepeatedRun, TwoRunsInARowGiveTheSameResult) {
  struct Change {
    const char* what;
    std::map<int, std::string> texts;
    std::map<int, int> states;
    void (*direct)() = nullptr;  // a change made past the parameter box
  };
  const Change changes[] = {{"TI noise fitted", {}, {{431, 1}}},
                            {"RI noise fitted", {}, {{455, 1}}},
                            {"vbar", {{420, "0.75"}}, {}},
                            {"density (solvent dialog)", {}, {}, [] {
                               // as the solvent's change of conditions writes it
                               gSolutionConditions.density = 1.03f;
                               gModelParameterVector.P[gModelParams.componentCount + 3] = 1.03f;
                             }},
                            {"Lamm grid (settings dialog)", {}, {}, [] {
                               LammSettings().automaticGridSize = 0;
                               LammSettings().gridSize.setting = 150;
                             }}};
  const int models[] = {275, 602, 235, 531, 595};
  for (int model : models) {
    for (const Change& change : changes) {
      SCOPED_TRACE(std::to_string(model) + ", " + change.what);
      StartAgain();
      LoadRun(3);
      Choose(model);
      ui_->lenient = true;
      const Result first = Run();
      const Result second = Run();
      ui_->lenient = false;
      ui_->transcript.clear();
      EXPECT_TRUE(std::isfinite(first.rmsd) && first.rmsd > 0) << first.rmsd;
      EXPECT_NEAR(second.rmsd, first.rmsd, 1e-9 * first.rmsd);
      EXPECT_EQ(second.s, first.s);
      EXPECT_EQ(second.c, first.c);
      // and took the kernels of the first where it may keep them.
      if (TwoDimensionalModel()) {
        EXPECT_EQ(Conti().csffRecompute, 0);
      }
      auto apply = [&] {
        if (change.direct)
          change.direct();
        else
          Open(0, change.texts, change.states);
      };
      apply();
      ui_->lenient = true;
      const Result changed = Run();
      ui_->lenient = false;
      ui_->transcript.clear();

      StartAgain();
      LoadRun(3);
      Choose(model);
      apply();
      ui_->lenient = true;
      const Result fresh = Run();
      ui_->lenient = false;
      ui_->transcript.clear();
      EXPECT_NE(fresh.rmsd, first.rmsd);
      EXPECT_EQ(changed.rmsd, fresh.rmsd);
      EXPECT_EQ(changed.s, fresh.s);
      EXPECT_EQ(changed.c, fresh.c);
    }
  }
}

// c(s) chosen right after the discrete species were run: its Run computes
// the distribution (the rmsd is that of a fit to the boundary, far below
// that of no model at all), twice alike, without a word of refusal.
TEST_F(RepeatedRun, CsRightAfterTheDiscreteSpeciesComputesItsDistribution) {
  LoadRun(3);
  Choose(198);
  Open(0, {{405, "0.45"}, {406, "61000"}, {407, "4.6"}});
  ui_->lenient = true;
  RunRmsd(Window());
  Choose(275);
  const Result first = Run();
  const Result second = Run();
  ui_->lenient = false;
  for (const auto& shown : ui_->transcript) EXPECT_NE(shown.icon, platform::BoxIcon::Error) << shown.text;
  const ScanSet& s = CurrentScanSet();
  double sum = 0;
  int n = 0;
  for (int i = 1; i <= s.count; ++i)
    for (int j = s.firstFitPoint[i]; j <= s.lastFitPoint[i]; ++j) {
      sum += static_cast<double>(s.signals[i][j]) * s.signals[i][j];
      ++n;
    }
  const double noModel = std::sqrt(sum / n);
  EXPECT_EQ(Conti().lastRunFailed, 0);
  EXPECT_LT(first.rmsd, 0.05 * noModel);
  ASSERT_FALSE(first.c.empty());
  EXPECT_GT(*std::max_element(first.c.begin(), first.c.end()), 0.0f);
  EXPECT_EQ(second.c, first.c);
}

// A run of the distribution that cannot compute says why: no scans, or a
// run inside a fit without the grid of the Run before it.
TEST_F(RepeatedRun, ARunThatComputesNothingSaysWhy) {
  Window();
  Choose(275);
  ui_->ExpectBox("ERROR", "load data first");
  RunContiSed();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(Conti().lastRunFailed, 1);

  LoadRun(3);
  Choose(275);
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  Conti().silent = 1;
  ui_->ExpectBox("ERROR", "the distribution's grid is not set up - nothing was computed");
  RunContiSed();
  Conti().silent = 0;
  ExpectScriptMet();
  EXPECT_EQ(Conti().lastRunFailed, 1);

  // The discrete species over limits that hold no point: an rmsd of 0 over
  // n = 0 would read as a perfect model.
  Choose(198);
  Open(0, {{405, "0.45"}, {406, "61000"}, {407, "4.6"}});
  ui_->transcript.clear();
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i) s.firstFitPoint[i] = s.lastFitPoint[i] + 1;
  ui_->ExpectBox("ERROR", "no data points inside the fit limits");
  Window().Dispatch(213);
  ExpectScriptMet();
}

}  // namespace
