#include "distributions/conti_context.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <string>
#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"

#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/user_interface.h"

ContiRunContext& ContiContext() {
  static ContiRunContext context;
  return context;
}

bool SerialFitRunning() { return gSerialFitSettings.running != 0; }

bool FitRunning() { return gFitEngineState.fitRunning != 0; }

void UpdateContiShapeFromModel(bool bufferConcentrationFitted) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  ContiRunContext& c = ContiContext();
  c.twoDimensional = m.AnyCsff0Model();
  // A fixed buffer concentration is not among the solved amplitudes: only a
  // fitted one takes the place of amplitude 1.
  c.firstAmplitudeSeparate =
      m.FirstPointOutsideDistribution(bufferConcentrationFitted, Conti().hybridDiscrete != 0);
  c.timeCourse = m.DlsIRhTimeCourseModel;
}

namespace {

int gFitNotesDepth = 0;
std::vector<std::string> gFitNotes;

void KeepFitNote(const std::string& text) {
  if (std::find(gFitNotes.begin(), gFitNotes.end(), text) == gFitNotes.end()) gFitNotes.push_back(text);
}

}  // namespace

ContiFitNotesScope::ContiFitNotesScope() : outermost_(gFitNotesDepth++ == 0) {
  if (outermost_) gFitNotes.clear();
}

ContiFitNotesScope::~ContiFitNotesScope() { --gFitNotesDepth; }

// Between the set-up of a fit and its end the messages are its own; its
// checks before it starts are boxes that end it.
bool ContiFitNotesHeld() { return gFitNotesDepth > 0 && (FitRunning() || Conti().finalEvaluation); }

std::string TakeContiFitNotes() {
  std::string joined;
  for (const std::string& note : gFitNotes) joined += (joined.empty() ? "" : "; ") + note;
  gFitNotes.clear();
  return joined;
}

void ContiTell(const std::string& caption, const std::string& text, platform::BoxIcon icon) {
  if (ContiFitNotesHeld())
    KeepFitNote(text);
  else
    platform::Tell(caption, text, icon);
}

void ContiErrorOrCode(const std::string& text, int serialCode) {
  if (SerialFitRunning()) {
    gSerialFitSettings.errorCode = serialCode;
    return;
  }
  if (ContiFitNotesHeld()) {
    KeepFitNote(text);
    return;
  }
  ErrorBox(text.c_str(), false);
}

void ContiStatusLine(int y, const std::string& text) {
  if (!ContiContext().drawingEnabled) return;
  if (DistributionPlotHost* host = GetDistributionPlotHost()) host->DrawText(10, y, text);
  platform::UI().StatusText(text);
}

bool RunCommandSolving() {
  const ContiSettings& cs = Conti();
  return cs.runCommand && !cs.silent && !cs.monteCarloRun && !gFitEngineState.fitRunning && !SerialFitRunning();
}

void ForgetStopLeftByOthers() {
  if (!RunCommandSolving()) platform::StopFlag() = false;
}

bool RunStopRequested() {
  if (!RunCommandSolving()) return false;
  return platform::PollStop();
}

double ChiSquareRatio(double chi, double chi0) {
  if (chi0 > 0.0) return chi / chi0;
  return chi <= 0.0 ? 1.0 : std::numeric_limits<double>::infinity();
}
