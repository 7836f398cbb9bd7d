#include "lamm/element_integrals.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "lamm/fe_integrals.h"

// ---------------------------------------------------------------- Romberg

double TrapezoidStage(RadialFunction f, const void* data, double a, double b, int n, double& s) {
  if (n == 1) return s = 0.5 * (b - a) * (f(a, data) + f(b, data));
  const long it = 1L << (n - 2);
  const double del = (b - a) / static_cast<double>(it);
  double x = a + 0.5 * del, sum = 0;
  for (long k = 0; k < it; ++k, x += del) sum += f(x, data);
  return s = 0.5 * (s + (b - a) * sum / static_cast<double>(it));
}

bool PolintRomberg(const double* xa, const double* ya, int n, double x, double& y, double& dy) {
  constexpr int kMax = 32;
  if (n < 1 || n >= kMax) return false;
  double c[kMax], d[kMax];
  int ns = 1;
  double dif = std::fabs(x - xa[1]);
  for (int i = 1; i <= n; ++i) {
    const double dift = std::fabs(x - xa[i]);
    if (dift < dif) {
      ns = i;
      dif = dift;
    }
    c[i] = d[i] = ya[i];
  }
  double value = ya[ns--], err = 0;
  for (int m = 1; m < n; ++m) {
    for (int i = 1; i <= n - m; ++i) {
      const double ho = xa[i] - x, hp = xa[i + m] - x;
      const double den = ho - hp;
      if (den == 0) return false;
      const double w = (c[i + 1] - d[i]) / den;
      d[i] = hp * w;
      c[i] = ho * w;
    }
    err = 2 * ns < n - m ? c[ns + 1] : d[ns--];
    value += err;
  }
  y = value;
  dy = err;
  return true;
}

double RombergIntegral(RadialFunction f, const void* data, double a, double b) {
  constexpr int kStages = 20, kOrder = 5;
  constexpr double kEps = 3e-6;
  double h[kStages + 2], s[kStages + 2];
  double running = 0, ss = 0, dss = 0;
  h[1] = 1.0;
  for (int j = 1; j <= kStages; ++j) {
    s[j] = TrapezoidStage(f, data, a, b, j, running);
    if (j >= kOrder) {
      if (PolintRomberg(&h[j - kOrder], &s[j - kOrder], kOrder, 0.0, ss, dss) &&
          (std::fabs(dss) < kEps * std::fabs(ss) || dss == 0))
        return ss;
    }
    s[j + 1] = s[j];
    h[j + 1] = 0.25 * h[j];
  }
  return ss;
}

// ---------------------------------------------------------------- geometry

float& ExternalLoadingOilVolume() {
  static float volume = 0.01f;
  return volume;
}

void SetupExternalLoadingCell(ExternalLoadingGeometry& cell, double volume, double rN) {
  using G = ExternalLoadingGeometry;
  constexpr double L = G::kTaperLength, a = G::kNarrowing;
  cell.oilVolume = volume;
  // A volume below 0 is no oil at all: the root would be of a negative number.
  if (!(volume > 0)) {
    cell.oilDepth = 0;
  } else if (volume < G::kTaperVolume) {
    const double q = 1 - a;
    cell.oilDepth = (std::sqrt(q * q + 2 * a * volume / (L * G::kWidth * G::kDepth)) - q) * L / a;
  } else {
    cell.oilDepth = L;
  }
  cell.taperStart = rN - (L - cell.oilDepth);
}

double ExtLoadTaperWeight(const ExternalLoadingGeometry& cell, double r) {
  using G = ExternalLoadingGeometry;
  if (r < cell.taperStart) return 1.0;
  return 1 - (G::kNarrowing / G::kTaperLength) * (r - cell.taperStart);
}

namespace {

double Unit(double, const void*) { return 1.0; }

double Taper(double r, const void* data) {
  return ExtLoadTaperWeight(static_cast<const ElementIntegralContext*>(data)->cell, r);
}

bool Filled(const ElementIntegralContext& ctx) {
  return ctx.cell.oilVolume >= ExternalLoadingGeometry::kTaperVolume;
}

bool OutsideGrid(int N, int i, int j) {
  return i < 1 || j < 1 || i > N || j > N || std::abs(i - j) > 1;
}

// Hat k on the element [r_e, r_(e+1)]: value at x and slope.
double HatValue(const double* r, int e, int k, double x) {
  if (k == e) return (r[e + 1] - x) / (r[e + 1] - r[e]);
  if (k == e + 1) return (x - r[e]) / (r[e + 1] - r[e]);
  return 0;
}
double HatSlope(const double* r, int e, int k) {
  if (k == e) return -1 / (r[e + 1] - r[e]);
  if (k == e + 1) return 1 / (r[e + 1] - r[e]);
  return 0;
}

enum class Integrand { PhiPhi, DphiDphi, RPhiDphi, Phi };

struct IntegrandData {
  const ElementIntegralContext* ctx;
  Integrand kind;
  int e, i, j;
};

double Evaluate(double x, const void* data) {
  const IntegrandData& d = *static_cast<const IntegrandData*>(data);
  const ElementIntegralContext& ctx = *d.ctx;
  const double w = ctx.weight ? ctx.weight(x, &ctx) : 1.0;
  switch (d.kind) {
    case Integrand::PhiPhi:
      return w * HatValue(ctx.r, d.e, d.i, x) * HatValue(ctx.r, d.e, d.j, x);
    case Integrand::DphiDphi:
      return w * HatSlope(ctx.r, d.e, d.i) * HatSlope(ctx.r, d.e, d.j);
    case Integrand::RPhiDphi:
      return w * x * HatValue(ctx.r, d.e, d.i, x) * HatSlope(ctx.r, d.e, d.j);
    case Integrand::Phi:
      return w * HatValue(ctx.r, d.e, d.i, x);
  }
  return 0;
}

// Sum over the elements shared by hats i and j of the Romberg integral of
// the integrand. Each element is integrated on its own, so the hat kinks
// never fall inside an interval; the element holding r_g is split there.
double RombergOverElements(const ElementIntegralContext& ctx, Integrand kind, int i, int j) {
  const int N = ctx.N;
  if (OutsideGrid(N, i, j) || N < 2) return 0;
  const bool taper = ctx.geometry == PlanarGeometry::ExternalLoading;
  double sum = 0;
  for (int e = std::max(1, std::max(i, j) - 1); e <= std::min(i, j) && e < N; ++e) {
    IntegrandData data{&ctx, kind, e, i, j};
    const double a = ctx.r[e], b = ctx.r[e + 1], g = ctx.cell.taperStart;
    if (taper && a < g && g < b) {
      sum += RombergIntegral(Evaluate, &data, a, g) + RombergIntegral(Evaluate, &data, g, b);
    } else {
      sum += RombergIntegral(Evaluate, &data, a, b);
    }
  }
  return sum;
}

}  // namespace

void SelectIntegralWeight(ElementIntegralContext& ctx, double oilVolume) {
  if (ctx.geometry == PlanarGeometry::ExternalLoading) {
    SetupExternalLoadingCell(ctx.cell, oilVolume, ctx.r[ctx.N]);
    ctx.weight = Taper;
  } else {
    ctx.weight = Unit;
  }
}

double RombergElementIntegralPlainA(const ElementIntegralContext& ctx, int i, int j) {
  return RombergOverElements(ctx, Integrand::PhiPhi, i, j);
}
double RombergElementIntegralPlainB(const ElementIntegralContext& ctx, int i, int j) {
  return RombergOverElements(ctx, Integrand::DphiDphi, i, j);
}
double RombergElementIntegralPlainC(const ElementIntegralContext& ctx, int i, int j) {
  return RombergOverElements(ctx, Integrand::RPhiDphi, i, j);
}
double RombergNodeWeightIntegralPlain(const ElementIntegralContext& ctx, int i) {
  return RombergOverElements(ctx, Integrand::Phi, i, i);
}

double RombergElementIntegralA(const ElementIntegralContext& ctx, int i, int j) {
  switch (ctx.geometry) {
    case PlanarGeometry::Linear:
    case PlanarGeometry::Electrophoresis:
      return ExtLoadElementStatic(ctx.r, ctx.N, i, j);
    case PlanarGeometry::ExternalLoading:
      return ExtLoadElementA(ctx, i, j);
    case PlanarGeometry::UnitWeight:
      break;
  }
  return RombergElementIntegralPlainA(ctx, i, j);
}

double RombergElementIntegralB(const ElementIntegralContext& ctx, int i, int j) {
  switch (ctx.geometry) {
    case PlanarGeometry::Linear:
    case PlanarGeometry::Electrophoresis:
      return ExtLoadElementBody2(ctx.r, ctx.N, i, j);
    case PlanarGeometry::ExternalLoading:
      return ExtLoadElementB(ctx, i, j);
    case PlanarGeometry::UnitWeight:
      break;
  }
  return RombergElementIntegralPlainB(ctx, i, j);
}

double RombergElementIntegralC(const ElementIntegralContext& ctx, int i, int j) {
  switch (ctx.geometry) {
    case PlanarGeometry::Linear:
      return ExtLoadElementBody3(ctx.r, ctx.N, i, j);
    case PlanarGeometry::Electrophoresis:
      return ExtLoadElementConst(ctx.r, ctx.N, i, j);
    case PlanarGeometry::ExternalLoading:
      return ExtLoadElementC(ctx, i, j);
    case PlanarGeometry::UnitWeight:
      break;
  }
  return RombergElementIntegralPlainC(ctx, i, j);
}

double RombergNodeWeightIntegral(const ElementIntegralContext& ctx, int i) {
  switch (ctx.geometry) {
    case PlanarGeometry::Linear:
    case PlanarGeometry::Electrophoresis:
      return ExtLoadEndWeight(ctx.r, ctx.N, i);
    case PlanarGeometry::ExternalLoading:
      return ExtLoadNodeWeight(ctx, i);
    case PlanarGeometry::UnitWeight:
      break;
  }
  return RombergNodeWeightIntegralPlain(ctx, i);
}

// ---------------------------------------------------------------- planar closed forms

double ExtLoadElementStatic(const double* r, int N, int i, int j) {
  if (OutsideGrid(N, i, j) || N < 2) return 0;
  if (i != j) return std::fabs(r[j] - r[i]) / 6;
  if (i == 1) return (r[2] - r[1]) / 3;
  if (i == N) return (r[N] - r[N - 1]) / 3;
  return (r[i + 1] - r[i - 1]) / 3;
}

double ExtLoadElementBody2(const double* r, int N, int i, int j) {
  // Element by element, so that a grid of unequal steps gets its own slopes.
  if (OutsideGrid(N, i, j) || N < 2) return 0;
  if (i != j) return -1 / std::fabs(r[j] - r[i]);
  double v = 0;
  if (i > 1) v += 1 / (r[i] - r[i - 1]);
  if (i < N) v += 1 / (r[i + 1] - r[i]);
  return v;
}

double ExtLoadElementBody3(const double* r, int N, int i, int j) {
  if (OutsideGrid(N, i, j) || N < 2) return 0;
  if (i == j - 1) return r[i] / 3 + r[j] / 6;
  if (i == j + 1) return -r[j] / 6 - r[i] / 3;
  if (i == 1) return -r[1] / 3 - r[2] / 6;
  if (i == N) return r[N] / 3 + r[N - 1] / 6;
  return (r[i - 1] - r[i + 1]) / 6;
}

double ExtLoadElementConst(const double* r, int N, int i, int j) {
  (void)r;
  if (OutsideGrid(N, i, j) || N < 2) return 0;
  if (i == j - 1) return 0.5;
  if (i == j + 1) return -0.5;
  if (i == 1) return -0.5;
  if (i == N) return 0.5;
  return 0;
}

double ExtLoadEndWeight(const double* r, int N, int i) {
  if (i < 1 || i > N || N < 2) return 0;
  if (i == 1) return (r[2] - r[1]) / 2;
  if (i == N) return (r[N] - r[N - 1]) / 2;
  return (r[i + 1] - r[i - 1]) / 2;
}

namespace {

// Both hats end before the taper begins (strictly), or oil fills it.
bool AboveTaper(const ElementIntegralContext& ctx, int i, int j) {
  if (Filled(ctx)) return true;
  const int N = ctx.N;
  const double g = ctx.cell.taperStart;
  return i < N && j < N && ctx.r[i + 1] < g && ctx.r[j + 1] < g;
}

}  // namespace

double ExtLoadElementA(const ElementIntegralContext& ctx, int i, int j) {
  if (AboveTaper(ctx, i, j)) return ExtLoadElementStatic(ctx.r, ctx.N, i, j);
  return RombergElementIntegralPlainA(ctx, i, j);
}
double ExtLoadElementB(const ElementIntegralContext& ctx, int i, int j) {
  if (AboveTaper(ctx, i, j)) return ExtLoadElementBody2(ctx.r, ctx.N, i, j);
  return RombergElementIntegralPlainB(ctx, i, j);
}
double ExtLoadElementC(const ElementIntegralContext& ctx, int i, int j) {
  if (AboveTaper(ctx, i, j)) return ExtLoadElementBody3(ctx.r, ctx.N, i, j);
  return RombergElementIntegralPlainC(ctx, i, j);
}
double ExtLoadNodeWeight(const ElementIntegralContext& ctx, int i) {
  if (AboveTaper(ctx, i, i)) return ExtLoadEndWeight(ctx.r, ctx.N, i);
  return RombergNodeWeightIntegralPlain(ctx, i);
}

// ---------------------------------------------------------------- sector cell

double CalcElementIntegral2E(const double* r, int N, int i, int n) {
  return static_cast<double>(FEIntegralSedimentation(r, N, i, n));
}
double CalcElementIntegral2F(const double* r, int N, int i, int j, int n) {
  return static_cast<double>(FEIntegralMassNonUniform(r, N, i, j, n));
}
double CalcElementIntegral2G(const double* r, int N, int i, int j, int n) {
  return static_cast<double>(FEIntegralDiffusionNonUniform(r, N, i, j, n));
}
double CalcElementIntegral2H(const double* r, int N, int i, int j, int n) {
  return static_cast<double>(FEIntegralSedimentationNonUniform(r, N, i, j, n));
}

double CalcElementIntegral1(const double* xi, int N, int i) { return CalcElementIntegral2E(xi, N, i, N); }
double CalcElementIntegral2I(const double* xi, int N, int i, int j) {
  return CalcElementIntegral2F(xi, N, i, j, N);
}
double CalcElementIntegral2J(const double* xi, int N, int i, int j) {
  return CalcElementIntegral2G(xi, N, i, j, N);
}
double CalcElementIntegral2K(const double* xi, int N, int i, int j) {
  return CalcElementIntegral2H(xi, N, i, j, N);
}

namespace {
// Frame-motion velocity at node k: interior nodes move, the ends do not.
double V(const double* xi, int N, int k) { return (k == 1 || k == N) ? 0.0 : xi[k]; }
}  // namespace

double CalcElementIntegral2L(const double* xi, int N, int i, int j) {
  if (i < 1 || j < 1 || i > N || j > N || std::abs(i - j) > 1) return 0;
  // Sum over the elements [a, b] that carry both hats; i is the test hat,
  // j the differentiated one.
  double sum = 0;
  for (int e = std::max(1, std::max(i, j) - 1); e <= std::min(i, j) && e < N; ++e) {
    const double a = xi[e], b = xi[e + 1];
    const double va = V(xi, N, e), vb = V(xi, N, e + 1);
    const double pa = (va * (3 * a + b) + vb * (a + b)) / 12;
    const double pb = (va * (a + b) + vb * (a + 3 * b)) / 12;
    const bool ia = i == e, ja = j == e;
    if (ia && ja) sum += pa;
    else if (ia && !ja) sum -= pa;
    else if (!ia && ja) sum += pb;
    else sum -= pb;
  }
  return sum;
}

namespace {

// A factor of a three-hat integrand on one element: the hat of a node,
// its value or its slope.
struct HatFactor {
  int node;
  bool slope;
};

// Exact integral over the elements shared by three hats of
// r^power (u if motion) f_1 f_2 f_3, by three-point Gauss quadrature per
// element (the integrands are polynomials of degree <= 5 there).
long double ThreeHatIntegral(const double* xi, int N, int power, bool motion, HatFactor f1,
                             HatFactor f2, HatFactor f3) {
  const int lo = std::min({f1.node, f2.node, f3.node}), hi = std::max({f1.node, f2.node, f3.node});
  if (lo < 1 || hi > N || hi - lo > 1 || N < 2) return 0;
  static const long double g[3] = {-0.774596669241483377035853079956479922L, 0.0L,
                                   0.774596669241483377035853079956479922L};
  static const long double w[3] = {5.0L / 9, 8.0L / 9, 5.0L / 9};
  auto velocity = [&](int k) -> long double { return k == 1 || k == N ? 0.0L : xi[k]; };
  long double sum = 0;
  for (int e = std::max(1, hi - 1); e <= lo && e < N; ++e) {
    const long double a = xi[e], b = xi[e + 1], h = b - a, mid = (a + b) / 2, half = h / 2;
    auto factor = [&](HatFactor f, long double x) -> long double {
      if (f.node == e) return f.slope ? -1 / h : (b - x) / h;
      if (f.node == e + 1) return f.slope ? 1 / h : (x - a) / h;
      return 0;
    };
    for (int q = 0; q < 3; ++q) {
      const long double x = mid + half * g[q];
      long double v = factor(f1, x) * factor(f2, x) * factor(f3, x);
      for (int p = 0; p < power; ++p) v *= x;
      if (motion) v *= (velocity(e) * (b - x) + velocity(e + 1) * (x - a)) / h;
      sum += w[q] * half * v;
    }
  }
  return sum;
}

}  // namespace

double CalcElementIntegral3A(const double* xi, int N, int i, int j, int k) {
  return static_cast<double>(ThreeHatIntegral(xi, N, 2, false, {i, true}, {j, false}, {k, false}));
}
double CalcElementIntegral3B(const double* xi, int N, int i, int j, int k) {
  return static_cast<double>(ThreeHatIntegral(xi, N, 1, false, {i, true}, {j, true}, {k, false}));
}
double CalcElementIntegral3C(const double* xi, int N, int i, int j, int k) {
  return static_cast<double>(-ThreeHatIntegral(xi, N, 1, true, {i, false}, {j, true}, {k, false}) -
                             ThreeHatIntegral(xi, N, 1, true, {i, false}, {j, false}, {k, true}));
}
double CalcElementIntegral3D(const double* xi, int N, int i, int j, int k) {
  return static_cast<double>(ThreeHatIntegral(xi, N, 1, false, {i, false}, {j, false}, {k, false}));
}
double CalcElementIntegral3E(const double* xi, int N, int i, int j, int k) {
  return static_cast<double>(ThreeHatIntegral(xi, N, 1, false, {i, true}, {j, true}, {k, false}) +
                             ThreeHatIntegral(xi, N, 1, false, {i, true}, {j, false}, {k, true}));
}
