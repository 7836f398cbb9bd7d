#pragma once
// The main road of the window under test: a small synthetic velocity run
// written as scan files, and a window with clean model and load state.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/commands/run_fit/fit_limits.h"
#include "app/dialogs/form_dialog.h"
#include "app/window/main_window_flags.h"
#include "app/plot_input/markers.h"
#include "app/commands/model/params_dialog.h"
#include "app_fixture.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "plot/plot_window_set.h"
#include "tests/support/file_text.h"

// What an open or save dialog answers when the user picks these paths.
inline platform::FileDialogResult Chosen(std::vector<std::string> paths) {
  platform::FileDialogResult r;
  r.accepted = true;
  r.paths = std::move(paths);
  return r;
}

// Where the shown distribution is highest (the first such point).
inline int PeakIndex(const ContiSettings& cs) {
  int peak = 1;
  for (int i = 2; i <= cs.gridSize; ++i)
    if (cs.distribution[i] > cs.distribution[peak]) peak = i;
  return peak;
}

// The loader's selection of these files of one folder.
inline std::string PickedFiles(const std::filesystem::path& dir, const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const auto& p : paths) names.push_back(std::filesystem::path(p).filename().string());
  return MakeSelection(dir.string(), names);
}

// The "noninteracting species model" dialog answered for one species: its
// concentration, D (1e-7 cm^2/s) and s (S), meniscus and bottom (cm) as the
// dialog shows them, concentration and s floated or fixed; `more` adds
// switches of other entries.
struct OneSpeciesEntry {
  const char* c = "1.0";
  const char* D = "5.0";
  const char* s = "5.0";
  const char* meniscus = "5.9500";
  const char* bottom = "7.1800";
  int cFit = 1, sFit = 0;
};
inline ScriptedFormRunner::Expectation OneSpeciesForm(const OneSpeciesEntry& e,
                                                      std::vector<std::pair<int, int>> more = {}) {
  ScriptedFormRunner::Expectation x{
      "noninteracting species model",
      {{405, e.c}, {406, e.D}, {407, e.s}, {435, e.meniscus}, {437, e.bottom}, {433, "0"}},
      {{401, 1}, {408, 0}, {415, 0}, {422, 0}, {402, e.cFit}, {403, 0}, {404, e.sFit}, {431, 0},
       {455, 0}, {432, 0}, {434, 0}, {436, 0}}};
  x.states.insert(x.states.end(), more.begin(), more.end());
  return x;
}

class RoadTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ResetRoadRecords();
    WriteAgreedDefaults();
    formScope_ = std::make_unique<ScopedFormRunner>(forms_);
  }
  void ResetRoadRecords() {
    FreeScanData();
    FreeFileNameList();
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelParams = ModelParams{};
    gModelParameterVector = ModelParameterVector{};
    AllocParameterArrays();
    LammSettings() = LammSolverSettings{};
    WindowFlags() = MainWindowFlags{};
    RunState() = RunSwitches{};
    MarkerSettings() = MarkerDisplaySettings{};
    UserFitLimitsSet() = 0;
    InitParamsTransfer(ParamsTransferBuffer());
    CurrentScanSet().loadEvery = 1;
    CurrentScanSet().oldFileNameConvention = 0;
    CurrentScanSet().equilibriumMode = 0;
    Options().InfoWizardMessages = 0;
    // An unattended run moves the rmsd file into its output folder, which
    // goes with its test.
    CurrentPlotWindows().scanRmsPath = (dir_ / "ScanRms.dat").string();
  }
  // The program ended and started again from the same program folder: a new
  // window, every record as a new process has it.
  void StartAgain() {
    window_.reset();
    ResetProgramRecords();
    ResetRoadRecords();
  }
  void TearDown() override {
    formScope_.reset();
    window_.reset();
    FreeScanData();
    FreeFileNameList();
    AppTest::TearDown();
  }

  // "Non-Interacting Discrete Species" with one species entered in the
  // parameter dialog.
  void OneSpecies(const char* s, const char* D, int sFit = 0) {
    gFitEngineState.molarMassParameters = 0;
    Window().Dispatch(198);
    forms_.Expect(OneSpeciesForm({.D = D, .s = s, .sFit = sFit}));
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  }

  // Neither the scripted user nor the scripted dialogs met a surprise.
  void ExpectNoFailures() const {
    for (const auto& f : ui_->failures) ADD_FAILURE() << f;
    for (const auto& f : forms_.failures) ADD_FAILURE() << f;
  }
  // A command whose questions and notes are not the test's subject,
  // answered by default.
  void DispatchLenient(int command) {
    ui_->lenient = true;
    Window().Dispatch(command);
    ui_->lenient = false;
  }

  TXLAWindow& Window() {
    if (!window_) {
      window_ = MakeWindow();
      // The synthetic files carry no time stamps worth checking, and the
      // advice boxes after a run are tested on their own.
      Options().TimeStampCheck = 0;
      Options().InfoWizardMessages = 0;
    }
    return *window_;
  }

  // A boundary moving out from the meniscus and spreading by diffusion:
  // c = c0/2 erfc((rb - r) / (2 sqrt(D t))) with rb = m exp(omega^2 s t),
  // s = 5 S, D = 4e-7 cm^2/s, the plateau diluted as exp(-2 omega^2 s t),
  // written as absorbance scans of cell 1.
  std::vector<std::string> WriteRun(const std::string& ext = ".ra1", int scans = 4, char type = 'R') {
    return WriteRun(dir_, ext, scans, type);
  }
  // The same run written into `folder`, at `points` radii 0.01 cm apart
  // from `firstRadius` (cm).
  static std::vector<std::string> WriteRun(const std::filesystem::path& folder, const std::string& ext, int scans = 4,
                                           char type = 'R', double firstRadius = 5.95, int points = 120) {
    std::vector<std::string> paths;
    const double rpm = 50000, omega = rpm * M_PI / 30.0, m = 5.95, s = 5e-13;
    for (int k = 1; k <= scans; ++k) {
      const double t = 600.0 + 600.0 * k;
      const double rb = m * std::exp(omega * omega * s * t);
      char name[32];
      std::snprintf(name, sizeof name, "%05d%s", k, ext.c_str());
      const std::string path = (folder / name).string();
      std::string text = "synthetic velocity run\n";
      char line[160];
      std::snprintf(line, sizeof line, "%c %d %2.1f %ld %ld %1.4e %d %d\n", type, 1, 20.0, 50000L,
                    static_cast<long>(t), omega * omega * t, 280, 1);
      text += line;
      for (int j = 0; j < points; ++j) {
        const double r = firstRadius + 0.01 * j;
        const double plateau = std::exp(-2.0 * omega * omega * s * t);  // radial dilution
        const double c = r < m ? 0.0 : 0.5 * plateau * std::erfc((rb - r) / (2.0 * std::sqrt(4e-7 * t)));
        std::snprintf(line, sizeof line, "   %1.4f  %1.5e   %1.5e \n", r, c, 0.0);
        text += line;
      }
      std::ofstream(path) << text;
      paths.push_back(path);
    }
    return paths;
  }

  // The rmsd of data and model over the fit limits, computed here; `none`
  // where no point is fitted.
  static double FitLimitRmsd(double none) {
    const ScanSet& s = CurrentScanSet();
    double sum = 0;
    int n = 0;
    for (int i = 1; i <= s.count; ++i)
      for (int j = s.firstFitPoint[i]; j <= s.lastFitPoint[i]; ++j) {
        const double d = s.signals[i][j] - s.model[i][j];
        sum += d * d;
        ++n;
      }
    return n ? std::sqrt(sum / n) : none;
  }

  // Every `step`th scan of the bundled example, copied into `folder`.
  static std::vector<std::string> CopyExampleScans(const std::filesystem::path& folder, int step) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    for (int k = 1; k <= 36; k += step) {
      char file[16];
      std::snprintf(file, sizeof file, "%05d.RA1", k);
      std::filesystem::copy_file(std::filesystem::path(TARNEL_SOURCE_DIR) / "examples/cofs" / file, folder / file);
      paths.push_back((folder / file).string());
    }
    return paths;
  }

  // Load chosen in the menu: these files picked, every one of them loaded.
  void LoadChosen(const std::vector<std::string>& paths) {
    ui_->ExpectFiles("select files to fit", Chosen(paths));
    ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
    Window().Dispatch(200);
  }

  // Generate answered as a user would: two non-interacting species (c, D or
  // M, s of each: 405-407 and 412-414), meniscus 6.2 and bottom 7.2 cm, the
  // scans saved into gen/ under the test folder and loaded.
  struct TwoSpeciesRun {
    bool massAndS;
    const char *dr, *rpm, *interval, *scans, *noise;
    const char *c1, *mOrD1, *s1, *c2, *mOrD2, *s2;
  };
  void GenerateTwoSpecies(const TwoSpeciesRun& r) {
    std::filesystem::create_directories(dir_ / "gen");
    gFitEngineState.molarMassParameters = r.massAndS ? 1 : 0;
    Window().Dispatch(198);
    const char* caption = "GENERATE DATA";
    ui_->ExpectBox(caption, "Fit with M and s", r.massAndS ? platform::IDYES : platform::IDNO)
        .ExpectPrompt(caption, "density of points dr (cm)", std::string(r.dr))
        .ExpectPrompt(caption, "rotor speed (rpm)", std::string(r.rpm))
        .ExpectBox(caption, "simulate with rotor acceleration phase?", platform::IDNO)
        .ExpectPrompt(caption, "time interval of scans (sec)", std::string(r.interval))
        .ExpectPrompt(caption, "number of simulated scans", std::string(r.scans))
        .ExpectPrompt(caption, "std of noise (OD)", std::string(r.noise));
    forms_.Expect({"noninteracting species model",
                   {{405, r.c1}, {406, r.mOrD1}, {407, r.s1}, {412, r.c2}, {413, r.mOrD2}, {414, r.s2},
                    {435, "6.2000"}, {437, "7.2000"}, {433, "0"}},
                   {{401, 1}, {408, 1}, {415, 0}, {422, 0}, {402, 0}, {403, 0}, {404, 0}, {409, 0},
                    {410, 0}, {411, 0}, {431, 0}, {455, 0}, {432, 0}, {434, 0}, {436, 0}}});
    ui_->ExpectFiles("save generated data as", Chosen({(dir_ / "gen" / "0000x.ra0").string()}));
    Window().Dispatch(214);
  }

  // The synthetic run of `scans` absorbance scans loaded as the window's data.
  void LoadRun(int scans) {
    const auto paths = WriteRun(".ra1", scans);
    Window();
    ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
    ASSERT_EQ(CurrentScanSet().count, scans);
  }

  // The models plus fixed pseudo-random noise of standard deviation sd (a
  // sum of four uniform numbers per point) become the data.
  static void ModelsPlusNoiseAsData(double sd, unsigned seed) {
    ScanSet& s = CurrentScanSet();
    auto uniform = [&] {
      seed = seed * 1103515245u + 12345u;
      return ((seed >> 8) & 0xFFFF) / 65536.0;
    };
    for (int i = 1; i <= s.count; ++i)
      for (int j = 1; j <= s.points[i]; ++j) {
        const double g = (uniform() + uniform() + uniform() + uniform() - 2.0) * std::sqrt(3.0);
        s.signals[i][j] = static_cast<float>(s.model[i][j] + sd * g);
      }
  }

  static std::string ReadFile(const std::string& path) { return teststate::FileText(path); }

  ScriptedFormRunner forms_;
  std::unique_ptr<ScopedFormRunner> formScope_;
  std::unique_ptr<TXLAWindow> window_;
};
