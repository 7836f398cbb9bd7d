#include "app/eqtools_commands.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/road_services.h"
#include "app/txla_window.h"
#include "app/window_fit_host.h"
#include "app/window_services.h"
#include "automation/exchange/xp_file.h"
#include "data/scan_set.h"
#include "equilibrium/eqtools/eq_data_tools.h"
#include "equilibrium/eqtools/equilibrium_model.h"
#include "fit/model_params.h"
#include "numerics/error_box.h"
#include "numerics/sounds.h"
#include "platform/user_interface.h"
#include "plot/adhoc_plot_arrays.h"

namespace {

bool AskYesNo(const char* caption, const std::string& text) {
  return platform::UI().MessageBox(caption, text, platform::BoxButtons::YesNo, platform::BoxIcon::Question) ==
         platform::IDYES;
}

// The latest scan's values over its fit range as the extra plot.
void ShowLatestScan(TXLAWindow& w, int latest) {
  const ScanSet& s = CurrentScanSet();
  int first = 0, last = 0;
  EqScanFitRange(latest, &first, &last);
  std::vector<float> x(1), y(1);
  for (int i = first; i <= last; ++i) {
    x.push_back(s.radii[latest][i]);
    y.push_back(EqPointValue(latest, i));
  }
  ShowAdHocXYPlot(x.data(), y.data(), static_cast<int>(x.size()) - 1, "radius", "signal", 0);
  RequestRepaint(w);
}

bool AcceptLatest(TXLAWindow& w, int latest, const char* tail) {
  ShowLatestScan(w, latest);
  PlaySoundInfo();
  const ScanRecord& r = CurrentScanSet().records[latest];
  char text[200];
  std::snprintf(text, sizeof text, "accept EQ scan at %.0f nm and %.0f rpm to be included? %s",
                static_cast<double>(r.wavelength), static_cast<double>(r.rpm), tail);
  return AskYesNo("EQ Test", text);
}

}  // namespace

bool TestEquilibriumAttained(TXLAWindow& w, const std::vector<int>& list, int latest) {
  const ScanSet& s = CurrentScanSet();
  if (list.size() == 1 || (list.size() == 2 && list[0] == list[1]))
    return AcceptLatest(w, latest, "(no time-course available)");
  std::vector<int> earlier;
  for (int k : list)
    if (k != latest && std::find(earlier.begin(), earlier.end(), k) == earlier.end()) earlier.push_back(k);
  std::stable_sort(earlier.begin(), earlier.end(),
                   [&s](int a, int b) { return s.records[a].timeRead < s.records[b].timeRead; });
  std::vector<float> x(1), y(1);
  for (int k : earlier) {
    x.push_back(static_cast<float>(s.records[k].timeRead));
    y.push_back(ComputeEqScanDifferences(k, latest));
  }
  ShowAdHocXYPlot(x.data(), y.data(), static_cast<int>(earlier.size()), "elapsed time (sec)", "rmsd difference", 6);
  RequestRepaint(w);
  PlaySoundInfo();
  const ScanRecord& r = s.records[latest];
  char text[200];
  std::snprintf(text, sizeof text, "was equilibrium attained at %.0f nm and %.0f rpm?",
                static_cast<double>(r.wavelength), static_cast<double>(r.rpm));
  if (!AskYesNo("EQ Test", text)) return false;
  return AcceptLatest(w, latest, "");
}

void TXLAWindow::CmSortEqDataToDisk() {
  ScanSet& s = CurrentScanSet();
  if (s.count < 1) {
    platform::UI().MessageBox("Sort SE data", "please load data first", platform::BoxButtons::Ok,
                              platform::BoxIcon::Information);
    return;
  }
  if (s.radialResolution > 0.001f) {
    PlaySoundInfo();
    if (!AskYesNo("sort EQ data", "resolution is limiting data points - continue?")) {
      if (AskYesNo("sort EQ data", "change resolution?")) CmSetRadialResolution();
      return;
    }
  }
  EqSortRequest request;
  request.outputPath = "eq.ra1";
  if (!SelectFileNameOpenOrSave(*this, true, request.outputPath, 4096, "select filename for sorted eq data", "ra1",
                                "scan files", "*.*")) {
    PlaySoundOk();
    return;
  }
  if (CurrentDataTypeFlags().interference && AskYesNo("sort EQ data", "subtract blank file?")) {
    std::string blank;
    if (SelectFileNameOpenOrSave(*this, false, blank, 4096, "select blank scan", "", "scan files", "*.*"))
      request.blankPath = blank;
  }
  request.makeXp = AskYesNo("sort EQ data", "make xp files?");
  if (request.makeXp) {
    const SolutionConditions& sc = gSolutionConditions;
    const char* caption = "make MORLEAN xp file";
    struct Entry {
      float* value;
      float offered;
      const char* prompt;
    };
    const Entry entries[] = {{&request.density, sc.density, "buffer density (g/ml)"},
                             {&request.vbar, sc.vbar, "partial-specific volume (ml/g)"},
                             {&request.extinctionA, 1.0f, "molar extinction coefficient A"},
                             {&request.extinctionB, 1.0f, "molar extinction coefficient B"},
                             {&request.extinctionC, 0.0f, "molar extinction coefficient C"}};
    for (const Entry& e : entries)
      if (!InputFloat(e.value, e.offered, true, e.prompt, caption)) return;
  }
  EqSortHooks hooks;
  hooks.testEquilibriumAttained = [this](const std::vector<int>& list, int latest) {
    return TestEquilibriumAttained(*this, list, latest);
  };
  hooks.writeXp = [](const EqXpFile& xp) { return WriteSortedEquilibriumXpFile(xp); };
  SortEqDataToDisk(request, hooks);
  FreeAdHocPlotArrays();
  RequestRepaint(*this);
  PlaySoundOk();
}

void ConnectEqTools(TXLAWindow& w) {
  (void)w;
  RoadServices& r = Road();
  r.runEquilibrium = [] { RunEquilibrium(MainFitHost()); };
  // Fit starts from a run of the current parameters.
  r.fitEquilibrium = [] {
    if (RunEquilibrium(MainFitHost())) FitEquilibrium(MainFitHost());
  };
}

void DisconnectEqTools() { FreeEquilibriumWorkArrays(); }
