// The serial fits through the main window: the bundled example as cell 1,
// its signals doubled as cell 2 and halved as cell 3, analysed one after
// another as a person set up the first.
#include "road_support.h"

#include <algorithm>
#include <filesystem>

#include "automation/automation_run.h"
#include "automation/ini_custom_pars.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/serial_fit_settings.h"

namespace {

namespace fs = std::filesystem;

// The window as the unattended run drives it, for applying a parameter file.
class Commands : public IAutomationWindow {
 public:
  explicit Commands(TXLAWindow& w) : w_(w) {}
  void Command(int id) override { w_.Dispatch(id); }
  void SetCaption(const std::string&) override {}
  void RequestRepaint() override {}
  void CheckMenuItem(int, bool) override {}
  void SwitchOffHelpMessages() override {}
  void SetShowResidualsHistogram(bool) override {}
  void SetLammThreadCount(int) override {}
  void RelayoutAndRedrawPlots() override {}
  void ShowDataRange() override {}
  void ShowLastFitInfo() override {}
  bool CaptureClientArea(platform::Bitmap&) override { return false; }
  void Exit() override {}

 private:
  TXLAWindow& w_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class SerialFit : public RoadTest {
 protected:
  void TearDown() override {
    FreeDistributionArrays();
    gModelSelectorFlags = ModelSelectorFlags{};
    gSerialFitSettings = SerialFitSettings{};
    CurrentScanSet().leftFitLimit = CurrentScanSet().rightFitLimit = 0;
    RoadTest::TearDown();
  }

  fs::path Sets() const { return dir_ / "sets"; }

  // The example's scans with the extension of the cell, signals times factor.
  std::vector<std::string> WriteCell(int cell, double factor) {
    fs::create_directories(Sets());
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(std::string(TARNEL_SOURCE_DIR) + "/examples/cofs")) {
      if (e.path().extension() != ".RA1") continue;
      const std::string name = e.path().stem().string() + ".RA" + std::to_string(cell);
      const std::vector<std::string> lines = Lines(ReadFile(e.path().string()));
      std::string text = lines[0] + "\n" + lines[1] + "\n";
      for (std::size_t k = 2; k < lines.size(); ++k) {
        double r = 0, v = 0, sd = 0;
        if (std::sscanf(lines[k].c_str(), "%lf %lf %lf", &r, &v, &sd) != 3) continue;
        char row[96];
        std::snprintf(row, sizeof row, "   %.4f  %.5e   %.5e \n", r, v * factor, sd);
        text += row;
      }
      std::ofstream(Sets() / name) << text;
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Cell 1 loaded and set up as the example's parameter file says, with a
  // Levenberg-Marquardt fit of the meniscus.
  void LoadFirstCell(const std::vector<std::string>& names) {
    Window();
    ASSERT_TRUE(LoadAllData(MakeSelection(Sets().string(), names)));
    CIniCustomPars r;
    ASSERT_TRUE(ReadAutomationParameterFile(r, std::string(TARNEL_SOURCE_DIR) + "/examples/cofs/params.xml"));
    std::snprintf(r.FittingAlgorithm, sizeof r.FittingAlgorithm, "Levenberg-Marquardt");
    r.Resolution = 60;
    Commands commands(Window());
    ApplyAutomationParameters(r, commands);
    ASSERT_TRUE(gModelSelectorFlags.CSModel);
  }

  // The questions of a series by cell over cells first..last.
  void AnswerByCell(int first, int last, bool fit, bool range) {
    ui_->ExpectBox("SERIALIZE FIT", "incremental cell number?", platform::IDYES)
        .ExpectBox("SERIALIZE FIT", "incremental highest subdirectory?", platform::IDNO)
        .ExpectPrompt("SERIALIZE FIT", "minimum cell number value", std::to_string(first))
        .ExpectPrompt("SERIALIZE FIT", "maximum cell number value", std::to_string(last))
        .ExpectBox("SERIALIZE FIT", "fit each set?", fit ? platform::IDYES : platform::IDNO)
        .ExpectBox("SERIALIZE FIT", "restore previous params if available?", platform::IDNO)
        .ExpectBox("SERIALIZE FIT", "with automatic integration?", range ? platform::IDYES : platform::IDNO);
    if (range)
      ui_->ExpectPrompt("SERIALIZE FIT", "s min for integration", "4")
          .ExpectPrompt("SERIALIZE FIT", "s max for integration", "6")
          .ExpectBox("SERIALIZE FIT", "another integration range?", platform::IDNO);
    ui_->ExpectBox("SERIALIZE FIT", "with Monte-Carlo error analysis?", platform::IDNO);
  }

  std::string SetFile(const std::string& name) const { return ReadFile((Sets() / name).string()); }
};

TEST_F(SerialFit, ByCellFitsEachCellAndIntegratesItsRange) {
  const auto names = WriteCell(1, 1.0);
  WriteCell(2, 2.0);
  WriteCell(3, 0.5);
  LoadFirstCell(names);
  AnswerByCell(1, 3, true, true);
  ui_->ExpectBox("SERIALIZE FIT", "serial fit: 3 analysed, 0 skipped, 0 failed");
  Window().Dispatch(593);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_EQ(gSerialFitSettings.running, 0);

  // The 5 S species carries 0.5 OD in cell 1.
  const struct {
    const char* ext;
    double c;
  } cells[] = {{"RA1", 0.50}, {"RA2", 1.00}, {"RA3", 0.25}};
  for (const auto& cell : cells) {
    SCOPED_TRACE(cell.ext);
    const std::vector<std::string> integrals = Lines(SetFile(std::string("integrals.") + cell.ext));
    ASSERT_EQ(integrals.size(), 2u);
    EXPECT_EQ(integrals[0], "smin, smax, c, sw, ctot");
    double smin = 0, smax = 0, c = 0, sw = 0, ctot = 0;
    ASSERT_EQ(std::sscanf(integrals[1].c_str(), "%le %le %le %le %le", &smin, &smax, &c, &sw, &ctot), 5);
    EXPECT_EQ(smin, 4.0);
    EXPECT_EQ(smax, 6.0);
    EXPECT_NEAR(c, cell.c, 0.03 * cell.c);
    EXPECT_NEAR(sw, 5.0, 0.05);
    EXPECT_NEAR(ctot, 1.9 * cell.c, 0.1 * cell.c);
    EXPECT_EQ(Lines(SetFile(std::string("distribution.") + cell.ext)).size(), 60u);
    EXPECT_FALSE(fs::exists(Sets() / "error.txt"));
    // The sibling program's files name the cell's own scans.
    const std::string xp = SetFile(std::string("data_") + cell.ext + ".xp");
    EXPECT_NE(xp.find(std::string("00001.") + cell.ext), std::string::npos);
    EXPECT_TRUE(fs::exists(Sets() / (std::string("from_tarnel_series_") + cell.ext + ".morlean")));
  }
  const std::vector<std::string> log = Lines(SetFile("serialfit.log"));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], (Sets() / "00001.RA2").string() + ": analysed");
}

TEST_F(SerialFit, ByCellSkipsAMissingCellAndSaysSo) {
  const auto names = WriteCell(1, 1.0);
  WriteCell(3, 0.5);
  LoadFirstCell(names);
  AnswerByCell(1, 3, false, false);
  ui_->ExpectBox("SERIALIZE FIT", "serial fit: 2 analysed, 1 skipped, 0 failed\n" +
                                      (Sets() / "00001.RA2").string() + ": skipped (scan file " +
                                      (Sets() / "00001.RA2").string() + " missing)");
  Window().Dispatch(593);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(fs::exists(Sets() / "distribution.RA1"));
  EXPECT_FALSE(fs::exists(Sets() / "distribution.RA2"));
  EXPECT_TRUE(fs::exists(Sets() / "distribution.RA3"));
  const std::vector<std::string> log = Lines(SetFile("serialfit.log"));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], (Sets() / "00001.RA2").string() + ": skipped (scan file " +
                        (Sets() / "00001.RA2").string() + " missing)");
  EXPECT_EQ(CurrentScanSet().fileNames[1], "00001.RA3");
}

TEST_F(SerialFit, CellsTheExtensionCannotCarryAreRefusedBeforeAnySet) {
  const auto names = WriteCell(1, 1.0);
  LoadFirstCell(names);
  for (const auto& [first, last] : {std::pair{0, 2}, std::pair{1, 9}}) {
    SCOPED_TRACE(first);
    ui_->ExpectBox("SERIALIZE FIT", "incremental cell number?", platform::IDYES)
        .ExpectBox("SERIALIZE FIT", "incremental highest subdirectory?", platform::IDNO)
        .ExpectPrompt("SERIALIZE FIT", "minimum cell number value", std::to_string(first))
        .ExpectPrompt("SERIALIZE FIT", "maximum cell number value", std::to_string(last))
        .ExpectBox("SERIALIZE FIT", "cell numbers must lie between 1 and 8");
    Window().Dispatch(593);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_TRUE(ui_->AllConsumed());
  }
  EXPECT_FALSE(fs::exists(Sets() / "serialfit.log"));
  ui_->ExpectBox("SERIALIZE FIT", "incremental cell number?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "incremental highest subdirectory?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "nothing to serialize");
  Window().Dispatch(593);
  EXPECT_TRUE(ui_->AllConsumed());
}

}  // namespace
