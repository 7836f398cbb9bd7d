#include "app/commands/model/nonideal_cs_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/dialogs/params_fields.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "platform/metafile.h"
#include "platform/paths.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"

namespace {

constexpr const char* kFileCaption = "select NONIDEAL CTOT DATA files";
constexpr const char* kQuestionCaption = "NONIDEAL CTOT DATA";
constexpr int kResolutionEdit = 438, kProfileRadiiEdit = 439, kSignalEdit = 440;
constexpr int kBestFit = 448, kInterpolatedData = 449, kLoadExternal = 451, kFreeze = 452;
constexpr int kExtraDiscrete = 446, kDebugFiles = 453;

bool Yes(const std::string& text) {
  return platform::AskYes(kQuestionCaption, text);
}

std::string BesideParameters(const std::string& parameterFile) { return parameterFile + ".ctot"; }

bool Unattended() { return CommandLineState().AutomationMode != 0; }

// The window's busy mark for the time of a file dialog, whatever way out.
class BusyWhile {
 public:
  explicit BusyWhile(TXLAWindow& w) : w_(w), saved_(w.DialogOpen) { w_.DialogOpen = true; }
  ~BusyWhile() { w_.DialogOpen = saved_; }
  BusyWhile(const BusyWhile&) = delete;
  BusyWhile& operator=(const BusyWhile&) = delete;

 private:
  TXLAWindow& w_;
  bool saved_;
};

// Runs the ctot file dialog; false when nothing was chosen.
bool ChooseCtotFile(TXLAWindow& w, bool save, std::string& path) {
  if (Unattended()) return false;
  const char* title = save ? "select NONIDEAL CTOT DATA file" : "select NONIDEAL CTOT DATA files";
  return SelectFileNameOpenOrSave(w, save, path, 260, title, "ctot", "ctot files (~*.ctot)", "*.ctot") == 1;
}

std::string TextOf(const ParamsTransfer& b, int id) {
  const auto it = b.texts.find(id);
  return it == b.texts.end() ? std::string() : it->second;
}

bool Ticked(const ParamsTransfer& b, int id) {
  const auto it = b.states.find(id);
  return it != b.states.end() && it->second != 0;
}

}  // namespace

void LoadCtotFiles(TXLAWindow& window, int /*flag*/) {
  BusyWhile busy(window);
  std::string path = CurrentDataPaths().parameterFile;
  CCtotMovie* movie = CurrentCtotMovie();
  if (movie && !movie->fileName.empty()) {
    if (Yes("keep " + movie->fileName + " ?")) return;
    path = movie->fileName;
  }
  CCtotMovie& target = EnsureCtotMovie();
  if (!ChooseCtotFile(window, false, path)) {
    if (!Unattended()) platform::Tell(kFileCaption, "sorry could not identify valid file");
    return;
  }
  if (!target.ReadFile(path)) platform::Tell(kFileCaption, "sorry loading CTOT DATA file failed");
}

void SaveCtotFile(TXLAWindow& window) {
  CCtotMovie* movie = CurrentCtotMovie();
  if (!movie || !movie->HasField()) {
    // The model's own field is what a scientist exports after a run.
    if (!CopyMeanFieldToCtotMovie()) return;
    movie = CurrentCtotMovie();
  }
  BusyWhile busy(window);
  std::string path = !movie->fileName.empty() ? movie->fileName : BesideParameters(CurrentDataPaths().parameterFile);
  if (!ChooseCtotFile(window, true, path)) {
    if (!Unattended()) platform::Tell(kFileCaption, "sorry could not find destination CTOT DATA file");
    return;
  }
  if (!movie->SaveAs(path)) platform::Tell(kFileCaption, "sorry could not save CTOT DATA file");
}

void OfferLoadCtotForData(const std::string& parameterFile) {
  if (parameterFile.empty()) return;
  const std::string name = BesideParameters(parameterFile);
  if (!platform::FileExists(platform::ToNative(name))) return;
  CCtotMovie& movie = EnsureCtotMovie();
  if (!Yes("also load mean field CTOT data from " + name + " ?")) return;
  if (!movie.ReadFile(name)) {
    platform::Tell(kFileCaption, "sorry loading CTOT DATA file failed");
    return;
  }
  // Only a field that was read can be the one the runs use.
  MeanField().loadExternal = true;
  MeanField().useInterpolatedData = false;
}

void SaveCtotBesideParameters(const std::string& parameterFile) {
  if (parameterFile.empty()) return;
  CCtotMovie* movie = CurrentCtotMovie();
  if (!movie || !movie->HasField()) {
    if (!CopyMeanFieldToCtotMovie()) return;
    movie = CurrentCtotMovie();
  }
  movie->SaveAs(BesideParameters(parameterFile));
}

void ResetMeanFieldCtotPrompt(TXLAWindow& /*window*/) {
  const CCtotMovie* movie = CurrentCtotMovie();
  if (!movie) return;
  // An empty movie (a read that failed) holds nothing worth a question.
  if (!movie->HasField() || platform::UI().MessageBox("LOAD FILES", "reset mean field ctot data?", platform::BoxButtons::YesNo,
                                platform::BoxIcon::Question) == platform::IDYES)
    DeleteMeanFieldCtot();
}

void DrawCtotMovie(TXLAWindow& window, CWINPlot* plot, platform::DrawContext& dc) {
  MeanFieldSettings& mf = MeanField();
  if (!mf.displayCtot || !plot) return;
  CCtotMovie* movie = CurrentCtotMovie();
  if (!movie || !movie->HasField()) {
    if (!CopyMeanFieldToCtotMovie()) return;
    movie = CurrentCtotMovie();
  }
  const float v = movie->Value(1, movie->radiusCount);
  float yMin = plot->yMin, yMax = plot->yMax;
  bool changed = false;
  // Widened once: a field without positive values must not ask for it at every paint.
  if (yMin > 0 && -0.05f * v < yMin) {
    yMin = -0.05f * v;
    changed = true;
  }
  if (yMax < v && 1.1f * v > yMax) {
    yMax = 1.1f * v;
    changed = true;
  }
  if (changed) {
    // The frames come with the paint that shows the widened plot.
    plot->SetRanges(plot->xMin, plot->xMax, yMin, yMax);
    plot->Plot();
    RequestRepaint(window);
    return;
  }
  for (int t = 1; t <= movie->timeCount; ++t) {
    std::vector<float> y(movie->values[t]);
    std::vector<float> x(movie->radii);
    const platform::HMETAFILE mf2 =
        PlotFloatArrays(plot, x.data(), y.data(), movie->radiusCount, 0x00F46464, -1, plot->symbolSize);
    if (mf2) {
      platform::PlayMetaFile(dc, mf2);
      platform::DeleteMetaFile(mf2);
    }
  }
}

bool EndCtotDisplay(TXLAWindow& window) {
  MeanFieldSettings& mf = MeanField();
  if (!mf.displayCtot) return false;
  mf.displayCtot = false;
  RequestRepaint(window);
  return true;
}

void FillMeanFieldControls(ParamsTransfer& b) {
  const MeanFieldSettings& mf = MeanField();
  char text[40];
  std::snprintf(text, sizeof text, "%d", mf.movieGridSize);
  b.texts[kResolutionEdit] = text;
  std::snprintf(text, sizeof text, "%d", mf.profileRadii);
  b.texts[kProfileRadiiEdit] = text;
  b.texts[kSignalEdit] = FormatField("%g", CurrentScanSet().signalPerConcentration);
  b.states[kLoadExternal] = mf.loadExternal;
  b.states[kInterpolatedData] = !mf.loadExternal && mf.useInterpolatedData;
  b.states[kBestFit] = !mf.loadExternal && !mf.useInterpolatedData;
  b.states[kFreeze] = mf.freeze;
  b.states[kExtraDiscrete] = mf.extraDiscreteExcluded;
  b.states[kDebugFiles] = mf.debugFiles;
}

void ApplyMeanFieldControls(const ParamsTransfer& b) {
  MeanFieldSettings& mf = MeanField();
  // The solver needs a few nodes and the profiles a few radii to be fields at all.
  const int resolution = std::atoi(TextOf(b, kResolutionEdit).c_str());
  const int radii = std::atoi(TextOf(b, kProfileRadiiEdit).c_str());
  if (resolution >= 10) mf.movieGridSize = resolution;
  if (radii >= 5) mf.profileRadii = radii;
  const double signal = std::atof(TextOf(b, kSignalEdit).c_str());
  if (signal > 0) CurrentScanSet().signalPerConcentration = signal;
  mf.loadExternal = Ticked(b, kLoadExternal);
  mf.useInterpolatedData = !mf.loadExternal && Ticked(b, kInterpolatedData) && !Ticked(b, kBestFit);
  mf.freeze = Ticked(b, kFreeze);
  mf.extraDiscreteExcluded = Ticked(b, kExtraDiscrete);
  mf.debugFiles = Ticked(b, kDebugFiles);
  gModelParams.parametersReloaded = 1;
}

void ConnectMeanField() {
  InstallMeanFieldHooks();
  SavedParamsHooks& h = CurrentSavedParamsHooks();
  h.reloadedNonidealModel = OfferLoadCtotForData;
  h.savedNonidealModel = SaveCtotBesideParameters;
}

void TXLAWindow::CmLoadCtotFiles() { LoadCtotFiles(*this, 1); }

void TXLAWindow::CmSaveCtotFile() { SaveCtotFile(*this); }

void TXLAWindow::CmRerunWithMeanField() {
  const CCtotMovie* movie = CurrentCtotMovie();
  if ((movie && movie->HasField()) || CopyMeanFieldToCtotMovie()) MeanField().displayCtot = true;
  RequestRepaint(*this);
}

void TXLAWindow::CmClearMeanFieldCtot() { DeleteMeanFieldCtot(); }
