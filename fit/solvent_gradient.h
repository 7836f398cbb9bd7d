#pragma once
// The inhomogeneous solvent of the program: its one settings record, the
// global-array solvers' cosolute and species factors, the conversions of
// the discrete species to 20 degC water and back, and the hand-over of the
// model to solver objects. The physics is in lamm/solvent_model.h.
#include <string>
#include <vector>

#include "lamm/global/global_solvent.h"
#include "lamm/solvent_model.h"


// Reads one coefficient per line into a 1-based vector; false (and empty)
// when the file cannot be read.
bool ReadCoefficientList(const std::string& path, std::vector<double>& out);

// Viscosity (Pa s) and density (g/ml) of the cosolute solution at c (M)
// with the program's coefficient lists.
double ViscosityAtConcentration(double c);
double DensityAtConcentration(double c);
// The factor that takes s at 20 degC water to the uniform buffer
// (ratio 1/eta_rel and buoyancy of the buffer), v the macromolecule's vbar
// in the buffer.
double StandardConditionsSFactor(const SolventGradientSettings& sg, double vbar);

// A problem of the settings that would divide by zero (density or
// viscosity not positive, no buoyancy, too small a cosolute grid), as the
// message to show; empty when they can be used.
std::string SolventGradientProblem(const SolventGradientSettings& sg, double vbar);

// Fills e and q for the current settings, vbar of the solution conditions,
// the meniscus of the model and the rotor speed of the first scan.
void InitLocalSDFactors(const double* r, int N);
// The same relative to the buffer's mean factors, for a solver that runs
// with the buffer's s and D (the moving frame).
void InitLocalSDFactorsRelativeToBuffer(const double* r, int N);
// Dynamic gradient: e and q from the cosolute concentration cs[1..N]
// interpolated onto the species' radii.
void UpdateLocalSDFactorsFrom(const double* cs, int N);
void UpdateLocalSDFactors(const double* r, int N);
// x q e with the uniform buffer's factors (1 without the gradient).
double LocalSolventDensityViscosity(double x);
// s and D of a species held at 20 degC water, in the uniform buffer when
// the model is on (unchanged when it is off).
double BufferSedimentationCoefficient(double s20w);
double BufferDiffusionCoefficient(double D20w);

// Element integrals on r[1..N] weighted by the local factors (count N'):
// A(i, j) = int r e phi_i' phi_j', B(i, j) = int r^2 e q phi_i' phi_j.
double DensgradElementA(int i, int j, const double* r, int N);
double DensgradElementB(int i, int j, const double* r, int N);
double DensgradEndTermD(const double* r, int k);
double DensgradEndTermS(const double* r, int k);

// Converts the discrete species' s[1..n] and D[1..n] between the buffer and
// 20 degC water; D <= 0 becomes 0.
void ConvertSpeciesToStandard(const SolventGradientSettings& sg, double vbar, float* s, float* D, int n);
void ConvertSpeciesToExperimental(const SolventGradientSettings& sg, double vbar, float* s, float* D, int n);

// Hands the buffer to a solver object (nothing while the model is off); the
// object runs the species with the buffer's mean factors.
class CLammIdeal;
void ApplySolventGradientToSolver(CLammIdeal& L, double vbar);
// Reads the cosolute's s(c), D(c) lists once for a run of solver objects
// (on the user-interface thread, before worker threads start); false, with
// one message and the run stopped, when they cannot be read.
bool PrepareSolventForSolverObjects();

// The fit engine's vbar entry while the model is on and vbar is fitted.
struct FitOptionEntries;
void ProvideSolventFitOptions(FitOptionEntries& entries);

// Connects the static-grid solver's solvent branches to this model.
void InstallSolventGradientHooks();

// ------------------------------------------------------------ cosolute
// Start profile and coefficients; false when the run cannot go on (a list
// file is missing: reported once, and the run is stopped).
bool InitCosoluteGradient();
void SetCosoluteTime(double t);
// Advances the cosolute to the run state's clock.
void StepCosoluteGradient();
// Advances by dt at rpm (used by the above and by the tests).
bool AdvanceCosolute(double dt, double rpm);
// The cosolute concentration at radius x (linear between nodes).
double CosoluteConcentrationAt(double x);
// Forgets which missing list files were already reported.
void ResetSolventListNotes();
// The sedimenting cosolute at the time of scan j: drawn in blue over the
// data plot (with its display switch, when draw is set) and written (with
// its file switch) as a scan file of the name of scan j's file in the temp
// folder, described "component 2". Nothing while no cosolute is simulated.
void ShowCosoluteAtScan(int j, bool draw);
