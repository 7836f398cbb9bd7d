// A Run computes the model from the entries as they stand: a second Run
// with nothing changed in between gives the first one's result.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "model_dialog_support.h"

#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/model_entries.h"

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

TEST_F(RepeatedRun, TwoRunsInARowGiveTheSameResult) {
  LoadRun(3);
  const int models[] = {275, 602, 235, 531, 595};
  for (int model : models) {
    SCOPED_TRACE(model);
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
  }
}

}  // namespace
