// Prior knowledge for the regularised c(s): "Use Prior Probabilities" with
// its dialog (a prior file, Gaussian or delta peaks, or the peaks of the
// current distribution) and the f/f0 Gaussians of c(s,f/f0), and "Prior
// Knowledge of Discrete Species", which turns the peaks of the current
// distribution into sharp species, runs once with that prior and lists the
// peaks.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/commands/model/prior_commands.h"

#include "app/dialogs/form_dialog.h"
#include "app/window/main_window_flags.h"
#include "app/window/program_options.h"
#include "app/window/txla_window.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_loader.h"
#include "distributions/integrate_distribution.h"
#include "distributions/peak_area.h"
#include "distributions/prior_knowledge.h"
#include "fit/model_selector.h"
#include "numerics/ccurve.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kRegularization = "REGULARIZATION";
constexpr int kFileEdit = 777, kPeakOn = 778, kLocation = 788, kWidth = 798, kAmplitude = 808;
constexpr int kUsePrior = 818, kFromFile = 819, kFromPeaks = 820, kLoadNewFile = 821, kKvdFile = 822,
              kSelectPeaks = 823;

bool TwoDimensionalPriorModel() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.AnyCsff0Model();
}

bool AskYesNo(const char* text) {
  return platform::AskYes(kRegularization, text);
}

bool AskValue(double& value, double initial, const char* prompt) {
  float v = static_cast<float>(initial);
  if (!InputFloat(&v, v, true, prompt, kRegularization)) return false;
  value = v;
  return true;
}

// Entries 1..10 of the f/f0 Gaussians; a cancel or a 0 ends the table.
void AskFfGaussians() {
  PriorKnowledge& prior = Priors();
  FfGaussianTable& t = FfGaussians();
  prior.ffGaussians = false;
  if (!AskYesNo("assemble prior p(f/f0) from Gaussians?")) return;
  prior.ffGaussians = true;
  bool ended = false;
  for (int k = 1; k <= 10; ++k) {
    double centre = 0, width = 0, enhancement = 0;
    if (!ended && AskValue(centre, t.centre[k], "at (f/f0)-value") && centre != 0) {
      if (AskValue(width, 2.0 * t.halfWidth[k], "width ") && width != 0) {
        width *= 0.5;
        if (AskValue(enhancement, 1000.0 * t.enhancement[k], "enhancement (default 10-100) "))
          enhancement *= 0.001;
      }
    }
    if (centre == 0 || width == 0 || enhancement == 0) {
      ended = true;
      centre = width = enhancement = 0;
    }
    t.centre[k] = centre;
    t.halfWidth[k] = width;
    t.enhancement[k] = enhancement;
  }
  if (t.centre[1] == 0) prior.ffGaussians = false;
}

bool PeakUsable(const PriorPeak& p) { return p.location != 0 && p.width != -1.0 && p.amplitude != 0; }

std::string Fixed3(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f ", v);
  return text;
}

// Dialog 776 with the prior state filled in.
FormDialog PriorDialogForm() {
  FormDialog d;
  d.templateId = 776;
  d.caption = "Generate Prior Probability From Peaks";
  auto add = [&d](int id, FormControl::Kind kind, const std::string& label, int row, int column,
                  int maxChars = 14, int group = 0) {
    FormControl c;
    c.id = id;
    c.kind = kind;
    c.label = label;
    c.row = row;
    c.column = column;
    c.maxChars = maxChars;
    c.group = group;
    d.controls.push_back(c);
  };
  using K = FormControl::Kind;
  add(kFileEdit, K::Edit, "prior file", 1, 0, 1000);
  for (int k = 1; k <= 10; ++k) {
    const bool head = k == 1;
    add(kPeakOn + k - 1, K::Check, "peak #" + std::to_string(k), k + 1, 0);
    add(kLocation + k - 1, K::Edit, head ? "Location (S)" : "", k + 1, 1, 15);
    add(kWidth + k - 1, K::Edit, head ? "Width (S)\n(>= 0)" : "", k + 1, 3, 15);
    add(kAmplitude + k - 1, K::Edit, head ? "Amplitude \n(0.01 - 100)" : "", k + 1, 5, 15);
  }
  add(kUsePrior, K::Check, "Use Prior", 12, 0);
  add(kFromFile, K::Radio, "From File", 13, 0, 14, 1);
  add(kFromPeaks, K::Radio, "From Gauss/Delta-Peaks", 14, 0, 14, 1);
  add(kLoadNewFile, K::Check, "Load New Prior File", 13, 3);
  add(kKvdFile, K::Check, "KVD file", 13, 5);
  add(kSelectPeaks, K::Radio,
      "Select Peaks From Current Distribution (assuming pure species)\n(control-X, same as separate menu "
      "function)",
      15, 0, 14, 1);
  d.canClose = [](const FormDialog& f) {
    for (int k = 0; k < 10; ++k) {
      if (!IsNumber(f.Find(kLocation + k)->text.c_str()) || !IsNumber(f.Find(kWidth + k)->text.c_str()) ||
          !IsNonNegativeNumber(f.Find(kAmplitude + k)->text.c_str()))
        return false;
    }
    return true;
  };
  return d;
}

// Empties the peak table: row 1 ends it.
void EmptyPeakTable() {
  PriorPeak& first = Priors().peaks[1];
  first.location = 0;
  first.amplitude = 0;
  first.width = -1.0;
}

bool DistributionComputedForSpecies() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const ContiSettings& cs = Conti();
  return DistArrays().distCurve && cs.distribution && cs.sValues && cs.gridSize > 4 && m.DistributionModel &&
         m.CSModel && !m.LsgStarModel && !m.LsgStarWith1DiscreteModel && !m.HybridCSLsgModel &&
         !m.ElectrophoresisLsgModel && !m.ZoneCentrifugationLsgModel && !m.SedTransformModel &&
         !m.LsgExtrapolationModel;
}

struct ListedPeak {
  int number = 0;
  double from = 0, to = 0, sw = 0;
};

// The peaks as a text report, with the share of everything else.
std::string PeakReport(const std::vector<ListedPeak>& peaks) {
  const ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  float total = 0, totalMean = 0, all = 0;
  IntegrateDistribution(cs.sValues[2], cs.sValues[n - 1], &total, &totalMean, &all);
  std::string text;
  double listed = 0, listedMoment = 0;
  for (const ListedPeak& p : peaks) {
    if (!(p.from > 0 && p.to > 0)) continue;
    float area = 0, mean = 0, whole = 0;
    IntegrateDistribution(static_cast<float>(p.from), static_cast<float>(p.to), &area, &mean, &whole);
    const double percent = total > 0 ? 100.0 * area / total : 0.0;
    char line[200];
    std::snprintf(line, sizeof line, "peak #%d: from %.2f - %.2fS, sw = %.3f, signal = %.3f (%.2f%%)\n", p.number,
                  p.from, p.to, p.sw, static_cast<double>(area), percent);
    text += line;
    listed += area;
    listedMoment += static_cast<double>(area) * mean;
  }
  // The other material's own weighted-average s: what the peaks leave of
  // the whole distribution's first moment.
  const double rest = total - listed;
  const double restSw = rest > 0 ? (static_cast<double>(total) * totalMean - listedMoment) / rest : 0.0;
  char line[120];
  std::snprintf(line, sizeof line, "\nOTHER MATERIAL:  %.2f%% (sw=%.2f)", total > 0 ? 100.0 * rest / total : 0.0,
                restSw);
  return text + line;
}

void WriteAndShowReport(const std::string& report) {
  const std::string path = platform::Combine(CurrentScanSet().dataFolder, "DiscInts.dat");
  if (!platform::WriteWholeFile(path, report)) {
    ErrorBox("Could Not Open DiscInts.dat File");
    return;
  }
  platform::Processes().OpenTextEditor(platform::ToNative(path));
}

}  // namespace

void RunPriorProbabilityDialog(TXLAWindow& window) {
  PriorKnowledge& src = Priors();
  FormDialog d = PriorDialogForm();
  const bool priorWasOn = src.use;
  d.Find(kUsePrior)->state = priorWasOn;
  std::string shown = src.priorFile.empty() ? src.parkedFile : src.priorFile;
  if (!src.fileEverChosen)
    d.Find(kFileEdit)->text = "no filename selected";
  else if (shown.size() >= 999)
    d.Find(kFileEdit)->text = "filename too long";
  else
    d.Find(kFileEdit)->text = src.kvdFile ? shown + " [KVD file]" : shown;
  d.Find(kKvdFile)->state = src.kvdFile;
  const bool fileInUse = !src.priorFile.empty();
  d.Find(kFromFile)->state = fileInUse;
  d.Find(kSelectPeaks)->state = !fileInUse && src.discreteSpecies;
  d.Find(kFromPeaks)->state = !fileInUse && !src.discreteSpecies;
  d.Find(kLoadNewFile)->state = 0;
  if (!priorWasOn) d.Find(kFromFile)->state = d.Find(kFromPeaks)->state = d.Find(kSelectPeaks)->state = 0;
  for (int k = 1; k <= 10; ++k)
    if (!(src.peaks[k].amplitude > 0)) src.peaks[k].width = -1.0;
  bool ended = false;
  for (int k = 1; k <= 10; ++k) {
    const PriorPeak& p = src.peaks[k];
    ended = ended || p.width < 0;
    d.Find(kPeakOn + k - 1)->state = !ended;
    d.Find(kLocation + k - 1)->text = Fixed3(ended ? 0.0 : p.location);
    d.Find(kWidth + k - 1)->text = Fixed3(ended ? 0.0 : p.width);
    d.Find(kAmplitude + k - 1)->text = Fixed3(ended ? 0.0 : p.amplitude);
  }
  if (!RunFormDialog(d)) return;

  for (int k = 1; k <= 10; ++k) {
    PriorPeak& p = src.peaks[k];
    if (d.Find(kPeakOn + k - 1)->state) {
      p.location = std::atof(d.Find(kLocation + k - 1)->text.c_str());
      p.width = std::atof(d.Find(kWidth + k - 1)->text.c_str());
      p.amplitude = std::atof(d.Find(kAmplitude + k - 1)->text.c_str());
    } else {
      p = PriorPeak{};
    }
    if (!(p.amplitude > 0)) p.width = -1.0;
  }
  src.kvdFile = d.Find(kKvdFile)->state != 0;
  bool use = d.Find(kUsePrior)->state != 0;
  bool fromPeaks = d.Find(kFromPeaks)->state != 0;
  const bool selectPeaks = d.Find(kSelectPeaks)->state != 0;
  if (!priorWasOn && (d.Find(kFromFile)->state || fromPeaks || selectPeaks)) use = true;
  if (!use) {
    SwitchPriorOff();
    ParkPriorFile();
    return;
  }
  SwitchPriorOn();
  if (selectPeaks) {
    src.discreteSpecies = true;
    src.collectMode = true;
    window.CmPriorKnowledgeDiscreteSpecies();
    src.collectMode = false;
    src.discreteSpecies = false;
    fromPeaks = true;
  }
  if (fromPeaks) {
    ParkPriorFile();
    if (!PeakUsable(src.peaks[1])) {
      EmptyPeakTable();
      SwitchPriorOff();
    }
  } else if (d.Find(kLoadNewFile)->state) {
    platform::FileDialogRequest request;
    request.title = "Select Prior Probability Data File";
    request.filters = {{"dat files (*.dat*)", "*.dat*"}, {"All Files (*.*)", "*.*"}};
    const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
    if (!chosen.accepted || chosen.paths.empty()) {
      ErrorBox("Could Not Open MaxEnt Prior File");
      src.priorFile.clear();
      src.parkedFile.clear();
      SwitchPriorOff();
      return;
    }
    window.Frame().SetCursor(platform::CursorKind::Wait);
    src.priorFile = chosen.paths.front();
    src.parkedFile.clear();
    src.fileEverChosen = true;
    if (src.kvdFile) {
      if (ImportMaxEntPriorFile(platform::ToNative(src.priorFile))) {
        src.imported = true;
      } else {
        src.imported = false;
        SwitchPriorOff();
      }
      // The imported table is the source, not the file.
      ParkPriorFile();
    }
    window.Frame().SetCursor(platform::CursorKind::Arrow);
  } else {
    RestorePriorFile();
  }
}

void TXLAWindow::CmUsePriorProbabilities() {
  PriorKnowledge& prior = Priors();
  prior.imported = false;
  RunPriorProbabilityDialog(*this);
  if (TwoDimensionalPriorModel()) {
    if (AskYesNo("use prior probability?"))
      SwitchPriorOn();
    else
      SwitchPriorOff();
    AskFfGaussians();
  }
  CheckMenuItem(529, PriorMenuChecked());
  if (prior.use) prior.discreteSpecies = false;
}

void TXLAWindow::CmPriorKnowledgeDiscreteSpecies() {
  const ContiSettings& cs = Conti();
  PriorKnowledge& src = Priors();
  const bool collect = src.collectMode;
  if (!DistributionComputedForSpecies()) {
    if (collect) EmptyPeakTable();
    return;
  }
  const int n = cs.gridSize;
  src.importedX.clear();
  src.importedY.clear();
  src.collectCount = 0;
  float xs[11], ys[11];
  int index[11];
  const int found = DistArrays().distCurve->FindPeaks(xs, ys, index, 10, 2);
  if (found < 1) {
    src.discreteSpecies = false;
    if (collect) EmptyPeakTable();
    return;
  }
  src.discreteSpecies = true;
  SwitchPriorOn();
  src.importedX.assign(n + 1, 0.0);
  src.importedY.assign(n + 1, 0.001);
  for (int i = 1; i <= n; ++i) src.importedX[i] = cs.sValues[i];
  src.importedY[0] = 0.0;
  EmptyPeakTable();
  std::vector<ListedPeak> listed;
  int row = 0;
  for (int k = 1; k <= found; ++k) {
    const PeakArea a = IntegratePeakAt(index[k], 0.9f);
    if (a.iLo < 1 || a.iHi < 1) continue;
    const float top = cs.distribution[index[k]];
    if (!(cs.distribution[a.iLo] <= 0.5f * top && cs.distribution[a.iHi] <= 0.5f * top && a.fraction > 0.01f))
      continue;
    if (!collect) {
      int j = 0;
      for (int i = a.iLo; i <= n - 2; ++i)
        if (cs.sValues[i] <= a.sw && a.sw < cs.sValues[i + 1]) {
          j = i;
          break;
        }
      if (j > 1) {
        listed.push_back({k, cs.sValues[j - 1], cs.sValues[j + 2], a.sw});
        PlaceDiscreteSpecies(src.importedX.data(), j, a.area, a.sw, src.importedY.data());
      }
    }
    // One row per species used, in order: a peak left out leaves no gap
    // and no row twice.
    ++row;
    src.peaks[row] = PriorPeak{a.sw, 0.0, a.area};
    if (row < 10) src.peaks[row + 1] = PriorPeak{0.0, -1.0, 0.0};
    src.collectCount = row;
  }
  if (TwoDimensionalPriorModel()) AskFfGaussians();
  CheckMenuItem(529, true);
  CheckMenuItem(cmd::Regularization2ndDerivative, false);
  CheckMenuItem(cmd::RegularizationMaxEnt, true);
  Conti().secondDerivative = 0;
  Conti().maxEntropy = 1;
  if (collect) return;
  CmRun();
  // The species prior stays in force, and on the screen, until the next run.
  KeepPriorUntilNextRun();
  WriteAndShowReport(PeakReport(listed));
}
