#include "equilibrium/mstar/mstar_hinge.h"

#include <algorithm>
#include <cstdio>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/integrate_distribution.h"
#include "equilibrium/mstar/mstar_transform.h"
#include "equilibrium/mstar/polyfit.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "platform/error_box.h"
#include "platform/user_interface.h"

namespace {

const char* const kHingeTitle = "HINGE POINT INFO";

// ((v0 + v1)/2 - bd) (r0 + r1)/2 (r1 - r0): one trapezoid of (c - b_d) r dr.
double Slice(double r0, double r1, double v0, double v1, double bd) {
  return ((v0 + v1) / 2 - bd) * (r0 + r1) / 2 * (r1 - r0);
}

}  // namespace

float MStarLoadingSignal(const MStarState& st, int d, bool* ok) {
  *ok = false;
  if (!st.HasData() || d < 1 || d > st.count) return 0.0f;
  const MStarDataSet& set = st.sets[static_cast<size_t>(d)];
  const double a = gModelParams.meniscus, b = gModelParams.bottom;
  const double R = std::min(static_cast<double>(CurrentScanSet().rightFitLimit), b);
  const double bd = MStarBaseline(d);
  const int n = set.n;
  if (n < 2 || !(b > a)) return 0.0f;
  auto r = [&](int i) { return static_cast<double>(set.r[static_cast<size_t>(i)]); };
  auto s = [&](int i) { return static_cast<double>(set.s[static_cast<size_t>(i)]); };

  // The polynomial tail from R to b first: without it there is no result.
  int first = n + 1, last = 0;
  for (int i = 1; i <= n; ++i)
    if (r(i) >= st.bottomRange[1]) {
      first = i;
      break;
    }
  for (int i = n; i >= 1; --i)
    if (r(i) <= st.bottomRange[2]) {
      last = i;
      break;
    }
  const int order = st.settings.signalOrder;
  const int count = last - first + 1;
  if (count <= order || count < 1) {
    ErrorBox("Error: extrapolation order higher than number of data points");
    return 0.0f;
  }
  std::vector<double> x(static_cast<size_t>(count) + 1), y(static_cast<size_t>(count) + 1);
  for (int i = 1; i <= count; ++i) {
    x[static_cast<size_t>(i)] = r(first + i - 1);
    y[static_cast<size_t>(i)] = s(first + i - 1);
  }
  std::vector<double> c(static_cast<size_t>(order) + 2);
  double x0 = 0;
  if (!PolyfitCoefficients(order, x.data(), y.data(), count, c.data(), &x0)) {
    ErrorBox("error in polyfit");
    return 0.0f;
  }
  double sum = 0;
  const double step = (b - R) / (kMStarGridPoints - 1);
  for (int j = 1; j < kMStarGridPoints; ++j) {
    const double r0 = R + step * (j - 1), r1 = R + step * j;
    sum += Slice(r0, r1, PolyfitValue(order, c.data(), x0, r0), PolyfitValue(order, c.data(), x0, r1), bd);
  }

  // The data from the point before the meniscus up to R, and not beyond:
  // the tail above already holds R .. b.
  int j = 1;
  while (j < n - 1 && !(r(j + 1) > a)) ++j;
  for (int i = j; i < n; ++i) {
    const double r0 = r(i), r1 = r(i + 1);
    if (r0 >= R) break;
    if (r1 > R) {
      const double sR = s(i) + (s(i + 1) - s(i)) * (R - r0) / (r1 - r0);
      sum += Slice(r0, R, s(i), sR, bd);
      break;
    }
    sum += Slice(r0, r1, s(i), s(i + 1), bd);
  }
  *ok = true;
  return static_cast<float>(sum / ((b * b - a * a) / 2));
}

MStarHinge FindHingePoint(const MStarState& st, int d, float c0, float interval) {
  MStarHinge h;
  h.loading = c0;
  if (!st.HasData() || d < 1 || d > st.count) return h;
  const MStarDataSet& set = st.sets[static_cast<size_t>(d)];
  const std::vector<float>& mwapp = set.SelectedMwapp(st.settings);
  const double bd = MStarBaseline(d);
  const int n = set.n;
  for (int i = 1; i < n; ++i) {
    int m = 1;
    while (i + m < n && set.r[static_cast<size_t>(i + m)] < set.r[static_cast<size_t>(i)] + interval) ++m;
    double sr = 0, ss = 0, sm = 0;
    for (int k = i; k <= i + m; ++k) {
      sr += set.r[static_cast<size_t>(k)];
      ss += set.s[static_cast<size_t>(k)];
      sm += mwapp[static_cast<size_t>(k)];
    }
    const double points = m + 1;
    if (ss / points - bd > c0) {
      h.radius = static_cast<float>(sr / points);
      h.mwapp = static_cast<float>(sm / points);
      h.found = true;
      return h;
    }
  }
  return h;
}

bool ShowHingePointInfo(MStarState& st, const std::function<void(int d)>& drawMarks) {
  if (!st.HasData()) return false;
  if (static_cast<int>(st.hinge.size()) != st.count + 1) st.hinge.assign(static_cast<size_t>(st.count) + 1, {});
  for (int d = 1; d <= st.count; ++d) {
    bool ok = false;
    float c0 = MStarLoadingSignal(st, d, &ok);
    // Each data set is asked for in turn: every question names the one it is about.
    const ScanSet& scans = CurrentScanSet();
    const std::string name = d <= scans.count && d < static_cast<int>(scans.fileNames.size())
                                 ? " (" + scans.fileNames[static_cast<size_t>(d)] + ")"
                                 : std::string();
    char which[400];
    std::snprintf(which, sizeof which, "data set %d of %d%s: ", d, st.count, name.c_str());
    char text[800];
    std::snprintf(text, sizeof text,
                  "%sestimated loading signal from meniscus (%.3f) to bottom (%.3f) = %.3f \n\tmanual override?",
                  which, gModelParams.meniscus, gModelParams.bottom, c0);
    if (platform::UI().MessageBox(kHingeTitle, text, platform::BoxButtons::YesNo, platform::BoxIcon::Question) ==
        platform::IDYES) {
      float typed = c0;
      if (!InputFloat(&typed, c0, true, (which + std::string("new total signal")).c_str(), kHingeTitle))
        return false;
      c0 = typed;
    }
    float interval = 0.01f;
    if (!InputFloat(&interval, 0.01f, true, (which + std::string("radial interval for smoothing Mapp(r_hinge)")).c_str(),
                    kHingeTitle))
      return false;
    st.hinge[static_cast<size_t>(d)] = FindHingePoint(st, d, c0, interval);
    if (drawMarks) drawMarks(d);
    const MStarHinge& h = st.hinge[static_cast<size_t>(d)];
    std::snprintf(text, sizeof text, "%sMwapp(rhinge=%.3f cm) = %.3f kDa", which, h.radius, h.mwapp);
    platform::Tell(kHingeTitle, text);
  }
  return true;
}

std::vector<std::string> CofMSummaryLines(const MStarState& st) {
  std::vector<std::string> lines;
  if (!st.settings.cmSmoothing) return lines;
  const ContiSettings& cs = Conti();
  float area = 0, mean = 0, total = 0, sd = 0, mn = 0, mz = 0;
  IntegrateDistribution(cs.sMin, cs.sMax, &area, &mean, &total, &sd, &mn, &mz);
  if (total == 0) total = 1.0f;
  char text[200];
  std::snprintf(text, sizeof text, "rmsd = %.5f", gFitEngineState.currentRmsd);
  lines.push_back(text);
  std::snprintf(text, sizeof text, "total loading signal c(M) = %.3f", area);
  lines.push_back(text);
  std::snprintf(text, sizeof text, "signal average Mw = %.1f kDa", mean * 0.001);
  lines.push_back(text);
  std::snprintf(text, sizeof text, "std (sqrt(2nd central moment) = %.1f kDa", sd * 0.001);
  lines.push_back(text);
  std::snprintf(text, sizeof text, "Mz = %.1f kDa", mz * 0.001);
  lines.push_back(text);
  return lines;
}
