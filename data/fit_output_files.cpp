#include "data/fit_output_files.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/data_messages.h"
#include "data/load_hooks.h"
#include "data/scan_file.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/regrid.h"
#include "platform/paths.h"

using data_messages::Format;

namespace {

bool OldConvention() { return CurrentScanSet().oldFileNameConvention != 0; }

std::string Native(const std::string& path) { return platform::ToNative(path); }

bool Exists(const std::string& path) { return platform::FileExists(Native(path)); }

// The fit range of scan i; a stored 0 stands for no limit.

// "file %s already exists!\nOverwrite..." with the info sound; true for Yes.
bool AskOverwrite(const std::string& path, bool all) {
  data_messages::InfoSound();
  return data_messages::AskYesNo(
      "ERROR", Format(all ? "file %s already exists!\nOverwrite all?" : "file %s already exists!\nOverwrite?",
                      path.c_str()));
}

// Per-scan files of fitted data or residuals.
bool SavePerScan(const std::string& chosen, bool residuals, bool convertToAbsorbance) {
  ScanSet& s = CurrentScanSet();
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  LoadHooks& h = CurrentLoadHooks();
  // A name that falls on a loaded scan would put a fit in place of the data
  // it was fitted to: nothing is written.
  for (int i = 1; i <= s.count; ++i) {
    const std::string target = FitFileNameForScan(chosen, i, residuals ? 'r' : 'f');
    for (int j = 1; j <= s.count; ++j) {
      if (!platform::SameFile(target, ScanFilePath(j))) continue;
      data_messages::Box("ERROR", Format(residuals ? "residuals would replace the scan %s: residuals not saved"
                                                   : "fitted data would replace the scan %s: fit not saved",
                                         ScanFilePath(j).c_str()));
      return false;
    }
  }
  bool agreed = false;
  for (int i = 1; i <= s.count; ++i) {
    const std::string target = FitFileNameForScan(chosen, i, residuals ? 'r' : 'f');
    int first = 1, last = 0;
    ScanFitRange(CurrentScanSet(), i, first, last);
    const int n = std::max(last - first + 1, 0);
    if (n == 0) continue;
    FloatVec x(1, n), y(1, n), third(1, n);
    const float* source = residuals ? s.residuals[i] : s.model[i];
    const bool withThird = !residuals && flags.intensity && s.signals2[i];
    for (int k = 0; k < n; ++k) {
      x[k + 1] = s.radii[i][first + k];
      y[k + 1] = source[first + k];
      if (withThird) {
        const float reference = s.signals2[i][first + k];
        third[k + 1] = reference;
        if (convertToAbsorbance && y[k + 1] > 0.0f && reference > 0.0f)
          y[k + 1] = std::log10(reference / y[k + 1]);
      }
    }
    if (!agreed && Exists(target)) {
      if (!AskOverwrite(target, true)) {
        data_messages::Box("ERROR", residuals ? "residuals not saved" : "fit not saved");
        return false;
      }
      agreed = true;
    }
    const std::string description =
        (residuals ? "residuals to " : "fitted to ") + ScanFilePath(i);
    if (!residuals && flags.dls) {
      // The fit written as g(2) - 1, with noise on request. Sets loaded as
      // g(2) - 1 are already in that form; the noise of the field
      // autocorrelation goes onto their root.
      const bool field = static_cast<std::size_t>(i) < s.dlsRecords.size() && s.dlsRecords[i].fieldFlag;
      bool addNoise = data_messages::AskYesNo("SAVE DLS DATA", "add noise?");
      bool fieldNoise = false;
      float level = 0.0f;
      if (addNoise) {
        fieldNoise = data_messages::AskYesNo("SAVE DLS DATA", "add noise to field autocorrelation?");
        data_messages::AskFloat("SAVE DLS DATA",
                                fieldNoise ? "level of noise in field autocorrelation:"
                                           : "level of noise in intensity autocorrelation:",
                                level);
      }
      for (int k = 1; k <= n; ++k) {
        double v = y[k];
        if (addNoise && fieldNoise) {
          if (!field) v = v >= 0 ? std::sqrt(v) : -std::sqrt(-v);
          v += level * h.gaussRandom();
          v = v >= 0 ? v * v : -v * v;
        } else if (field) {
          v = v >= 0 ? v * v : -v * v;
        }
        if (addNoise && !fieldNoise) v += level * h.gaussRandom();
        y[k] = static_cast<float>(v);
      }
      if (!h.writeDlsdatSet(target, n, x, y, description, i)) return false;
      continue;
    }
    if (!WriteScanFile(Native(target).c_str(), n, x, y, withThird ? third.get() : nullptr,
                       description.c_str(), s.records[i].timeStampMarked, s.records[i]))
      return false;
  }
  return true;
}

}  // namespace

std::string FitFileNameForScan(const std::string& chosen, int scan, char prefix) {
  const ScanSet& s = CurrentScanSet();
  const platform::PathParts c = platform::SplitPath(chosen);
  const platform::PathParts f = platform::SplitPath(s.fileNames[scan]);
  if (OldConvention()) return c.drive + c.folder + c.name + f.extension;
  std::string name = f.name;
  if (name.empty()) name = " ";
  name[0] = prefix;
  return c.drive + c.folder + name + f.extension;
}

namespace {

// The extension a noise file gets: one the user typed stays; the offered
// placeholder ".rxx", or none, stands for the scans' own.
std::string NoiseExtension(const platform::PathParts& chosen) {
  std::string e = chosen.extension;
  for (char& ch : e) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (e.empty() || e == ".rxx") return platform::SplitPath(CurrentScanSet().fileNames[1]).extension;
  return chosen.extension;
}

}  // namespace

std::string TINoiseFileName(const std::string& chosen) {
  const platform::PathParts c = platform::SplitPath(chosen);
  if (OldConvention()) {
    const platform::PathParts first = platform::SplitPath(ScanFilePath(1));
    return first.drive + first.folder + first.name + c.extension;
  }
  return c.drive + c.folder + c.name + NoiseExtension(c);
}

std::string RINoiseFileName(const std::string& chosen) {
  const platform::PathParts c = platform::SplitPath(chosen);
  return c.drive + c.folder + c.name + NoiseExtension(c);
}

std::string DefaultFitDataName() { return OldConvention() ? "fit.rxx" : "f0000x.rxx"; }
std::string DefaultResidualsName() { return OldConvention() ? "res.rxx" : "r0000x.rxx"; }
std::string DefaultTINoiseName() { return OldConvention() ? "xxx.TIN" : "TIN.rxx"; }
std::string DefaultRINoiseName() { return OldConvention() ? "xxx.RIN" : "RIN.rxx"; }

std::string DefaultCorrectedEqName(const std::string& equilibriumScan) {
  const platform::PathParts p = platform::SplitPath(equilibriumScan);
  return OldConvention() ? p.name + ".RTI" : "RTI" + p.extension;
}

bool SaveFitDataFiles(const std::string& path, bool convertToAbsorbance) {
  if (CurrentScanSet().count <= 0) return false;
  return SavePerScan(path, false, convertToAbsorbance);
}

bool SaveResidualFiles(const std::string& path) {
  if (CurrentScanSet().count <= 0) return false;
  if (CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return false;
  }
  return SavePerScan(path, true, false);
}

bool SaveRINoiseFile(const std::string& path) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || !*CurrentLoadTargets().riNoiseFitted || !s.riNoise) return false;
  if (CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return false;
  }
  const std::string target = RINoiseFileName(path);
  if (Exists(target) && !AskOverwrite(target, false)) {
    data_messages::Box("ERROR", "file not saved");
    return false;
  }
  FloatVec x(1, s.count), y(1, s.count);
  for (int k = 1; k <= s.count; ++k) {
    const int i = s.order[k];
    x[k] = static_cast<float>(s.records[i].time);
    y[k] = TotalRINoise(s, i);
  }
  return WriteXYArrays(Native(target).c_str(), s.count, x, y);
}

bool SaveEquilibriumScan(const std::string& path) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return false;
  const int i = s.order[s.count];
  const int n = s.points[i];
  if (n <= 0 || !s.radii[i] || !s.model[i]) return false;
  if (Exists(path) && !AskOverwrite(path, false)) {
    data_messages::Box("ERROR", "file not saved");
    return false;
  }
  return WriteScanFile(Native(path).c_str(), n, s.radii[i], s.model[i], nullptr, "equilibrium", 0,
                       s.records[i]);
}

bool SaveTINoiseFile(const std::string& path) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || !*CurrentLoadTargets().tiNoiseFitted || !s.tiNoise || s.gridLength <= 0)
    return false;
  if (CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return false;
  }
  const std::string target = TINoiseFileName(path);
  if (Exists(target) && !AskOverwrite(target, false)) {
    data_messages::Box("ERROR", "file not saved");
    return false;
  }
  const int first = std::max(1, s.firstGridPoint);
  const int last = std::min(s.gridLength, s.lastGridPoint > 0 ? s.lastGridPoint : s.gridLength);
  const int n = last - first + 1;
  if (n <= 0) return false;
  FloatVec x(1, n), y(1, n);
  for (int k = 0; k < n; ++k) {
    const int j = first + k;
    x[k + 1] = s.grid[j];
    y[k + 1] = s.tiNoise[j] + (s.tiNoiseSubtracted ? s.tiNoiseSubtracted[j] : 0.0f);
  }
  return WriteScanFile(Native(target).c_str(), n, x, y, nullptr, "time-independent noise ",
                       s.records[1].timeStampMarked, s.records[1]);
}

bool SubtractNoiseFromEqDataFiles(const std::string& equilibriumScan, const std::string& savePath) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return false;
  if (CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return false;
  }
  if (!*CurrentLoadTargets().tiNoiseFitted || !s.tiNoise || s.gridLength <= 0) return false;
  DataTypeFlags& flags = CurrentDataTypeFlags();
  const auto intensity = flags.intensity, absorbance = flags.absorbance,
             interference = flags.interference;
  ScanRecord record;
  int n = 0;
  float *radii = nullptr, *signals = nullptr, *reference = nullptr;
  const int ok = ReadScanFile(Native(equilibriumScan).c_str(), &record, &n, &radii, &signals,
                              &reference, nullptr, 0.0f);
  flags.intensity = intensity;
  flags.absorbance = absorbance;
  flags.interference = interference;
  if (ok != 1) {
    data_messages::InfoSound();
    data_messages::Box("LOAD ERROR", equilibriumScan);
    return false;
  }
  auto release = [&] {
    if (radii) free_vector(radii, 1, n);
    if (signals) free_vector(signals, 1, n);
    if (reference) free_vector(reference, 1, n);
  };
  if (flags.intensity && reference) {
    for (int k = 1; k <= n; ++k)
      if (signals[k] > 0.0f && reference[k] > 0.0f) signals[k] = std::log10(reference[k] / signals[k]);
  }
  FloatVec total(1, s.gridLength), onScan(1, std::max(n, 1));
  for (int j = 1; j <= s.gridLength; ++j)
    total[j] = s.tiNoise[j] + (s.tiNoiseSubtracted ? s.tiNoiseSubtracted[j] : 0.0f);
  for (int k = 1; k <= n; ++k) onScan[k] = 0.0f;
  InterpolateOntoGrid(n, radii, onScan, s.gridLength, s.grid, total);
  const float rFirst = s.grid[std::max(1, s.firstGridPoint)];
  const float rLast = s.grid[std::min(s.gridLength, std::max(1, s.lastGridPoint))];
  int first = 0, last = 0;
  for (int k = 1; k <= n; ++k)
    if (radii[k] >= rFirst) {
      first = k;
      break;
    }
  for (int k = n; k >= 1; --k)
    if (radii[k] <= rLast) {
      last = k;
      break;
    }
  if (first == 0 || last < first) {
    data_messages::Box("ERROR", "the equilibrium scan has no points inside the fit limits");
    release();
    return false;
  }
  const int m = last - first + 1;
  FloatVec x(1, m), y(1, m);
  for (int k = 0; k < m; ++k) {
    x[k + 1] = radii[first + k];
    y[k + 1] = signals[first + k] - onScan[first + k];
  }
  const bool written = WriteScanFile(Native(savePath).c_str(), m, x, y, nullptr,
                                     "time-independent noise corrected file ", 1, record);
  release();
  return written;
}
