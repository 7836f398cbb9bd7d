// "s and M Contour", "s1,s2 Contour" and "K Contour": the grid, the level,
// the start node and the file of an rmsd map of the error surface.
#include <string>

#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "fit/error_surface.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/error_box.h"
#include "platform/frame_window.h"
#include "platform/user_interface.h"

namespace {

struct AxisPrompts {
  const char* minimum;
  const char* maximum;
  const char* increment;
  float current;
  float fraction;
  bool negativeIncrement;
};

// Minimum, maximum and increment of one axis; false on Cancel or an
// increment that does not lead from the minimum to the maximum.
bool AskAxis(TXLAWindow& w, const char* title, const AxisPrompts& p, ContourAxis& axis) {
  float from = p.current, to = p.current;
  if (!InputPositiveFloatEx(&w, &from, from, true, p.minimum, title)) return false;
  if (!InputPositiveFloatEx(&w, &to, to, true, p.maximum, title)) return false;
  float step = (to - from) * p.fraction;
  const bool asked = p.negativeIncrement ? InputFloatEx(&w, &step, step, true, p.increment, title)
                                         : InputPositiveFloatEx(&w, &step, step, true, p.increment, title);
  if (!asked) return false;
  if ((to > from && step <= 0.0f) || (to < from && step >= 0.0f)) return false;
  axis = {from, to, step};
  // Equal bounds take any increment; a zero one still gives their one node.
  if (to == from && step == 0.0f) axis.step = 1.0f;
  return ContourNodeCount(axis.from, axis.to, axis.step) >= 1;
}

// The window's dialog without its scan-file filters.
bool AskFile(TXLAWindow& w, const char* presetName, std::string& path) {
  platform::FileDialogRequest unfiltered = w.LoadFileDialog;
  unfiltered.filters.clear();
  path = AskSaveFile(unfiltered, {"save generated data as", presetName});
  return !path.empty();
}

// The level and the start node, asked under one caption.
bool AskLevelAndStart(TXLAWindow& w, const char* title, float& level, float& startX, float& startY) {
  level = 0.0f;
  return InputFloatEx(&w, &level, 0.0f, false, "rmsd contour level (0 for all)", title) &&
         InputFloatEx(&w, &startX, startX, true, "starting s1", title) &&
         InputFloatEx(&w, &startY, startY, true, "starting s2", title);
}

template <typename Run>
void RunMap(TXLAWindow& w, Run run) {
  w.Frame().SetCursor(platform::CursorKind::Wait);
  run();
  RequestRepaint(w);
  w.Frame().SetCursor(platform::CursorKind::Arrow);
}

}  // namespace

void TXLAWindow::CmSMContour() {
  const char* title = "s and M Contour";
  const float* P = gModelParameterVector.P;
  ContourAxis s, m;
  if (!AskAxis(*this, title, {"minimum s", "maximum s", "s increment", P[5], 0.2f, false}, s)) return;
  if (!AskAxis(*this, title, {"minimum M", "maximum M", "M increment", P[1], 0.2f, false}, m)) return;
  float level = 0, startS = P[5], startM = P[1];
  if (!AskLevelAndStart(*this, "s1 and M Contour", level, startS, startM)) return;
  std::string path;
  if (!AskFile(*this, "contour.dat", path)) return;
  RunMap(*this, [&] { ContourSM(MainFitHost(), path.c_str(), s, m, level, startS, startM); });
}

void TXLAWindow::CmS1S2Contour() {
  const char* title = "s1,s2 Contour";
  const ModelParams& mp = gModelParams;
  ContourAxis a, b;
  if (!AskAxis(*this, title, {"minimum s1", "maximum s1", "s1 increment", mp.storedS1, 0.2f, true}, a)) return;
  if (!AskAxis(*this, title, {"minimum s2", "maximum s2", "s2 increment", mp.storedS2, 0.2f, true}, b)) return;
  float level = 0, start1 = mp.storedS1, start2 = mp.storedS2;
  if (!AskLevelAndStart(*this, title, level, start1, start2)) return;
  std::string path;
  if (!AskFile(*this, "contour.dat", path)) return;
  RunMap(*this, [&] { ContourS1S2(MainFitHost(), path.c_str(), a, b, level, start1, start2); });
}

void TXLAWindow::CmKContour() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (!sel.MonomerDimerModel && !sel.MonomerTrimerModel) return;
  ContourAxis k;
  const float current = gModelParameterVector.P[3];
  if (!AskAxis(*this, "K Contour", {"minimum lg(K)", "maximum lg(K)", "lg(K) increment", current, 0.1f, false}, k))
    return;
  std::string path;
  if (!AskFile(*this, "Kcontour.dat", path)) return;
  RunMap(*this, [&] { ContourLogK(MainFitHost(), path.c_str(), k); });
}
