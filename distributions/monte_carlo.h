#pragma once
// Monte-Carlo statistics of a continuous distribution. The unregularised
// solution of the current data gives noise-free model curves; n times,
// Gaussian noise of the fit's rmsd is added, only the right-hand side
//   b_i = sum_{j,r} a_i(j,r) y~(j,r),   S = sum y~^2
// of the normal equations is recomputed (kernels a_i and the normal matrix
// stay), and the regularised distribution is solved again. y~ is the
// synthetic signal centred by the noise model; since the centring is an
// orthogonal projection, a_i'y~ equals the product of the centred kernel
// with y~. The n distributions give a mean and confidence limits per grid
// point, and the statistics of the signal and weight-average s integrated
// over an s range.
#include <functional>
#include <string>
#include <vector>

#include "distributions/normal_equations.h"

class CVector;
class CCurve;

struct MonteCarloState {
  int iteration = 0;       // 0 for the base solution, then 1..n
  float baseRmsd = 0.0f;   // sigma of the synthetic noise
  int n = 0;               // iterations of the series
  int G = 0;               // values per row: grid points, or 2-D points for c(s,f/f0)
  int sPoints = 0;         // s grid points (limits, marginals)
  bool twoDimensional = false;
  // Rows 1..n+1 of G+1 values (row k = iteration k), the marginal rows of
  // the c(s,f/f0) models (sPoints+1 values), the mean and the limits.
  std::vector<float> rows, marginals;
  std::vector<float> mean, lower, upper;  // [1..sPoints]
  // The base fit's model values, per scan [1..points].
  std::vector<std::vector<float>> modelCopy;
  // Limit curves over the distribution's s grid (views of upper, lower).
  CVector* upperView = nullptr;
  CVector* lowerView = nullptr;
  CVector* xView = nullptr;
  CCurve* upperCurve = nullptr;
  CCurve* lowerCurve = nullptr;
  bool curvesExist = false;
  bool curvesAdded = false;
  // Folder (with its separator) of the caller's file name.
  std::string folder;
  // Centred synthetic data over the fitted points.
  std::vector<double> centred;

  float* Row(int k) { return rows.data() + static_cast<size_t>(k - 1) * (G + 1); }
  float* Marginal(int k) { return marginals.data() + static_cast<size_t>(k - 1) * (sPoints + 1); }
};

MonteCarloState& MonteCarlo();

// What the series needs from the plot layer: the two limit curves on the
// distribution plot (upper in RGB(255, 0, 0), lower in RGB(0, 0, 255)),
// their removal, and text into the main window. Unset members do nothing,
// except the text, which then goes through the distribution plot's host.
struct MonteCarloDisplayHooks {
  std::function<void(CCurve* upper, CCurve* lower)> addLimitCurves;
  std::function<void()> removeLimitCurves;
  std::function<void(int x, int y, const std::string& text)> drawText;
};
MonteCarloDisplayHooks& MonteCarloDisplay();

// ---- the series -------------------------------------------------------------
// A key typed during the series (or a stop asked for) ends it before the
// next simulation; the limits then come from the simulations completed.
// Either way the block, the distribution and the models hold the best fit
// of the measured data again at the end. Returns the simulations completed.
int RunMonteCarloDistributions(int n, float c, const std::string& fileName, bool writeEach);
int RunMonteCarloSw(int n, float c, float sMin, float sMax, const std::string& fileName,
                    bool writeEach);
// Mean and limits at confidence level c per s grid point; writes the upper
// limits, the lower limits and the mean ("lim%3.0f", "lim%3.0f", "mean").
void MonteCarloDistributionLimits(float c);

// Statistics of the integrated signal and weight-average s over [sMin, sMax].
struct MonteCarloSwResult {
  int signalCount = 0, swCount = 0;
  float meanSw = 0, sdSw = 0, lowerSw = 0, upperSw = 0;
  float meanC = 0, sdC = 0, lowerC = 0, upperC = 0;
};
MonteCarloSwResult MonteCarloSwStatistics(float sMin, float sMax, float c);
void EndMonteCarlo();

// The c(s,f/f0) table: "%e %e %e %e %e %e\n" with s, M, f/f0, D, Stokes
// radius and the 2-D distribution value per point.
bool SaveMonteCarloTable(const std::string& fileName);

bool AllocMonteCarloArrays(int n);
void FreeMonteCarloArrays();
bool AllocMonteCarloModelCopy();
void FreeMonteCarloModelCopy();
void CreateMonteCarloLimitCurves();
void FreeMonteCarloLimitCurves();

namespace monte_carlo {
// The k-th smallest of values[1..n] (partition with a median-of-three
// pivot); the array is left rearranged. In a namespace of its own so that it
// does not overload the POSIX ::select.
float select(int k, int n, float* values);
}  // namespace monte_carlo

// Selection indices of the limits at level c among n values, within 1..n:
// floor(n (1 - c)/2) and floor(n ((1 - c)/2 + c)), with c taken as the
// decimal number the user typed rather than its nearest float.
void MonteCarloLimitIndices(int n, float c, int* lower, int* upper);
// The file stems of the upper and the lower limits ("lim840", "lim160").
std::string MonteCarloUpperStem(float c);
std::string MonteCarloLowerStem(float c);

// ---- right-hand sides for new data --------------------------------------------
// Recomputes b and S of the module's normal-equation block for the signals
// on the common grid of the current scan set, with the noise model's
// centring; threads 0 on the calling thread, else on the worker pool.
void MonteCarloRhs(NoiseModel model, int threads);
void MCRhsNoNoise();
void MCRhsBaseline();
void MCRhsTINoise();
void MCRhsRINoise();
void MCRhsTIRINoise();
