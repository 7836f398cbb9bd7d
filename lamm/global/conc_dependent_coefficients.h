#pragma once
// Local sedimentation and diffusion coefficients of the one species that the
// global-array concentration-dependent Lamm solvers simulate, as functions
// of the local total concentration c (signal units, or molar for CsCl):
//
//   monomer-dimer   x = (sqrt(1 + 4 K c) - 1)/2,  s = (s1 + x s2)/(1 + x),
//                   D = (D1 + 2x D2)/(1 + 2x); with dimer nonideality s /= 1 + ks c
//   monomer-trimer  K t^3 + t = c, u = K t^2,  s = (s1 + u s2)/(1 + u),
//                   D = (D1 + 3u D2)/(1 + 3u)
//   nonideal        s = s1/(1 + ks c), D = D1 (1 + kd c)   (linear)
//                   s = s1 fs(c/scale), D = D1 fd(c/scale)  (hard spheres)
//                   CsCl or polynomial s(c), D(c)           (cosolute)
//   three states    tabulated weight averages (monomer-dimer-tetramer,
//                   monomer-tetramer-octamer)
//
// s in S, D in cm^2/s. The species record is filled by the model evaluation
// (from the self-association or nonideal model, or from component 1 with
// "c1 nonideal") and read by both solvers.
#include <cstdint>
#include <string>
#include <vector>

#include "lamm/coefficients/association_models.h"
#include "lamm/solvent_model.h"
#include "numerics/linear_solvers.h"

struct ConcDependentSpecies {
  enum class Kind { Dimer, Trimer, Nonideal, DimerTetramer, TetramerOctamer };
  Kind kind = Kind::Nonideal;
  double s1 = 0, s2 = 0, D1 = 0, D2 = 0;  // monomer and oligomer (or s0, D0)
  float logK = 0;                         // log10 K of the two-state models
  float logKs = 0, logKd = 0;             // log10 ks, log10 kd (or k, tau of hard spheres)
  std::uint8_t repulsive = 1;             // clear: ks and kd are negative
  std::uint8_t hardSphere = 0;
  std::uint8_t dimerNonideal = 0;
  std::uint8_t polynomialSD = 0;          // cosolute s(c), D(c) power series
  std::uint8_t csClSD = 0;                // cosolute: built-in CsCl at 25 degC (molar)
  double scale = 1.0;                     // signal per mg/ml
  // Three states: s and D of the monomer and the two oligomers, log10 Ka, Kb.
  double s3[4] = {}, D3[4] = {};
  float logKa = 0, logKb = 0;
  float scheme = 1.0f;                    // 1 predictor, 2 averaged, 3 midpoint
  // Solvent of the hard-sphere factors.
  float vbar = 0.73f, density = 1.0f, temperature = 293.15f, viscosity = 1.0f;
};
ConcDependentSpecies& CurrentConcDependentSpecies();

// ---------------------------------------------------------------- cosolute

// CsClSedimentationCoefficient25C, CsClDiffusionCoefficient25C and
// EvalPolynomial: lamm/solvent_model.h.

// The s(c) and D(c) power series of a nonideal cosolute, read from one
// "%f" value per line (coefficient of c^0 first).
struct CosoluteCoefficients {
  bool csClAt25C = false;
  std::string sPath, dPath;              // NonidealScFile, NonidealDcFile
  std::vector<double> s, D;              // 1-based, entry 0 unused
  int sLength() const { return s.empty() ? 0 : static_cast<int>(s.size()) - 1; }
  int dLength() const { return D.empty() ? 0 : static_cast<int>(D.size()) - 1; }
};
CosoluteCoefficients& CurrentCosoluteCoefficients();
// Frees both series and, unless CsCl is chosen, reads them again.
void ResetCosoluteGradient();

// ---------------------------------------------------------------- evaluation

// The coefficient rule of one run, set up from the species record.
class CConcDependentCoefficients {
 public:
  // Derived constants. Returns 0, or 4 for an unknown scheme.
  int Setup(const ConcDependentSpecies& sp);
  // s and D at total concentration c; false when the nonideality is out of
  // range there (1 + ks c <= 0 or 1 + kd c <= 0, or an unusable hard-sphere
  // factor).
  bool Value(double c, double& s, double& D);
  // The same with the monomer-dimer nonideality left out.
  bool AssociationValue(double c, double& s, double& D);
  // Divisor 1 + ks c of the monomer-dimer nonideality (1 without it).
  double DimerNonidealDivisor(double c) const;
  bool DimerNonideal() const { return dimerKs_ != 0; }

  // The per-node rules on nodes 1..N; false when a node is out of range.
  // Plain: at c. Averaged: the mean of the stored s, D and the values at
  // c1 (with the dimer nonideality: the association values at c0 and c1
  // averaged, divided at their mean concentration). Midpoint: the mean of
  // the values at c0 and c1 (the dimer nonideality divided at c1).
  bool Plain(const double* c, double* s, double* D, int N);
  bool Averaged(const double* c0, const double* c1, double* s, double* D, int N);
  bool Midpoint(const double* c0, const double* c1, double* s, double* D, int N);

  double ks = 0, kd = 0;  // per signal unit (linear); k, tau (hard spheres)
  bool linear = false, cosolute = false;

 private:
  ConcDependentSpecies sp_;
  double K_ = 0, dimerKs_ = 0;
  NonidealityModel hard_;
  ThreeSpeciesScheme three_;
  CAssociationTable table_;
};

