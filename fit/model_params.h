#pragma once
#include <cstdint>
// The model's named quantities (ModelParams), the solution conditions, the
// working copies of the self-association and non-ideal models, and the packed
// fit vector P[1..34] with its fit flags F[1..34]. The slot numbers are the one
// contract between the parameter dialog, the parameter file, the model
// evaluation and the fit engine:
//   1-4   mass-or-D of components 1-4 (D in 1e-7 cm^2/s, or M in g/mol)
//   5-8   s of components 1-4 (Svedberg)
//   9-12  loading concentration of components 1-4
//   13    meniscus (cm)      14 bottom (cm)      15 baseline (OD)
//   16-19 extra value of components 1-4
//   20-22 values 20-22      23 zone value      24 start time (s)
//   25-34 terms 1-10 of the multiple-species non-ideal model
// The continuous-distribution family reuses the same slots for its own
// quantities (smin, confidence level, resolution, f/f0, ...).
//
// All arrays are one-based; index 0 is never read.

constexpr int kComponentSlots = 4;
constexpr int kParameterSlots = 34;
constexpr int kNonidealTerms = 10;
// The nonideal terms as the program starts (one-based).
constexpr float kInitialNonidealTerms[kNonidealTerms + 1] = {0, 6.5f, 0, 0, 1.0f, 1.0f, 0, 0, 1.0f, 1.0f, 0};

struct ModelParams {
  int componentCount = kComponentSlots;
  int parameterCount = kParameterSlots;

  int included[kComponentSlots + 1] = {};
  int concentrationFit[kComponentSlots + 1] = {};
  float concentration[kComponentSlots + 1] = {};
  int massOrDFit[kComponentSlots + 1] = {};
  float massOrD[kComponentSlots + 1] = {};  // D in 1e-7 cm^2/s, or M in g/mol
  int sFit[kComponentSlots + 1] = {};
  float s[kComponentSlots + 1] = {};        // Svedberg
  int extraFit[kComponentSlots + 1] = {};
  // The fit ticks (concentration, M or D, s) of a discrete species taken
  // out of the model: they come back with the species.
  int heldFit[kComponentSlots + 1][3] = {};
  float extra[kComponentSlots + 1] = {};

  unsigned char baselineLinear = 0;        // baseline solved as a linear amplitude
  unsigned char concentrationsLinear = 0;  // concentrations solved as linear amplitudes
  int baselineFit = 0;
  float baseline = 0;                      // OD
  int meniscusFit = 0;
  float meniscus = 0;                      // cm, 0 = not set
  int bottomFit = 0;
  float bottom = 0;                        // cm, 0 = not set
  float zoneValue = 0.1f;                  // slot 23 of the zone-centrifugation models
  int zoneFit = 0;
  unsigned char startTimeFit = 0;
  float startTime = 0;                     // s
  unsigned char startTimeOffsetOn = 0;     // "Sedimentation Time Offset" is on
  unsigned char riNoiseFit = 0;            // radially invariant noise is fitted
  float value20 = 0, value21 = 0, value22 = 0;
  int value20Fit = 0, value21Fit = 0, value22Fit = 0;
  unsigned char experimentalInitialDistribution = 0;
  int nonidealTermFit[kNonidealTerms + 1] = {};
  float nonidealTerm[kNonidealTerms + 1] = {};
  // "with synthetic boundary": the multiple species start layered at
  // nonideal term 1 (cm) under overlays of their fractions (terms 2, 6, 10).
  unsigned char syntheticBoundary = 0;
  unsigned char reloadGridFlag = 0;        // next pack takes the log-grid switch from the grid settings
  unsigned char parametersEntered = 0;
  // Set by the parameter box and a reloaded analysis: grid point 1 of
  // "Nonideal c(s)" is then its discrete species.
  unsigned char parametersReloaded = 0;

  // Electrophoresis models: the bottom is meniscus + column length.
  float electrophoresisColumnLength = 0.4f;  // cm
  // Cell-length option: while on, the bottom stays at meniscus + cellLength.
  unsigned char cellLengthOption = 0;
  float cellLength = 0;                      // cm

  // Per-slot switches and factors read by the model evaluation.
  float scaleFactor[kComponentSlots + 1] = {};
  unsigned char speciesArrays[kComponentSlots + 1] = {};  // slot k needs the extra scan arrays
  unsigned char linearAmplitudes = 0;        // amplitudes of the species are linear parameters
  unsigned char algebraicAmplitudes = 0;     // species amplitudes solved algebraically
  unsigned char meniscusWarningGiven = 0;
  unsigned char fitRangesDefined = 0;        // all four meniscus/bottom limits set

  // Stored copies used by the rmsd maps.
  float storedS1 = 1.0f, storedS2 = 2.0f, storedLogK = 0;
  int storedS1Fit = 0, storedS2Fit = 0, storedLogKFit = 0;
};

struct ModelParameterVector {
  float P[kParameterSlots + 1] = {};
  int F[kParameterSlots + 1] = {};        // 1 = floated, 0 = fixed
  int dialogF[kParameterSlots + 1] = {};  // the parameter dialog's copy of F
};

// Solution conditions, in record order.
struct SolutionConditions {
  float loaderValue = 0;      // kept by the data loaders
  float vbarRho = 0.73f;      // vbar x density
  float vbar = 0.73f;         // ml/g at the run temperature
  float vbar20 = 0.73f;       // ml/g at 20 degC
  float density = 1.0f;       // g/ml
  float viscosity = 1.0f;     // relative to water at 20 degC (poise / 0.01002)
  float hydration = 0.3f;     // g/g
  float temperature = 293.15f;  // K
};

// Working copies of the self-association and non-ideal single/multiple
// species models, filled from P[] by the pack and unpack derivations.
struct AssociationModelParams {
  // Two-state self-association (monomer-dimer, monomer-trimer).
  float monomer = 0;          // D (1e-7 cm^2/s) or M (g/mol)
  int monomerFit = 0;
  float nmer = 0;             // derived: D or M of the n-mer
  float logK = 0;             // log10 association constant
  int logKFit = 0;
  float sMonomer = 0, sNmer = 0;
  int sMonomerFit = 0, sNmerFit = 0;
  float totalConcentration = 0;
  int totalConcentrationFit = 0;
  // Three-state self-association (monomer-dimer-tetramer, monomer-tetramer-octamer).
  float monomer3 = 0;
  int monomer3Fit = 0;
  float nmer3a = 0, nmer3b = 0;  // derived masses (or D) of the two n-mers
  float logK3a = 0, logK3b = 0;
  int logK3aFit = 0, logK3bFit = 0;
  float s3[4] = {};              // one-based: monomer, first n-mer, second n-mer
  int s3Fit[4] = {};
  // Non-ideality terms (non-ideal c(s) and the non-ideal species models).
  float logKs = 0, logKd = 0;
  int logKsFit = 0, logKdFit = 0;
  // Non-ideal single / multiple species.
  float nonidealConcentration = 0, nonidealS = 0, nonidealD = 0;
  int nonidealConcentrationFit = 0, nonidealSFit = 0, nonidealDFit = 0;
  // Signal per unit loading of the multiple-species components (one-based).
  float extinction[4] = {0, 1, 1, 1};
  // Concentration dependence of the self-associating and nonideal species:
  // the sign of ks and kd ("repulsive"; clear: attractive), hard-sphere
  // factors instead of the linear law, the dimer's own nonideality, and a
  // cosolute's s(c), D(c) ("Polynomial s(c) and D(c)", "CsCl s(c) and D(c)
  // (molar)"); the integration scheme of the static-grid solver (1, 2, 3):
  // the averaged corrector by default, as the moving frame always takes it
  // (the predictor alone lags the coefficients a whole step behind).
  std::uint8_t repulsive = 1, hardSphere = 0, dimerNonideal = 0;
  std::uint8_t polynomialSD = 0, csClSD = 0;
  float integrationScheme = 2.0f;
};

extern ModelParams gModelParams;
extern ModelParameterVector gModelParameterVector;
extern SolutionConditions gSolutionConditions;
extern AssociationModelParams gAssociationModelParams;

// Derivations that belong to layers above the fit engine (continuous
// distributions, hetero-association): they run after the built-in family
// derivations of every pack and unpack. `packing` is true for a pack.
using ParameterDerivation = void (*)(bool packing);
void RegisterParameterDerivation(ParameterDerivation derivation);
void ClearParameterDerivations();

// Sets the first defaults of the component values (once, at start-up) and packs.
void AllocParameterArrays();
// Globals -> P[], F[], then the model-family derivations.
void PackModelParameters();
// P[] -> globals (negative non-ideal terms 1, 2, 3, 6, 7, 10 become 0), then
// the model-family derivations.
void UnpackModelParameters();
// Clears every fit flag, values unchanged.
void FixAllParameters();

// Switches outside this record that the consistency rules read.
struct ComponentDefaultsContext {
  bool equilibriumMode = false;
  bool dlsData = false;
  bool dlsDataSetSwitch = false;
  bool bufferSedimentation = false;     // buffer-sedimentation correction on
  bool bufferSedimentationFit = false;  // its own fit switch
  bool nonidealOption = false;          // the parameter dialog's non-ideal option
  bool experimentalDistributionDialogSwitch = false;  // out: set for an experimental start
};
// Puts the inclusion and fit switches in a consistent state and decides which
// linear amplitudes are solved algebraically.
void CheckComponentDefaults(ComponentDefaultsContext& context);
