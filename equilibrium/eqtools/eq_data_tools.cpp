#include "equilibrium/eqtools/eq_data_tools.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "data/rotor_speed_profile.h"
#include "data/scan_file.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

namespace {

bool ValidScan(int k) { return k >= 1 && k <= CurrentScanSet().count; }

// The letter after the first of the extension: "RI1" -> 'i'.
char KindLetter(int k) {
  const std::string ext = platform::SplitPath(CurrentScanSet().fileNames[k]).extension;  // ".RI1"
  return ext.size() >= 3 ? static_cast<char>(std::tolower(static_cast<unsigned char>(ext[2]))) : 0;
}

float IntensityValue(float signal, float reference) {
  return signal > 0.0f && reference > 0.0f ? std::log10(reference / signal) : 10.0f;
}

// Values of scan k, one-based.
std::vector<float> ScanValues(int k) {
  const ScanSet& s = CurrentScanSet();
  const int n = s.points[k];
  std::vector<float> v(static_cast<size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) v[i] = EqPointValue(k, i);
  return v;
}

// Whole rpm, the speed as names and groups compare it.
long WholeRpm(float rpm) { return std::lround(std::floor(rpm)); }

char LowerFirst(const std::string& name) {
  return name.empty() ? 0 : static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
}

}  // namespace

bool IsIntensityScan(int k) { return ValidScan(k) && KindLetter(k) == 'i'; }
bool IsInterferenceScan(int k) { return ValidScan(k) && KindLetter(k) == 'p'; }

float EqPointValue(int k, int i) {
  const ScanSet& s = CurrentScanSet();
  if (IsIntensityScan(k)) {
    const float* ref = static_cast<int>(s.signals2.size()) > k ? s.signals2[k] : nullptr;
    return IntensityValue(s.signals[k][i], ref ? ref[i] : 0.0f);
  }
  return s.signals[k][i];
}

float EqTestScanRmsd(int a, int ref, int first, int last, std::vector<float>* radii,
                     std::vector<float>* differences) {
  if (radii) radii->clear();
  if (differences) differences->clear();
  const ScanSet& s = CurrentScanSet();
  if (!ValidScan(a) || !ValidScan(ref) || a == ref || s.points[ref] < 1) return 0.0f;
  if (first > last) std::swap(first, last);
  first = std::max(first, 1);
  last = std::min(last, s.points[ref]);
  const int m = last - first + 1;
  if (m <= 0) return 0.0f;
  const std::vector<float> va = ScanValues(a), vr = ScanValues(ref);
  std::vector<float> onRef(vr.size(), 0.0f);
  InterpolateOntoGrid(s.points[ref], s.radii[ref], onRef.data(), s.points[a], s.radii[a], va.data());
  double sum = 0;
  for (int i = first; i <= last; ++i) sum += static_cast<double>(vr[i]) - onRef[i];
  const float mean = static_cast<float>(sum / m);
  double squares = 0;
  for (int i = first; i <= last; ++i) {
    const double d = static_cast<double>(vr[i]) - onRef[i] - mean;
    squares += d * d;
    if (radii) radii->push_back(s.radii[ref][i]);
    if (differences) differences->push_back(static_cast<float>(onRef[i] - vr[i] + mean));
  }
  return squares > 0.0 ? static_cast<float>(std::sqrt(squares / m)) : 0.0f;
}

void EqScanFitRange(int k, int* first, int* last) {
  const ScanSet& s = CurrentScanSet();
  const int f = static_cast<int>(s.firstFitPoint.size()) > k ? s.firstFitPoint[k] : 0;
  const int l = static_cast<int>(s.lastFitPoint.size()) > k ? s.lastFitPoint[k] : 0;
  *first = f > 0 ? f : 1;
  *last = l > 0 ? l : s.points[k];
}

float ComputeEqScanDifferences(int a, int latest) {
  if (!ValidScan(latest)) return 0.0f;
  int first = 0, last = 0;
  EqScanFitRange(latest, &first, &last);
  return EqTestScanRmsd(a, latest, first, last);
}

int ScanFileNumber(int k) {
  if (!ValidScan(k)) return 0;
  return std::atoi(platform::SplitPath(CurrentScanSet().fileNames[k]).name.c_str());
}

std::vector<EqSeries> GroupEqSeries(float tolerance) {
  const ScanSet& s = CurrentScanSet();
  struct Group {
    int first;
    char letter;
    std::vector<EqSeries> series;
  };
  std::vector<Group> groups;
  // Letter mode starts at the first file named i..., m... or o...; later
  // files of other names keep the letter of the file before them.
  char letter = 0;
  const bool profile = CurrentSpeedProfile.Active();
  for (int k = 1; k <= s.count; ++k) {
    const char c = LowerFirst(s.fileNames[k]);
    if (c == 'i' || c == 'm' || c == 'o') letter = c;
    const ScanRecord& rec = s.records[k];
    Group* g = nullptr;
    for (Group& candidate : groups) {
      const ScanRecord& f = s.records[candidate.first];
      if (f.cell == rec.cell && candidate.letter == letter &&
          std::fabs(f.wavelength - rec.wavelength) <= tolerance) {
        g = &candidate;
        break;
      }
    }
    if (!g) {
      groups.push_back({k, letter, {}});
      g = &groups.back();
    }
    const float speed = profile ? s.records[s.count].rpm : rec.rpm;
    EqSeries* series = nullptr;
    for (EqSeries& candidate : g->series)
      if (WholeRpm(candidate.speed) == WholeRpm(speed)) series = &candidate;
    if (!series) {
      g->series.push_back({});
      series = &g->series.back();
      series->speed = speed;
      series->firstScan = g->first;
      series->letter = g->letter;
    }
    series->loadOrder.push_back(k);
  }
  std::vector<EqSeries> out;
  for (Group& g : groups)
    for (EqSeries& series : g.series) {
      // The latest by elapsed time as read; the earlier loaded on a tie.
      int latest = series.loadOrder.front();
      for (int k : series.loadOrder)
        if (s.records[k].timeRead > s.records[latest].timeRead) latest = k;
      series.latest = latest;
      for (int k : series.loadOrder)
        if (k != latest) series.scans.push_back(k);
      std::stable_sort(series.scans.begin(), series.scans.end(),
                       [&s](int x, int y) { return s.records[x].timeRead < s.records[y].timeRead; });
      series.scans.push_back(latest);
      out.push_back(std::move(series));
    }
  return out;
}

std::string EqFileBaseName(char letter, float rpm, float wavelength) {
  char name[64];
  const int k = static_cast<int>(std::floor(rpm / 1000.0f));
  if (letter)
    std::snprintf(name, sizeof name, "%c_eq%dk_%.0f", letter, k, static_cast<double>(wavelength));
  else
    std::snprintf(name, sizeof name, "eq%dk_%.0f", k, static_cast<double>(wavelength));
  return name;
}

std::string EqXpBaseName(char letter, int cell, float wavelength) {
  char name[64];
  const bool interference = wavelength == 675.0f || wavelength == 660.0f;
  const std::string prefix = letter ? std::string(1, letter) + "_" : std::string();
  if (interference)
    std::snprintf(name, sizeof name, "%scell%d_IF", prefix.c_str(), cell);
  else
    std::snprintf(name, sizeof name, "%scell%d_%d", prefix.c_str(), cell,
                  static_cast<int>(std::floor(wavelength)));
  return name;
}

std::string EqFileExtension(int k) {
  std::string ext = platform::SplitPath(CurrentScanSet().fileNames[k]).extension;
  if (ext.size() >= 3 && (ext[2] == 'i' || ext[2] == 'I')) ext[2] = 'a';
  return ext;
}

namespace {

struct Blank {
  bool present = false;
  float wavelength = 0;
  int points = 0;
  std::vector<float> radii, values;  // one-based
};

Blank ReadBlank(const std::string& path) {
  Blank b;
  if (path.empty()) return b;
  ScanRecord record;
  int n = 0;
  float *r = nullptr, *y = nullptr, *third = nullptr;
  if (ReadScanFile(path.c_str(), &record, &n, &r, &y, &third, nullptr, 0.0f) != 1) {
    ErrorBox("LOAD ERROR in blank");
    return b;
  }
  const bool intensity = record.type == 'I' || record.type == 'V';
  b.present = true;
  b.wavelength = record.wavelength;
  b.points = n;
  b.radii.assign(r, r + n + 1);
  b.values.assign(y, y + n + 1);
  if (intensity && third)
    for (int i = 1; i <= n; ++i)
      if (y[i] > 0.0f && third[i] > 0.0f) b.values[i] = std::log10(third[i] / y[i]);
  free_vector(r, 1, n);
  free_vector(y, 1, n);
  if (third) free_vector(third, 1, n);
  return b;
}

std::string Lower(std::string t) {
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return t;
}

// A name not yet written in this sort: the speed in krpm, else in full rpm,
// else numbered. The user is told when the first choice was taken.
std::string FreeName(const std::string& folder, const EqSeries& series, float rpm, float wavelength,
                     const std::string& ext, std::set<std::string>& taken) {
  const std::string first = EqFileBaseName(series.letter, rpm, wavelength);
  auto isFree = [&](const std::string& base) { return !taken.count(Lower(folder + base + ext)); };
  std::string name = first;
  if (!isFree(name)) {
    char alt[64];
    const std::string prefix = series.letter ? std::string(1, series.letter) + "_" : std::string();
    std::snprintf(alt, sizeof alt, "%seq%ld_%.0f", prefix.c_str(), WholeRpm(rpm), static_cast<double>(wavelength));
    name = alt;
    for (int n = 2; !isFree(name); ++n) name = std::string(alt) + "_" + std::to_string(n);
    platform::Tell("Sort SE data", first + ext + " holds the scans of another speed already; the scans at " +
                                       std::to_string(WholeRpm(rpm)) + " rpm go to " + name + ext);
  }
  taken.insert(Lower(folder + name + ext));
  return name;
}

bool WriteSeriesFile(const std::string& path, int latest, const Blank& blank, float wavelength, float tolerance) {
  const ScanSet& s = CurrentScanSet();
  const int n = s.points[latest];
  std::vector<float> values = ScanValues(latest);
  if (blank.present && std::fabs(blank.wavelength - wavelength) < tolerance && blank.points > 0) {
    std::vector<float> b(values.size(), 0.0f);
    InterpolateOntoGrid(n, s.radii[latest], b.data(), blank.points, blank.radii.data(), blank.values.data());
    for (int i = 1; i <= n; ++i) values[i] -= b[i];
  }
  const bool intensity = IsIntensityScan(latest);
  ScanRecord record = s.records[latest];
  if (intensity) {
    if (record.type == 'I') record.type = 'R';
    if (record.type == 'V') record.type = 'W';
  }
  const float* sd = intensity && static_cast<int>(s.signals2.size()) > latest ? s.signals2[latest] : nullptr;
  return WriteScanFile(path.c_str(), n, s.radii[latest], values.data(), sd, s.fileNames[latest].c_str(), 1,
                       record);
}

}  // namespace

std::vector<std::string> SortEqDataToDisk(const EqSortRequest& request, const EqSortHooks& hooks) {
  std::vector<std::string> written;
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1) return written;
  const Blank blank = ReadBlank(request.blankPath);
  std::string folder = platform::SplitPath(request.outputPath).folder;
  if (folder.empty()) folder = std::string(".") + platform::Separator();
  const std::vector<EqSeries> all = GroupEqSeries(request.tolerance);
  std::set<std::string> taken;
  EqXpFile xp;
  int group = 0;
  auto finishGroup = [&] {
    if (request.makeXp && !xp.names.empty() && hooks.writeXp) hooks.writeXp(xp);
    xp.names.clear();
  };
  for (const EqSeries& series : all) {
    if (series.firstScan != group) {
      finishGroup();
      group = series.firstScan;
      const ScanRecord& f = s.records[group];
      xp = EqXpFile{};
      xp.path = folder + EqXpBaseName(series.letter, f.cell, f.wavelength) + ".xp";
      xp.folder = folder;
      xp.density = request.density;
      xp.vbar = request.vbar;
      xp.extinctionA = request.extinctionA;
      xp.extinctionB = request.extinctionB;
      xp.extinctionC = request.extinctionC;
    }
    std::vector<int> list = series.loadOrder;
    list.push_back(series.latest);
    if (!hooks.testEquilibriumAttained || !hooks.testEquilibriumAttained(list, series.latest)) continue;
    const float wavelength = s.records[group].wavelength;
    const std::string ext = EqFileExtension(series.latest);
    const std::string name = FreeName(folder, series, s.records[series.latest].rpm, wavelength, ext, taken);
    const std::string path = folder + name + ext;
    if (!WriteSeriesFile(path, series.latest, blank, wavelength, request.tolerance)) continue;
    written.push_back(path);
    xp.names.push_back(name + ext);
    xp.interference = IsInterferenceScan(series.latest);
  }
  finishGroup();
  CurrentDataPaths().folder = folder;
  return written;
}
