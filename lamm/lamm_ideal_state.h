#pragma once
// The state of a CLammIdeal: its loaded settings (LammIdealSettings, of
// the records of lamm_records.h kept whole), the work arrays and the state
// of a run, grouped as the solver's files use them. CLammIdeal derives from
// it, so its own declaration lists only what the solver does. All arrays
// are 1-based.
#include <atomic>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "data/fluorophore.h"
#include "lamm/amount_kept.h"
#include "lamm/conc_dependent_model.h"
#include "lamm/lamm_records.h"
#include "lamm/moving_frame_core.h"
#include "lamm/quiet_steps.h"
#include "lamm/solvent_model.h"
#include "numerics/regrid.h"

// Accepted adaptive steps after which the static-grid path gives up as not
// converging rather than run practically without end.
inline constexpr int kLammDefaultStepLimit = 1000000;

// The settings a solver is loaded with, and the choices of the template's
// last run that a reused solver starts from as a new copy would: a copy of
// the solver assigns all of it whole (CLammIdeal::CopySettings), so a member
// added here travels with the copy. Owned arrays are values (1-based, row 0
// unused).
struct LammIdealSettings {
  // ---- species and geometry ----
  double s_ = 0, D_ = 0, c0_ = 1.0, meniscus_ = 0, bottom_ = 0;
  float leftFitLimit_ = 0, rightFitLimit_ = 0;
  bool geometryValid_ = false, rightLimitInside_ = false;
  int detailCode_ = 0;
  bool modelSet_ = false, loaded_ = false;

  // ---- scan output, with the scan-time and radial resolution ----
  // The index map stays a reference: the copy never owns the template's.
  LammScanOutput scans_;  // indexMap: the caller's or ownedIndexMap_
  bool perScanMode_ = false;
  float perScanFactor_ = 1.0f;
  // Pieces per finite scan as the caller fixed them (0: chosen by the rule).
  int forcedSegments_ = 0;
  int threadNumber_ = 0;
  bool outputValid_ = false;
  double startTimeOffset_ = 0;

  // ---- model options ----
  LammModelOptions opt_;
  bool parametersValid_ = true;
  int stepLimit_ = kLammDefaultStepLimit;
  bool wideEndLayersStatic_ = false;  // SetWideEndLayersOnStaticGrid
  // The slowest rotor speed of the scans, taken once a solve (the time
  // loop asks at every step); NaN outside a solve, where the scans are read.
  double solveSlowestRpm_ = std::numeric_limits<double>::quiet_NaN();

  // ---- solvent, zone loading, rotor ----
  LammSolutionConditions conditions_;
  LammZoneLoading zone_;
  LammRotor rotor_;

  // ---- speed schedule ----
  bool schedule_ = false;
  int steps_ = 0;
  std::vector<double> stepStart_, stepEnd_, stepRpm_, stepRate_;
  int currentStep_ = 1;

  // ---- grid and algorithm, as the template's last run chose them ----
  float movingCandidate_ = 0, staticCandidate_ = 0, refineRadius_ = 0;
  bool steep_ = false, scheduleGrid_ = false, defaultGrid_ = false, retry_ = false;
  bool refineRequested_ = false;
  bool grading_ = false;

  // ---- time loop ----
  double initialDt_ = 1.0, startTime_ = 0;
  bool maxTimeGiven_ = false;
  double maxTimeValue_ = 0;
  bool continueAfterLast_ = false;
  double watchFraction_ = 1e-4;
  bool massTracking_ = false;

  // ---- detection corrections ----
  LammDetection detection_;
  // The output grid's class and the convolution kernel made for it.
  int gridClass_ = -1;
  std::vector<float> kernel_;
  int kernelLength_ = 0, convFirst_ = 0, convLast_ = 0;
  bool specialGeometry_ = false;

  // ---- loaded and timed profiles ----
  bool initialProfile_ = false;
  int initialCount_ = 0;
  std::vector<double> initialRadii_, initialValues_;
  LammTimedProfiles timed_;

  // ---- non-ideality and inhomogeneous solvent (read by derived solvers) ----
  bool nonIdealPlain_ = false, nonIdealModel_ = false, concDependentSolver_ = false,
       nonIdealThird_ = false, tableModel_ = false, concDependentModel_ = false;
  bool nonIdealValid_ = true;
  int componentCount_ = 0;
  std::vector<double> compConc_, compS_, compD_, compWeight_;
  // The synthetic boundary: position (cm) and each component's overlay
  // fraction (1-based; one for a run without a table).
  bool syntheticBoundary_ = false;
  double boundaryPosition_ = 0;
  std::vector<double> overlayFraction_;
  double nonIdealFurther_[8] = {};
  ConcDependentModel cdModel_;
  LammInhomogeneousSolvent medium_;
  SolventGradientSettings solvent_;
  bool solventGiven_ = false;
  double solventVbar_ = 0.73, solventRpm_ = 0;
  std::vector<double> cosoluteSCoef_, cosoluteDCoef_;

  // ---- diagnostics ----
  std::string cosoluteBase_;
};

// What a solver holds besides its settings: the state of a run, its work
// memory and what belongs to the object itself (never copied).
struct LammIdealState : LammIdealSettings {
  // ---- scan output ----
  float* ownMatrixBlock_ = nullptr;  // rows x cols, row k at ownMatrixBlock_ + (k-1)*cols - 1
  int ownRows_ = 0, ownCols_ = 0;
  int* ownedIndexMap_ = nullptr;
  CCellProfilePlan outputPlan_;  // the last radii and nodes a scan was written for
  // Finite scan: pieces per scan, and the state of the scan being assembled.
  int segments_ = 0;
  int segmentIndex_ = 0, scannedNodes_ = 0;
  double scanElapsed_ = 0;
  std::vector<double> scanRadii_;  // node radii when each piece was taken (the frame moves)

  // ---- rotor and speed schedule ----
  bool accelerating_ = false;
  bool atPlateau_ = false, scheduleFinished_ = false;

  // ---- grid and algorithm ----
  int N_ = 0;
  bool noTransport_ = false;
  bool nonUniformGrid_ = false;
  double gradingRadius_ = 0, gradingStep_ = 0;
  // The nodes of a layered static grid (LayeredNodes), 1-based; used while
  // N_ matches them.
  bool layered_ = false;
  std::vector<double> layeredRadii_;
  // The step that divides the time to the pending event evenly (0: none yet).
  double evenDt_ = 0;

  // ---- work memory (one zero-filled block carved into 1-based arrays) ----
  std::unique_ptr<double[]> block_;
  bool allocated_ = false;
  int allocatedCount_ = 0;
  double *c_ = nullptr, *cPrev_ = nullptr, *r_ = nullptr, *rhs_ = nullptr;
  double *Mlo_ = nullptr, *Mdi_ = nullptr, *Mup_ = nullptr;
  double *Klo_ = nullptr, *Kdi_ = nullptr, *Kup_ = nullptr;
  double *Alo_ = nullptr, *Adi_ = nullptr, *Aup_ = nullptr;
  double *Blo_ = nullptr, *Bdi_ = nullptr, *Bup_ = nullptr;
  double *gam_ = nullptr, *piv_ = nullptr, *profile_ = nullptr, *work_ = nullptr;
  // Factors of A eliminated from the last row up: 1/q_i, up_i/q_i, lo_i/q_i.
  double *bottomPiv_ = nullptr, *bottomUp_ = nullptr, *bottomLo_ = nullptr;
  bool bottomFactors_ = false;        // they belong to the kept factors of A
  bool bottomFactorsFailed_ = false;  // a pivot of theirs vanished: not tried again
  // Products of two neighbouring factors, which let the substitutions of
  // StepFromBothEnds take two rows a pass: lo_i/p_i lo_{i-1}/p_{i-1},
  // up_j/q_j up_{j+1}/q_{j+1}, gamma_i gamma_{i+1}, lo_j/q_j lo_{j-1}/q_{j-1}
  // (four rows of N + 2).
  std::vector<double> pairFactors_;

  // ---- moving frame (a second block, only on that path) ----
  std::unique_ptr<double[]> frameBlock_;
  double *xi_ = nullptr, *Clo_ = nullptr, *Cdi_ = nullptr, *Cup_ = nullptr;
  double *L0lo_ = nullptr, *L0di_ = nullptr, *L0up_ = nullptr;
  double *L1lo_ = nullptr, *L1di_ = nullptr, *L1up_ = nullptr;
  double *Tlo_ = nullptr, *Tdi_ = nullptr, *Tup_ = nullptr;
  double *Slo_ = nullptr, *Spiv_ = nullptr, *Srat_ = nullptr;
  double dtFixed_ = 1, sStar_ = 0;
  // The shortest step the frame halves to for a value below zero at the end
  // the species leaves (DepletedEndUndershootFloor).
  double undershootFloor_ = 0.2;
  mutable CMovingFrameCore mf_;  // frame clock, rates and matrices of the path
  bool periodStepping_ = false, storedUse_ = false, firstRunStep_ = false, partial_ = false,
       completeNext_ = false, veryFirst_ = false;
  // From a measured start: the first graded step (0 once the grading is
  // over) and the time the run started.
  double graded_ = 0, layeredStart_ = 0;
  double totalAmount_ = 0;

  // ---- time loop ----
  double t_ = 0, dt_ = 1.0;
  int outIndex_ = 1;
  double nextScanTime_ = 0;
  int iteration_ = 0;
  bool abortRequest_ = false;
  int errNonConvergence_ = 0, errTridag_ = 0, errConcDependent_ = 0;
  // The solution lost or created material (CheckAmountKept), and by how much.
  int errAmount_ = 0;
  AmountNotKept amountNotKept_;
  bool inWorker_ = false, debug_ = false;
  std::atomic<double>* reachedTime_ = nullptr;
  bool running_ = false;
  bool pendingEvent_ = false;
  double pendingTime_ = 0;

  // ---- static path state ----
  int stepCount_ = 0, start_ = 1, end_ = 1, maxStart_ = 1, extensionStep_ = 1;
  int widthMax_ = 0, widthMin_ = 0, lastStart_ = 1;
  bool startChanged_ = false;
  double cThr_ = 0, cPlateau0_ = 0, cPlateau_ = 0, tPlateau_ = 0, endThreshold_ = 0;
  double sw2Integral_ = 0;  // s * integral of w^2 dt over the accepted steps
  double w2s_ = 0, w2sStep_ = 0;
  double cachedDt_ = 0;
  bool matricesChanged_ = false, rebuilt_ = false;
  int matrixExtent_ = 0, builtExtent_ = 0;
  double dtMax_ = 1000;
  int retryCounter_ = 0;
  bool abortFlag_ = false, collapseFlag_ = false, pivotFailed_ = false;
  bool endCondition_ = false;
  bool tracking_ = false, startTrimming_ = false, endLimitation_ = false;
  bool shutOff_ = false, autoShutOff_ = false;
  bool speedChanging_ = false;
  bool fullGrid_ = false;
  int watchNode_ = 1;
  double watchThreshold_ = 0;
  double cellContent_ = 0;

  // The static path's state at the top of a step of its time loop, taken
  // while a run that trims its depleted start has not trimmed yet: up to
  // there it computes what the run without trimming computes, which a
  // failed trimming run is retried as (see SolveStaticGrid).
  struct StaticLoopTop {
    double t = 0, dt = 0, evenDt = 0, sw2Integral = 0, cachedDt = 0, nextScanTime = 0;
    double pendingTime = 0, cellContent = 0;
    int stepCount = 0, retryCounter = 0, outIndex = 0, collapse = 0;
    bool pendingEvent = false, bottomFactors = false, matricesChanged = false, rebuilt = false;
    CQuietSteps quiet;
  };
  StaticLoopTop loopTop_;
  bool resumable_ = false;         // the top is taken at every step
  std::vector<double> resumeFrom_;  // the profile at the last top before the start moved, 1..N
  StaticLoopTop resumeTop_;         // and the rest of that top, while resumeFrom_ holds it

  // ---- detection corrections ----
  // The drift's factors at the scans of a run.
  std::unique_ptr<double[]> driftFactors_;
  int driftCount_ = 0;
  bool driftValid_ = false;

  // ---- non-ideality and inhomogeneous solvent (read by derived solvers) ----
  bool positiveSOnly_ = false;  // the path also refuses s <= 0 (the class's own)
  bool localSolvent_ = false;   // decided at each run
  CosoluteState cosolute_;
  LocalSolventFactors factors_;
  std::unique_ptr<double[]> wienerRef_, wienerWork1_, wienerWork2_;
  int wienerCount_ = 0;

  // The solver's own copy (CFluorophore::CopyTo), copied beside the settings.
  std::unique_ptr<CFluorophore> fluorophore_;
  int fluorophoreWavelength_ = 1;
};
