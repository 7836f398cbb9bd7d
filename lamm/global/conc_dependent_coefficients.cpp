#include "lamm/global/conc_dependent_coefficients.h"

#include <cmath>
#include <limits>

#include "numerics/cvector.h"

ConcDependentSpecies& CurrentConcDependentSpecies() {
  static ConcDependentSpecies species;
  return species;
}

// ------------------------------------------------------------ cosolute

CosoluteCoefficients& CurrentCosoluteCoefficients() {
  static CosoluteCoefficients coefficients;
  return coefficients;
}

namespace {
void ReadSeries(const std::string& path, std::vector<double>& out) {
  out.clear();
  if (path.empty()) return;
  CVector v;
  if (!v.ReadFromFile(path.c_str()) || v.Count() == 0) return;
  out.assign(v.Count() + 1, 0.0);
  for (unsigned k = 0; k < v.Count(); ++k) out[k + 1] = v[k];
}
}  // namespace

void ResetCosoluteGradient() {
  CosoluteCoefficients& cc = CurrentCosoluteCoefficients();
  cc.s.clear();
  cc.D.clear();
  if (cc.csClAt25C) return;
  ReadSeries(cc.dPath, cc.D);
  ReadSeries(cc.sPath, cc.s);
}

// ------------------------------------------------------------ evaluation

int CConcDependentCoefficients::Setup(const ConcDependentSpecies& sp) {
  sp_ = sp;
  linear = cosolute = false;
  ks = kd = 0;
  dimerKs_ = 0;
  table_.Free();
  if (!(sp.scheme == 1.0f || sp.scheme == 2.0f || sp.scheme == 3.0f)) return 4;
  K_ = std::pow(10.0, static_cast<double>(sp.logK));
  using Kind = ConcDependentSpecies::Kind;
  switch (sp.kind) {
    case Kind::Dimer:
      if (sp.dimerNonideal) dimerKs_ = std::pow(10.0, static_cast<double>(sp.logKs));
      break;
    case Kind::Trimer:
      break;
    case Kind::Nonideal:
      if (sp.polynomialSD || sp.csClSD) {
        cosolute = true;
        CurrentCosoluteCoefficients().csClAt25C = sp.csClSD != 0;
        ResetCosoluteGradient();
      } else if (sp.hardSphere) {
        ks = std::fabs(sp.logKs);
        kd = std::fabs(sp.logKd);
        hard_ = NonidealityModel{};
        hard_.on = hard_.hardSphere = true;
        hard_.k = static_cast<float>(ks);
        hard_.tau = static_cast<float>(kd);
        hard_.scale = sp.scale > 0 ? sp.scale : 1.0;
        hard_.vbar = sp.vbar;
        hard_.rho = sp.density;
        hard_.T = sp.temperature;
        hard_.eta = sp.viscosity;
      } else {
        linear = true;
        const double scale = sp.scale > 0 ? sp.scale : 1.0;
        ks = static_cast<float>(std::pow(10.0, static_cast<double>(sp.logKs)) / scale);
        kd = static_cast<float>(std::pow(10.0, static_cast<double>(sp.logKd)) / scale);
        if (!sp.repulsive) {
          ks = -ks;
          kd = -kd;
        }
      }
      break;
    case Kind::DimerTetramer:
    case Kind::TetramerOctamer: {
      three_ = ThreeSpeciesScheme{};
      three_.tetramerOctamer = sp.kind == Kind::TetramerOctamer;
      three_.K2 = std::pow(10.0, static_cast<double>(sp.logKa));
      three_.K3 = std::pow(10.0, static_cast<double>(sp.logKb));
      three_.s1 = static_cast<float>(sp.s3[1]);
      three_.s2 = static_cast<float>(sp.s3[2]);
      three_.s3 = static_cast<float>(sp.s3[3]);
      three_.D1 = static_cast<float>(sp.D3[1]);
      three_.D2 = static_cast<float>(sp.D3[2]);
      three_.D3 = static_cast<float>(sp.D3[3]);
      table_.Build(three_, 1e-5, 100.0, 1000, NonidealityModel{});
      break;
    }
  }
  return 0;
}

bool CConcDependentCoefficients::AssociationValue(double c, double& s, double& D) {
  using Kind = ConcDependentSpecies::Kind;
  const float s1 = static_cast<float>(sp_.s1), s2 = static_cast<float>(sp_.s2);
  const float D1 = static_cast<float>(sp_.D1), D2 = static_cast<float>(sp_.D2);
  switch (sp_.kind) {
    case Kind::Dimer:
      DimerAverages(std::fmax(c, 0.0), K_, s1, s2, D1, D2, s, D);
      return true;
    case Kind::Trimer: {
      // Cardano's formula divides by K^3: a constant so small that K^3
      // underflows is a monomer alone, one so large that it overflows a trimer.
      const double K3 = K_ * K_ * K_;
      if (!(K3 > std::numeric_limits<double>::min())) {
        s = sp_.s1;
        D = sp_.D1;
      } else if (!std::isfinite(K3)) {
        s = sp_.s2;
        D = sp_.D2;
      } else {
        TrimerAverages(std::fmax(c, 0.0), K_, s1, s2, D1, D2, s, D);
      }
      return true;
    }
    case Kind::DimerTetramer:
    case Kind::TetramerOctamer:
      table_.Lookup(c, s, D);
      return true;
    case Kind::Nonideal:
      break;
  }
  if (cosolute) {
    const CosoluteCoefficients& cc = CurrentCosoluteCoefficients();
    if (cc.csClAt25C) {
      s = CsClSedimentationCoefficient25C(c);
      D = CsClDiffusionCoefficient25C(c);
    } else if (cc.sLength() > 0 && cc.dLength() > 0) {
      s = EvalPolynomial(cc.s.data(), cc.sLength(), c);
      D = EvalPolynomial(cc.D.data(), cc.dLength(), c);
    } else {
      s = sp_.s1;
      D = sp_.D1;
    }
    return std::isfinite(s) && std::isfinite(D);
  }
  if (linear) {
    const float fs = static_cast<float>(ks * c + 1.0), fd = static_cast<float>(kd * c + 1.0);
    // 1 + ks c <= 0 is the pole of s0/(1 + ks c); 1 + kd c <= 0 a negative D.
    if (!(fs > 0) || !(fd > 0)) return false;
    s = static_cast<float>(sp_.s1 / fs);
    D = static_cast<float>(fd * sp_.D1);
    return true;
  }
  double fs, fd;
  if (!hard_.HardSphereFactors(c, static_cast<float>(sp_.s1), static_cast<float>(sp_.D1), fs, fd))
    return false;
  s = sp_.s1 * fs;
  D = sp_.D1 * fd;
  return true;
}

double CConcDependentCoefficients::DimerNonidealDivisor(double c) const {
  return dimerKs_ != 0 ? dimerKs_ * c + 1.0 : 1.0;
}

bool CConcDependentCoefficients::Value(double c, double& s, double& D) {
  if (!AssociationValue(c, s, D)) return false;
  if (dimerKs_ == 0) return true;
  const double d = DimerNonidealDivisor(c);
  if (!(d > 0)) return false;
  s /= d;
  return true;
}

bool CConcDependentCoefficients::Plain(const double* c, double* s, double* D, int N) {
  for (int i = 1; i <= N; ++i)
    if (!Value(c[i], s[i], D[i])) return false;
  return true;
}

bool CConcDependentCoefficients::Averaged(const double* c0, const double* c1, double* s,
                                          double* D, int N) {
  for (int i = 1; i <= N; ++i) {
    double sv, Dv;
    if (dimerKs_ == 0) {
      if (!Value(c1[i], sv, Dv)) return false;
      s[i] = (s[i] + sv) / 2;
      D[i] = (D[i] + Dv) / 2;
      continue;
    }
    double s0, D0;
    AssociationValue(c0[i], s0, D0);
    AssociationValue(c1[i], sv, Dv);
    const double d = DimerNonidealDivisor((c0[i] + c1[i]) / 2);
    if (!(d > 0)) return false;
    s[i] = (s0 + sv) / 2 / d;
    D[i] = (D[i] + Dv) / 2;
  }
  return true;
}

bool CConcDependentCoefficients::Midpoint(const double* c0, const double* c1, double* s,
                                          double* D, int N) {
  for (int i = 1; i <= N; ++i) {
    double s0, D0, sv, Dv;
    if (!AssociationValue(c0[i], s0, D0) || !AssociationValue(c1[i], sv, Dv)) return false;
    const double d = DimerNonidealDivisor(c1[i]);
    if (!(d > 0)) return false;
    s[i] = (s0 + sv) / 2 / d;
    D[i] = (D0 + Dv) / 2;
  }
  return true;
}

