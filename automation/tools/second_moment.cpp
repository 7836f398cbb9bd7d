#include "automation/tools/second_moment.h"

#include <cmath>
#include <utility>

#include "numerics/constants.h"
#include "data/data_messages.h"

using data_messages::Format;

namespace {

constexpr double kPlateauBand = 0.1;  // cm inside the right fit limit

struct Moments {
  int first = 1, last = 0;  // trapezoid points first..last
  double lead = 0;          // (r_first^2 - m^2) / 2: meniscus to the first point
  double area = 0;          // I: integral of c r dr
  double plateau = 0;
  double boundary = 0;
  double outer2 = 0;  // squared radius where the integrals end (cm^2)
};

SecondMomentResult Refuse(std::string text) {
  SecondMomentResult r;
  r.text = std::move(text);
  return r;
}

int LastInLimits(const MomentScan& s) { return s.lastInLimits > 0 ? s.lastInLimits : s.points; }

// Steps shared by both forms: plateau, area and boundary of every scan, the
// loading concentration from radial dilution, then plateau and boundary
// made consistent with it. Empty text on success.
std::string BoundaryMoments(const std::vector<MomentScan>& scans, float m, float rb, std::vector<Moments>& out,
                            double& c0) {
  out.assign(scans.size(), Moments{});
  double sum = 0;
  for (size_t k = 0; k < scans.size(); ++k) {
    const MomentScan& s = scans[k];
    Moments& mo = out[k];
    const int scan = static_cast<int>(k) + 1;
    mo.last = LastInLimits(s);
    int n = 0;
    for (int i = 1; i <= mo.last; ++i)
      if (s.r[i] > rb - kPlateauBand) {
        mo.plateau += s.c[i];
        ++n;
      }
    if (n == 0) return Format("scan %d: no data points within 0.1 cm of the right fit limit", scan);
    mo.plateau /= n;
    if (!(mo.plateau > 0)) return Format("scan %d: the plateau signal is not above 0", scan);
    // The moments start at the meniscus whatever the radii of the data:
    // points before it (air, the meniscus itself) do not count, and the
    // stretch from the meniscus to the first point after it takes that
    // point's signal (the depleted region next to the meniscus).
    int f = 1;
    while (f <= mo.last && s.r[f] < m) ++f;
    if (f >= mo.last) return Format("scan %d: no data between the meniscus and the right fit limit", scan);
    mo.first = f;
    mo.lead = 0.5 * (static_cast<double>(s.r[f]) * s.r[f] - static_cast<double>(m) * m);
    mo.area = s.c[f] * mo.lead;
    for (int i = f + 1; i <= mo.last; ++i)
      mo.area += 0.5 * (s.c[i] + s.c[i - 1]) * 0.5 * (s.r[i] + s.r[i - 1]) * (s.r[i] - s.r[i - 1]);
    // Mass balance and moments hold for the radius at which the integrals
    // end: the last point inside the limits, which may lie short of the
    // limit itself (a gap of 0.02 cm there moved s by 2 %).
    mo.outer2 = static_cast<double>(s.r[mo.last]) * s.r[mo.last];
    const double b2 = mo.outer2 - 2.0 * mo.area / mo.plateau;
    if (!(b2 > 0)) return Format("scan %d: no boundary inside the cell (rb^2 - 2 I/cp <= 0)", scan);
    mo.boundary = std::sqrt(b2);
    sum += mo.plateau * b2 / (static_cast<double>(m) * m);
  }
  c0 = sum / static_cast<double>(scans.size());
  for (size_t k = 0; k < scans.size(); ++k) {
    Moments& mo = out[k];
    for (int pass = 0; pass < 2; ++pass) {
      mo.plateau = c0 * m * m / (mo.boundary * mo.boundary);
      const double b2 = mo.outer2 - 2.0 * mo.area / mo.plateau;
      if (!(b2 > 0))
        return Format("scan %d: no boundary inside the cell (rb^2 - 2 I/cp <= 0)", static_cast<int>(k) + 1);
      mo.boundary = std::sqrt(b2);
    }
  }
  return {};
}

// -ln(1 - 2 J/(c0 R^2)) / 2 with R the outer end of the integrals: omega^2
// s t of the boundary's second moment.
bool SecondMomentTerm(const MomentScan& s, const Moments& mo, double c0, double& term) {
  double J = (c0 - s.c[mo.first]) * mo.lead;
  for (int i = mo.first + 1; i <= mo.last; ++i)
    J += 0.5 * (s.r[i] + s.r[i - 1]) * (c0 - 0.5 * (s.c[i] + s.c[i - 1])) * (s.r[i] - s.r[i - 1]);
  const double q = 1.0 - 2.0 * J / (c0 * mo.outer2);
  if (!(q > 0)) return false;
  term = -std::log(q) / 2.0;
  return true;
}

// The step model, the averages and the result text of either form.
SecondMomentResult Finish(SecondMomentResult r, const std::vector<Moments>& mo, double c0, double sw,
                          double concentration, const char* how, const char* concentrationName) {
  for (const Moments& m : mo) {
    r.plateau.push_back(static_cast<float>(m.plateau));
    r.boundary.push_back(static_cast<float>(m.boundary));
  }
  r.sw = sw;
  r.averageConcentration = concentration;
  r.c0 = c0;
  r.ok = true;
  r.text = Format("sw = %.4f S\nsw was averaged over scans, %s\n%s is %f\ncalculated loading concentration is "
                  "%f\n(table sw vs time is stored in clipboard)",
                  sw, how, concentrationName, concentration, c0);
  return r;
}

}  // namespace

SecondMomentResult DifferentialSecondMomentSw(const std::vector<MomentScan>& scans,
                                              const std::vector<int>& timeOrder, float meniscus,
                                              float rightLimit) {
  if (scans.size() < 2) return Refuse("the differential second moment needs at least two scans");
  std::vector<Moments> mo;
  double c0 = 0;
  if (std::string why = BoundaryMoments(scans, meniscus, rightLimit, mo, c0); !why.empty()) return Refuse(why);
  std::vector<double> st(scans.size());
  for (size_t k = 0; k < scans.size(); ++k) {
    const double w = scans[k].rpm * kOmegaPerRpm;
    if (!(w > 0)) return Refuse(Format("scan %d: the rotor speed is 0", static_cast<int>(k) + 1));
    double term = 0;
    if (!SecondMomentTerm(scans[k], mo[k], c0, term))
      return Refuse(Format("scan %d: no second moment (1 - 2 J/(c0 rb^2) <= 0)", static_cast<int>(k) + 1));
    st[k] = term / (w * w) * 1e13;
  }
  SecondMomentResult r;
  double sum = 0;
  for (size_t k = 0; k + 1 < timeOrder.size(); ++k) {
    const int a = timeOrder[k], b = timeOrder[k + 1];
    const double dt = scans[b].elapsed - scans[a].elapsed;
    if (!(dt != 0)) return Refuse(Format("scans %d and %d have the same elapsed time", a + 1, b + 1));
    const double swk = (st[b] - st[a]) / dt;
    sum += swk;
    r.tableTime.push_back(static_cast<float>(scans[a].elapsed));
    r.tableS.push_back(static_cast<float>(swk));
  }
  double plateau = 0;
  for (const Moments& m : mo) plateau += m.plateau;
  const double rows = static_cast<double>(r.tableS.size());
  return Finish(std::move(r), mo, c0, sum / rows, plateau / static_cast<double>(mo.size()),
                "each determined by differential second moment", "average plateau concentration");
}

SecondMomentResult SecondMomentSw(const std::vector<MomentScan>& scans, const std::vector<int>& timeOrder,
                                  float meniscus, float rightLimit) {
  if (scans.empty()) return Refuse("no scans");
  std::vector<Moments> mo;
  double c0 = 0;
  if (std::string why = BoundaryMoments(scans, meniscus, rightLimit, mo, c0); !why.empty()) return Refuse(why);
  std::vector<double> sk(scans.size());
  double sum = 0, effective = 0;
  for (size_t k = 0; k < scans.size(); ++k) {
    const double w2t = scans[k].w2t;
    if (!(w2t > 0)) return Refuse(Format("scan %d: omega^2 t is 0", static_cast<int>(k) + 1));
    double term = 0;
    if (!SecondMomentTerm(scans[k], mo[k], c0, term))
      return Refuse(Format("scan %d: no second moment (1 - 2 J/(c0 rb^2) <= 0)", static_cast<int>(k) + 1));
    const double s = term / w2t;  // seconds
    sk[k] = s * 1e13;
    sum += sk[k];
    // A vanishing moment means no dilution: the limit of the expression is c0.
    effective += std::fabs(s) > 1e-30 ? c0 / (2.0 * w2t * s) * (1.0 - std::exp(-2.0 * w2t * s)) : c0;
  }
  SecondMomentResult r;
  for (int k : timeOrder) {
    r.tableTime.push_back(static_cast<float>(scans[k].elapsed));
    r.tableS.push_back(static_cast<float>(sk[k]));
  }
  const double n = static_cast<double>(scans.size());
  return Finish(std::move(r), mo, c0, sum / n, effective / n, "each integrated from 0 to t",
                "average effective concentration");
}
