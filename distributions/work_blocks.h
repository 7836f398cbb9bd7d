#pragma once
// The two large work blocks of a distribution: the kernels (one Lamm solution
// per grid point and scan on the common radial grid) and the normal
// equations with every solver work row. Each lives in one contiguous,
// zero-filled block so that no solver allocates per call.

// Kernels a[k][j][r]: grid point k = 1..N, scan j = 1..M, common-grid point
// r = 0..R (r = 0 stays zero). Row (k, j) starts at ((k-1)*M + (j-1))*(R+1).
struct DistributionWorkBlock {
  float*** lammSolutions = nullptr;
  float* block = nullptr;
  int gridPoints = 0;   // N given at allocation, remembered for the release
  int scans = 0;        // M
  int gridLength = 0;   // R
};

// Normal equations (double), the means of the noise elimination and the
// work rows of the regularisation, NNLS and maximum entropy. Matrices are
// [1..N][1..N]; vectors [1..N].
struct NormalEquationBlock {
  double** kernelScanMean = nullptr;    // [k][j], mean of kernel k over the fit range of scan j
  double** kernelRadialMean = nullptr;  // [k][r], mean of kernel k over the scans at r
  double* dataScanMean = nullptr;       // [j]
  double* dataRadialMean = nullptr;     // [r]
  double* rhs = nullptr;
  double** normalMatrix = nullptr;
  double** regularizedMatrix = nullptr;
  double* solution = nullptr;
  double* gradient = nullptr;
  double** reducedMatrix = nullptr;
  double* reducedRhs = nullptr;
  double* choleskyDiagonal = nullptr;
  double* reducedSolution = nullptr;
  double* trialSolution = nullptr;
  double* kernelMean = nullptr;
  double* maxEntWork = nullptr;
  double* savedSolution = nullptr;
  // Work copies of the maximum-entropy step: curvature and the augmented
  // matrix that the Marquardt step solves.
  double** curvatureMatrix = nullptr;
  double** augmentedMatrix = nullptr;
  double* curvatureGradient = nullptr;
  int* passiveSet = nullptr;
  int* passiveOrder = nullptr;          // passive indices in the order they entered

  double* block = nullptr;
  int gridPoints = 0;
  int scans = 0;
  int gridLength = 0;

  // Scalars beside the block.
  double sumSquaresData = 0.0;
  double dataMean = 0.0;
  double dataSum = 0.0;
  double dataCount = 0.0;

  // A fixed buffer-mismatch component occupies kernel 1 (amplitude 1) and
  // the solved system has N - 1 amplitudes.
  bool fixedComponent = false;
  double fixedComponentValue1 = 0.0;
  double fixedComponentValue2 = 0.0;
};

// The module's blocks.
DistributionWorkBlock& WorkBlock();
NormalEquationBlock& NeqBlock();

// Kernel block of N grid points, M scans, R common-grid points, zero-filled.
// An existing block is released first; false (no message) when memory is
// short. The block released last is kept (not in WorkBlock()) and cleared
// for the next allocation of its shape; one of another shape frees it.
bool AllocDistributionWorkArrays(int n, int m, int r);
void FreeDistributionWorkArrays(int n);
// Bytes of that kept block, 0 when none is kept.
double KeptKernelBlockBytes();

// Normal-equation block; an existing one is released first. On failure:
// "could not allocate arrays, increase memory or take fewer scans", false.
bool AllocNormalEquationBlock(int n, int m, int r);
void FreeNormalEquationBlock();

// Bytes both blocks take for n grid points, m scans and r common-grid
// points, as the two allocators lay them out (in double, so that any size
// asked for can be judged before it is allocated).
double DistributionWorkBlockBytes(double n, double m, double r);
// Each block's share of that.
double KernelBlockBytes(double n, double m, double r);
double NormalEquationBlockBytes(double n, double m, double r);

// Pointer to kernel k's values in scan j, indexed by common-grid point r.
inline float* KernelRow(int k, int j) { return WorkBlock().lammSolutions[k][j]; }
