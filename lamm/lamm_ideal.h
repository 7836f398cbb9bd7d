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
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>
#include <string>

#include "lamm/lamm_debug_log.h"
#include "lamm/lamm_ideal_state.h"
#include "lamm/lamm_outcome.h"

struct ScanRecord;
class CRotorSpeedProfile;
struct NonidealityModel;

class CLammIdeal : protected LammIdealState {
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
  // What the scans added on per-scan radii are multiplied by: a species
  // solved at unit loading is added at its own.
  void SetPerScanOutputFactor(double f) { perScanFactor_ = static_cast<float>(f); }
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
  // True when the species has left the fit range before the first scan so
  // completely that its concentration there (and at the output radii next to
  // the fit limits, which interpolation onto the data reads) stays below
  // kEmptyFitRangeLevel of its loading in every scan: its sharp boundary lies
  // that far past the range, at the slowest speed of the scans and with no
  // move during a ramp, and the layer it collects in at the cell's end
  // reaches into the range no further even at sedimentation equilibrium.
  // Only for the uniform loading of the sector cell at constant speed (after
  // at most a linear ramp) without detection corrections, scan-time or
  // radial resolution, solvent gradient, non-ideality or loaded profiles;
  // false whenever anything else is loaded. Nothing of a run changes.
  bool FitRangeEmptyInEveryScan() const;
  static constexpr double kEmptyFitRangeLevel = 1e-40;
  // True when the fit range (and the output radii next to its limits) lies
  // in the plateau in every scan: no particle found there has touched the
  // meniscus or the bottom by more than a probability of kPlateauLevel, so
  // that the concentration there is the closed form c0 exp(-2 s w^2 t) of
  // sedimentation without diffusion (lamm_no_diffusion.h) to far below a
  // float's resolution. In log r a particle drifts at s w^2 and diffuses at
  // D / r^2 <= D / m^2; its sharp path back from r keeps a distance a from
  // either end, and it strays that far with a probability below
  // exp(-a^2 m^2 / (4 D t)). Only for the runs of FitRangeEmptyInEveryScan,
  // and besides at one rotor speed from the start (no ramp in effect, no
  // start time): the closed form's time is then the solver's.
  bool FitRangeInPlateauInEveryScan() const;
  static constexpr double kPlateauLevel = 1e-12;
  // For such a species the scans are written from the closed form instead
  // of being solved (their values outside the fit range are the sharp
  // boundary's); false, nothing written, for any other.
  bool SolvePlateauOfTheFitRange();
  // For a run of the plain sector cell (PlainSectorRun): every setting the
  // run reads, as bytes (the scans by their times and speeds, the caller's
  // output arrays left out). Two solvers loaded with the same key write the
  // same curves, bit for bit, while the caller's scans and grid stay as
  // they are. Empty for any other run. Without the loading: two solvers
  // whose keys differ only in it write curves in proportion to it (the
  // equation is linear in c, and its checks relative to the loading).
  std::string PlainRunKey(bool withLoading = true) const;
  // With it set, a species that has crossed the cell before the first scan
  // (its sharp boundary past the far end, at the last scan's speed) and
  // collects in a layer at that end wider than two spacings of the default
  // grid (D / (|s| w^2 r)) is solved on the static grid even where its s
  // would choose the moving frame: the frame's steps follow the boundary's
  // travel, one element per step over the whole run (some 47 000 steps for
  // 280 S over three hours), and never fall quiet over such a layer, while
  // the static grid's steps follow the profile's change (a few hundred).
  // So is a species of 0.1-100 S (LayeredGridRange), floating or with its
  // layer at the bottom unseen by the fit range (EndLayerApartFromTheFitRange),
  // on the layered grid (FloatingOnTheLayeredGrid): it follows the boundary
  // and a floating pile as closely as the frame or closer, in steps that
  // follow the profile's change instead of its travel.
  // Off unless set; only with the automatic algorithm choice.
  void SetWideEndLayersOnStaticGrid(bool on) { wideEndLayersStatic_ = on; }
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
  static constexpr int kDefaultStepLimit = kLammDefaultStepLimit;
  bool EndedEarly() const { return endCondition_; }
  // Total amount in the sector (1.2 cm path, 2 degree sector).
  double CellContent() const;
  // A run that ended with clearly less than nothing or more than twice its
  // loading was not computed (code 3).
  void CheckAmountKept();
  // Node weight  int r phi_i dr  on the node radii.
  double NodeWeight(int i) const;

  // Worker identity (set by the list runner).
  void SetWorker(bool inWorker, int equation, int thread) {
    inWorker_ = inWorker;
    scans_.component = equation;
    threadNumber_ = thread;
  }
  // A worker's solver stores the time it has reached here at every step,
  // for the calling thread to show; null: nowhere.
  void PublishTimeTo(std::atomic<double>* reached) { reachedTime_ = reached; }
  double Temperature() const { return conditions_.temperature; }
  double Vbar() const { return conditions_.vbar; }
  double Density() const { return conditions_.density; }
  double Viscosity() const { return conditions_.viscosity; }

 protected:
  friend class CConcDependentPath;
  friend NonidealityModel NonidealityFromSettings(const CLammIdeal& L);
  friend void CLLammNoDiffvec(const CLammIdeal&, float, double, double, double, const float*,
                              float*, int);
  // The uniform loading of a sector cell at constant rotor speeds (after at
  // most a linear ramp) with nothing else loaded, for a species of s != 0
  // and D > 0.
  bool PlainSectorRun() const;
  // Time of scan k (time order) at full speed: after the ramp and the start.
  double TimeAtFullSpeed(int k) const;
  // ln(c / c0) of the equilibrium layer at radius r and speed omega^2.
  double LogEquilibriumShare(double omega2, double r) const;
  // The slowest rotor speed of the scans (rpm).
  double SlowestScanRpm() const;
  // The radii whose values a fitted point reads (the fit limits, on a common
  // grid the grid radii just outside them); false unless inside the cell.
  bool FitRangeRead(double* low, double* high) const;
  // The layer at the end the species moves to stays below
  // kApartEndLayerLevel of its loading in the fit range (and at the radii
  // next to it that interpolation reads), even at equilibrium at the slowest
  // speed of the scans: the range sees none of it.
  bool EndLayerApartFromTheFitRange() const;
  static constexpr double kApartEndLayerLevel = 1e-4;
  // With SetWideEndLayersOnStaticGrid: a floating species of the layered
  // grid's range gets that grid although it has no frictional ratio.
  bool FloatingOnTheLayeredGrid() const;
  // The case of SetWideEndLayersOnStaticGrid at the rotor speed rpm.
  bool WideEndLayerAfterCrossing(double rpm) const;
  // A species that has crossed the cell before the first scan (its sharp
  // boundary past the far end, |s| w^2 t1 >= ln(b/m) at the slowest speed of
  // the scans, at one speed from the start or after a linear ramp): no scan
  // shows its boundary, only the layer it collects in. The frame takes a
  // step per element the boundary travels over the whole run (18 000 for
  // -108 S over three hours: 50 ms) and never falls quiet over the layer;
  // the rules of SetWideEndLayersOnStaticGrid apply to it unasked, and
  // every other species is solved as before.
  bool CrossedTheCellBeforeTheFirstScan() const;
  // SetWideEndLayersOnStaticGrid, or a species that crossed the cell before
  // the first scan: the end layers' rules apply to either.
  bool EndLayersOnStaticGrid() const { return wideEndLayersStatic_ || CrossedTheCellBeforeTheFirstScan(); }

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
  bool DepletionLayerBeyondTheGrid() const;
  double DepletedEndUndershootFloor() const;
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
  void StepWithKeptFactors(const double* lo, const double* di, const double* up, const double* x,
                           double* c, int n) const;
  void PairFactors(int n);
  bool ResumableStaticRun() const;
  void ResumeStaticRun(const std::vector<double>& from, int& collapse, CQuietSteps& quiet);
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
  // The loading concentration: what the solution is a multiple of.
  double LoadingConcentration() const;
  // The loading at r with a synthetic boundary: of component k (k > 0) or
  // the signal of them all (k = 0).
  double SyntheticBoundaryLoading(int component, double r) const;
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

  // A scan of finite duration is taken in pieces (lamm_output.cpp).
  bool FiniteScan() const { return scans_.timeResolution && scans_.scanVelocity > 0 && segments_ > 2; }
  bool AssembleScanSegment();
  void ChooseScanSegments();
  // The four progress lines of a step, and a stored scan drawn (with the
  // co-sedimenting solvent's profile, shown and written) on the
  // user-interface thread.
  void ShowStepLines(double change, bool last) const;
  void ShowStoredScan(int scan, const float* row, const float* radii, int n) const;
  void CopyFluorophoreFrom(const CLammIdeal& other);

  // Not part of the solver's state: a const solver still writes its log.
  std::unique_ptr<CLammDebugLog> debugLog_ = std::make_unique<CLammDebugLog>();
};
