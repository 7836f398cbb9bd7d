#pragma once
// CLammIdeal: the finite-element solution of the Lamm equation for one
// species in a sector-shaped cell,
//
//   dc/dt = (1/r) d/dr [ r D dc/dr - s w^2 r^2 c ],   zero flux at m and b,
//
// r in cm, t in s, s in Svedberg (1e-13 s), D in cm^2/s, rotor speed in rpm
// (w = 2 pi rpm / 60). The object is loaded through its setters, run once by
// CheckAndRun and writes the simulated signal at the radii and times of the
// loaded scans into arrays the caller owns. All arrays are 1-based.
#include <cstdint>
#include <memory>
#include <vector>
#include <string>

#include "data/fluorophore.h"
#include "lamm/conc_dependent_model.h"
#include "lamm/lamm_debug_log.h"
#include "lamm/lamm_outcome.h"
#include "lamm/lamm_records.h"
#include "lamm/moving_frame_core.h"
#include "lamm/solvent_model.h"
#include "numerics/regrid.h"

struct ScanRecord;
class CRotorSpeedProfile;
struct NonidealityModel;

class CLammIdeal {
 public:
  CLammIdeal();
  virtual ~CLammIdeal();
  CLammIdeal(const CLammIdeal&) = delete;
  CLammIdeal& operator=(const CLammIdeal&) = delete;

  // Virtual slots: settings copy, algorithm choice, grid set-up, time loop.
  virtual void CopySettings(const CLammIdeal& from);
  virtual void ChooseTimeStep();
  virtual void SetupGrid();
  virtual void Run();

  // ---- loading --------------------------------------------------------
  void MarkLoaded();
  void SetOutputParameters(double s, double D, double meniscus, double bottom, double c0,
                           float leftFitLimit, float rightFitLimit);
  void SetSpeciesAndOutput(double s, double D, float** output, const float* grid,
                           int gridLength, float** perScanRadii, const int* perScanCounts);
  void SetScanTimes(const LammScanOutput& scans);
  void SetModelOptions(const LammModelOptions& options);
  void SetSolventAndComputeFrictionalRatio(double temperature, double vbar, double density,
                                           double viscosity);
  void SetGeometryFlags(bool zoneLoading, float lamellaWidth, bool inverse);
  // A planar cell (linear, external loading, electrophoresis) is chosen:
  // this solver knows only the sector and refuses to run.
  void SetSpecialGeometry(bool special) { specialGeometry_ = special; }
  void SetInitialTime(double t0);
  void SetMaxTime(double dtMax);
  void LoadFromThreadJob(const CRotorSpeedProfile& profile, double ignored1 = 0,
                         double ignored2 = 0);
  void ClearRunFlag();
  void SetStartTimeOffset(float firstRadius);
  void SetStretchFactor(bool use, float onePlusDaDr);
  void SetTimeShiftOptions(bool use, bool linear, double linearRatePerHour, bool exponential,
                           double exponentialRatePerHour, double level);
  void SetSecondCoefficient(bool use, float coneRadius);
  void SetRadialConvolution(bool use, float width, float rangeFactor);
  void EnableOptionWithTwoValues(float gain, float second);
  void SetTimedProfiles(int count, int length, float** table, float*** perSpeciesTables,
                        const double* times, const float* radii);
  bool LoadInitialDistribution(int n, const float* radii, const float* values);
  // The fluorophore whose photophysics the run follows, kept as an own copy
  // with the excitation wavelength (1-based) in use; refused with a message
  // without a template or for a wavelength it does not have.
  bool LoadFluorophoreTemplate(const CFluorophore* fluorophore, int wavelength);
  const CFluorophore* FluorophoreTemplate() const { return fluorophore_.get(); }
  int FluorophoreWavelength() const { return fluorophoreWavelength_; }
  // Non-ideality switches and the component table (trailing empty
  // components dropped).
  void SetSolventComponents(const LammSolventComponents& components);
  // The concentration-dependent path (association, nonideality, components
  // of the table above); switches the object to that path.
  void SetConcDependentModel(const ConcDependentModel& model);
  const ConcDependentModel& ConcDependentSettings() const { return cdModel_; }
  // The inhomogeneous solvent given by coefficients.
  void SetReactionParameters(const LammInhomogeneousSolvent& solvent);

  // The buffer's mean buoyancy ratio over its viscosity ratio: s in the
  // buffer over s at 20 degC water (1 without the inhomogeneous solvent).
  double SolventMeanScale() const;
  double SolventMeanViscosityFactor() const;
  // The whole solvent model (with the solute's vbar, the rotor speed that
  // compresses the solvent and the cosolute's s(c), D(c) series): the
  // static-grid and moving-frame paths then apply the local factors and
  // simulate the cosolute.
  void SetSolventGradientParameters(const SolventGradientSettings& sg, double vbar, double rpm,
                                    const std::vector<double>& sCoef,
                                    const std::vector<double>& dCoef);
  const CosoluteState& Cosolute() const { return cosolute_; }
  const LocalSolventFactors& SolventFactors() const { return factors_; }

  // ---- running --------------------------------------------------------
  LammOutcome CheckAndRun();

  // Rotor-speed model (rpm; times in s).
  void InitRotorRamp();
  void LimitAccelerationStep();
  double RpmAtTime(double t) const;
  double RotorOmegaInStep(double t, double dt);
  void UpdateSpeedStep(double t);
  double LimitTimeStep(bool setFlag, bool& hit);
  void LoadSpecies(int n, const float* startTimes, const float* speeds, const float* rates,
                   int checkMode);
  bool IsScheduleMonotonicAfter(double t) const;

  // Algorithm and grid choice.
  bool IsGradientTooSteep(double s, double D) const;
  bool IsFloatingPileTooSteep() const;
  // A sedimenting cosolute whose pile-up at the bottom slows the species there.
  bool CosolutePilesUpAtTheBottom() const;
  bool NeedsBackDiffusionShutOff(double t, double rpm, double s, double D) const;
  bool ShutOffNegligibleDiffusion();

  // Work storage and node placement.
  bool AllocWorkMemory();
  void FreeWorkMemory();
  void FreeAllWorkMemory();
  bool ResizeWorkMemory(int n);
  int SetupGradedGrid(float transitionRadius);
  void PlaceGridNodes();

  // Detection corrections.
  bool ComputeTimeDriftFactors(double t, int n, const float* radii);
  static void ApplyExcitationShadow(float* y, const float* r, int n, double bottom, double R);
  static void ConvolveRadiallyGeneral(float* y, const float* r, int n, double w, double k,
                                      double meniscus, double bottom);
  void AllocPerScanBlock();
  void PrepareOutputStorage();
  void ClassifyOutputGrid();
  void BuildConvolutionKernel();
  void ApplyDetectionCorrections();
  void ApplyTimedProfiles(double t);
  void FinishTimedProfiles();

  // Wiener skewing of interference profiles: y given at r is moved to the
  // radii r + a dq/dr of the reference profile q (m values) and read back on r.
  void ApplyWienerSkewing(int n, const double* r, double* y, int m, const double* q);
  void AllocProfileBuffers(int n);
  void FreeProfileBuffers();
  double* WienerReference() { return wienerRef_.get(); }
  // Gaussian smoothing (FWHM width, cm) of an absorbance profile in
  // transmittance, T = 10^-y; values of 100 or more are left alone.
  static void SmoothInTransmittance(int n, double width, const double* r, double* y);
  static void SmoothInTransmittanceFloat(int n, float width, const float* r, float* y);

  // Output and diagnostics.
  void ShowSolvingProgress(int x, int y);
  void EachIterationOutput(double change);
  // Where the co-sedimenting solvent's scan files go: the folder of this
  // base path (the temp folder unless set).
  void SetCosoluteBasePath(const std::string& base) { cosoluteBase_ = base; }
  // Pieces of one radial scan when its duration is simulated; 0 (the
  // default) chooses them by FiniteScanSegments, 2 or less takes every scan
  // at one instant.
  void SetScanSegments(int count) { forcedSegments_ = count; }
  int ScanSegments() const { return segments_; }
  // Pieces of a scan running from meniscus m to bottom b (cm) at v cm/min
  // for a species of s (S) and D (cm^2/s) at omega^2 (1/s^2), its first scan
  // at time t1 (s), the fitted range ending `distance` cm from the cell end
  // the species moves to.
  static int FiniteScanSegments(double s, double D, double omega2, double m, double b, double v,
                                double t1, double distance);
  bool UserAbortRequested();
  // Appends text to this solver's debug file (the first call writes the
  // header line); a template solver logs the list runs made from it.
  void DebugLog(const char* text) const;
  // Progress texts are drawn for this solver: it reports to the window and
  // neither a fit nor a silent run suppresses them.
  bool ShowsProgressText() const { return scans_.showProgress && !scans_.suppressText1 && !scans_.suppressText2; }

  // Element integrals on the frame radii of the moving-frame path (with the
  // end terms of a steep gradient at the end the species moves to).
  double FrameIntegralMass(int i, int j) const;
  double FrameIntegralWeight(int i) const;
  double FrameIntegralDiffusion(int i, int j) const;
  double FrameIntegralSedimentation(int i, int j) const;
  double FrameIntegralMotion(int i, int j) const;
  double FrameIntegralCombined(int i, int j) const;
  const double* FrameRadii() const { return xi_; }
  void UpdateMovingGridRadii();
  double MovingFrameTotalAmount() const;

  // ---- read-outs ------------------------------------------------------
  int NodeCount() const { return N_; }
  const double* NodeRadii() const { return r_; }
  const double* Concentration() const { return c_; }
  double Time() const { return t_; }
  double S() const { return s_; }
  double D() const { return D_; }
  bool StaticGridChosen() const { return opt_.staticGrid; }
  bool MovingFrameChosen() const { return opt_.movingFrame; }
  bool Steep() const { return steep_; }
  bool NonUniformGrid() const { return nonUniformGrid_; }
  bool AbortRequested() const { return abortRequest_; }
  bool WorkMemoryAllocated() const { return allocated_; }
  double FrictionalRatio() const { return opt_.ff0; }
  double StartTimeOffset() const { return startTimeOffset_; }
  int DetailCode() const { return detailCode_; }
  bool GeometryValid() const { return geometryValid_; }
  float LeftFitLimit() const { return leftFitLimit_; }
  float RightFitLimit() const { return rightFitLimit_; }
  const int* IndexMap() const { return scans_.indexMap; }
  int MinNodes() const { return opt_.minNodes; }
  double BottomLayerNodes() const;
  // Radii m..b of a static grid for a boundary that needs boundaryNodes
  // even nodes and a pile-up at the bottom that needs finer ones there.
  std::vector<double> LayeredNodes(double boundaryNodes) const;
  // Whether species, speed and run length lie where the layered grid's
  // pile-up and leading-part rules hold (and floating species get one).
  bool LayeredGridRange() const;
  bool StepsByBoundaryAlone() const;
  bool LayeredGrid() const { return layered_; }
  int ComponentCount() const { return componentCount_; }
  int AcceptedSteps() const { return stepCount_; }
  // Accepted adaptive steps after which the static-grid path gives up as not
  // converging (code 2) rather than run practically without end.
  void SetStepLimit(int n) { stepLimit_ = n; }
  static constexpr int kDefaultStepLimit = 1000000;
  bool EndedEarly() const { return endCondition_; }
  // Total amount in the sector (1.2 cm path, 2 degree sector).
  double CellContent() const;
  // Node weight  int r phi_i dr  on the node radii.
  double NodeWeight(int i) const;

  // Worker identity (set by the list runner).
  void SetWorker(bool inWorker, int equation, int thread) {
    inWorker_ = inWorker;
    scans_.component = equation;
    threadNumber_ = thread;
  }
  double Temperature() const { return conditions_.temperature; }
  double Vbar() const { return conditions_.vbar; }
  double Density() const { return conditions_.density; }
  double Viscosity() const { return conditions_.viscosity; }

 protected:
  friend class CConcDependentPath;
  friend NonidealityModel NonidealityFromSettings(const CLammIdeal& L);
  friend void CLLammNoDiffvec(const CLammIdeal&, float, double, double, double, const float*,
                              float*, int);
  // Static-grid path.
  void SolveStaticGrid();
  double TimeLoopStaticGrid();
  void StepStaticGrid();
  void AdvanceStaticGrid(double dt);
  void BuildStepMatrices(double dt, int n);
  void BuildStaticMatrices(int n);
  void SetStaticRow(int i, int n);
  void MoveActiveEndRows(int n);
  double StepChangeAtBottom();
  bool DepletionLayerResolved() const;
  bool EvenStepsToEvents() const;
  double EvenStepToEvent(double dt);
  int AdvanceDepletedStart();
  int ExtendActiveEnd(double t);
  void FindBoundaryNode();
  bool IsBoundaryReached();
  void FixNegativeMeniscus();
  void TridiagMatVecActive(const double* lo, const double* di, const double* up,
                           const double* x, double* out, int n) const;
  bool TridagActive(const double* lo, const double* di, const double* up, const double* rhs,
                    double* x, int n);
  void TridagActiveReuse(const double* lo, const double* rhs, double* x, int n) const;
  void StepWithKeptFactors(const double* lo, const double* di, const double* up, const double* x,
                           double* c, int n) const;
  bool FactorFromBottom(int n);
  void StepFromBothEnds(const double* lo, const double* di, const double* up, const double* x,
                        double* c, int n) const;

  // Concentration-dependent path (lamm_conc_dependent.cpp); CLammNonIdeal
  // runs its own.
  virtual void SolveConcDependent();

  // Moving-frame path.
  void SolveMovingFrame();
  double TimeLoopMovingFrame();
  void CrankNicolsonMovingFrameStep(double dt);
  void FinishMovingFrameStep();
  void SetupMovingFrameGrid();
  void AssembleMovingFrameMatrices();
  void UpdateSedimentationTerms();
  void ShiftMovingFrame();
  // Points the shared moving-frame core at this object's storage and state.
  void BindFrameCore() const;

  // Inhomogeneous solvent (factors relative to the buffer, whose mean the
  // run's s and D already carry).
  void InitLocalSolventFactors(const double* r);
  double SolventMeanBuoyancyRatio() const;
  // Factors at the radii `at`, their integrals on `grid` (frame radii).
  void UpdateLocalSolventFactors(const double* at, const double* grid);
  bool LammInitLoading();
  void LammTimeStep(double stepStart);

  void SetInitialConcentration();
  void SolveWithoutDiffusion();
  void SolveWithoutTransport();
  void CorrectScan(float* y, const float* radii, int n, int scan);
  float* OutputRow(int scan, const float** radii, int* n);
  // f(k, scan, row, radii, n) for the k-th scan in output order whose row
  // and radii exist.
  template <class F>
  void ForEachOutputRow(F&& f) {
    for (int k = 1; k <= scans_.scanCount; ++k) {
      const int scan = scans_.indexMap[k];
      const float* radii = nullptr;
      int n = 0;
      float* row = OutputRow(scan, &radii, &n);
      if (row && radii) f(k, scan, row, radii, n);
    }
  }
  // The detection corrections of a finished row, then (own radii) its sum
  // into the caller's array.
  void FinishScanRow(float* row, const float* radii, int n, int scan);
  // A profile on the nodes onto a scan's radii (InterpolateCellProfile);
  // on fixed nodes through the plan made for them.
  void InterpolateScan(int n, const float* radii, float* row, const double* nodeRadii,
                       const double* profile);
  void FillRemainingScansWithFinalProfile();
  double ScanTime(int scan) const;
  double MeanSquareRpm(double t, double dt) const;
  void ShowRefusal(const char* text);

  // ---- species and geometry ----
  double s_ = 0, D_ = 0, c0_ = 1.0, meniscus_ = 0, bottom_ = 0;
  float leftFitLimit_ = 0, rightFitLimit_ = 0;
  bool geometryValid_ = false, rightLimitInside_ = false;
  int detailCode_ = 0;
  bool modelSet_ = false, loaded_ = false;

  // ---- scan output, with the scan-time and radial resolution ----
  LammScanOutput scans_;  // indexMap: the caller's or ownedIndexMap_
  bool perScanMode_ = false;
  float* ownMatrixBlock_ = nullptr;  // rows x cols, row k at ownMatrixBlock_ + (k-1)*cols - 1
  int ownRows_ = 0, ownCols_ = 0;
  int* ownedIndexMap_ = nullptr;
  int threadNumber_ = 0;
  bool outputValid_ = false;
  CCellProfilePlan outputPlan_;  // the last radii and nodes a scan was written for
  double startTimeOffset_ = 0;
  // Finite scan: pieces per scan, and the state of the scan being assembled.
  int forcedSegments_ = 0, segments_ = 0;
  int segmentIndex_ = 0, scannedNodes_ = 0;
  double scanElapsed_ = 0;
  std::vector<double> scanRadii_;  // node radii when each piece was taken (the frame moves)
  bool FiniteScan() const { return scans_.timeResolution && scans_.scanVelocity > 0 && segments_ > 2; }
  bool AssembleScanSegment();
  void ChooseScanSegments();

  // ---- model options ----
  LammModelOptions opt_;
  bool parametersValid_ = true;

  // ---- solvent, zone loading, rotor ----
  LammSolutionConditions conditions_;
  LammZoneLoading zone_;
  LammRotor rotor_;
  bool accelerating_ = false;

  // ---- speed schedule ----
  bool schedule_ = false;
  int steps_ = 0;
  std::unique_ptr<double[]> stepStart_, stepEnd_, stepRpm_, stepRate_;
  int currentStep_ = 1;
  bool atPlateau_ = false, scheduleFinished_ = false;

  // ---- grid and algorithm ----
  int N_ = 0;
  float movingCandidate_ = 0, staticCandidate_ = 0, refineRadius_ = 0;
  bool steep_ = false, scheduleGrid_ = false, defaultGrid_ = false, retry_ = false;
  bool refineRequested_ = false;
  bool noTransport_ = false;
  bool nonUniformGrid_ = false;
  bool grading_ = false;
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
  mutable CMovingFrameCore mf_;  // frame clock, rates and matrices of the path
  bool periodStepping_ = false, storedUse_ = false, firstRunStep_ = false, partial_ = false,
       completeNext_ = false, veryFirst_ = false;
  double totalAmount_ = 0;

  // ---- time loop ----
  double t_ = 0, dt_ = 1.0, initialDt_ = 1.0, startTime_ = 0;
  bool maxTimeGiven_ = false;
  double maxTimeValue_ = 0;
  int outIndex_ = 1;
  double nextScanTime_ = 0;
  int iteration_ = 0;
  bool abortRequest_ = false;
  int errNonConvergence_ = 0, errTridag_ = 0, errConcDependent_ = 0;
  bool inWorker_ = false, debug_ = false;
  bool running_ = false, continueAfterLast_ = false;
  bool pendingEvent_ = false;
  double pendingTime_ = 0;

  // ---- static path state ----
  int stepLimit_ = kDefaultStepLimit;
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
  double watchFraction_ = 1e-4;
  double cellContent_ = 0;
  bool massTracking_ = false;

  // ---- detection corrections ----
  LammDetection detection_;
  // The drift's factors at the scans of a run (not copied).
  std::unique_ptr<double[]> driftFactors_;
  int driftCount_ = 0;
  bool driftValid_ = false;
  // The output grid's class and the convolution kernel made for it.
  int gridClass_ = -1;
  std::unique_ptr<float[]> kernel_;
  int kernelLength_ = 0, convFirst_ = 0, convLast_ = 0;
  bool specialGeometry_ = false;

  // ---- loaded and timed profiles ----
  bool initialProfile_ = false;
  int initialCount_ = 0;
  std::unique_ptr<double[]> initialRadii_, initialValues_;
  LammTimedProfiles timed_;

  // ---- non-ideality and inhomogeneous solvent (read by derived solvers) ----
  bool nonIdealPlain_ = false, nonIdealModel_ = false, concDependentSolver_ = false,
       nonIdealThird_ = false, tableModel_ = false, concDependentModel_ = false;
  bool nonIdealValid_ = true;
  int componentCount_ = 0;
  std::unique_ptr<double[]> compConc_, compS_, compD_, compWeight_;
  double nonIdealFurther_[8] = {};
  ConcDependentModel cdModel_;
  bool positiveSOnly_ = false;  // the path also refuses s <= 0
  LammInhomogeneousSolvent medium_;
  SolventGradientSettings solvent_;
  bool solventGiven_ = false, localSolvent_ = false;
  double solventVbar_ = 0.73, solventRpm_ = 0;
  std::vector<double> cosoluteSCoef_, cosoluteDCoef_;
  CosoluteState cosolute_;
  LocalSolventFactors factors_;
  std::unique_ptr<double[]> wienerRef_, wienerWork1_, wienerWork2_;
  int wienerCount_ = 0;

  std::unique_ptr<CFluorophore> fluorophore_;
  int fluorophoreWavelength_ = 1;
  void CopyFluorophoreFrom(const CLammIdeal& other);

  // ---- diagnostics ----
  // The four progress lines of a step, and a stored scan drawn (with the
  // co-sedimenting solvent's profile, shown and written) on the
  // user-interface thread.
  void ShowStepLines(double change) const;
  void ShowStoredScan(int scan, const float* row, const float* radii, int n) const;
  std::string cosoluteBase_;

  // Not part of the solver's state: a const solver still writes its log.
  std::unique_ptr<CLammDebugLog> debugLog_ = std::make_unique<CLammDebugLog>();
};
