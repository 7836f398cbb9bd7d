#pragma once
// Normal equations of the linear least-squares problem
//   y(j, r) = sum_k c_k a_k(j, r) + systematic noise
// over the fitted points (scan j, common-grid point r inside the fit
// limits), with the noise parameters eliminated algebraically by centring
// data and kernels with the means of the noise model:
//   baseline  y - <y>..                   TI  y - <y>(r)
//   RI        y - <y>_j                   TI+RI  y - <y>(r) - <y>_j + <y>..
// The sums go to the module's NormalEquationBlock (A = normalMatrix,
// b = rhs, S = sumSquaresData) together with the means that the fill-in
// of the model (CalculateppAFit) needs. The data and kernel arrays are only
// read: the centred values are formed in double in a separate work block.
#include <cstdint>
#include <string>

struct ScanSet;

enum class NoiseModel { Plain, Baseline, TI, RI, TIRI, TIRIFixedComponent, BaselineScanRange };

// The noise switches and values of the run, filled by the run driver from
// the fit engine's and the model's records.
struct NormalEquationInputs {
  bool fitTI = false;
  bool fitRI = false;
  bool fitBaseline = false;
  float baselineValue = 0.0f;  // the fixed baseline of the model
  bool bufferSedimentation = false;
  bool bufferConcentrationFitted = false;
  double bufferValue1 = 0.0, bufferValue2 = 0.0;  // passed through to the fixed component
  bool timeCourse = false;           // DLS time course: scans at time positions first..last
  int timeCourseFirst = 0, timeCourseLast = 0;
  // A group of scans (positions in time order, both included) in place of
  // all of them, for every noise model; 0 = all scans.
  int groupFirst = 0, groupLast = 0;
};

NormalEquationInputs& NeqInputs();
// Takes the noise switches and the fixed baseline from the fit engine's and
// the model's records (TI noise, RI noise, fitted baseline, baseline value).
void LoadNeqInputsFromModel();

// TI and RI, TI, RI, baseline, otherwise plain.
NoiseModel ChooseNoiseModel(const NormalEquationInputs& in);

// Builds the normal equations of `model` for the kernels of the module's
// work block and the scans s, on `threads` pool workers (0 = on the calling
// thread, polling the keyboard). False when interrupted (the stop flag is
// then set and the matrix incomplete). Results do not depend on the thread
// count.
bool BuildNormalEquations(ScanSet& s, NoiseModel model, int threads);

// The builders of the user-interface thread, on the current scan set.
void NormalEquationsNoNoise();
void NormalEquationsBaseline();
void NormalEquationsTINoise();
void NormalEquationsRINoise();
void NormalEquationsTIRINoise();
void NormalEquationsTIRIFixedComponent(double value1, double value2);
void NormalEquationsBaselineScanRange();
// The same sums on the configured number of worker threads.
void CalcNormalEquationsMT();

// Picks and runs the builder for the inputs (time course, fixed buffer
// component, worker threads, noise model) and exports the matrices when
// that switch is on. False when no equations were built (refused noise
// model or interruption).
bool SelectAndBuildNormalEquations();

// Fills, for the amplitudes in the block's solution, the model arrays of
// all scans (at their own radii), the model on the common grid, and the
// TI/RI noise of the scan set. Returns the baseline that belongs to the
// solution; the call without arguments also stores it as the model's
// baseline and P[15] (0 with TI or RI noise).
struct NoiseFill {
  float baseline = 0.0f;
};
NoiseFill CalculateppAFit();
NoiseFill CalculateppAFit(ScanSet& s, NoiseModel model);
// Time-course twin: baseline and model for the scans of the window.
NoiseFill FillModelBaselineScanRange();

// "calculating normal equations (%2.0f percent done - hit any key to interrupt...)"
void ShowNormalEquationProgress(float fraction);

// Writes grid.txt, dim.txt, npoints.txt, ngrid.txt, sumsquaredata.txt,
// vector.txt and matrix.txt into `folder`; false after "Attention: could
// not open %s".
bool ExportNormalEquationMatrices(const std::string& folder, const float* grid, int n,
                                  const float* grid2 = nullptr);
// Distribution values as "%e \n" lines; the run writes them, with Export
// Matrices on, beside the matrices under this name.
bool DumpDistributionValues(const std::string& path, const float* values, int n);
inline constexpr const char* kDistributionValuesFile = "distribution.txt";
