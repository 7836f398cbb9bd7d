#include "app/hydro_commands.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/road_services.h"
#include "app/txla_window.h"
#include "automation/tools/hydro_results.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "numerics/error_box.h"
#include "numerics/matrix_files.h"
#include "platform/frame_window.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot_arrays.h"

namespace {

constexpr const char* kCalibrationCaption = "CALIBRATE C(M) POWER LAW";
constexpr const char* kBestCaption = "read BEST/BEMINE";

int Ask(const char* caption, const std::string& text) {
  return platform::UI().MessageBox(caption, text, platform::BoxButtons::YesNo, platform::BoxIcon::Question);
}

void Refuse(const char* caption, const std::string& text) {
  platform::UI().MessageBox(caption, text, platform::BoxButtons::Ok, platform::BoxIcon::Error);
}

std::string Format2(const char* format, double a, double b) {
  char buf[200];
  std::snprintf(buf, sizeof buf, format, a, b);
  return buf;
}

void StoreScalingLaw(float ks, float kb) {
  ModelParameterVector& v = gModelParameterVector;
  ModelParams& mp = gModelParams;
  ContiSettings& cs = Conti();
  v.P[11] = mp.concentration[3] = cs.scalingKs = ks;
  v.P[18] = mp.extra[3] = cs.scalingBs = kb;
  // Selecting the scaling-law model again starts from the stored law.
  ContiStore().scalingPrefactor = ks;
  ContiStore().scalingExponent = kb;
}

}  // namespace

void WaitForKeyPress() {
  if (platform::Headless()) return;
  for (;;) {
    platform::PumpEvents();
    if (platform::TakeKeyDown()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool CalibrateCMPowerLaw() {
  if (Ask(kCalibrationCaption,
          "select enter ASCII file with calibration data\nformat: each row with two columns containing (s M) "
          "pairs, tab or space-delimited\n(if there's only one calibration point, scaling exponent will be "
          "requested as user input)") != platform::IDYES)
    return false;
  platform::FileDialogRequest request;
  request.title = "please locate the calibration file";
  request.filters = {{"calibration text files (*.dat)", "*.dat"}};
  request.initialFolder = LastDataFolder();
  request.presetName = "calibration.dat";
  request.defaultExtension = "dat";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) return false;
  int count = 0;
  float** table = ReadMatrixFile(chosen.paths.front().c_str(), 2, &count);
  if (!table) return false;
  std::vector<float> s, M;
  for (int i = 1; i <= count; ++i) {
    s.push_back(table[1][i]);
    M.push_back(table[2][i]);
  }
  free_matrix(table, 1, 2, 1, count);
  const CalibrationRows rows = UsableCalibrationRows(s, M);
  if (!rows.skipped.empty()) Refuse(kCalibrationCaption, rows.skipped);
  if (rows.s.empty()) return false;
  float exponent = 0.66f;
  if (rows.s.size() == 1 && !InputFloat(&exponent, 0.66f, true, "scaling exponent:", "c(M) with scaling law"))
    return false;
  const PowerLawFit fit = FitCMPowerLaw(rows.s, rows.M, exponent);
  if (!fit.ok) {
    Refuse(kCalibrationCaption, fit.refusal);
    return false;
  }
  const std::string note = Format2("ks = %.3e, kb = %.3e  (press a key to continue...)", fit.ks, fit.kb);
  ShowAdHocPointsAndLine(fit.x.data(), fit.y.data(), fit.lineX.data(), fit.lineY.data(), fit.n, "log10(M)",
                         "log10(s)", note.c_str(), fit.yLow, fit.yHigh);
  WaitForKeyPress();
  if (Ask(kCalibrationCaption, Format2("ks = %.3e, kb = %.3e\naccept?", fit.ks, fit.kb)) != platform::IDYES)
    return false;
  StoreScalingLaw(fit.ks, fit.kb);
  FreeAdHocPlotArrays();
  platform::RequestRepaint();
  return true;
}

void TXLAWindow::CmMinimumSForLogGrid() {
  ContiSettings& cs = Conti();
  if (Ask("DISTRIBUTION OPTIONS", "use minimum s-value for log spaced grids?") == platform::IDYES) {
    cs.useMinimumS = 1;
    CheckMenuItem(1107, true);
    float value = cs.minimumSValue;
    if (InputFloat(&value, cs.minimumSValue, true, "min s-value:", "DISTRIBUTION OPTIONS")) cs.minimumSValue = value;
  } else {
    cs.useMinimumS = 0;
    CheckMenuItem(1107, false);
  }
}

void TXLAWindow::CmExtractSFromBest() {
  float M = 100000.0f, vbar = gSolutionConditions.vbar;
  if (!InputFloat(&M, M, true, "molar mass (Da)", kBestCaption) || !(M > 0)) return;
  if (!InputFloat(&vbar, vbar, true, "partial-specific volume (ml/g)", kBestCaption) || !(vbar > 0)) return;
  platform::FileDialogRequest request;
  request.title = "select filename of BEMINE output";
  request.filters = {{"all files (*.*)", "*.*"}};
  request.initialFolder = LastDataFolder();
  request.presetName = "tdat.*";
  request.defaultExtension = "*";
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  if (!chosen.accepted || chosen.paths.empty()) return;
  const std::string& path = chosen.paths.front();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ErrorBox(("\n\aAttention: could not open " + path).c_str());
    return;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  if (text.empty()) {
    ErrorBox(("\n\aAttention: could not read " + path + " into memory").c_str());
    return;
  }
  const BestModels models = ScanBestOutput(text);
  const int n = static_cast<int>(models.N.size());
  if (n == 0) {
    ErrorBox(("\n\ano diffusion data found in " + path).c_str());
    return;
  }
  const BestExtrapolation e = ExtrapolateBestD(models);
  if (Ask(kBestCaption, BestReport(path, models, e, M, vbar)) != platform::IDYES) return;
  std::vector<float> x(static_cast<size_t>(n) + 1), y = x, lineX = x, lineY = x;
  for (int i = 1; i <= n; ++i) {
    x[i] = lineX[i] = 1.0f / models.N[static_cast<size_t>(i - 1)];
    y[i] = models.D[static_cast<size_t>(i - 1)] * 1e7f;
  }
  lineX[1] = 0;
  if (n > 1) lineX[n] = 1.1f * x[n];
  for (int i = 1; i <= n; ++i) lineY[i] = (e.slope * lineX[i] + e.D0) * 1e7f;
  ShowAdHocPointsAndLine(x.data(), y.data(), lineX.data(), lineY.data(), n, "1/n", "D (F)");
}

void ConnectHydroTools(TXLAWindow&) { Road().calibrateCMPowerLaw = [] { return CalibrateCMPowerLaw(); }; }
