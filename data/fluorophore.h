#pragma once
// Photophysics of fluorophores: decay towards a steady state under the
// excitation light, recovery to set levels at reset times, and a laser burn
// of radial zones. Arrays are 1-based (entry 0 unused).
#include <string>
#include <vector>

class CFluorophore {
 public:
  CFluorophore();

  void CopyTo(CFluorophore* target) const;
  bool Equals(const CFluorophore* other) const;
  void SetWavelengthCount(int n);
  void SetResetTimes(int n, const float* times);
  void LoadRecoveryLevels(int wavelength, int reset, float level);
  void NormalizeRecoveryLevels();
  int CountAdjustableParameters();
  // Packs the flagged values into list[1..]; a null list only counts.
  int CreateListOfAdjustableParameters(int capacity, float* list);
  bool ApplyListOfAdjustableParameters(const float* list, int count);

  int nWavelengths = 1;
  std::vector<float> pSpecificSignalCoeffs;  // [1..nWavelengths]
  std::vector<float> pRateConstantsOn;       // per hour
  unsigned char bFitRateConstants = 0;
  std::vector<float> pInfTimeSteadyStateOn;  // fraction of the initial signal
  unsigned char bFitSteadyStateLevels = 0;
  unsigned char bSwitching = 0;
  int nResetTimes = 0;
  std::vector<float> pResetTimes;                    // s, [1..nResetTimes]
  std::vector<std::vector<float>> ppRecoveryLevels;  // [w][k]
  std::vector<unsigned char> pbFitRecoveryLevels;    // [1..nResetTimes]
  unsigned char bRecoveryAllSame = 0;
  int AllSameFrom = 0;
  int AllSameTo = 0;
  unsigned char bRecoveryExponential = 0;
  unsigned char bBurning = 0;
  unsigned char bWithBurnReset = 0;
  double BurnStartTime = 0;
  double BurnEndTime = 0;
  double BurnResetTime = -1.0;
  double BurnBeamWidth = 0.01;
  double BurnRate = 5.0;
  unsigned char bFitBurnRate = 0;
  double BurnCenterRadius = 6.49;  // cm
  unsigned char bFitBurnCenterRadius = 0;
  double BurnZone = 0.1;
  unsigned char bFitBurnZone = 0;
  double BurnAsym = 1.0;
  unsigned char bFitBurnAsym = 0;
  double BurnDepth = 0.4;
  double BurnCenterRadius2 = 6.49;
  unsigned char bFitBurnCenterRadius2 = 0;
  double BurnZone2 = 0.4;
  unsigned char bFitBurnZone2 = 0;
  double BurnRate2Fract = 0;
  unsigned char bFitBurnRate2Fract = 0;
  unsigned char bWithInitialBurn = 0;
  int nInitialBurn = 0;
  std::vector<double> pInitialBurnFact;  // [1..nInitialBurn]
  std::vector<double> pInitialBurnRad;
  int maxOtherParameters = 9;
};

// Signal factor of fluorophore f at wavelength w (1-based) and time t (s):
// decay from the last reset before t towards the steady state, scaled by
// that reset's recovery level; never negative.
double TimeDecayFactor(const CFluorophore& f, int w, double t);

class CAllFluorophores {
 public:
  CAllFluorophores() = default;

  void SetFluorophoreCount(int n);
  void SetResetTimes(int n, const float* times);
  int CountAdjustableParameters();
  const std::vector<float>& CreateListOfAdjustableParameters(int& count);
  const std::vector<int>& CreateListOfVariation(int& count);
  bool ApplyListOfVariation(const int* list, int count);
  bool ApplyListOfAdjustableParameters(const float* list, int count);
  void NormalizeAll();
  int BuildActiveIndex();
  bool HasIndistinguishablePair();
  bool DidFluorophoreParameterChange(int index);
  void SaveBackup(int index);
  void SaveAllBackups();
  // Every value as a flat list, with its key name when keys is given;
  // count in: capacity (10000 when not positive), out: values written.
  std::vector<float> SaveParameters(int& count, std::vector<std::string>* keys = nullptr,
                                    int keyCapacity = 0);
  // Reads a list in the order SaveParameters writes it; a list too short
  // for the counts it announces is refused and changes nothing.
  bool LoadParameters(const float* list, int count);
  // Ratio of the largest to the smallest eigenvalue of the weighted Gram
  // matrix of the active fluorophores' time courses at times[1..points].
  float ConditionNumberOfSignals(int points, const float* times, const float* weights,
                                 std::vector<double>* eigenvalues = nullptr,
                                 std::vector<std::vector<double>>* signals = nullptr,
                                 std::vector<std::vector<double>>* gram = nullptr);

  int nFLO = 0;
  std::vector<CFluorophore> pFLO;  // [1..nFLO]
  std::vector<CFluorophore> backup;
  std::vector<unsigned char> IsActive;  // [1..nFLO]
  std::vector<int> activeList;          // [1..active]
  int activeCount = 0;
  std::vector<int> activePosition;  // [1..nFLO]
  std::vector<float> pResetTimes;   // [1..nresettimes]
  int nresettimes = 0;
  std::vector<float> parameterList;
  std::vector<int> variationList;
  unsigned char bFitLaserPowerTimeDrift = 0;
  float LaserPowerTimeDrift = 0;
  unsigned char bFitRadialSigMagDrift = 0;
  float RadialSigMagDrift = 1.0f;
  unsigned char bFitLaserConeDiameter = 0;
  float LaserConeDiameter = 0.12f;
  float ConvolutionRadius = 0.02f;

 private:
  int ListCapacity() const;
};
