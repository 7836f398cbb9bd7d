#include "models/nonideal/mean_field/conti_nonid.h"

#include <algorithm>
#include <cmath>

#include "models/nonideal/mean_field/ctot_movie.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"

namespace {

// Extension of the recorded profiles beyond the first and last radius, so
// that a meniscus or bottom that moves a little stays inside the field.
constexpr float kExtension = 0.5f;

// n radii equally spaced over a..b (1-based).
void EquallySpaced(std::vector<float>& r, int n, double a, double b) {
  r.assign(static_cast<size_t>(n) + 1, 0.0f);
  for (int i = 1; i <= n; ++i) r[i] = static_cast<float>(n > 1 ? a + (i - 1) * (b - a) / (n - 1) : a);
}

}  // namespace

CContiNonid::CContiNonid(int movieGrid, int radii)
    : movieGridSize(movieGrid), profileRadiiCount(radii) {}

CContiNonid::~CContiNonid() {
  FreeExtrapolationWorkspace();
  FreeFrameTimes();
  FreeProfileStore();
  FreeCtotFrames();
}

// ------------------------------------------------------------ data table

bool CContiNonid::AllocExtrapolationWorkspace(int scans, int lammGridPoints) {
  FreeExtrapolationWorkspace();
  if (scans < 1) return false;
  levelCount = std::max(1, std::min(levelCountRequested, lammGridPoints));
  const size_t L = static_cast<size_t>(levelCount) + 1;
  boundary_.assign(static_cast<size_t>(scans) + 1, std::vector<double>(L, 0.0));
  table_.assign(static_cast<size_t>(extrapolationTimes) + 1, std::vector<double>(L, 0.0));
  tableRows_.assign(static_cast<size_t>(extrapolationTimes) + 1, nullptr);
  for (int k = 1; k <= extrapolationTimes; ++k) tableRows_[k] = table_[k].data();
  tableTimes.assign(static_cast<size_t>(extrapolationTimes) + 1, 0.0);
  levels.assign(L, 0.0);
  tableScans = scans;
  workspaceAllocated = true;
  tableBuilt = false;
  return true;
}

void CContiNonid::FreeExtrapolationWorkspace() {
  boundary_.clear();
  table_.clear();
  tableRows_.clear();
  tableTimes.clear();
  levels.clear();
  workspaceAllocated = tableBuilt = false;
  tableScans = 0;
}

bool CContiNonid::ExtrapolateFromData(const ExtrapolationInput& in) {
  tableBuilt = false;
  if (in.scans < 1 || !in.times || !in.signals || !in.grid || in.last < in.first) return false;
  if (!workspaceAllocated || tableScans != in.scans) AllocExtrapolationWorkspace(in.scans, in.lammGridPoints);
  const int L = levelCount, S = in.scans;
  const double m = in.meniscus, bot = in.bottom;

  double smax = 0;
  bool any = false;
  for (int i = 1; i <= S; ++i)
    for (int p = in.first; p <= in.last; ++p) {
      if (!any || in.signals[i][p] > smax) smax = in.signals[i][p];
      any = true;
    }
  signalMaximum = smax;
  const double tLast = in.times[S], tFirst = in.times[1];
  // Without signal there are no levels to place, without time no rows.
  if (!(smax > 0) || !(tLast > 0)) return false;
  lowestLevel = 0.001 * smax;
  const double highest = smax - 0.001 * (smax - lowestLevel);
  levelStep = L > 1 ? (highest - lowestLevel) / (L - 1) : 0.0;
  for (int j = 1; j <= L; ++j) levels[j] = lowestLevel + (j - 1) * levelStep;

  // Where each scan first reaches each level, walking out from the meniscus.
  for (int i = 1; i <= S; ++i) {
    const float* sig = in.signals[i];
    std::vector<double>& bp = boundary_[i];
    int q = 1;
    while (q <= L && levels[q] < sig[in.first]) bp[q++] = m;
    for (int p = in.first; p <= in.last && q <= L; ++p)
      while (q <= L && levels[q] <= sig[p]) bp[q++] = in.grid[p];
    while (q <= L) bp[q++] = bot;
  }

  const int T = extrapolationTimes;
  const double dt = tLast / T;
  for (int k = 1; k <= T; ++k) tableTimes[k] = k * dt;
  const double earlyLimit = (1.0 + earlyTimeFactor) * tFirst;
  for (int j = 1; j <= L; ++j) {
    // Before the first scan: the level's early motion fitted through the origin.
    const double d1 = boundary_[1][j] - m;
    double a = 0, b = 0;
    enum { kMeniscus, kLine, kQuadratic, kFixed } rule = kMeniscus;
    double fixed = m;
    if (d1 > 0) {
      double sTD = 0, st2 = 0, st2d = 0, st3 = 0, st4 = 0, sumD = 0;
      int counted = 0, accepted = 0;
      double last = 0, increase = 0;
      for (int i = 1; i <= S && in.times[i] <= earlyLimit; ++i) {
        const double d = boundary_[i][j] - m, t = in.times[i];
        sumD += d;
        ++counted;
        if (!(d > 1e-10) || !(m + d < bot - 1e-10)) continue;
        if (accepted > 0 && !(d > last)) continue;
        if (accepted >= 2 && !(d - last < 2.0 * increase)) continue;
        if (accepted > 0) increase = d - last;
        last = d;
        ++accepted;
        sTD += t * d;
        st2 += t * t;
        st2d += t * t * d;
        st3 += t * t * t;
        st4 += t * t * t * t;
      }
      const double mean = counted > 0 ? sumD / counted : 0.0;
      // A single scan is its own line through the origin.
      if ((accepted >= 2 || (S == 1 && accepted == 1)) && st2 > 0) {
        rule = kLine;
        a = sTD / st2;
        const double D = st2 * st4 - st3 * st3;
        if (accepted > 5 && D != 0) {
          const double qa = (sTD * st4 - st2d * st3) / D, qb = (st2d * st2 - sTD * st3) / D;
          if (qb != 0 && -qa / (2 * qb) < 0) {
            rule = kQuadratic;
            a = qa;
            b = qb;
          }
        }
      } else {
        rule = kFixed;
        fixed = mean >= 0.5 * (bot - m) ? bot : m;
      }
    }
    int lo = 1;  // the last scan with time <= t
    for (int k = 1; k <= T; ++k) {
      const double t = tableTimes[k];
      double r;
      if (t <= tFirst) {
        switch (rule) {
          case kLine: r = m + a * t; break;
          case kQuadratic: r = m + a * t + b * t * t; break;
          case kFixed: r = fixed; break;
          default: r = m; break;
        }
      } else if (S == 1) {
        r = boundary_[1][j];
      } else {
        while (lo < S && in.times[lo + 1] <= t) ++lo;
        const int i0 = std::min(lo, S - 1), i1 = i0 + 1;
        const double t0 = in.times[i0], t1 = in.times[i1];
        const double r0 = boundary_[i0][j], r1 = boundary_[i1][j];
        // Scans at one time give no slope: the later one holds.
        r = t1 > t0 ? r0 + (r1 - r0) * (t - t0) / (t1 - t0) : r1;
      }
      table_[k][j] = r;
    }
  }
  tableBuilt = true;
  return true;
}

// ------------------------------------------------------------ frames

void CContiNonid::BuildFrameTimes(double lastScanTime, const CCtotMovie* movie) {
  FreeFrameTimes();
  frameTimes.assign(1, 0.0);
  if (movie && movie->HasField()) {
    for (int i = 1; i <= movie->timeCount; ++i) frameTimes.push_back(movie->times[i]);
  } else {
    for (int i = 0; i <= 10; ++i) frameTimes.push_back(20.0 * i);
    for (double t = 300.0; frameTimes.back() < lastScanTime; t += 100.0) frameTimes.push_back(t);
  }
  frameCount = static_cast<int>(frameTimes.size()) - 1;
  frameTimesPresent = true;
}

void CContiNonid::FreeFrameTimes() {
  frameTimes.clear();
  frameTimesPresent = false;
}

bool CContiNonid::AllocProfileStore(int species, double meniscus, double bottom) {
  FreeProfileStore();
  if (species < 1 || frameCount < 1 || profileRadiiCount < 1) return false;
  const size_t F = static_cast<size_t>(frameCount) + 1, R = static_cast<size_t>(profileRadiiCount) + 1;
  store_.assign(static_cast<size_t>(species) * F * R, 0.0f);
  storeRows_.assign(static_cast<size_t>(species) * F, nullptr);
  storeSpecies_.assign(static_cast<size_t>(species) + 1, nullptr);
  for (int k = 1; k <= species; ++k) {
    const size_t base = static_cast<size_t>(k - 1) * F;
    for (size_t f = 0; f < F; ++f) storeRows_[base + f] = store_.data() + (base + f) * R;
    storeSpecies_[k] = storeRows_.data() + base;
  }
  EquallySpaced(profileRadii, profileRadiiCount, meniscus, bottom);
  storeSpeciesCount = species;
  storeFrameCount = frameCount;
  profileStorePresent = true;
  return true;
}

void CContiNonid::FreeProfileStore() {
  store_.clear();
  storeRows_.clear();
  storeSpecies_.clear();
  profileRadii.clear();
  storeSpeciesCount = storeFrameCount = 0;
  profileStorePresent = false;
}

void CContiNonid::AllocCtotFrames(double meniscus, double bottom) {
  FreeCtotFrames();
  const int n = profileRadiiCount;
  extendedRadii.assign(static_cast<size_t>(n) + 3, 0.0f);
  for (int i = 1; i <= n; ++i) extendedRadii[i + 1] = profileRadii[i];
  extendedRadii[1] = profileRadii[1] - kExtension;
  extendedRadii[n + 2] = profileRadii[n] + kExtension;
  ctotFrames.assign(static_cast<size_t>(frameCount) + 1, std::vector<float>(static_cast<size_t>(n) + 3, 0.0f));
  regriddedCount = movieGridSize;
  gridStart = static_cast<float>(meniscus);
  gridEnd = static_cast<float>(bottom);
  EquallySpaced(regriddedRadii, regriddedCount, gridStart, gridEnd);
  regridded.assign(static_cast<size_t>(frameCount) + 1,
                   std::vector<float>(static_cast<size_t>(regriddedCount) + 1, 0.0f));
  RebuildRegriddedRows();
  ctotFramesPresent = true;
}

void CContiNonid::FreeCtotFrames() {
  extendedRadii.clear();
  ctotFrames.clear();
  regriddedRadii.clear();
  regridded.clear();
  regriddedRows_.clear();
  regriddedCount = 0;
  ctotFramesPresent = ctotValid = false;
}

void CContiNonid::RebuildRegriddedRows() {
  regriddedRows_.assign(regridded.size(), nullptr);
  for (size_t f = 1; f < regridded.size(); ++f) regriddedRows_[f] = regridded[f].data();
}

void CContiNonid::ComputeCtotFromFit(int first, int last, const double* amplitudes, double meniscus,
                                     double bottom) {
  if (!profileStorePresent || !amplitudes) return;
  AllocCtotFrames(meniscus, bottom);
  const int n = profileRadiiCount;
  last = std::min(last, storeSpeciesCount);
  for (int k = std::max(first, 1); k <= last; ++k) {
    const double c = amplitudes[k];
    if (c == 0) continue;
    for (int f = 1; f <= frameCount; ++f) {
      const float* P = storeSpecies_[k][f];
      float* row = ctotFrames[f].data();
      row[1] += static_cast<float>(c * P[1]);
      for (int i = 1; i <= n; ++i) row[i + 1] += static_cast<float>(c * P[i]);
      row[n + 2] += static_cast<float>(c * P[n]);
    }
  }
  RegridCtotFrames(meniscus, bottom, movieGridSize, true);
  ctotValid = true;
}

void CContiNonid::RegridCtotFrames(double meniscus, double bottom, int points, bool force) {
  if (!ctotFramesPresent) return;
  const bool same = gridStart == static_cast<float>(meniscus) && gridEnd == static_cast<float>(bottom) &&
                    regriddedCount == points && static_cast<int>(regriddedRadii.size()) == points + 1;
  if (!force && same) return;
  if (points != regriddedCount) ErrorBox("inconsistent MovienGrid -- should not happen");
  // The solver's nodes span the current meniscus and bottom: so must the frames.
  regriddedCount = points;
  gridStart = static_cast<float>(meniscus);
  gridEnd = static_cast<float>(bottom);
  EquallySpaced(regriddedRadii, regriddedCount, gridStart, gridEnd);
  regridded.assign(static_cast<size_t>(frameCount) + 1,
                   std::vector<float>(static_cast<size_t>(regriddedCount) + 1, 0.0f));
  RebuildRegriddedRows();
  const int n = static_cast<int>(extendedRadii.size()) - 1;
  for (int f = 1; f <= frameCount; ++f)
    InterpolateOntoGrid(regriddedCount, regriddedRadii.data(), regridded[f].data(), n, extendedRadii.data(),
                        ctotFrames[f].data());
}

bool CContiNonid::LoadExternalCtot(const CCtotMovie& movie, double meniscus, double bottom, double signalPerMg) {
  if (!movie.HasField()) return false;
  FreeCtotFrames();
  FreeFrameTimes();
  // The field moves with the meniscus of the data it is used for.
  float start = gridStart, end = gridEnd;
  const float target = static_cast<float>(meniscus);
  int radii = 0;
  movie.CopyToModel(frameCount, radii, extendedRadii, frameTimes, ctotFrames, start, end, target, signalPerMg);
  frameTimesPresent = true;
  if (extendedRadii.size() < 2 || ctotFrames.empty()) return false;
  profileRadiiCount = radii;
  ctotFramesPresent = true;
  regriddedCount = movieGridSize;
  gridStart = start;
  gridEnd = end;
  RegridCtotFrames(meniscus, bottom, movieGridSize, true);
  ctotValid = true;
  fieldChiSquare = -1.0;
  return true;
}
