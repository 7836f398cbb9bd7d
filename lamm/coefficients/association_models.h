#pragma once
// Weight-average sedimentation and diffusion coefficients of rapidly
// self-associating systems and of nonideal species, as functions of the
// local total concentration c (signal or mg/ml units).
//
//   monomer-dimer:  c = x + K x^2,  m = K x = (sqrt(4 K c + 1) - 1)/2,
//                   s = (m s2 + s1)/(m + 1),  D = (2m D2 + D1)/(2m + 1)
//   monomer-trimer: c = t + K t^3,  u = K t^2,
//                   s = (u s2 + s1)/(u + 1),  D = (3u D2 + D1)/(3u + 1)
//   three species:  c(x) = x + K2 x^a + K3 x^b with (a, b) = (4, 8) or (2, 4),
//                   s and D the weight averages over the three states.
// s in S, D in cm^2/s, K in 1/(concentration unit)^(n-1).
#include <vector>

// Nonideality of the total concentration: linear s = s0 (1 - ks c),
// D = D0 (1 + kd c), or the hard-sphere factors (k, tau) of the reference
// species, with c divided by the concentration scale first.
struct NonidealityModel {
  bool on = false, hardSphere = false;
  double ks = 0, kd = 0;  // linear: per concentration unit (scale already applied)
  float k = 0, tau = 0;   // hard spheres: volume correction, Baxter stickiness
  double scale = 1.0;
  float vbar = 0.73f, rho = 1.0f, T = 20.0f, eta = 1.0f;  // solvent of the factors

  // fs = s(c)/s0, fd = D(c)/D0 at total concentration c. The linear s factor
  // stops at 0 (no flotation from crowding). False when a factor is out of
  // range (1 + kd c <= 0, hard-sphere factors marked -1 or not finite).
  bool Factors(double c, float s0, float D0, double& fs, double& fd) const {
    if (!on) {
      fs = fd = 1.0;
      return true;
    }
    if (hardSphere) return HardSphereFactors(c, s0, D0, fs, fd);
    const float s = static_cast<float>(1.0 - ks * c);
    const float d = static_cast<float>(kd * c + 1.0);
    fs = s > 0 ? s : 0.0;
    fd = d;
    return d > 0 && d <= 3.4e38f;  // also false for a value that is not a number
  }
  bool HardSphereFactors(double c, float s0, float D0, double& fs, double& fd) const;

 private:
  // Volume fraction per unit of c / scale for the reference species last used.
  mutable float refS0_ = 0, refD0_ = 0;
  mutable double phiPerUnit_ = -1;
};

// Real root t of K t^3 + t = x (Cardano's formula, polished by Newton steps).
double AssociationCubicRoot(double x, double K);

void DimerAverages(double c, double K, float s1, float s2, float D1, float D2, double& s,
                   double& D);
void TrimerAverages(double c, double K, float s1, float s2, float D1, float D2, double& s,
                    double& D);

struct ThreeSpeciesScheme {
  bool tetramerOctamer = true;  // else monomer-dimer-tetramer
  double K2 = 0, K3 = 0;
  float s1 = 0, s2 = 0, s3 = 0, D1 = 0, D2 = 0, D3 = 0;
};
double AssociationTotalFromMonomer(const ThreeSpeciesScheme& p, double x);
double AssociationWeightedS(const ThreeSpeciesScheme& p, double x);
double AssociationWeightedD(const ThreeSpeciesScheme& p, double x);

// Table of (x, c(x), s(x), D(x)) on a geometric monomer grid, looked up by
// total concentration with linear interpolation.
class CAssociationTable {
 public:
  // False when a row's nonideality factor is out of range.
  bool Build(const ThreeSpeciesScheme& p, double xMin, double xMax, int rows,
             const NonidealityModel& nonideal);
  void Lookup(double c, double& s, double& D);
  int Rows() const { return static_cast<int>(x_.size()) - 1; }
  void Free();

 private:
  std::vector<double> x_, c_, s_, D_;  // 1-based
  int remembered_ = 1;
};
