// Synthetic sedimentation-velocity experiments from the current model:
// "Single" writes one data set, "Series" a grid of them (radial increment,
// rotor speed, noise, meniscus, trace concentration) in numbered folders
// with their xp experiment files and files that name their settings.
#include "app/commands/generate/generate_commands.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/commands/run_fit/fit_limits.h"
#include "app/window/main_window_flags.h"
#include "app/commands/model/model_commands.h"
#include "app/commands/model/params_dialog.h"
#include "app/commands/run_fit/run_fit_commands.h"
#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "automation/exchange/xp_file.h"
#include "data/load_hooks.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "data/synthetic_data.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/direct_boundary.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_loader.h"
#include "fit/amplitudes.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_report.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/constants.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "numerics/matrix_files.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kCaption = "GENERATE DATA";

bool Ask(TXLAWindow& w, float& value, float initial, const char* prompt) {
  return InputPositiveFloatEx(&w, &value, initial, true, prompt, kCaption);
}

// Whole numbers (speeds, counts) are asked within what they can be.
bool AskWhole(int& value, int low, int high, const char* prompt) {
  return InputWholeNumber(&value, value, low, high, prompt, kCaption);
}

constexpr int kMaxRpm = static_cast<int>(kMaxRotorSpeedRpm);
// Values of one list of Series: each one is asked for.
constexpr int kMaxSeriesValues = 1000;
constexpr int kMaxDirectoryOffset = 1000000000;

bool YesNo(const char* text) {
  return platform::AskYes(kCaption, text);
}

// The scan path chosen in the save dialog (preset "0000x.ra0"), or empty;
// it opens beside the data loaded now, not wherever an earlier dialog was
// left.
std::string AskScanPath(TXLAWindow& w) {
  return AskSaveFile(w.LoadFileDialog, {"save generated data as", "0000x.ra0", SaveFolderFor("0000x.ra0")});
}

// The acceleration question: -1 without a run-up phase or on Cancel.
float AskAcceleration(TXLAWindow& w) {
  if (!YesNo("simulate with rotor acceleration phase?")) return -1;
  float a = 200;
  return Ask(w, a, 200, "acceleration (rpm/sec)") ? a : -1;
}

// Extinction coefficient, concentration and association constants of a
// self-association model into the parameter vector; false on Cancel or an
// entry that would make a logarithm of 0.
bool AskSelfAssociation(TXLAWindow& w) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  float eps = 1, conc = 1;
  if (!Ask(w, eps, eps, "extinction coefficient [M^-1cm^-1]")) return false;
  if (!Ask(w, conc, conc, "total molar concentration [uM]")) return false;
  if (!(eps > 0)) {
    platform::Tell(kCaption, "the extinction coefficient must be above 0");
    return false;
  }
  const bool two = m.MonomerDimerTetramerModel || m.MonomerTetramerOctamerModel;
  const char* first = m.MonomerDimerModel ? "Ka12 [1/M]"
                      : m.MonomerTrimerModel ? "Ka13 [1/M]"
                      : m.MonomerDimerTetramerModel ? "Ka12 [1/M]"
                                                    : "Ka14 [1/M]";
  const char* second = m.MonomerDimerTetramerModel ? "Ka14 [1/M]" : "Ka18 [1/M]";
  float k1 = 500000, k2 = 500000;
  if (!Ask(w, k1, k1, first)) return false;
  if (two && !Ask(w, k2, k2, second)) return false;
  if (!(k1 > 0) || (two && !(k2 > 0))) {
    platform::Tell(kCaption, "association constants must be above 0");
    return false;
  }
  const SelfAssociationEntries e = SelfAssociationParameters(eps, conc, k1, two ? k2 : 0.0);
  float* P = gModelParameterVector.P;
  P[11] = static_cast<float>(e.loading);
  P[3] = static_cast<float>(e.logK1);
  if (two) P[7] = static_cast<float>(e.logK2);
  UnpackModelParameters();
  return true;
}

// Meniscus (6.2 cm when unset) and bottom 7.2 cm of the generated cell.
void SetCellGeometry(float meniscus) {
  UnpackModelParameters();
  if (meniscus > 0)
    gModelParams.meniscus = meniscus;
  else if (gModelParams.meniscus == 0.0f)
    gModelParams.meniscus = 6.2f;
  gModelParams.bottom = 7.2f;
  PackModelParameters();
  SetDefaultMeniscusBottomLimits();
}

bool Generate(TXLAWindow& w, const SyntheticRun& run) {
  RunSwitches& rs = RunState();
  rs.RunProgressDisplay = true;
  w.Frame().SetCursor(platform::CursorKind::Wait);
  const SyntheticOutcome outcome = MakeSyntheticDataSet(run);
  w.Frame().SetCursor(platform::CursorKind::Arrow);
  rs.RunProgressDisplay = false;
  // New scans are the loaded data now: the title names them as a load does.
  // Scans that could not be written are no data in that folder: the title
  // never names it.
  const ScanSet& s = CurrentScanSet();
  if (!run.reuse && outcome == SyntheticOutcome::Made && s.count > 0 && s.fileNames.size() > 1)
    w.Frame().SetTitle("SEDIMENTATION ANALYSIS -> " + platform::Combine(s.dataFolder, s.fileNames[1]) + "...");
  // The report of the fit to the data before is no report of the new set.
  if (!run.reuse && outcome == SyntheticOutcome::Made) {
    WindowFlags().FitInfoShown = false;
    RequestRepaint(w);
  }
  return outcome == SyntheticOutcome::Made;
}

// The cell of the loaded data, as it was before the generated cell took its
// place: a Generate that made nothing puts it back (the next Run computes
// the data loaded, not a cell that was never generated).
struct LoadedCell {
  ModelParams entries = gModelParams;
  float P13 = gModelParameterVector.P[13], P14 = gModelParameterVector.P[14];
  FitEngineState limits = gFitEngineState;
  void PutBackUnlessChanged(float meniscus, float bottom) const {
    ModelParams& mp = gModelParams;
    if (mp.meniscus != meniscus || mp.bottom != bottom) return;  // the user's own entries
    mp.meniscus = entries.meniscus;
    mp.bottom = entries.bottom;
    gModelParameterVector.P[13] = P13;
    gModelParameterVector.P[14] = P14;
    FitEngineState& fs = gFitEngineState;
    fs.meniscusMin = limits.meniscusMin;
    fs.meniscusMax = limits.meniscusMax;
    fs.bottomMin = limits.bottomMin;
    fs.bottomMax = limits.bottomMax;
  }
};

// A list of values of Series: its count, then each value (whole numbers
// from 1 to wholeHigh when wholeHigh > 0); false on Cancel.
bool AskList(TXLAWindow& w, std::vector<float>& values, const char* countPrompt, const char* valuePrompt,
             float initial, int wholeHigh = 0) {
  int n = 2;
  if (!AskWhole(n, 0, kMaxSeriesValues, countPrompt)) return false;
  values.clear();
  for (int i = 1; i <= n; ++i) {
    char prompt[80];
    std::snprintf(prompt, sizeof prompt, valuePrompt, i);
    float v = initial;
    int whole = static_cast<int>(initial);
    if (wholeHigh > 0 ? !AskWhole(whole, 1, wholeHigh, prompt) : !Ask(w, v, initial, prompt)) return false;
    values.push_back(wholeHigh > 0 ? static_cast<float>(whole) : v);
  }
  return true;
}

void WriteText(const std::string& path, const std::string& text) {
  if (!platform::WriteWholeFile(path, text)) ErrorBox(("\n\aAttention: could not write " + path).c_str());
}

std::string Formatted(const char* format, double value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

bool& SeriesGenerationRunning() {
  static bool running = false;
  return running;
}

bool& BandInitialDistributionInverted() {
  static bool inverted = false;
  return inverted;
}

int AutomaticScanCount(float meniscus, float rightFitLimit, float bottom, float s1, float rpm,
                       float interval) {
  if (!(s1 > 0) || !(interval > 0) || !(rpm > 0) || !(meniscus > 0)) return 0;
  const double right = rightFitLimit > 0 ? rightFitLimit : bottom - 0.01;
  if (!(right > meniscus)) return 0;
  const double omega = RpmToOmega(rpm);
  const double t = std::log(right / meniscus) / (s1 * 1e-13 * omega * omega);
  // (A count no int holds is more scans than can be simulated anyway.)
  const double count = std::floor(t / interval);
  return count < INT_MAX ? static_cast<int>(count) : INT_MAX;
}

SelfAssociationEntries SelfAssociationParameters(double eps, double microMolar, double k1, double k2) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  SelfAssociationEntries e;
  e.loading = eps * microMolar * 1e-6;
  if (m.MonomerDimerModel) {
    e.logK1 = std::log10(2.0 * k1 / eps);
  } else if (m.MonomerTrimerModel) {
    e.logK1 = std::log10(3.0 * k1 / (eps * eps));
  } else if (m.MonomerDimerTetramerModel) {
    e.logK1 = std::log10(k1 / eps);
    e.logK2 = std::log10(4.0 * k2 / std::pow(eps, 3));
  } else if (m.MonomerTetramerOctamerModel) {
    e.logK1 = std::log10(4.0 * k1 / std::pow(eps, 3));
    e.logK2 = std::log10(8.0 * k2 / std::pow(eps, 7));
  }
  return e;
}

namespace {

// The direct boundary model lies in the scans' model on the common grid
// with its amounts fixed: the systematic noise of the data around it comes
// from the noise routine of the current noise model, run as for one
// discrete species of unit amplitude whose curves are that model. Without
// TI noise the RI noise is not treated.
void FixedBoundaryNoise() {
  ScanSet& s = CurrentScanSet();
  ModelParams& mp = gModelParams;
  for (int k = 1; k <= kComponentSlots; ++k) mp.included[k] = k == 1 ? 1 : 0;
  mp.scaleFactor[1] = mp.concentration[1] = 1.0f;
  if (s.count < 1 || s.gridLength < 1) return;
  const auto curvesMissing = [&s] {
    const std::vector<float*>& rows = s.species[1].onGridPerScan;
    if (static_cast<int>(rows.size()) <= s.count || s.speciesGridLength != s.gridLength) return true;
    for (int j = 1; j <= s.count; ++j)
      if (!rows[j]) return true;
    return false;
  };
  if (curvesMissing()) {
    mp.speciesArrays[1] = 1;
    AllocExtraScanArrays();
  }
  if (curvesMissing()) return;
  // The model covers every scan, the first too, whatever start the last
  // evaluation simulated from.
  gFirstSimulatedScan = 1;
  for (int j = 1; j <= s.count; ++j) {
    float* curve = s.species[1].onGridPerScan[j];
    const bool have = static_cast<size_t>(j) < s.gridModel.size() && s.gridModel[j];
    for (int r = 1; r <= s.gridLength; ++r) curve[r] = have ? s.gridModel[j][r] : 0.0f;
  }
  ModelSelectorFlags& f = gModelSelectorFlags;
  const unsigned char cs = f.CSModel, discrete = f.LammDiscreteModel;
  f.CSModel = 0;
  f.LammDiscreteModel = 1;
  if (gFitEngineState.fitTINoise)
    mp.riNoiseFit ? ComputeNoiseFixedAmplitudes() : SubtractSpeciesFromResiduals();
  else
    mp.baselineLinear ? AddBaselineToModel() : AddBaselineToScans();
  f.CSModel = cs;
  f.LammDiscreteModel = discrete;
}

// The boundary's g(s*) replaced the distribution arrays: the plot's views
// follow them before it is drawn again.
void RedrawDirectBoundaryDistribution() {
  DistributionArrays& a = DistArrays();
  ContiSettings& cs = Conti();
  if (!a.plotExists || !a.xView || !a.distView || !cs.sValues || !cs.distribution) return;
  a.xView->Attach(cs.sValues, cs.gridSize, 1);
  a.distView->Attach(cs.distribution, cs.gridSize, 1);
  RedrawDistributionPlot();
}

}  // namespace

void ConnectSyntheticDataToWindow(TXLAWindow& window) {
  TXLAWindow* w = &window;
  SyntheticDataHooks& h = CurrentSyntheticDataHooks();
  h.initialLoading = [] {
    const ModelParams& mp = gModelParams;
    if (gModelSelectorFlags.AnySelfAssociationModel()) return gModelParameterVector.P[11];
    for (int k = 1; k <= kComponentSlots; ++k)
      if (mp.included[k]) return mp.concentration[k];
    return mp.concentration[1];
  };
  h.bandLoadingModel = [] { return gModelSelectorFlags.ZoneCentrifugationModel != 0; };
  h.setBandInverted = [](bool on) { BandInitialDistributionInverted() = on; };
  h.distributionModel = [] { return gModelSelectorFlags.DistributionModel != 0; };
  h.seriesRunning = [] { return SeriesGenerationRunning(); };
  h.holdFitSwitches = [] {
    ModelParams& mp = gModelParams;
    const int baselineFit = mp.baselineFit;
    const unsigned char baselineLinear = mp.baselineLinear, concentrationsLinear = mp.concentrationsLinear;
    mp.baselineFit = 0;
    mp.baselineLinear = mp.concentrationsLinear = 0;
    return std::function<void()>([=] {
      ModelParams& m = gModelParams;
      m.baselineFit = baselineFit;
      m.baselineLinear = baselineLinear;
      m.concentrationsLinear = concentrationsLinear;
    });
  };
  h.simulateModel = [] {
    if (FitHost* host = MainFitHost()) SimulateModel(host);
  };
  h.setSyntheticDistribution = [](bool on) { Conti().synthetic = on ? 1 : 0; };
  h.loadDistribution = [](const std::string& path, bool normalised) {
    DistArrays().normaliseOnLoad = normalised ? 1 : 0;
    return LoadDistributionFromFile(path);
  };
  h.runDistribution = [w] {
    PrepareContiContext(*w);
    RunContiSed();
  };
  h.rampRotorSpeed = [] { return LammSettings().rampRotorSpeed != 0; };
  h.setRampRotorSpeed = [](bool on) { LammSettings().rampRotorSpeed = on ? 1 : 0; };
  h.clearDistributionDisplay = [] { Conti().distributionShown = 0; };

  DirectBoundaryHooks& d = DirectBoundary();
  d.computeFixedNoise = FixedBoundaryNoise;
  d.redrawDistribution = RedrawDirectBoundaryDistribution;
}

void DisconnectSyntheticData() {
  ResetSyntheticDataHooks();
  DirectBoundary() = DirectBoundaryHooks{};
}

void TXLAWindow::CmSingle() {
  ModelSelectorFlags& m = gModelSelectorFlags;
  if (m.SedTransformModel) {
    platform::Tell(kCaption, "no simulation for van Holde-Weischet boundaries implemented");
    return;
  }
  if (SelectedModelKey() == 0) {
    // Without a model the scans would be pure noise.
    platform::Tell(kCaption, "choose a model first");
    return;
  }
  if (m.DistributionModel) {
    SetFitMAndS(*this, true);
  } else {
    // A change of form converts every species' second value, as the menu
    // toggle does: a molar mass left standing as D would simulate nonsense.
    if (YesNo("Fit with M and s instead D and s?") != (gFitEngineState.molarMassParameters != 0)) CmFitMAndS();
    CheckMenuItem(217, gFitEngineState.molarMassParameters != 0);
  }
  SyntheticRun run;
  float dr = 0.001f, interval = 300, noise = 0.01f;
  int rpm = 50000, scans = 50;
  if (!Ask(*this, dr, dr, "density of points dr (cm)")) return;
  if (!AskWhole(rpm, 1, kMaxRpm, "rotor speed (rpm)")) return;
  run.acceleration = AskAcceleration(*this);
  if (!Ask(*this, interval, interval, "time interval of scans (sec)")) return;
  if (!AskWhole(scans, 0, kMaxSyntheticScans, "number of simulated scans")) return;
  if (!Ask(*this, noise, noise, "std of noise (OD)")) return;
  const LoadedCell loaded;
  SetCellGeometry(0);
  const float meniscus = gModelParams.meniscus, bottom = gModelParams.bottom;
  const auto nothingMade = [&] { loaded.PutBackUnlessChanged(meniscus, bottom); };
  if (m.AnySelfAssociationModel() && !AskSelfAssociation(*this)) return nothingMade();
  CmParameters();
  const std::string path = AskScanPath(*this);
  if (path.empty()) return nothingMade();
  run.radialStep = dr;
  run.rpm = rpm;
  run.noise = noise;
  run.timeStep = interval;
  run.firstTime = 0;
  run.scanCount = scans;
  run.path = path;
  if (!Generate(*this, run)) return nothingMade();
  if (CurrentScanSet().count > 0) GeneratedDataInMemory() = true;
}

bool& GeneratedDataInMemory() {
  static bool generated = false;
  return generated;
}

void TXLAWindow::CmSeries() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (m.SedTransformModel) {
    platform::Tell(kCaption, "no simulation for van Holde-Weischet boundaries implemented");
    return;
  }
  if (m.DistributionModel || !m.LammDiscreteModel) {
    // Its trace concentration is the second discrete species.
    platform::Tell(kCaption, "a series is generated with a discrete species model only: choose one first");
    return;
  }
  CmParameters();
  if (!ParametersBoxAccepted()) return;
  const std::string path = AskScanPath(*this);
  if (path.empty()) return;
  const platform::PathParts parts = platform::SplitPath(path);
  const std::string base = parts.drive + parts.folder;
  const std::string scanName = parts.name + parts.extension;

  std::vector<float> steps, speeds, noises, menisci, traces;
  float interval = 300;
  int scans = 0, offset = 0;
  if (!AskList(*this, steps, "# radial increments?", "%d - density of points dr (cm)", 0.001f)) return;
  if (!AskList(*this, speeds, "# rotor speeds?", "%d - rotor speed (rpm)?", 50000, kMaxRpm)) return;
  const float acceleration = AskAcceleration(*this);
  if (!Ask(*this, interval, interval, "time interval of scans (sec)")) return;
  if (!AskWhole(scans, 0, kMaxSyntheticScans, "number of simulated scans (0 for auto)")) return;
  if (!AskList(*this, noises, "# noise levels?", "%d - noise level?", 0.01f)) return;
  if (!AskList(*this, menisci, "# menisci?", "%d - meniscus (cm)?", 6.2f)) return;
  if (!AskList(*this, traces, "# trace concentrations?", "%d - 2nd species concentration (%)?", 1)) return;
  if (!AskWhole(offset, 0, kMaxDirectoryOffset, "directory # offset")) return;
  for (float& c : traces) c *= 0.01f;

  SeriesGenerationRunning() = true;
  // Numbers of the folders: past what an int holds when the lists are long.
  const long long first = offset;
  long long k = 0;
  bool stop = false;
  for (float dr : steps)
    for (float rpm : speeds)
      for (float noise : noises)
        for (float meniscus : menisci) {
          for (float trace : traces) {
            if (stop) break;
            float* P = gModelParameterVector.P;
            P[13] = gModelParams.meniscus = meniscus;
            P[10] = gModelParams.concentration[2] = trace;
            ++k;
            const std::string folder = base + std::to_string(first + k) + platform::Separator();
            std::error_code ec;
            std::filesystem::create_directories(platform::ToNative(folder), ec);
            if (ec || !std::filesystem::is_directory(platform::ToNative(folder))) {
              platform::Tell("", "could not create new directory", platform::BoxIcon::Error);
              break;
            }
            char info[400];
            std::snprintf(info, sizeof info, "%f (percent ctrace)\n%f (dr)\n%f (omega)\n%f (noise)\n%f (meniscus)\n",
                          100.0 * trace, static_cast<double>(dr), static_cast<double>(rpm),
                          static_cast<double>(noise), static_cast<double>(meniscus));
            WriteText(folder + "info_" + std::to_string(k) + ".txt", info);
            for (const std::string& marker :
                 {Formatted("tracepercent=%.3f", 100.0 * trace), Formatted("dr=%.4f_cm", dr),
                  Formatted("omega=%.0f_rpm", rpm), Formatted("noise=%.3f", noise),
                  Formatted("meniscus=%.3f", meniscus)})
              WriteText(folder + marker + ".info", "1");
            CurrentLoadHooks().drawText(folder, 10, 50);
            SetCellGeometry(meniscus);
            ScanSet& s = CurrentScanSet();
            s.leftFitLimit = meniscus + 0.01f;

            SyntheticRun run;
            run.radialStep = dr;
            run.rpm = static_cast<int>(rpm);
            run.acceleration = acceleration;
            run.noise = noise;
            run.timeStep = interval;
            run.firstTime = acceleration > 0 ? rpm / acceleration + 10.0f : 0.0f;
            run.scanCount = scans;
            if (run.scanCount <= 0) {
              run.scanCount = AutomaticScanCount(meniscus, s.rightFitLimit, gModelParams.bottom,
                                                 gModelParams.s[1], rpm, interval);
              // Without a positive s1 there is no time to count from.
              int asked = 50;
              if (run.scanCount <= 0 && !AskWhole(asked, 1, kMaxSyntheticScans, "number of simulated scans")) {
                stop = true;
                break;
              }
              if (run.scanCount <= 0) run.scanCount = asked;
            }
            run.path = folder + scanName;
            Generate(*this, run);
            SolutionConditions& sc = gSolutionConditions;
            const float density = sc.density;
            sc.density = 0.99823f;
            WriteMorleanXpFile(folder + "xp" + std::to_string(first + k) + ".xp", true);
            sc.density = density;
          }
        }
  SeriesGenerationRunning() = false;
  RequestRepaint(*this);
}

void TXLAWindow::CmToggleOption223() {
  std::uint8_t& on = LammSettings().OptionToggle223;
  on = !on;
  CheckMenuItem(223, on != 0);
}

void TXLAWindow::CmTransformGsToDirectBoundary() {
  if (CurrentScanSet().count < 1) return;
  platform::Tell("Make direct boundary model from g(s*)",
                 "1) calculate g(s*) by dcdt (uncorrected s)\n2) write graph data to disk as "
                 "ASCII (with error estimates)");
  platform::FileDialogRequest request = LoadFileDialog;
  request.save = false;
  request.multiSelect = false;
  request.title = "select g*(s) ASCII file from dcdt analysis";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) return;
  int rows = 0;
  float** m = ReadMatrixFile(platform::ToNative(chosen.paths.front()).c_str(), 6, &rows);
  if (!m) return;
  if (rows >= 1) {
    const CCurve curve(m[1], m[2], rows, 1, 1);
    DirectBoundary().distributionPlotPresent = DistArrays().plotExists;
    MakeDirectBoundaryModelFromGss(curve, 0, rows);
  }
  free_matrix(m, 1, 6, 1, rows);
  CmDataRange();
  if (FitHost* host = MainFitHost()) ComposeFitInfoText(host);
}
