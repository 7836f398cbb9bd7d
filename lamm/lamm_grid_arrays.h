#pragma once
// The radial-grid arrays of the global-array Lamm solvers: node radii,
// concentrations and the tridiagonal finite-element matrices of one
// simulation, each N+1 doubles (index 0 unused, nodes 1..N), zero-filled,
// alive from the model command that allocates them until they are freed;
// and the arrays of a sedimenting cosolute. Plain records: allocation and
// the rules that place the nodes belong to the model evaluation above.
#include <cstdint>
#include <memory>

struct LammGrid {
  std::int32_t GridAllocated = 0;
  std::int32_t AllocatedGridSize = 0;

  // Main arrays.
  double* DisplayProfile = nullptr;
  double* Concentration = nullptr;
  double* Radius = nullptr;
  double* PreviousConcentration = nullptr;
  double* RightHandSide = nullptr;
  double *StiffnessNewSub = nullptr, *StiffnessNewDiag = nullptr, *StiffnessNewSuper = nullptr;
  double* TridagWork = nullptr;
  double *SystemSub = nullptr, *SystemDiag = nullptr, *SystemSuper = nullptr;
  double *StiffnessOldSub = nullptr, *StiffnessOldDiag = nullptr, *StiffnessOldSuper = nullptr;
  // Mass block: super, diagonal, sub, pivots of the stored factorization.
  double *MassSuper = nullptr, *MassDiag = nullptr, *MassSub = nullptr, *FactorPivot = nullptr;

  // Moving-frame block (moving-hat algorithm only).
  double *DiffusionStiffnessSub = nullptr, *DiffusionStiffnessDiag = nullptr,
         *DiffusionStiffnessSuper = nullptr;
  double *SedimentationStiffnessSub = nullptr, *SedimentationStiffnessDiag = nullptr,
         *SedimentationStiffnessSuper = nullptr;
  double *FrameStiffnessSub = nullptr, *FrameStiffnessDiag = nullptr,
         *FrameStiffnessSuper = nullptr;
  double* FrameRadius = nullptr;
  double *PeriodRhsSub = nullptr, *PeriodRhsDiag = nullptr, *PeriodRhsSuper = nullptr;
  double *PeriodLhsSub = nullptr, *PeriodLhsDiag = nullptr, *PeriodLhsSuper = nullptr;
  double* FactorRatio = nullptr;
  // New-time stiffness of the moving frame: aliases of StiffnessNew*.
  double *FrameNewSub = nullptr, *FrameNewDiag = nullptr, *FrameNewSuper = nullptr;

  // Work arrays of the reacting-system and concentration-dependent solvers.
  double* ReactingArrays[34] = {};
  double* ConcDependentArrays[17] = {};
  // Set by the hetero-association model before it allocates.
  bool reactingSystem = false;

  // Two-zone static grid.
  std::uint8_t TwoZoneGridRequested = 0;
  double TwoZoneBoundary = 0;  // cm
  double TwoZoneSpacing = 0;   // cm
  std::uint8_t TwoZoneGridBuilt = 0;
  std::int32_t stretchNode = 0;
  double stretchRadius = 0, stretchStep = 0, stretchRatio = 0;

  // Storage of the blocks.
  std::unique_ptr<double[]> mainBlocks[16];
  std::unique_ptr<double[]> massBlock, frameBlock, reactingBlock, concBlock;
};

// The program's one grid record, or the calling thread's own while one is in
// use (null gives the program's back).
LammGrid& CurrentLammGrid();
void UseThreadLammGrid(LammGrid* own);

// Arrays of a sedimenting cosolute: 22 arrays of n+1 doubles (array 0 the
// equidistant cosolute grid) and 14 more with the second component.
struct CosoluteArrays {
  std::int32_t gridSize = 0;             // n, set by the gradient settings
  bool secondComponent = false;
  std::uint8_t CosoluteArraysAllocated = 0;
  std::int32_t CosoluteArraysSize = 0;
  double* arrays[36] = {};
  std::unique_ptr<double[]> block, secondBlock;
};
CosoluteArrays& CurrentCosoluteArrays();
