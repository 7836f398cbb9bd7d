#include "equilibrium/eqtools/eq_test_mode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "data/realtime_update.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "platform/error_box.h"
#include "platform/paths.h"

EqTestSeriesSet& EqTest() {
  static EqTestSeriesSet set;
  return set;
}

void EqTestSeriesSet::Reserve(int n) {
  if (static_cast<int>(first.size()) > n) return;
  first.resize(static_cast<size_t>(n) + 1, 0);
  last.resize(static_cast<size_t>(n) + 1, 0);
  included.resize(static_cast<size_t>(n) + 1, true);
}

namespace {

bool Matches(const std::vector<std::pair<int, float>>& list, int scan) {
  const ScanSet& s = CurrentScanSet();
  if (scan < 1 || scan > s.count) return false;
  const ScanRecord& r = s.records[scan];
  for (const auto& [cell, wavelength] : list)
    if (cell == r.cell && std::fabs(wavelength - r.wavelength) < 5.0f) return true;
  return false;
}

float Speed(int scan) { return CurrentScanSet().records[scan].rpm; }
double Time(int scan) { return CurrentScanSet().records[scan].timeRead; }

}  // namespace

bool IsExcludedEqTestSeries(int scan) { return Matches(EqTest().excluded, scan); }
bool IsAcceptedEqTestSeries(int scan) { return Matches(EqTest().accepted, scan); }

int GroupEqTestSeries() {
  EqTestSeriesSet& t = EqTest();
  const ScanSet& s = CurrentScanSet();
  t.series.clear();
  t.oneCellOnly = true;
  for (EqSeries& g : GroupEqSeries(5.0f)) {
    EqTestSeries e;
    e.scans = std::move(g);
    t.series.push_back(std::move(e));
  }
  bool haveCell = false;
  for (const EqTestSeries& e : t.series) {
    if (e.Count() < 2) continue;
    const int cell = s.records[e.First()].cell;
    if (!haveCell) {
      t.oneCell = cell;
      haveCell = true;
    } else if (cell != t.oneCell) {
      t.oneCellOnly = false;
    }
  }
  RealtimeState& rt = CurrentRealtimeState();
  const int n = t.Count();
  t.Reserve(n);
  if (n == 0) {
    rt.series.clear();
    return 0;
  }
  const bool profile = CurrentSpeedProfile.Active();
  if (!profile)
    std::stable_sort(t.series.begin(), t.series.end(),
                     [](const EqTestSeries& a, const EqTestSeries& b) { return Speed(a.First()) < Speed(b.First()); });
  // The last speed: follow the run from the first series' first scan to
  // later scans at other speeds.
  if (profile) {
    for (EqTestSeries& e : t.series) e.lastSpeed = true;
  } else {
    float speed = Speed(t.series[0].First());
    double time = Time(t.series[0].First());
    for (const EqTestSeries& e : t.series)
      if (Time(e.First()) > time && Speed(e.First()) != speed) {
        speed = Speed(e.First());
        time = Time(e.First());
      }
    for (EqTestSeries& e : t.series) e.lastSpeed = Speed(e.First()) == speed;
  }
  // Data-set extensions, each with the smallest file number among its scans.
  rt.series.clear();
  for (const EqTestSeries& e : t.series) {
    const std::string ext = platform::SplitPath(s.fileNames[e.First()]).extension;
    if (std::any_of(rt.series.begin(), rt.series.end(), [&](const RealtimeSeries& r) { return r.extension == ext; }))
      continue;
    int smallest = 0;
    bool found = false;
    for (int k = 1; k <= s.count; ++k) {
      if (platform::SplitPath(s.fileNames[k]).extension != ext) continue;
      const int number = ScanFileNumber(k);
      if (!found || number < smallest) smallest = number;
      found = true;
    }
    rt.series.push_back({ext, smallest});
  }
  for (int i = 1; i <= n; ++i) t.included[i] = !IsExcludedEqTestSeries(t.series[i - 1].First());
  if (!profile) {
    t.highestSpeed = Speed(t.series[n - 1].First());
    t.nextLowerSpeed = 0;
    for (int i = n; i >= 1; --i)
      if (Speed(t.series[i - 1].First()) != t.highestSpeed) {
        t.nextLowerSpeed = Speed(t.series[i - 1].First());
        break;
      }
  }
  return n;
}

void SetEqTestRangeFromFitLimits(int i) {
  EqTestSeriesSet& t = EqTest();
  t.Reserve(i);
  EqScanFitRange(t.series[i - 1].Last(), &t.first[i], &t.last[i]);
}

bool SetEqTestRangeFromRadii(int i, float rMin, float rMax) {
  EqTestSeriesSet& t = EqTest();
  const ScanSet& s = CurrentScanSet();
  const int k = t.series[i - 1].Last();
  if (rMin > rMax) std::swap(rMin, rMax);
  int a = 0, b = 0;
  for (int p = 1; p <= s.points[k]; ++p)
    if (s.radii[k][p] > rMin) {
      a = p;
      break;
    }
  for (int p = s.points[k]; p >= 1; --p)
    if (s.radii[k][p] < rMax) {
      b = p;
      break;
    }
  if (a < 1 || b < a) return false;
  t.first[i] = a;
  t.last[i] = b;
  return true;
}

void MakeEqTestCurves() {
  EqTestSeriesSet& t = EqTest();
  const ScanSet& s = CurrentScanSet();
  t.curveCount = t.Count();
  for (int i = 1; i <= t.Count(); ++i) {
    EqTestSeries& e = t.series[i - 1];
    for (auto* v : {&e.dt, &e.rmsd, &e.diffR, &e.diff, &e.relR, &e.rel}) v->assign(1, 0.0f);
    e.rmsdLastTwo = 0;
    if (e.Count() < 2) continue;
    const int L = e.Last();
    if (t.first[i] < 1 || t.first[i] > s.points[L]) t.first[i] = 1;
    if (t.last[i] < t.first[i] || t.last[i] > s.points[L]) t.last[i] = s.points[L];
    const int a = t.first[i], b = t.last[i];
    for (int j = 0; j + 1 < e.Count(); ++j) {
      const int k = e.scans.scans[j];
      e.dt.push_back(static_cast<float>((Time(k) - Time(L)) / 3600.0));
      e.rmsd.push_back(EqTestScanRmsd(k, L, a, b));
    }
    std::vector<float> r, d;
    e.rmsdLastTwo = EqTestScanRmsd(e.scans.scans[e.Count() - 2], L, a, b, &r, &d);
    e.diffR.insert(e.diffR.end(), r.begin(), r.end());
    e.diff.insert(e.diff.end(), d.begin(), d.end());
    double vSum = 0, rSum = 0;
    float lo = 1000.0f, hi = -1000.0f;
    const int m = b - a + 1;
    for (int p = a; p <= b; ++p) {
      const float v = EqPointValue(L, p);
      vSum += v;
      rSum += s.radii[L][p];
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    const double vMean = m > 0 ? vSum / m : 0.0, rMean = m > 0 ? rSum / m : 0.0;
    const double range = hi - lo != 0.0f ? hi - lo : 1.0;
    for (int p = a; p <= b; ++p) {
      e.relR.push_back(static_cast<float>(s.radii[L][p] - rMean));
      e.rel.push_back(static_cast<float>((EqPointValue(L, p) - vMean) / range));
    }
  }
}

std::vector<std::string> SaveEqTestFiles(const std::string& chosenPath) {
  std::vector<std::string> written;
  const EqTestSeriesSet& t = EqTest();
  const platform::PathParts parts = platform::SplitPath(chosenPath);
  for (int i = 1; i <= t.Count(); ++i) {
    const EqTestSeries& e = t.series[i - 1];
    if (!t.included[i] || e.Count() < 2 || static_cast<int>(e.dt.size()) < e.Count()) continue;
    const std::string path = parts.folder + parts.name + "_" + std::to_string(i) + parts.extension;
    platform::CheckedOutputFile file(path);
    std::FILE* f = file.get();
    if (!f) {
      ErrorBox(("\n\aAttention: could not open " + path).c_str());
      break;
    }
    for (int j = 1; j < e.Count(); ++j)
      std::fprintf(f, "%f %f %f\n", Time(e.scans.scans[j - 1]) / 3600.0, static_cast<double>(e.dt[j]),
                   static_cast<double>(e.rmsd[j]));
    if (!file.Commit()) {
      ErrorBox(("\n\aAttention: could not write " + path).c_str());
      break;
    }
    written.push_back(path);
  }
  return written;
}
