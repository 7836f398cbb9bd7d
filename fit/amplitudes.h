#pragma once
// Linear terms of the scan model, eliminated algebraically at every model
// evaluation. With c_kj(r_i) the characteristic curve of species k in scan j
// on the common radial grid (ScanSet::species[k].onGridPerScan[j]):
//
//   y_j(r_i) = sum_k a_k c_kj(r_i) + b(r_i) + beta_j (+ baseline)
//
// a_k the loading concentrations (non-negative), b(r) the time-invariant
// noise (ScanSet::tiNoise), beta_j the radially invariant noise
// (ScanSet::riNoise). Ten variants, chosen by four switches: TI noise
// (FitEngineState::fitTINoise), algebraic amplitudes
// (ModelParams::concentrationsLinear), RI noise (ModelParams::riNoiseFit) and
// algebraic baseline (ModelParams::baselineLinear). Sums in double; the
// amplitude table is ModelParams::scaleFactor[1..4]: the loading
// concentration each slot's curves were simulated with.

// The ten variants.
void SolveAmplitudesTI();
void SolveAmplitudesTIUpdate();
void ComputeNoiseFixedAmplitudes();
void SubtractSpeciesFromResiduals();
void SolveAmplitudes();
void SolveAmplitudesWithOffsets();
void ComputeRINoiseFixedAmplitudes();
void AddBaselineToModel();
void SolveAmplitudesWithOffsets2();
void AddBaselineToScans();

// Runs the variant chosen by the four switches.
void SolveAmplitudesAndNoise();
// The baseline is a term of that solve, set by every evaluation: solved as a
// linear amplitude, or set to 0 where TI or RI noise takes it up. Else it is
// an entry (held or fitted).
bool BaselineSolvedLinearly();

// Shared steps.
void BuildAmplitudeSpeciesList();
// Curves of the listed slots divided by their amplitude (0 -> curves cleared).
void NormalizeSpeciesCurves(int count, const int* list);
// Concentration entries as first = total, further = fractions of it, also in P[8+k].
void ConcentrationsToTotalAndFractions();
// Ybar, S_tot and N_tot of the gridded data, every scan of it.
void ComputeTINoiseProfile();
void CenterScansForRINoise();
void UncenterScansForRINoise();
void ComputeCurveScanMeans();
void ComputeCurveTotalMeans();
void ComputeTINoiseFromCurves(const double* v);
void ScaleCurvesByAmplitudes(const double* v);
void ComputeRINoise();
float ComputeBaselineOffset();
void AssembleModelFromCurves();

// The species list of the last solve: count and slots (one-based).
int AmplitudeSpeciesCount();
const int* AmplitudeSpeciesList();

// First scan (in time order) that the model evaluation simulates: 1, or 2
// when the first scan serves as the experimental initial distribution. The
// linear terms are found from the simulated scans only; a scan before them
// keeps its model (its data) and has no RI offset.
extern int gFirstSimulatedScan;

// x >= 0 minimising x^T M x / 2 - v^T x for m <= 4 (exact, by the passive set
// whose unconstrained solution is feasible with the lowest objective); v is
// replaced by x. M one-based m x m, symmetric.
void SolveNonNegativeSmallSystem(double M[5][5], double* v, int m);
