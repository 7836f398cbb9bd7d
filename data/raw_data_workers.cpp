#include "data/raw_data_workers.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

#include "data/data_messages.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_file.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "numerics/cvector.h"
#include "numerics/regrid.h"
#include "platform/sounds.h"
#include "platform/paths.h"

using data_messages::Format;

namespace {

RawDataResult Refuse(const std::string& caption, const std::string& why) {
  RawDataResult r;
  r.refusal = why;
  data_messages::Box(caption, why);
  return r;
}

// Refused without a word: the commands never call the workers this way.
RawDataResult Nothing(const std::string& why) {
  RawDataResult r;
  r.refusal = why;
  return r;
}

bool RefusesDls(RawDataResult& r) {
  if (!CurrentDataTypeFlags().dls) return false;
  data_messages::RefuseDls();
  r.refusal = "not implemented for DLS data";
  return true;
}

platform::PathParts Parts(int i) { return platform::SplitPath(CurrentScanSet().fileNames[i]); }

std::string Folder(const std::string& path) {
  const platform::PathParts p = platform::SplitPath(path);
  return p.drive + p.folder;
}

// The folder of the analysis parameter file: the data folder.
std::string ParameterFileFolder() {
  const std::string& parameterFile = CurrentDataPaths().parameterFile;
  return parameterFile.empty() ? CurrentScanSet().dataFolder : Folder(parameterFile);
}

// Points the analysis parameter file at folder, named after the earliest scan.
void SetParameterFileFolder(const std::string& folder) {
  const ScanSet& s = CurrentScanSet();
  const platform::PathParts p = Parts(s.order[1]);
  CurrentDataPaths().parameterFile = s.oldFileNameConvention
                                         ? platform::Combine(folder, p.name + ".~p")
                                         : platform::Combine(folder, "~tmppars" + p.extension);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Two scans that would end in one file (letter case aside: the instrument's
// media do not tell names apart by it): the reason to write nothing.
std::string Clash(const std::vector<std::string>& paths, const std::vector<int>& scans) {
  const ScanSet& s = CurrentScanSet();
  for (std::size_t a = 0; a < paths.size(); ++a)
    for (std::size_t b = a + 1; b < paths.size(); ++b)
      if (Lower(paths[a]) == Lower(paths[b]))
        return Format("scans %s and %s would both be written as %s - nothing written",
                      s.fileNames[scans[a]].c_str(), s.fileNames[scans[b]].c_str(),
                      platform::SplitPath(paths[b]).name.c_str());
  return std::string();
}

float* ThirdColumn(int i) {
  const ScanSet& s = CurrentScanSet();
  return CurrentDataTypeFlags().intensity && i < static_cast<int>(s.signals2.size()) ? s.signals2[i]
                                                                                     : nullptr;
}

void Write(RawDataResult& r, const std::string& path, int n, float* radii, float* signals,
           const float* third, const char* description, const ScanRecord& record) {
  if (WriteScanFile(path.c_str(), n, radii, signals, third, description, record.timeStampMarked,
                    record))
    r.written.push_back(path);
}

// The folders that paths go to, created when missing: empty when every one
// can take the files, else the one reason to write nothing (said once
// rather than once for every scan).
std::string PrepareFolders(const std::vector<std::string>& paths) {
  std::vector<std::string> seen;
  for (const std::string& path : paths) {
    const std::string folder = platform::ToNative(Folder(path));
    if (folder.empty() || std::find(seen.begin(), seen.end(), folder) != seen.end()) continue;
    seen.push_back(folder);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
      std::filesystem::create_directories(folder, ec);
      if (ec || !std::filesystem::is_directory(folder, ec))
        return Format("could not create the folder %s - nothing written", folder.c_str());
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0)
      return Format("cannot write into the folder %s - nothing written", folder.c_str());
  }
  return std::string();
}

// One file per scan under names made by nameOf(i), after the clash test.
template <typename NameOf>
RawDataResult SaveEachScan(const std::string& caption, NameOf nameOf) {
  const ScanSet& s = CurrentScanSet();
  std::vector<std::string> paths;
  std::vector<int> scans;
  for (int i = 1; i <= s.count; ++i) {
    paths.push_back(nameOf(i));
    scans.push_back(i);
  }
  const std::string clash = Clash(paths, scans);
  if (!clash.empty()) return Refuse(caption, clash);
  const std::string folders = PrepareFolders(paths);
  if (!folders.empty()) return Refuse(caption, folders);
  RawDataResult r;
  for (int i = 1; i <= s.count; ++i)
    Write(r, paths[static_cast<std::size_t>(i - 1)], s.points[i], s.radii[i], s.signals[i],
          ThirdColumn(i), nullptr, s.records[i]);
  return r;
}

// The scan's extension with its intensity letter (".RI1") made absorbance
// (".RA1"), or empty when it is no intensity file.
std::string AbsorbanceExtension(const std::string& extension) {
  if (extension.size() < 3 || (extension[2] != 'i' && extension[2] != 'I')) return std::string();
  std::string e = extension;
  e[2] = extension[2] == 'I' ? 'A' : 'a';
  return e;
}

// Refusal of the intensity converters, checked for every scan before any
// file is written.
std::string IntensityConversionProblem() {
  const ScanSet& s = CurrentScanSet();
  if (!CurrentDataTypeFlags().intensity) return "intensity data with reference signals must be loaded";
  for (int i = 1; i <= s.count; ++i) {
    if (AbsorbanceExtension(Parts(i).extension).empty())
      return Format("%s is not an intensity file - nothing written", s.fileNames[i].c_str());
    if (!ThirdColumn(i))
      return Format("%s has no reference intensities - nothing written", s.fileNames[i].c_str());
  }
  return std::string();
}

std::string ConvertedPath(int i, char firstLetter) {
  platform::PathParts p = Parts(i);
  if (firstLetter && !p.name.empty()) p.name[0] = firstLetter;
  return platform::Combine(ParameterFileFolder(), p.name + AbsorbanceExtension(p.extension));
}

// The record as an absorbance file carries it.
ScanRecord AbsorbanceRecord(const ScanRecord& record) {
  ScanRecord r = record;
  if (r.type == 'I') r.type = 'R';
  if (r.type == 'V') r.type = 'W';
  return r;
}

// Replaces a per-point array of scan i by the kept points (keep[k] true).
float* Compact(float* a, int n, const std::vector<bool>& keep, int kept) {
  if (!a) return nullptr;
  float* b = vector(1, std::max(kept, 1));
  int m = 0;
  for (int k = 1; k <= n; ++k)
    if (keep[static_cast<std::size_t>(k)]) b[++m] = a[k];
  free_vector(a, 1, n);
  return b;
}

float* Zeroed(float* old, int n, int kept) {
  if (old) free_vector(old, 1, n);
  float* b = vector(1, std::max(kept, 1));
  for (int k = 1; k <= kept; ++k) b[k] = 0.0f;
  return b;
}

void Reattach(CVector* view, float* data, int n) {
  if (view && data) view->Attach(data, n, 1);
}

}  // namespace

RawDataResult AverageScansToFile(const std::string& path) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  if (!s.grid || !s.meanProfile || s.gridLength <= 0)
    return Refuse("AVERAGE SCANS", "the scans have no common grid to average on");
  RawDataResult r;
  Write(r, path, s.gridLength, s.grid, s.meanProfile, nullptr, "averaged", s.records[1]);
  if (r.written.empty()) return r;
  FreeFileNameList();
  FileNameList& list = CurrentFileNameList();
  list.names.assign(1, std::string());
  list.names.push_back(path);
  list.count = 1;
  PlaySoundOk();
  LoadListedScans();
  return r;
}

RawDataResult WriteIntensityAsAbsorbance() {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  const std::string problem = IntensityConversionProblem();
  if (!problem.empty()) return Refuse("ERROR", problem);
  RawDataResult r;
  for (int i = 1; i <= s.count; ++i) {
    const int n = s.points[i];
    FloatVec absorbance(1, std::max(n, 1));
    const float* I = s.signals[i];
    const float* I0 = s.signals2[i];
    for (int k = 1; k <= n; ++k)
      absorbance[k] = I[k] > 0.0f && I0[k] > 0.0f ? std::log10(I0[k] / I[k]) : 10.0f;
    Write(r, ConvertedPath(i, 0), n, s.radii[i], absorbance, I0, nullptr,
          AbsorbanceRecord(s.records[i]));
  }
  PlaySoundOk();
  return r;
}

RawDataResult WriteIntensityAsPseudoAbsorbance() {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  std::string problem = IntensityConversionProblem();
  std::vector<std::string> paths;
  std::vector<int> scans;
  for (char letter : {'S', 'R'})
    for (int i = 1; i <= s.count && problem.empty(); ++i) {
      paths.push_back(ConvertedPath(i, letter));
      scans.push_back(i);
    }
  if (problem.empty()) problem = Clash(paths, scans);
  if (!problem.empty()) return Refuse("ERROR", problem);
  RawDataResult r;
  std::size_t next = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 1; i <= s.count; ++i) {
      const int n = s.points[i];
      const float* I = pass == 0 ? s.signals[i] : s.signals2[i];
      FloatVec pseudo(1, std::max(n, 1));
      for (int k = 1; k <= n; ++k) pseudo[k] = I[k] > 0.0f ? std::log10(1000.0f / I[k]) : 10.0f;
      Write(r, paths[next++], n, s.radii[i], pseudo, nullptr, nullptr, AbsorbanceRecord(s.records[i]));
    }
  PlaySoundOk();
  return r;
}

RawDataResult SaveAlignedScans(const std::string& targetPath) {
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  const platform::PathParts target = platform::SplitPath(targetPath);
  std::vector<std::string> paths;
  std::vector<int> scans;
  for (int i = 1; i <= s.count; ++i) {
    platform::PathParts p = Parts(i);
    if (s.oldFileNameConvention)
      p.name = target.name;
    else if (!p.name.empty())
      p.name[0] = 'a';
    paths.push_back(platform::Combine(target.drive + target.folder, p.name + p.extension));
    scans.push_back(i);
  }
  const std::string clash = Clash(paths, scans);
  if (!clash.empty()) return Refuse("ERROR", clash);
  RawDataResult r;
  for (int i = 1; i <= s.count; ++i) {
    const std::string description = ("aligned " + s.fileNames[i]).substr(0, 99);
    Write(r, paths[static_cast<std::size_t>(i - 1)], s.points[i], s.radii[i], s.signals[i],
          nullptr, description.c_str(), s.records[i]);
  }
  return r;
}

namespace {

// Keeps the points of scan i marked in keep (kept of its n points): radii,
// signals and second signals are compacted, the model, second model,
// residual and work arrays are made again, zeroed, and the views follow.
void KeepScanPoints(ScanSet& s, int i, const std::vector<bool>& keep, int kept) {
  const int n = s.points[i];
  s.radii[i] = Compact(s.radii[i], n, keep, kept);
  s.signals[i] = Compact(s.signals[i], n, keep, kept);
  if (i < static_cast<int>(s.signals2.size())) s.signals2[i] = Compact(s.signals2[i], n, keep, kept);
  s.model[i] = Zeroed(s.model[i], n, kept);
  s.model2[i] = Zeroed(s.model2[i], n, kept);
  s.residuals[i] = Zeroed(s.residuals[i], n, kept);
  if (i < static_cast<int>(s.work.size()) && s.work[i]) s.work[i] = Zeroed(s.work[i], n, kept);
  s.points[i] = kept;
  s.records[i].points = kept;
  s.firstFitPoint[i] = std::min(s.firstFitPoint[i], kept);
  s.lastFitPoint[i] = std::min(s.lastFitPoint[i], kept);
  Reattach(s.radiusVec[i], s.radii[i], kept);
  Reattach(s.signalVec[i], s.signals[i], kept);
  if (i < static_cast<int>(s.signal2Vec.size()) && s.signals2[i])
    Reattach(s.signal2Vec[i], s.signals2[i], kept);
  Reattach(s.modelVec[i], s.model[i], kept);
  Reattach(s.residualVec[i], s.residuals[i], kept);
}

}  // namespace

RawDataResult ExcludeRegionFromScans(float low, float high) {
  ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  const char* caption = "exclude data from scans";
  if (!(low <= high) || low < s.radii[1][1] || high > s.radii[1][s.points[1]])
    return Refuse(caption, Format("the region %.4f to %.4f cm does not lie within the first scan",
                                  low, high));
  auto inside = [&](float r) { return low <= r && r <= high; };
  for (int i = 1; i <= s.count; ++i) {
    int kept = 0;
    for (int k = 1; k <= s.points[i]; ++k) kept += inside(s.radii[i][k]) ? 0 : 1;
    if (kept < 2)
      return Refuse(caption, Format("%s would keep fewer than 2 points - nothing excluded",
                                    s.fileNames[i].c_str()));
  }
  s.dataChanged = 1;
  for (int i = 1; i <= s.count; ++i) {
    const int n = s.points[i];
    std::vector<bool> keep(static_cast<std::size_t>(n) + 1, false);
    int kept = 0;
    for (int k = 1; k <= n; ++k) {
      keep[static_cast<std::size_t>(k)] = !inside(s.radii[i][k]);
      kept += keep[static_cast<std::size_t>(k)] ? 1 : 0;
    }
    if (kept == n) continue;
    KeepScanPoints(s, i, keep, kept);
  }
  PrepareScanGrid();
  if (s.leftFitLimit != 0.0f) CheckLeftFitLimit();
  if (s.rightFitLimit != 0.0f) CheckRightFitLimit();
  PlaySoundOk();
  return RawDataResult{};
}

RawDataResult SplitSixChannelScans(float b1, float b2) {
  ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  for (int i = 1; i <= s.count; ++i)
    if (!(b1 <= b2) || s.radii[i][1] > b1 || b2 > s.radii[i][s.points[i]])
      return Refuse("cut 6-channel data files",
                    Format("the cuts %.4f and %.4f cm do not lie within %s in this order", b1, b2,
                           s.fileNames[i].c_str()));
  const bool interference = CurrentDataTypeFlags().interference != 0;
  const std::string folder = ParameterFileFolder();
  struct Section {
    const char* prefix;
    const char* label;
    float alignAt;
  };
  const Section sections[3] = {{"i", "inner section of ", (b1 - 5.8f) / 2 + 5.8f},
                               {"m", "middle section of ", (b2 - b1) / 2 + b1},
                               {"o", "outer section of ", (7.2f - b2) / 2 + b2}};
  RawDataResult r;
  for (int i = 1; i <= s.count; ++i) {
    const int n = s.points[i];
    int k = 1;
    while (k < n && s.radii[i][k + 1] <= b1) ++k;
    int j = k + 1;
    while (j <= n && s.radii[i][j] <= b2) ++j;
    // With b2 at the last radius no point lies beyond it: the outer
    // section is empty and the middle one ends with the scan.
    const int from[3] = {1, k, j};
    const int to[3] = {k, std::min(j, n), n};
    const platform::PathParts p = Parts(i);
    for (int c = 0; c < 3; ++c) {
      const int count = to[c] - from[c] + 1;
      if (count <= 1) continue;
      if (interference) AlignInterferenceOffsetsAtRadius(0.0f, sections[c].alignAt);
      const float* third = ThirdColumn(i);
      const std::string description = (sections[c].label + s.fileNames[i]).substr(0, 99);
      // The arrays are one-based: the section starting at point f is the
      // array moved f - 1 elements on.
      const int shift = from[c] - 1;
      Write(r, platform::Combine(folder, sections[c].prefix + p.name + p.extension), count,
            s.radii[i] + shift, s.signals[i] + shift, third ? third + shift : nullptr,
            description.c_str(), s.records[i]);
    }
  }
  PlaySoundOk();
  return r;
}

bool StretchModuleAccepted(double module) { return module > 0.0 && module <= kMaxStretchModule; }

RawDataResult UndoRotorStretch(double module, const std::string& targetPath, bool maintainField,
                               bool rename) {
  RawDataResult r;
  if (RefusesDls(r)) return r;
  ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  const char* caption = "Undo Rotor Stretch";
  if (!StretchModuleAccepted(module))
    return Refuse(caption, Format("stretch module %g must lie above 0 and at most %g", module,
                                  kMaxStretchModule));
  const std::string folder = Folder(targetPath);
  // An empty folder part would put the files into whatever folder the
  // program happens to run in.
  if (folder.empty()) return Refuse(caption, "no folder chosen for the shifted scans - nothing written");
  const float rm = (s.radii[1][1] + s.radii[1][s.points[1]]) / 2;
  SetParameterFileFolder(folder);

  std::vector<std::string> paths, names;
  std::vector<int> scans;
  for (int i = 1; i <= s.count; ++i) {
    const double shift = -module * std::pow(s.records[i].rpm / 1000.0, 2);
    if (!(rm + shift > 0.0))
      return Refuse(caption, Format("the shift of %s leaves no positive radius", s.fileNames[i].c_str()));
    names.push_back(Format("%.0f", std::floor(s.records[i].time)) + Parts(i).extension);
    paths.push_back(platform::Combine(folder, names.back()));
    scans.push_back(i);
  }
  const std::string clash = Clash(paths, scans);
  if (!clash.empty()) return Refuse(caption, clash);

  const bool interference = CurrentDataTypeFlags().interference != 0;
  for (int i = 1; i <= s.count; ++i) {
    const int n = s.points[i];
    ScanRecord record = s.records[i];
    const double shift = -module * std::pow(record.rpm / 1000.0, 2);
    if (std::strlen(record.description) < 80) {
      const std::string d = record.description + Format(", shift %1.3f", shift);
      std::snprintf(record.description, sizeof record.description, "%s", d.c_str());
    }
    if (maintainField)
      record.rpm = static_cast<float>(std::floor(record.rpm * std::sqrt(rm / (rm + shift))));
    FloatVec radii(1, std::max(n, 1));
    for (int k = 1; k <= n; ++k) radii[k] = static_cast<float>(s.radii[i][k] + shift);
    const std::string& path = paths[static_cast<std::size_t>(i - 1)];
    if (interference && s.grid && s.gridLength > 0) {
      FloatVec onGrid(1, s.gridLength);
      for (int k = 1; k <= s.gridLength; ++k) onGrid[k] = 0.0f;
      InterpolateOntoGrid(s.gridLength, s.grid, onGrid, n, radii, s.signals[i]);
      // A scan longer than the grid has no grid values past its end.
      Write(r, path, std::min(n, s.gridLength), s.grid, onGrid, nullptr, record.description, record);
    } else {
      Write(r, path, n, radii, s.signals[i], ThirdColumn(i), record.description, record);
    }
  }
  if (maintainField && CurrentSpeedProfile.Active()) {
    // The loaded scans keep their speeds, so the profile in use stays as it is.
    CRotorSpeedProfile stretched;
    stretched.CopyFrom(*CurrentSpeedProfile.profile);
    const std::string profilePath = platform::Combine(folder, "speedsteps.txt");
    if (stretched.ApplyRotorStretch(rm, static_cast<float>(module), profilePath))
      r.written.push_back(profilePath);
  }
  if (rename)
    for (int i = 1; i <= s.count; ++i) s.fileNames[i] = names[static_cast<std::size_t>(i - 1)];
  return r;
}

std::string SpeedFileName(const std::string& fileName, const ScanRecord& record) {
  const platform::PathParts p = platform::SplitPath(fileName);
  const std::string& name = p.name;
  // Short names have fewer characters than the tag would take.
  auto part = [&name](std::size_t from, std::size_t count) {
    return from < name.size() ? name.substr(from, count) : std::string();
  };
  const char first = name.empty() ? '_' : name[0];
  const bool corrected = part(1, 3) == "cor";
  const std::string tag = corrected ? part(8, 3) : part(2, 3);
  const double krpm = std::floor(record.rpm / 1000.0);
  const bool wavelengthScan = record.type == 'W';
  const double number = std::floor(wavelengthScan ? record.wavelength * 1000.0 : record.wavelength);
  const std::string numberText = Format(wavelengthScan ? "%04.0f" : "%03.0f", number);
  const std::string krpmText = Format("%.0f", krpm);
  const std::string base =
      corrected ? Format("%ccorr_%sk%s_%s", first, krpmText.c_str(), numberText.c_str(), tag.c_str())
                : Format("%sk%s_%c%s", krpmText.c_str(), numberText.c_str(), first, tag.c_str());
  return base + p.extension;
}

RawDataResult SaveRawDataWithSpeedNames(const std::string& targetPath) {
  RawDataResult r;
  if (RefusesDls(r)) return r;
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  const std::string folder = Folder(targetPath);
  SetParameterFileFolder(folder);
  return SaveEachScan("SAVE DATA", [&](int i) {
    return platform::Combine(folder, SpeedFileName(s.fileNames[i], s.records[i]));
  });
}

RawDataResult SaveRawDataToFolder(const std::string& targetPath) {
  RawDataResult r;
  if (RefusesDls(r)) return r;
  const ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return Nothing("no scans loaded");
  const platform::PathParts target = platform::SplitPath(targetPath);
  const std::string folder = target.drive + target.folder;
  SetParameterFileFolder(folder);
  return SaveEachScan("SAVE DATA", [&](int i) {
    const platform::PathParts p = Parts(i);
    return platform::Combine(folder, target.name + p.name + p.extension);
  });
}

RawDataResult MarkScanModified(int scan, int point, bool keepName) {
  ScanSet& s = CurrentScanSet();
  if (scan < 1 || scan > s.count || point < 1 || point > s.points[scan])
    return Nothing("no such scan or point");
  const int n = s.points[scan];
  if (n <= 2)
    return Refuse("ERROR", Format("%s would keep fewer than 2 points", s.fileNames[scan].c_str()));
  FileNameList& list = CurrentFileNameList();
  if (list.count != s.count) BuildTmpFileList(0);
  int q = 1;
  while (q < s.count && s.order[q] != scan) ++q;
  const ScanRecord& record = s.records[scan];
  const std::string original(record.description, strnlen(record.description, 99));
  std::string description = original.size() < 50
                                ? original + "_modified from " + s.fileNames[scan]
                                : "_modified from " + s.fileNames[scan];
  description.resize(std::min<std::size_t>(description.size(), 99));
  if (!keepName) {
    const platform::PathParts p = Parts(scan);
    s.fileNames[scan] = p.name + "_mod" + p.extension;
    list.names[static_cast<std::size_t>(q)] =
        platform::Combine(Folder(list.names[static_cast<std::size_t>(q)]), s.fileNames[scan]);
  }
  FloatVec radii(1, n - 1), signals(1, n - 1), third(1, n - 1);
  const float* source3 = ThirdColumn(scan);
  int m = 0;
  for (int k = 1; k <= n; ++k) {
    if (k == point) continue;
    ++m;
    radii[m] = s.radii[scan][k];
    signals[m] = s.signals[scan][k];
    third[m] = source3 ? source3[k] : 0.0f;
  }
  RawDataResult r;
  Write(r, list.names[static_cast<std::size_t>(q)], n - 1, radii, signals, source3 ? third.get() : nullptr,
        description.c_str(), record);
  // The scan in memory carries the description its new file has.
  if (!r.written.empty()) {
    ScanRecord& kept = s.records[scan];
    std::memset(kept.description, 0, sizeof kept.description);
    std::memcpy(kept.description, description.data(), std::min(description.size(), sizeof kept.description - 1));
  }
  return r;
}

RawDataResult RemoveScanPoint(int scan, int point) {
  ScanSet& s = CurrentScanSet();
  if (scan < 1 || scan > s.count || point < 1 || point > s.points[scan]) return Nothing("no such scan or point");
  const int n = s.points[scan];
  if (n <= 2) return Refuse("ERROR", Format("%s would keep fewer than 2 points", s.fileNames[scan].c_str()));
  std::vector<bool> keep(static_cast<std::size_t>(n) + 1, true);
  keep[0] = false;
  keep[static_cast<std::size_t>(point)] = false;
  s.dataChanged = 1;
  KeepScanPoints(s, scan, keep, n - 1);
  PrepareScanGrid();
  if (s.leftFitLimit != 0.0f) CheckLeftFitLimit();
  if (s.rightFitLimit != 0.0f) CheckRightFitLimit();
  return RawDataResult{};
}
