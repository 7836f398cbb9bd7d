#pragma once
// The window with data of each kind the models compute, for the tests that
// take models through the Model menu and through saved analyses: the kinds
// of data a model is tried on, the state a model keeps besides its dialog,
// and a Run with what it said.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "model_dialog_support.h"
#include "dls_set_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <functional>
#include <iomanip>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include <unistd.h>

#include "automation/commands.h"
#include "data/file_name_list.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "distributions/model_entries.h"
#include "distributions/model_molar_mass.h"
#include "fit/model_table.h"
#include "fit/saved_params.h"
#include "fit/fit_engine_state.h"
#include "lamm/lamm_settings.h"
#include "models/buffer/buffer_sed_settings.h"
#include "models/reacting/hetero_association_state.h"
#include "platform/input_events.h"

// The kinds of data a model is tried on: every kind of the two common ones
// it computes, equilibrium data for the equilibrium analyses, and its own
// kind when it computes none of these.
inline std::vector<unsigned> TestedKinds(const ModelRow& row) {
  std::vector<unsigned> kinds;
  for (unsigned kind : {kVelocityData, kDlsData})
    if (row.accepts & kind) kinds.push_back(kind);
  if (row.family == ModelFamily::Equilibrium && (row.accepts & kEquilibriumData)) kinds.push_back(kEquilibriumData);
  if (kinds.empty()) kinds.push_back(row.accepts & kElectrophoresisData ? kElectrophoresisData : kEquilibriumData);
  return kinds;
}

struct TripCase {
  int id;
  unsigned kind;
};

inline std::vector<TripCase> EveryModelOnItsData() {
  std::vector<TripCase> cases;
  for (const ModelRow& row : ModelTable())
    for (unsigned kind : TestedKinds(row)) cases.push_back({row.id, kind});
  return cases;
}

inline const char* KindName(unsigned kind) {
  switch (kind) {
    case kVelocityData: return "velocity";
    case kDlsData: return "dls";
    case kElectrophoresisData: return "electrophoresis";
    default: return "equilibrium";
  }
}

// What a model keeps of its own besides the dialog: the grid and the
// regularization of the distributions.
struct ModelState {
  std::uint8_t maxEntropy, secondDerivative, show2D;
  float resolution, sMin, sMax, confidence;
  int lammGridSize;  // the model's: the default, or a distribution's own
  bool operator==(const ModelState&) const = default;
};
inline ModelState StateOfModel() {
  const ContiSettings& cs = Conti();
  return {cs.maxEntropy, cs.secondDerivative, cs.show2D,      cs.resolution,
          cs.sMin,       cs.sMax,            cs.confidenceLevel, SavedGridSize(LammSettings().gridSize)};
}
inline std::string DescribeState(const ModelState& a) {
  std::ostringstream out;
  out << "maxEnt " << int(a.maxEntropy) << " 2nd " << int(a.secondDerivative) << " 2D " << int(a.show2D)
      << " resolution " << a.resolution << " range " << a.sMin << ".." << a.sMax << " P " << a.confidence
      << " Lamm grid " << a.lammGridSize;
  return out.str();
}

// A window with data of one kind whose model commands' questions are
// answered as offered.
class ModelDataTest : public ModelDialogTest {
 protected:
  // (A file already there with this text is left: programs that load it
  // side by side never see it half written.)
  static void WriteOnce(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    const std::string there((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || there != text) std::ofstream(path, std::ios::binary) << text;
  }
  // Data > Reload Saved Fit Parameters from `file` rather than the file
  // beside the data; the boxes of the model the file chooses are taken.
  void ReloadSavedParameters(const std::string& file) {
    ui_->ExpectBox("LOAD PARAMETERS", "restore parameters from", platform::IDNO)
        .ExpectFiles("export parameter file", Chosen({file}));
    ui_->lenient = true;
    Window().Dispatch(1098);
    ui_->lenient = false;
    ui_->transcript.clear();
  }
  void LoadData(unsigned kind) { LoadData(kind, dir_); }
  // The data written into `folder` (the same every time) and loaded;
  // `afterChoice` expects what the load asks once the files are chosen.
  void LoadData(unsigned kind, const std::filesystem::path& folder, const std::function<void()>& afterChoice = {}) {
    Window();
    // The questions a model's command asks are answered as offered.
    ui_->acceptPrompts = true;
    if (kind == kDlsData) {
      Options().AlwaysLoadG2m1 = true;
      std::vector<std::string> paths;
      for (int k = 1; k <= 2; ++k) {
        paths.push_back((folder / ("set" + std::to_string(k) + ".dlsdat")).string());
        WriteOnce(paths.back(), apptest::DlsSetText(k, 40, [] { return 0.0; }));
      }
      ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
      if (afterChoice) afterChoice();
      Window().Dispatch(298);
    } else if (kind == kElectrophoresisData) {
      std::vector<std::string> paths;
      for (int k = 1; k <= 3; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "%05d.ra1", k);
        std::string text = "electrophoresis run\n";
        char line[96];
        std::snprintf(line, sizeof line, "R 0 %d 532 2 0\n", 90 + 40 * (k - 1));
        text += line;
        for (int j = 0; j < 80; ++j) {
          const double r = 6.0 + 0.0075 * j;
          std::snprintf(line, sizeof line, "%1.4f %1.5e 0\n", r, r < 6.1 + 0.05 * k ? 0.0 : 1.0);
          text += line;
        }
        paths.push_back((folder / name).string());
        WriteOnce(paths.back(), text);
      }
      ui_->ExpectFiles("select files to fit", Chosen(paths));
      ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
      Window().Dispatch(290);
    } else if (kind == kEquilibriumData) {
      // Three speeds of one species at sedimentation equilibrium:
      // c = 0.4 exp(sigma (r^2 - rm^2) / 2), sigma = M (1 - vbar rho) w^2 / (R T).
      std::vector<std::string> paths;
      for (int k = 1; k <= 3; ++k) {
        const double rpm = 5000.0 + 5000.0 * k, w = 2 * 3.141592653589793 * rpm / 60;
        const double sigma = 50000 * 0.27 * w * w / (8.314462618e7 * 293.15);
        std::string text = "equilibrium of one species\n";
        char line[160];
        std::snprintf(line, sizeof line, "R 1 20.0 %ld %ld %1.4e 280 1\n", static_cast<long>(rpm), 86400L * k,
                      w * w * 86400 * k);
        text += line;
        for (int i = 0; i <= 140; ++i) {
          const double r = 6.92 + 0.002 * i;
          std::snprintf(line, sizeof line, "%.4f %.5f 0.0\n", r, 0.4 * std::exp(sigma / 2 * (r * r - 6.9 * 6.9)));
          text += line;
        }
        char name[32];
        std::snprintf(name, sizeof name, "%05d.RA1", k);
        paths.push_back((folder / name).string());
        WriteOnce(paths.back(), text);
      }
      ui_->lenient = true;  // the loader's advice
      ui_->ExpectFiles("select files in set 1 to fit", Chosen(paths));
      if (afterChoice) afterChoice();
      Window().Dispatch(515);
      ui_->lenient = false;
    } else {
      LoadRun(2);
    }
    ASSERT_GT(CurrentScanSet().count, 0);
    ASSERT_EQ(LoadedDataKind(), kind);
    ui_->failures.clear();
    ui_->transcript.clear();
  }
  // Every kind through the window's own load, velocity scans as a chosen list.
  void LoadThroughTheWindow(unsigned kind) {
    if (kind != kVelocityData) return LoadData(kind);
    ui_->lenient = true;
    LoadChosen(WriteRun(".ra1", 2));
    ui_->lenient = false;
    ui_->transcript.clear();
  }
  // The entries of the model, without those of the data (meniscus, bottom).
  Shown WithoutTheData(Shown shown) const {
    std::erase_if(shown, [&](const auto& c) {
      const int id = std::get<0>(c);
      return id == 431 || id == 455 || kNotModel.count(id) > 0;
    });
    return shown;
  }
  // Run: its rmsd, whether it showed a model or said why it did not, and
  // what it said.
  struct RunResult {
    double rmsd = 0;
    bool shownOrSaid = false;
    std::vector<std::string> said;
  };
  RunResult Run() {
    ui_->transcript.clear();
    ui_->lenient = true;
    RunResult r;
    r.rmsd = RunRmsd(Window());
    ui_->lenient = false;
    for (const auto& t : ui_->transcript)
      if (t.kind == platform::InteractionKind::MessageBox) r.said.push_back(t.caption + ": " + t.text);
    const ScanSet& s = CurrentScanSet();
    bool shown = false;
    for (int i = 1; i <= s.count && !shown; ++i)
      for (int j = s.firstFitPoint[i]; j <= s.lastFitPoint[i]; ++j)
        if (s.model[i][j] != 0.0f) shown = true;
    r.shownOrSaid = shown || !r.said.empty();
    ui_->transcript.clear();
    return r;
  }
};

// The tests of single trips, without data of a kind of their own.
class ModelRoundTrip : public ModelDialogTest {};

// The vector and fit flags as they stand.
inline std::vector<float> Slots() {
  const ModelParameterVector& v = gModelParameterVector;
  std::vector<float> out(v.P + 1, v.P + kParameterSlots + 1);
  out.insert(out.end(), v.F + 1, v.F + kParameterSlots + 1);
  return out;
}
