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
#include "tests/support/file_text.h"

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
  std::vector<std::string> FitNotes() override { return {}; }
  bool CaptureClientArea(platform::Bitmap&) override { return false; }
  void Exit() override {}

 private:
  TXLAWindow& w_;
};

constexpr auto& Lines = teststate::TextLines;

class SerialFit : public RoadTest {
 protected:
  void TearDown() override {
    FreeDistributionArrays();
    gSerialFitSettings = SerialFitSettings{};
    RoadTest::TearDown();
  }

  fs::path Sets() const { return dir_ / "sets"; }

  // The example's scans with the extension of the cell, signals times
  // factor; with saturate, 2.0 OD between 6.9 and 7.0 cm.
  std::vector<std::string> WriteCell(int cell, double factor, bool saturate = false) {
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
        if (saturate && r > 6.9 && r < 7.0) v = 2.0 / factor;
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

  // A list file naming the scans in the sets' folder.
  void WriteList(const std::string& name, const std::vector<std::string>& scans) {
    std::ofstream out(Sets() / name);
    out << "newformat n=1\n" << Sets().string() << "\n";
    for (const std::string& scan : scans) out << scan << "\n";
  }
};

TEST_F(SerialFit, ByCellFitsEachCellAndIntegratesItsRange) {
  const auto names = WriteCell(1, 1.0);
  WriteCell(2, 2.0);
  WriteCell(3, 0.5);
  LoadFirstCell(names);
  AnswerByCell(1, 3, true, true);
  ui_->ExpectBox("SERIALIZE FIT", "serial fit: 3 analysed, 0 skipped, 0 failed");
  Window().Dispatch(593);
  ExpectScriptMet();
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
    ExpectScriptMet();
  }
  EXPECT_FALSE(fs::exists(Sets() / "serialfit.log"));
  ui_->ExpectBox("SERIALIZE FIT", "incremental cell number?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "incremental highest subdirectory?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "nothing to serialize");
  Window().Dispatch(593);
  EXPECT_TRUE(ui_->AllConsumed());
}

TEST_F(SerialFit, ListFilesRunInNameOrderAndASaturatedSetIsOnlyReported) {
  const auto first = WriteCell(1, 1.0);
  const auto saturated = WriteCell(2, 1.0, true);
  const auto half = WriteCell(3, 0.5);
  WriteList("list.RA3", half);
  WriteList("list.RA1", first);
  WriteList("list.RA2", saturated);
  LoadFirstCell(first);
  ui_->ExpectBox("SERIALIZE FIT", "fit each set? \n(otherwise only run will be executed in each set)", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "restore previous params if available?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "overwrite FitRightLim?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "PELDO dfr and c(s)?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "with automatic integration?", platform::IDYES)
      .ExpectPrompt("SERIALIZE FIT", "s min for integration", "4")
      .ExpectPrompt("SERIALIZE FIT", "s max for integration", "6")
      .ExpectBox("SERIALIZE FIT", "another integration range?", platform::IDYES)
      .ExpectPrompt("SERIALIZE FIT", "s min for integration", "1")
      .ExpectPrompt("SERIALIZE FIT", "s max for integration", "12")
      .ExpectBox("SERIALIZE FIT", "another integration range?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "with Monte-Carlo error analysis?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "serial fit: 2 analysed, 1 skipped, 0 failed\n" +
                                      (Sets() / "list.RA2").string() + ": skipped (signal maxed out)");
  Window().Dispatch(904);
  ExpectScriptMet();
  const std::string summaryPath = (Sets() / "summary.txt").string();
  EXPECT_EQ(processes_.calls, std::vector<std::string>{"edit " + summaryPath});

  const std::vector<std::string> summary = Lines(SetFile("summary.txt"));
  ASSERT_EQ(summary.size(), 7u);
  EXPECT_EQ(summary[0], "smin, smax, c(in range), c(tot), sw(in range), Mwavg(in range), rmsd, rmsd/ctot(%)");
  EXPECT_EQ(summary[1].rfind("#1 - " + (Sets() / "list.RA1").string() + ":           4.000 - 6.000: c=", 0), 0u)
      << summary[1];
  EXPECT_EQ(summary[2].rfind("          1.000 - 12.000: c=", 0), 0u) << summary[2];
  EXPECT_EQ(summary[3], (Sets() / "list.RA2").string());
  EXPECT_EQ(summary[4], "signal maxed out");
  EXPECT_EQ(summary[5].rfind("#3 - " + (Sets() / "list.RA3").string() + ": ", 0), 0u) << summary[5];

  // One row per set: c, sw and M per range, zeros for the saturated set.
  const std::vector<std::string> table = Lines(SetFile("idswsig.txt"));
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[1], (Sets() / "list.RA2").string() + " 0 0 0 0 0 0");
  double c1 = 0, sw1 = 0, c3 = 0, sw3 = 0;
  ASSERT_EQ(std::sscanf(table[0].c_str() + (Sets() / "list.RA1").string().size(), " %lf %lf", &c1, &sw1), 2);
  ASSERT_EQ(std::sscanf(table[2].c_str() + (Sets() / "list.RA3").string().size(), " %lf %lf", &c3, &sw3), 2);
  EXPECT_NEAR(c1, 0.5, 0.05);
  EXPECT_NEAR(c3, 0.5 * c1, 0.01 * c1);
  EXPECT_NEAR(sw3, sw1, 0.01);

  const std::vector<std::string> integrals = Lines(SetFile("integrals.RA3"));
  ASSERT_EQ(integrals.size(), 3u);
  EXPECT_EQ(integrals[0], summary[0]);
  EXPECT_EQ(integrals[1].rfind("4.000 6.000  ", 0), 0u) << integrals[1];
  EXPECT_FALSE(fs::exists(Sets() / "distribution.RA2"));
  EXPECT_TRUE(fs::exists(Sets() / "distribution.RA3"));
}

TEST_F(SerialFit, ListFilesNoneToRunSaysSoInsteadOfOpeningAMissingSummary) {
  LoadFirstCell(WriteCell(1, 1.0));
  ui_->ExpectBox("SERIALIZE FIT", "fit each set?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "restore previous params if available?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "overwrite FitRightLim?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "PELDO dfr and c(s)?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "with automatic integration?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "with Monte-Carlo error analysis?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "no list.* file in " + Sets().string() + ": nothing to analyse");
  Window().Dispatch(904);
  ExpectScriptMet();
  EXPECT_TRUE(processes_.calls.empty());
}

// PELDO stand-in: a script run to its end when started, so that the series
// file it writes is there when the series looks for it.
class WaitingLauncher : public platform::RecordingProcessLauncher {
 public:
  bool StartDetached(const std::string& program, const std::vector<std::string>& args) override {
    RecordingProcessLauncher::StartDetached(program, args);
    std::string line = "'" + program + "'";
    for (const std::string& a : args) line += " '" + a + "'";
    return std::system(line.c_str()) == 0;
  }
};

TEST_F(SerialFit, PeldoRowsOfOneExtensionEachGetTheirOwnListAndDistFinisEndsTheWatch) {
  const auto first = WriteCell(1, 1.0);
  LoadFirstCell(first);
  fs::create_directories(dir_ / "PELDO");
  // PELDO's choice: the first and the second half of the run, both RA1.
  std::ofstream(dir_ / "PELDO" / "PELDO") << "#!/bin/sh\n"
                                             "printf 'None RA1 1 18 1\\nNone RA1 19 36 1' > \"$3/toBeProcessed.txt\"\n";
  fs::permissions(dir_ / "PELDO" / "PELDO", fs::perms::owner_all);
  std::ofstream(Sets() / "toBeProcessed.txt") << "an earlier series\n";
  WaitingLauncher launcher;
  platform::SetProcesses(&launcher);
  ui_->ExpectBox("SERIALIZE FIT", "Are currently loaded data part of the series", platform::IDYES)
      .ExpectBox("SERIALIZE FIT", "look for existing series of lists?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "now please work with PELDO to select sets and press 'begin', then press OK here")
      .ExpectBox("SERIALIZE FIT", "fit each set? \n(otherwise only run will be executed in each set)", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "restore previous params if available?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "serial fit: 1 analysed, 0 skipped, 1 failed\n" +
                                      (Sets() / "list_19-36.RA1").string() +
                                      ": failed (no distribution was computed for this set)");
  Window().Dispatch(923);
  platform::SetProcesses(&processes_);
  ExpectScriptMet();
  EXPECT_EQ(launcher.calls,
            std::vector<std::string>{"start " + (dir_ / "PELDO" / "PELDO").string() + " --cofs --watch " +
                                     Sets().string()});
  EXPECT_EQ(SetFile("toBeProcessed(1).txt"), "an earlier series\n");

  const std::vector<std::string> firstHalf = Lines(SetFile("list_1-18.RA1"));
  const std::vector<std::string> secondHalf = Lines(SetFile("list_19-36.RA1"));
  ASSERT_EQ(firstHalf.size(), 20u);
  ASSERT_EQ(secondHalf.size(), 20u);
  EXPECT_EQ(firstHalf[0], "newformat n=1");
  EXPECT_EQ(firstHalf[1], Sets().string());
  EXPECT_EQ(firstHalf[2], "00001.RA1");
  EXPECT_EQ(secondHalf[2], "00019.RA1");
  // The last set loaded is the second half's; its scans begin too late to
  // see the grid's largest s, so its run stops short, the analysis' box is
  // kept in the log, and the first half's distribution is not taken for it.
  EXPECT_EQ(CurrentScanSet().count, 18);
  EXPECT_EQ(CurrentScanSet().fileNames[1], "00019.RA1");
  const std::vector<std::string> log = Lines(SetFile("serialfit.log"));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2].rfind("    [] sedimentation coefficient #", 0), 0u) << log[2];

  const std::vector<std::string> finis = Lines(SetFile("distFinis.txt"));
  ASSERT_EQ(finis.size(), 2u);
  char name[16] = {};
  float rmsd = 0, meniscus = 0, ff0 = 0;
  ASSERT_EQ(std::sscanf(finis[0].c_str(), "%15s\t%f\t%f\t%f", name, &rmsd, &meniscus, &ff0), 4) << finis[0];
  EXPECT_STREQ(name, "RA1");
  EXPECT_GT(rmsd, 0.0f);
  EXPECT_LT(rmsd, 0.02f);
  EXPECT_NEAR(meniscus, 6.01f, 1e-5);
  EXPECT_NEAR(ff0, 1.3f, 1e-5);
  EXPECT_EQ(finis[1], "RA1\t0.000000\t0.000000\t0.000000");
  const std::string dist = SetFile("distRA1.txt");
  EXPECT_NE(dist.find("-999.999 -999.999"), std::string::npos);
  EXPECT_FALSE(SetFile("dfrRA1.txt").empty());
}

}  // namespace
