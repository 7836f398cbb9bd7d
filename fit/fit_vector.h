#pragma once
// The fit vector: a one-based float vector of exactly the floated quantities,
// in one fixed order: first the option entries 1..20 (fluorescence-detection
// corrections, Wiener skewing, buffer mismatch, vbar of an inhomogeneous
// solvent), then every floated P[k] of the model parameter vector, k = 1..34.
// The option quantities live in records above the fit engine; their owners
// describe them through a provider (which entries are present and where
// their values are), and the clamps applied on the way in and out are here.

#include <string>
#include <vector>

enum FitOptionIndex {
  kFitOptionVbar = 1,
  kFitOptionConeRadius,
  kFitOptionWienerMagnitude,
  kFitOptionPhotophysicsRate,
  kFitOptionLimitingLevel,
  kFitOptionLinearDrift,
  kFitOptionConvolutionWidth,
  kFitOptionMagnificationGradient,
  kFitOptionNonlinearPower,
  kFitOptionDepletionS,
  kFitOptionDepletionD,
  kFitOptionDepletionAmplitude,
  kFitOptionDepletionKs,
  kFitOptionBufferSignal,
  kFitOptionBufferSize,
  kFitOptionBufferS,
  kFitOptionMeniscusDifference,
  kFitOptionRelativeConcentration,
  kFitOptionReferenceSize,
  kFitOptionReferenceS,
  kFitOptionCount = kFitOptionReferenceS
};

struct FitOptionEntry {
  bool present = false;
  // Where the quantity is stored: single or double precision.
  float* f = nullptr;
  double* d = nullptr;
  // Buffer and reference size entries: both stored sizes, molar mass (g/mol)
  // and D (1e-7 cm^2/s). The fitted one is chosen by molarMassParameters.
  double* massValue = nullptr;
  double* diffusionValue = nullptr;
  // vbar entry: the plain vbar of the solution conditions (not the apparent
  // one); writing it also sets vbar x density with this factor.
  bool plainVbar = false;
  float densityFactor = 1.0f;
  // The apparent vbar entry: the solvated vbar the solvent settings keep
  // beside it follows every written value.
  float* follower = nullptr;
};

struct FitOptionEntries {
  FitOptionEntry entry[kFitOptionCount + 1];
};

// Fills the option entries from the records that own them. Without a
// provider no option entry is present.
using FitOptionProvider = void (*)(FitOptionEntries& entries);
void SetFitOptionProvider(FitOptionProvider provider);
FitOptionEntries CurrentFitOptions();

// Number of option entries (1..20) present.
int FitOptionCount(const FitOptionEntries& options);

// Counts the entries; when v is given writes entries 1..min(count, n) with
// the packing clamps (into the vector and the model). A null v changes nothing.
int ParametersToFitVector(int n, float* v);
// As ParametersToFitVector without any clamp (vertex 1 of the Nelder-Mead driver).
int PackFitVectorUnclamped(int n, float* v);
// Writes every entry back into the model with the full clamps.
void FitVectorToParameters(const float* v);
// The write-back of the target function: the evaluation clamps, the meniscus
// and bottom limits and the self-association ratios. v takes the values the
// model took, so a vertex never lies beyond a limit.
void UnpackFitVectorForEvaluation(float* v);
// The physical ranges that hold the discrete species' s and size (D, or the
// D a molar mass implies) during a fit of sedimentation-velocity data, so
// that no evaluation asks the Lamm solver for a boundary it cannot resolve,
// a species that left the cell before the first scan, or one faster than
// any solute. Off outside a fit; the last fit's ranges stay for its report.
struct SpeciesFitRanges {
  bool on = false;
  float sMax = 0;  // |s| at most (S)
  float dMin = 0;  // D at least (1e-7 cm^2/s)
  float dMax = 0;  // D at most (1e-7 cm^2/s)
  // The D that spreads a boundary over the whole column by the first scan
  // (1e-7 cm^2/s): a species this fast is a nearly flat level in every scan.
  float dFlat = 0;
  // The least frictional ratio of each species' size at its s (slots 1-4;
  // 0: none): its D at most, its molar mass at least what a particle of
  // this ratio has at that |s|.
  float ff0Min[5] = {};
  // The largest (slots 1-4; 0: none): its D at least, its molar mass at
  // most what a particle of this ratio has at that |s|, from sStill up.
  float ff0Max[5] = {};
  // |s| (S) that moves a boundary one radial spacing from the meniscus by
  // the last scan: a slower species shows the data no travelling boundary.
  float sStill = 0;
  // The nonideal components' (and the single species') log10 ks and log10
  // kd (slots 10 and 11), held by ks c and kd c, c the total loading in
  // mg/ml as the model has it at each evaluation: at least ksLoadMin and
  // kdLoadMin, at most ksLoadMost and kdLoadMost (kNonidealKsLoadMost and
  // kNonidealKdLoadMost; the single species' repulsive ks
  // kNonidealSingleKsLoadMost, its attractive kd kNonidealKsLoadMost).
  bool nonidealTerms = false;
  double ksLoadMin = 0, kdLoadMin = 0;
  double ksLoadMost = 0, kdLoadMost = 0;
  // The nonideal components' D0 (slots 1, 29, 33, 1e-7 cm^2/s) between dMin
  // and dMax, set as for the discrete species: along the valley where D0
  // trades with kd a fit once walked D0 towards 0, where the solver follows
  // ever sharper boundaries.
  bool nonidealD = false;
  // The nonideal models' s0 (slot 5) within +-sMax, as a discrete species'
  // s: beyond, the boundary has left the column before the first scan and
  // the data say nothing more, while the moving frame's work grows with s
  // (a fit over noise once walked s0 to 40 000 S).
  bool nonidealS = false;
};
// The least ks c and kd c of a fit (or the start's, when lower): below it a
// term changes s or D by less than the single-precision rounding of the
// solver's factors, and the model is the same wherever it goes (a fit once
// walked log10 kd to -40).
constexpr double kNonidealTermLoadLeast = 1e-9;
// The most: s = s0 (1 - ks c) stops at 0 where ks c reaches 1, and the
// solver computes nothing beyond; at 0.99 the plateau still sediments at a
// hundredth of s0.
constexpr double kNonidealKsLoadMost = 0.99;
// D0 (1 + kd c) a thousand times D0: the plateau relaxes as fast as a solute
// of a thousand times the component's D, beyond any nonideality of a real
// solution.
constexpr double kNonidealKdLoadMost = 1000.0;
// The single species' s = s0 / (1 + ks c) has no pole for a repulsive ks:
// at ks c 1000 the plateau sediments at a thousandth of s0, a level the
// data cannot tell from one standing still. An attractive ks or kd (1 - k c)
// has its pole at k c = 1, held at kNonidealKsLoadMost as above.
constexpr double kNonidealSingleKsLoadMost = 1000.0;
// The components' total loading in mg/ml as the model has it now: the
// loadings of components 1 to 3 over the signal per mg/ml (of the single
// species, its loading).
double NonidealComponentsLoading();
// The ends of log10 ks (k = 10) or log10 kd (k = 11) of the nonideal
// components under the last fit's ranges at the loading the model has now;
// false where they have none.
bool NonidealTermLimits(int k, float* low, float* high);
// The ends of a nonideal component's D0 (k = 1, 29 or 33) under the last
// fit's ranges; false where it has none.
bool NonidealDiffusionLimits(int k, float* low, float* high);
// The ends of the nonideal models' s0 (k = 5) under the last fit's ranges;
// false where it has none.
bool NonidealSLimits(int k, float* low, float* high);
// The fastest D a species takes in any fit (1e-7 cm^2/s): 1e-4 cm^2/s, above
// every solute in water (the proton's 9.3e-5 cm^2/s at 25 degrees C; salts
// and sugars 5e-6 to 2e-5).
constexpr float kFastestSoluteD = 1000.0f;
// The least frictional ratio a species of a fit takes: none is below 1, the
// sphere's, and a wrong vbar (0.73 for a nucleic acid of 0.55) makes a
// compact particle look some 1.3 times smaller. A fit left free of it once
// parked a species of 24 Da at 0.36 S (f/f0 0.08) on a baseline or an
// offset, and one of a few hundred Da at 30-50 S (f/f0 near 0.03) cost
// 20-100 times an evaluation at the minimum. It stays well below what a
// user's species can be taken for: s and M drawn as independent (8.7 S at
// 12 kDa) give ratios down to 0.22, and a floor above them keeps a fit
// from the minimum of such data.
constexpr float kLeastSpeciesFrictionalRatio = 0.2f;
// The ranges of a fit that starts now from the model's values (off where
// the data or the model have none); never narrower than those values.
SpeciesFitRanges SpeciesFitRangesForCurrentFit();
// Holds the ranges for the length of a fit (an inner fit keeps the outer's).
class SpeciesFitRangesScope {
 public:
  SpeciesFitRangesScope();
  ~SpeciesFitRangesScope();
  SpeciesFitRangesScope(const SpeciesFitRangesScope&) = delete;
  SpeciesFitRangesScope& operator=(const SpeciesFitRangesScope&) = delete;

 private:
  bool outer_ = false;
};
// Lowers species k's least frictional ratio in force by `factor` while it
// lives (a probe of whether the data press the species beyond it).
class SpeciesFloorLowered {
 public:
  SpeciesFloorLowered(int k, float factor);
  ~SpeciesFloorLowered();
  SpeciesFloorLowered(const SpeciesFloorLowered&) = delete;
  SpeciesFloorLowered& operator=(const SpeciesFloorLowered&) = delete;

 private:
  int k_ = 0;
  float kept_ = 0.0f;
};
// True when the last evaluation write-back, under the ranges of a fit,
// found a fitted species of molar mass 0 or below: no species, a trial
// rejected uncomputed.
bool EvaluationHasMasslessSpecies();
// The ends of the range of P[k] (k = 1..8, species size or s) under the last
// fit's ranges, with s the species' s; false where it has none.
bool SpeciesFitLimits(int k, float s, float* low, float* high);
// Whether species k's D (fitted, or the one its M gives at its s) spreads
// its boundary over (nearly) the whole column by the first scan, under the last
// fit's ranges: the species is a nearly flat level in every scan, which the
// baseline, the noise terms and the others' plateaus can take up as well.
bool SpeciesFlatBeforeTheFirstScan(int k);
// Whether species k's fitted size is held at (within a hundredth of the
// frictional ratio of) the small end of its range (the least molar mass,
// or the largest D, its s allows), under the last fit's ranges: a species
// a fit pressed there has no say of its own.
bool SpeciesAtItsLeastSize(int k);
// The entries those ranges hold (a species' s and size, and a nonideal
// term at the upper end of its range, beyond which a minimum may lie; at its
// lower end a term has no effect): 1 for those, 0 for the others.
// One-based, length n.
void FitVectorEntriesInSpeciesRanges(int n, unsigned char* ranged);
// The write-back of the best vertex shown during a minimisation.
void UnpackFitVectorForDisplay(float* v);

// Marquardt-Levenberg derivative step of each entry: factor f and absolute
// step h0 (used when f times the value is 0). Arrays are one-based, length n.
void FitVectorDerivativeSteps(int n, double* factor, double* absolute);

// Kind of each entry, for the restart convergence test: the threshold a
// quantity whose previous value was 0 is judged against (relative to
// maxRelativeChange for the buffer s and meniscus difference, absolute for
// the Wiener magnitude). One-based, length n.
// The name of entry k (one-based) as the fit report calls the quantity,
// and those of a list of entries.
std::string FitVectorEntryName(int k);
std::vector<std::string> FitVectorEntryNames(const std::vector<int>& entries);

enum class FitEntryKind { General, BufferS, MeniscusDifference, WienerMagnitude, ParameterP };
void FitVectorEntryKinds(int n, FitEntryKind* kinds);

// Which entries an evaluation holds at 0 from below (writing the 0 back into
// the vector): 1 for those, 0 for the others. One-based, length n.
void FitVectorEntriesHeldAtZero(int n, unsigned char* held);

// The s and M (or D) entries of the discrete species whose amplitude the
// last evaluation set to 0: 1 for those, 0 for the others. Such a species
// leaves the rmsd as it is wherever its s and M move nearby. One-based,
// length n.
void FitVectorEntriesOfAbsentSpecies(int n, unsigned char* absent);
