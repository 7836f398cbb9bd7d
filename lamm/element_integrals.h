#pragma once
// Element integrals of linear hat functions phi_i on a radial grid
// r_1 < ... < r_N (cm, 1-based arrays), for the finite-element Lamm solvers
// whose cell is not a sector: the rectangular cell of the linear Lamm
// equation and of electrophoresis (cross-section weight 1) and the external
// loading cell, whose cross-section narrows linearly over a taper near the
// bottom. Also the frame-radius forms of the moving-frame and association
// solvers (weight r or r^2, a sector-shaped cell).
//
// Every routine returns 0 for an index outside 1..N and for index pairs or
// triples whose hats do not overlap. Nothing here keeps state between
// calls: the geometry travels in an ElementIntegralContext.

// ---------------------------------------------------------------- Romberg

// A weight or integrand w(r) with its caller's data.
using RadialFunction = double (*)(double r, const void* data);

// n-th stage of the extended trapezoid rule on [a, b]; s carries the
// running sum from stage n - 1 (stages are called in order 1, 2, 3, ...).
double TrapezoidStage(RadialFunction f, const void* data, double a, double b, int n, double& s);
// Neville interpolation of (xa[1..n], ya[1..n]) at x: value y and the last
// correction dy as its error. False (y, dy untouched) on equal abscissae.
bool PolintRomberg(const double* xa, const double* ya, int n, double x, double& y, double& dy);
// Romberg integration of f over [a, b], order 10: trapezoid stages
// extrapolated to step 0 until the estimated error is below 3e-6 of the
// value (or exactly 0); after 20 stages the last extrapolation.
double RombergIntegral(RadialFunction f, const void* data, double a, double b);

// ---------------------------------------------------------------- geometry

// Cell geometries of the planar Lamm solvers. Electrophoresis drives the
// species with a constant velocity instead of the centrifugal field.
enum class PlanarGeometry : unsigned char { Linear, ExternalLoading, UnitWeight, Electrophoresis };

// The external loading cell: the cross-section (width w, depth t) shrinks
// linearly by the fraction a over the taper length L at the cell bottom; the
// oil below the sample (volume V, ml) fills the narrowest part of the taper.
struct ExternalLoadingGeometry {
  static constexpr double kTaperLength = 0.0373;  // cm
  static constexpr double kNarrowing = 0.311;
  static constexpr double kTaperVolume = 0.0121;  // ml, L w t (1 - a/2)
  static constexpr double kWidth = 0.32;          // cm
  static constexpr double kDepth = 1.2;           // cm
  double oilVolume = 0;                 // ml
  double oilDepth = 0;                  // d, cm of oil inside the taper
  double taperStart = kTaperLength;     // r_g, cm
};

// The oil volume (ml) the user gave with the "External Loading Cell" model.
float& ExternalLoadingOilVolume();

// d and r_g for V and the last grid radius rN: d solves
// (a / 2L) d^2 + (1 - a) d = V / (w t) while V < V_t (V <= 0: d = 0), and
// r_g = rN - (L - d).
void SetupExternalLoadingCell(ExternalLoadingGeometry& cell, double volume, double rN);
// Cross-section weight: 1 above r_g, 1 - (a / L)(r - r_g) below it.
double ExtLoadTaperWeight(const ExternalLoadingGeometry& cell, double r);

struct ElementIntegralContext {
  const double* r = nullptr;  // node radii r[1..N]
  int N = 0;
  PlanarGeometry geometry = PlanarGeometry::Linear;
  ExternalLoadingGeometry cell;  // set by SelectIntegralWeight
  RadialFunction weight = nullptr;
};

// Installs the weight of the context's geometry (for the external loading
// cell after placing its taper for the oil volume given).
void SelectIntegralWeight(ElementIntegralContext& ctx, double oilVolume = 0);

// The integrals with the geometry's dispatch: closed forms where the weight
// is constant, Romberg integration on elements that touch the taper.
double RombergElementIntegralA(const ElementIntegralContext& ctx, int i, int j);  // w phi_i phi_j
double RombergElementIntegralB(const ElementIntegralContext& ctx, int i, int j);  // w phi_i' phi_j'
double RombergElementIntegralC(const ElementIntegralContext& ctx, int i, int j);  // w r phi_i phi_j'
double RombergNodeWeightIntegral(const ElementIntegralContext& ctx, int i);       // w phi_i
// The same by Romberg integration of the installed weight, element by
// element (the element holding r_g split there).
double RombergElementIntegralPlainA(const ElementIntegralContext& ctx, int i, int j);
double RombergElementIntegralPlainB(const ElementIntegralContext& ctx, int i, int j);
double RombergElementIntegralPlainC(const ElementIntegralContext& ctx, int i, int j);
double RombergNodeWeightIntegralPlain(const ElementIntegralContext& ctx, int i);

// Constant cross-section closed forms on r[1..N].
double ExtLoadElementStatic(const double* r, int N, int i, int j);  // phi_i phi_j
double ExtLoadElementBody2(const double* r, int N, int i, int j);   // phi_i' phi_j'
double ExtLoadElementBody3(const double* r, int N, int i, int j);   // r phi_i phi_j'
double ExtLoadElementConst(const double* r, int N, int i, int j);   // phi_i phi_j'
double ExtLoadEndWeight(const double* r, int N, int i);             // phi_i

// External loading cell: closed form while both hats end above the taper
// (and for an oil volume that fills it), Romberg integration otherwise.
double ExtLoadElementA(const ElementIntegralContext& ctx, int i, int j);
double ExtLoadElementB(const ElementIntegralContext& ctx, int i, int j);
double ExtLoadElementC(const ElementIntegralContext& ctx, int i, int j);
double ExtLoadNodeWeight(const ElementIntegralContext& ctx, int i);

// ---------------------------------------------------------------- sector cell

// Node radii, the grid taken to end at node n (n >= N: the whole grid).
double CalcElementIntegral2E(const double* r, int N, int i, int n);         // r phi_i
double CalcElementIntegral2F(const double* r, int N, int i, int j, int n);  // r phi_i phi_j
double CalcElementIntegral2G(const double* r, int N, int i, int j, int n);  // r phi_i' phi_j'
double CalcElementIntegral2H(const double* r, int N, int i, int j, int n);  // r^2 phi_i' phi_j

// Frame radii xi[1..N]. In the motion forms u is the frame velocity field
// (per unit rate): piecewise linear with u_1 = u_N = 0 and u_k = xi_k inside.
double CalcElementIntegral1(const double* xi, int N, int i);          // r phi_i
double CalcElementIntegral2I(const double* xi, int N, int i, int j);  // r phi_i phi_j
double CalcElementIntegral2J(const double* xi, int N, int i, int j);  // r phi_i' phi_j'
double CalcElementIntegral2K(const double* xi, int N, int i, int j);  // r^2 phi_i' phi_j
double CalcElementIntegral2L(const double* xi, int N, int i, int j);  // -r u phi_i phi_j'
double CalcElementIntegral3A(const double* xi, int N, int i, int j, int k);  // r^2 phi_i' phi_j phi_k
double CalcElementIntegral3B(const double* xi, int N, int i, int j, int k);  // r phi_i' phi_j' phi_k
double CalcElementIntegral3C(const double* xi, int N, int i, int j, int k);  // -r u phi_i (phi_j phi_k)'
double CalcElementIntegral3D(const double* xi, int N, int i, int j, int k);  // r phi_i phi_j phi_k
double CalcElementIntegral3E(const double* xi, int N, int i, int j, int k);  // r phi_i' (phi_j phi_k)'
