// A saved analysis read back: whatever model was chosen in the meantime and
// whatever was typed for it, the model of the file comes back with exactly
// the file's entries, and its Run gives the result it gave before saving.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "model_dialog_support.h"

#include <map>
#include <string>
#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/model_entries.h"

namespace {

class SavedAnalysisReload : public ModelDialogTest {
 protected:
  void Save(const std::string& file) {
    ui_->ExpectBox("SAVE PARAMETERS", "save in " + CurrentDataPaths().parameterFile + " ?", platform::IDNO)
        .ExpectFiles("export parameter file", Chosen({file}));
    Window().Dispatch(827);
    ASSERT_TRUE(ui_->AllConsumed());
    ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  }
  void Reload(const std::string& file, int model) {
    ui_->ExpectBox("LOAD PARAMETERS", "restore parameters from", platform::IDNO)
        .ExpectFiles("export parameter file", Chosen({file}));
    // The mean field written beside the parameters is offered; the run
    // before saving used the best fit's own.
    if (model == 1100)
      ui_->ExpectBox("NONIDEAL CTOT DATA", "also load mean field CTOT data from " + file + ".ctot ?", platform::IDNO);
    Window().Dispatch(1098);
    ExpectScriptMet();
    ui_->transcript.clear();
  }
  // The dialog as shown, without the grid size the solver chooses for each
  // run (and shows).
  Shown Entries() {
    Shown shown = Open();
    std::erase_if(shown, [](const auto& c) { return std::get<0>(c) == 439; });
    return shown;
  }
  static std::vector<float> Distribution() {
    const ContiSettings& cs = Conti();
    std::vector<float> c;
    for (int i = 1; i <= cs.gridSize; ++i) c.push_back(cs.distribution[i]);
    return c;
  }
};

// Each model whose analysis can be saved, saved with entries of its own
// (range, resolution, confidence level, f/f0, solver choices), then read
// back while another distribution, the discrete species or the same model
// with other entries is chosen, and in a program started again.
TEST_F(SavedAnalysisReload, TheFilesEntriesAndResultComeBackWhateverModelWasChosen) {
  LoadRun(3);
  struct Case {
    int model;
    std::map<int, std::string> typed;
  };
  const Case cases[] = {
      {275, {{405, "77"}, {406, "0.7"}, {407, "13"}, {413, "0.7"}, {419, "1.35"}}},
      {595, {{405, "21"}, {406, "0.6"}, {407, "11"}, {413, "0.72"}, {419, "7"}}},
      {1100, {{405, "55"}, {406, "0.7"}, {407, "13"}, {413, "0.7"}, {419, "1.35"}}},
  };
  // (443: the log ks of the nonideal c(s).)
  const std::map<int, std::string> other = {{405, "50"}, {406, "0.9"}, {407, "9"}, {413, "0.8"}, {419, "1.1"},
                                            {443, "-3.5"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Choose(c.model);
    Open(0, c.typed);
    const Shown saved = Entries();
    const double rmsd = RunRmsd(Window());  // the run before saving
    ASSERT_TRUE(std::isfinite(rmsd) && rmsd > 0) << rmsd;
    const std::vector<float> distribution = Distribution();
    ASSERT_FALSE(distribution.empty());
    const std::string file = (dir_ / ("~saved" + std::to_string(c.model) + ".ra1")).string();
    Save(file);
    // (0: the program ended and started again on the same data, nothing
    // chosen: whatever the Run depends on must come from the file.)
    for (int before : {602, 275, 585, 1100, 531, 235, 198, 0}) {
      SCOPED_TRACE(before);
      if (before == 0) {
        StartAgain();
        LoadRun(3);
      } else {
        Choose(before);
        Open(0, other);
      }
      Reload(file, c.model);
      EXPECT_EQ(SelectedModelKey(), c.model);
      const Shown loaded = Entries();
      EXPECT_EQ(loaded, saved) << Describe(loaded, saved);
      // (The nonideal c(s) runs on the mean field of the run before, which
      // the parameters do not hold.)
      if (c.model != 1100) {
        EXPECT_NEAR(RunRmsd(Window()), rmsd, 1e-6 * rmsd);
        EXPECT_EQ(Distribution(), distribution);
      }
      if (HasFailure()) return;
    }
  }
}

}  // namespace
