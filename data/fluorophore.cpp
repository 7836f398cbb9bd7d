#include "data/fluorophore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "numerics/eigen.h"
#include "platform/error_box.h"

namespace {

// The burn terms are doubles but every list that carries them (the saved
// parameters, the fitter's values) holds floats; they compare at that
// precision so a saved and reloaded set equals its original.
bool Same(double a, double b) { return static_cast<float>(a) == static_cast<float>(b); }

template <typename T>
void Grow(std::vector<T>& v, int n, T fill) {
  v.resize(static_cast<std::size_t>(n) + 1, fill);
}

}  // namespace

CFluorophore::CFluorophore() {
  Grow(pSpecificSignalCoeffs, 1, 1.0f);
  Grow(pRateConstantsOn, 1, 0.0f);
  Grow(pInfTimeSteadyStateOn, 1, 1.0f);
  ppRecoveryLevels.assign(2, std::vector<float>(1, 1.0f));
  pResetTimes.assign(1, 0.0f);
  pbFitRecoveryLevels.assign(1, 0);
}

void CFluorophore::CopyTo(CFluorophore* target) const {
  if (!target) return;
  *target = *this;
}

bool CFluorophore::Equals(const CFluorophore* other) const {
  if (!other) return false;
  const CFluorophore& o = *other;
  if (nWavelengths != o.nWavelengths || nResetTimes != o.nResetTimes || bSwitching != o.bSwitching) return false;
  for (int w = 1; w <= nWavelengths; ++w) {
    if (pSpecificSignalCoeffs[w] != o.pSpecificSignalCoeffs[w] || pRateConstantsOn[w] != o.pRateConstantsOn[w] ||
        pInfTimeSteadyStateOn[w] != o.pInfTimeSteadyStateOn[w])
      return false;
    for (int k = 1; k <= nResetTimes; ++k)
      if (ppRecoveryLevels[w][k] != o.ppRecoveryLevels[w][k]) return false;
  }
  if (bBurning != o.bBurning || bWithBurnReset != o.bWithBurnReset || !Same(BurnStartTime, o.BurnStartTime) ||
      !Same(BurnEndTime, o.BurnEndTime) || !Same(BurnResetTime, o.BurnResetTime) || !Same(BurnDepth, o.BurnDepth) ||
      !Same(BurnRate, o.BurnRate) || !Same(BurnAsym, o.BurnAsym) || !Same(BurnCenterRadius, o.BurnCenterRadius) ||
      !Same(BurnZone, o.BurnZone) || !Same(BurnRate2Fract, o.BurnRate2Fract) || !Same(BurnZone2, o.BurnZone2) ||
      !Same(BurnCenterRadius2, o.BurnCenterRadius2) || bWithInitialBurn != o.bWithInitialBurn ||
      nInitialBurn != o.nInitialBurn)
    return false;
  for (int k = 1; k <= nInitialBurn; ++k)
    if (!Same(pInitialBurnFact[k], o.pInitialBurnFact[k]) || !Same(pInitialBurnRad[k], o.pInitialBurnRad[k]))
      return false;
  return true;
}

void CFluorophore::SetWavelengthCount(int n) {
  if (n < 2 || n < nWavelengths) return;
  Grow(pSpecificSignalCoeffs, n, 1.0f);
  Grow(pRateConstantsOn, n, 0.0f);
  Grow(pInfTimeSteadyStateOn, n, 1.0f);
  ppRecoveryLevels.resize(static_cast<std::size_t>(n) + 1,
                          std::vector<float>(static_cast<std::size_t>(nResetTimes) + 1, 1.0f));
  nWavelengths = n;
}

void CFluorophore::SetResetTimes(int n, const float* times) {
  if (n < 1 || !times || nWavelengths < 1) return;
  if (n != nResetTimes) {
    nResetTimes = n;
    pResetTimes.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    for (auto& row : ppRecoveryLevels) row.assign(static_cast<std::size_t>(n) + 1, 1.0f);
    pbFitRecoveryLevels.assign(static_cast<std::size_t>(n) + 1, 0);
  }
  for (int k = 1; k <= n; ++k) pResetTimes[k] = times[k];
}

void CFluorophore::LoadRecoveryLevels(int wavelength, int reset, float level) {
  if (wavelength < 1 || reset < 1) return;
  if (wavelength > nWavelengths) {
    ErrorBox("LoadRecoveryLevels error: wl index exceeding nWavelengths");
    return;
  }
  if (reset > nResetTimes) {
    ErrorBox("LoadRecoveryLevels error: n index exceeding nResetTimes");
    return;
  }
  ppRecoveryLevels[wavelength][reset] = level;
}

void CFluorophore::NormalizeRecoveryLevels() {
  if (!bSwitching)
    for (auto& flag : pbFitRecoveryLevels) flag = 0;
  if (AllSameTo < AllSameFrom) std::swap(AllSameFrom, AllSameTo);
  AllSameTo = std::min(AllSameTo, nResetTimes);
  AllSameFrom = std::max(AllSameFrom, 1);
  if (!bRecoveryAllSame || AllSameFrom >= nResetTimes) return;
  for (int k = AllSameFrom + 1; k <= AllSameTo; ++k) {
    pbFitRecoveryLevels[k] = 0;
    for (int w = 1; w <= nWavelengths; ++w) {
      std::vector<float>& level = ppRecoveryLevels[w];
      level[k] = bRecoveryExponential ? level[k - 1] * level[1] : level[k - 1];
    }
  }
}

int CFluorophore::CountAdjustableParameters() { return CreateListOfAdjustableParameters(0, nullptr); }

int CFluorophore::CreateListOfAdjustableParameters(int capacity, float* list) {
  if (list && (nResetTimes + maxOtherParameters) * nWavelengths > capacity) {
    ErrorBox("too few parameters in CFluorophore::CreateListOfAdjustableParameters");
    return 0;
  }
  int n = 0;
  auto put = [&](bool flagged, double value) {
    if (!flagged) return;
    ++n;
    if (list) list[n] = static_cast<float>(value);
  };
  put(bFitRateConstants, pRateConstantsOn[1]);
  put(bFitSteadyStateLevels, pInfTimeSteadyStateOn[1]);
  if (bSwitching && nResetTimes >= 1) {
    NormalizeRecoveryLevels();
    for (int k = 1; k <= nResetTimes; ++k) put(pbFitRecoveryLevels[k], ppRecoveryLevels[1][k]);
  }
  put(bFitBurnRate, BurnRate);
  put(bFitBurnCenterRadius, BurnCenterRadius);
  put(bFitBurnZone, BurnZone);
  put(bFitBurnAsym, BurnAsym);
  put(bFitBurnCenterRadius2, BurnCenterRadius2);
  put(bFitBurnZone2, BurnZone2);
  put(bFitBurnRate2Fract, BurnRate2Fract);
  return n;
}

bool CFluorophore::ApplyListOfAdjustableParameters(const float* list, int count) {
  if (count != CountAdjustableParameters() || (!list && count > 0)) {
    ErrorBox("wrong number of parameters in CFluorophore::ApplyListOfAdjustableParameters");
    return false;
  }
  int n = 0;
  auto take = [&](bool flagged, auto& target) {
    if (flagged) target = list[++n];
  };
  if (bFitRateConstants) {
    const float v = list[++n];
    for (int w = 1; w <= nWavelengths; ++w) pRateConstantsOn[w] = v;
  }
  if (bFitSteadyStateLevels) {
    const float v = list[++n];
    for (int w = 1; w <= nWavelengths; ++w) pInfTimeSteadyStateOn[w] = v;
  }
  if (bSwitching && nResetTimes >= 1) {
    for (int k = 1; k <= nResetTimes; ++k) {
      if (!pbFitRecoveryLevels[k]) continue;
      const float v = list[++n];
      for (int w = 1; w <= nWavelengths; ++w) ppRecoveryLevels[w][k] = v;
    }
    NormalizeRecoveryLevels();
  }
  take(bFitBurnRate, BurnRate);
  take(bFitBurnCenterRadius, BurnCenterRadius);
  take(bFitBurnZone, BurnZone);
  take(bFitBurnAsym, BurnAsym);
  take(bFitBurnCenterRadius2, BurnCenterRadius2);
  take(bFitBurnZone2, BurnZone2);
  take(bFitBurnRate2Fract, BurnRate2Fract);
  return true;
}

double TimeDecayFactor(const CFluorophore& f, int w, double t) {
  double dt = t;
  double level = 1.0;
  if (f.bSwitching) {
    for (int k = 1; k <= f.nResetTimes && f.pResetTimes[k] < t; ++k) {
      dt = t - f.pResetTimes[k];
      level = f.ppRecoveryLevels[w][k];
    }
  }
  const double s = f.pInfTimeSteadyStateOn[w];
  const double k = std::fabs(static_cast<double>(f.pRateConstantsOn[w]));
  return std::max(0.0, ((1.0 - s) * std::exp(-k * dt / 3600.0) + s) * level);
}

// ---------------------------------------------------------------------------

void CAllFluorophores::SetFluorophoreCount(int n) {
  if (n == nFLO || n < 1) return;
  const int kept = std::min(nFLO, n);
  std::vector<CFluorophore> fresh(static_cast<std::size_t>(n) + 1);
  std::vector<unsigned char> active(static_cast<std::size_t>(n) + 1, 0);
  for (int i = 1; i <= kept; ++i) {
    pFLO[i].CopyTo(&fresh[i]);
    active[i] = IsActive[i];
  }
  pFLO = std::move(fresh);
  IsActive = std::move(active);
  backup.assign(static_cast<std::size_t>(n) + 1, CFluorophore());
  activePosition.assign(static_cast<std::size_t>(n) + 1, 0);
  nFLO = n;
}

void CAllFluorophores::SetResetTimes(int n, const float* times) {
  nresettimes = std::max(n, 0);
  pResetTimes.assign(static_cast<std::size_t>(nresettimes) + 1, 0.0f);
  for (int k = 1; k <= nresettimes && times; ++k) pResetTimes[k] = times[k];
  for (int i = 1; i <= nFLO; ++i) pFLO[i].SetResetTimes(n, times);
}

int CAllFluorophores::CountAdjustableParameters() {
  int n = 0;
  for (int i = 1; i <= nFLO; ++i)
    if (IsActive[i]) n += pFLO[i].CountAdjustableParameters();
  return n + (bFitLaserPowerTimeDrift ? 1 : 0) + (bFitRadialSigMagDrift ? 1 : 0) + (bFitLaserConeDiameter ? 1 : 0);
}

// Room for every fluorophore's own packed length, plus the laser terms.
int CAllFluorophores::ListCapacity() const {
  int n = 4;
  for (int i = 1; i <= nFLO; ++i) n += (pFLO[i].nResetTimes + pFLO[i].maxOtherParameters) * pFLO[i].nWavelengths;
  return n;
}

const std::vector<float>& CAllFluorophores::CreateListOfAdjustableParameters(int& count) {
  const int capacity = ListCapacity();
  if (static_cast<int>(parameterList.size()) < capacity + 1) parameterList.assign(capacity + 1, 0.0f);
  count = 0;
  for (int i = 1; i <= nFLO; ++i)
    if (IsActive[i])
      count += pFLO[i].CreateListOfAdjustableParameters(capacity - count, parameterList.data() + count);
  if (bFitLaserPowerTimeDrift) parameterList[++count] = LaserPowerTimeDrift;
  if (bFitRadialSigMagDrift) parameterList[++count] = RadialSigMagDrift;
  if (bFitLaserConeDiameter) parameterList[++count] = LaserConeDiameter;
  return parameterList;
}

const std::vector<int>& CAllFluorophores::CreateListOfVariation(int& count) {
  const int capacity = ListCapacity();
  if (static_cast<int>(variationList.size()) < capacity + 1) variationList.resize(capacity + 1);
  std::fill(variationList.begin(), variationList.end(), 0);
  count = 0;
  auto put = [&](unsigned char flag) { variationList[++count] = flag ? 1 : 0; };
  for (int i = 1; i <= nFLO; ++i) {
    if (!IsActive[i]) continue;
    CFluorophore& f = pFLO[i];
    put(f.bFitRateConstants);
    put(f.bFitSteadyStateLevels);
    if (f.bSwitching && f.nResetTimes >= 1) {
      f.NormalizeRecoveryLevels();
      for (int k = 1; k <= f.nResetTimes; ++k) put(f.pbFitRecoveryLevels[k]);
    }
    for (unsigned char flag : {f.bFitBurnRate, f.bFitBurnCenterRadius, f.bFitBurnZone, f.bFitBurnAsym,
                               f.bFitBurnCenterRadius2, f.bFitBurnZone2, f.bFitBurnRate2Fract})
      put(flag);
  }
  put(bFitLaserPowerTimeDrift);
  put(bFitRadialSigMagDrift);
  put(bFitLaserConeDiameter);
  return variationList;
}

bool CAllFluorophores::ApplyListOfVariation(const int* list, int count) {
  int expected = 0;
  CreateListOfVariation(expected);
  if (count != expected || !list) {
    ErrorBox("wrong number of parameters in CAllFluorophores::ApplyListOfVariation");
    return false;
  }
  int n = 0;
  auto take = [&](unsigned char& flag) { flag = list[++n] != 0 ? 1 : 0; };
  for (int i = 1; i <= nFLO; ++i) {
    if (!IsActive[i]) continue;
    CFluorophore& f = pFLO[i];
    take(f.bFitRateConstants);
    take(f.bFitSteadyStateLevels);
    if (f.bSwitching && f.nResetTimes >= 1)
      for (int k = 1; k <= f.nResetTimes; ++k) take(f.pbFitRecoveryLevels[k]);
    for (unsigned char* flag : {&f.bFitBurnRate, &f.bFitBurnCenterRadius, &f.bFitBurnZone, &f.bFitBurnAsym,
                                &f.bFitBurnCenterRadius2, &f.bFitBurnZone2, &f.bFitBurnRate2Fract})
      take(*flag);
    f.NormalizeRecoveryLevels();
  }
  take(bFitLaserPowerTimeDrift);
  take(bFitRadialSigMagDrift);
  take(bFitLaserConeDiameter);
  return true;
}

bool CAllFluorophores::ApplyListOfAdjustableParameters(const float* list, int count) {
  if (count != CountAdjustableParameters() || (!list && count > 0)) {
    ErrorBox("wrong number of parameters in CAllFluorophores::ApplyListOfAdjustableParameters");
    return false;
  }
  int n = 0;
  for (int i = 1; i <= nFLO; ++i) {
    if (!IsActive[i]) continue;
    const int own = pFLO[i].CountAdjustableParameters();
    pFLO[i].ApplyListOfAdjustableParameters(list + n, own);
    n += own;
  }
  if (bFitLaserPowerTimeDrift) LaserPowerTimeDrift = list[++n];
  if (bFitRadialSigMagDrift) RadialSigMagDrift = list[++n];
  if (bFitLaserConeDiameter) LaserConeDiameter = list[++n];
  return true;
}

void CAllFluorophores::NormalizeAll() {
  for (int i = 1; i <= nFLO; ++i) pFLO[i].NormalizeRecoveryLevels();
}

int CAllFluorophores::BuildActiveIndex() {
  activeList.assign(1, 0);
  activePosition.assign(static_cast<std::size_t>(nFLO) + 1, 0);
  for (int i = 1; i <= nFLO; ++i) {
    if (!IsActive[i]) continue;
    activeList.push_back(i);
    activePosition[i] = static_cast<int>(activeList.size()) - 1;
  }
  activeCount = static_cast<int>(activeList.size()) - 1;
  return activeCount;
}

bool CAllFluorophores::HasIndistinguishablePair() {
  for (int i = 1; i <= nFLO; ++i) {
    if (!IsActive[i] || pFLO[i].bSwitching) continue;
    for (int j = 1; j <= nFLO; ++j)
      if (j != i && IsActive[j] && pFLO[j].pRateConstantsOn[1] == pFLO[i].pRateConstantsOn[1] &&
          pFLO[j].pInfTimeSteadyStateOn[1] * pFLO[i].pInfTimeSteadyStateOn[1] >= 0)
        return true;
  }
  return false;
}

bool CAllFluorophores::DidFluorophoreParameterChange(int index) {
  if (activeList.empty()) {
    ErrorBox("ActiveIndex not defined in CFluorophore::DidFluorophoreParameterChange");
    return true;
  }
  if (index < 1 || index > nFLO) return true;
  return !pFLO[index].Equals(&backup[index]);
}

void CAllFluorophores::SaveBackup(int index) {
  if (index >= 1 && index <= nFLO) pFLO[index].CopyTo(&backup[index]);
}

void CAllFluorophores::SaveAllBackups() {
  for (int i = 1; i <= nFLO; ++i) SaveBackup(i);
}

std::vector<float> CAllFluorophores::SaveParameters(int& count, std::vector<std::string>* keys, int keyCapacity) {
  const int capacity = count > 0 ? count : 10000;
  std::vector<float> values(static_cast<std::size_t>(capacity) + 1, 0.0f);
  if (keys) keys->assign(static_cast<std::size_t>(std::max(keyCapacity, 0)) + 1, std::string());
  int n = 0;
  char key[96];
  auto put = [&](double value) {
    ++n;
    if (n <= capacity) values[n] = static_cast<float>(value);
    if (keys && n <= keyCapacity) (*keys)[n] = key;
  };
  auto named = [&](const char* format, auto... indices) {
    std::snprintf(key, sizeof key, format, indices...);
  };
  named("nFLO");
  put(nFLO);
  for (int i = 1; i <= nFLO; ++i) named("IsActive[%d]", i), put(IsActive[i]);
  named("nresettimes");
  put(nresettimes);
  for (int k = 1; k <= nresettimes; ++k) named("pResetTimes[%d]", k), put(pResetTimes[k]);
  named("bFitLaserPowerTimeDrift"), put(bFitLaserPowerTimeDrift);
  named("LaserPowerTimeDrift"), put(LaserPowerTimeDrift);
  named("bFitRadialSigMagDrift"), put(bFitRadialSigMagDrift);
  named("RadialSigMagDrift"), put(RadialSigMagDrift);
  named("bFitLaserConeDiameter"), put(bFitLaserConeDiameter);
  named("LaserConeDiameter"), put(LaserConeDiameter);
  named("ConvolutionRadius"), put(ConvolutionRadius);
  for (int i = 1; i <= nFLO; ++i) {
    const CFluorophore& f = pFLO[i];
    auto field = [&](const char* name, double value) {
      std::snprintf(key, sizeof key, "pFLO[%d].%s", i, name);
      put(value);
    };
    auto element = [&](const char* name, int index, double value) {
      std::snprintf(key, sizeof key, "pFLO[%d].%s[%d]", i, name, index);
      put(value);
    };
    field("nWavelengths", f.nWavelengths);
    for (int w = 1; w <= f.nWavelengths; ++w) element("pSpecificSignalCoeffs", w, f.pSpecificSignalCoeffs[w]);
    for (int w = 1; w <= f.nWavelengths; ++w) element("pRateConstantsOn", w, f.pRateConstantsOn[w]);
    field("bFitRateConstants", f.bFitRateConstants);
    for (int w = 1; w <= f.nWavelengths; ++w) element("pInfTimeSteadyStateOn", w, f.pInfTimeSteadyStateOn[w]);
    field("bFitSteadyStateLevels", f.bFitSteadyStateLevels);
    field("bSwitching", f.bSwitching);
    field("nResetTimes", f.nResetTimes);
    for (int k = 1; k <= f.nResetTimes; ++k) element("pResetTimes", k, f.pResetTimes[k]);
    for (int k = 1; k <= f.nResetTimes; ++k)
      for (int w = 1; w <= f.nWavelengths; ++w) {
        std::snprintf(key, sizeof key, "pFLO[%d].ppRecoveryLevels[%d][%d]", i, w, k);
        put(f.ppRecoveryLevels[w][k]);
      }
    for (int k = 1; k <= f.nResetTimes; ++k) element("pbFitRecoveryLevels", k, f.pbFitRecoveryLevels[k]);
    field("bRecoveryAllSame", f.bRecoveryAllSame);
    field("AllSameFrom", f.AllSameFrom);
    field("AllSameTo", f.AllSameTo);
    field("bRecoveryExponential", f.bRecoveryExponential);
    field("bBurning", f.bBurning);
    field("bWithBurnReset", f.bWithBurnReset);
    field("BurnStartTime", f.BurnStartTime);
    field("BurnEndTime", f.BurnEndTime);
    field("BurnResetTime", f.BurnResetTime);
    field("BurnBeamWidth", f.BurnBeamWidth);
    field("BurnDepth", f.BurnDepth);
    field("BurnRate", f.BurnRate);
    field("bFitBurnRate", f.bFitBurnRate);
    field("BurnCenterRadius", f.BurnCenterRadius);
    field("bFitBurnCenterRadius", f.bFitBurnCenterRadius);
    field("BurnZone", f.BurnZone);
    field("bFitBurnZone", f.bFitBurnZone);
    field("bWithInitialBurn", f.bWithInitialBurn);
    field("nInitialBurn", f.nInitialBurn);
    for (int k = 1; k <= f.nInitialBurn; ++k) {
      element("pInitialBurnFact", k, f.pInitialBurnFact[k]);
      element("pInitialBurnRad", k, f.pInitialBurnRad[k]);
    }
    field("BurnAsym", f.BurnAsym);
    field("bFitBurnAsym", f.bFitBurnAsym);
    field("BurnCenterRadius2", f.BurnCenterRadius2);
    field("bFitBurnCenterRadius2", f.bFitBurnCenterRadius2);
    field("BurnZone2", f.BurnZone2);
    field("bFitBurnZone2", f.bFitBurnZone2);
    field("BurnRate2Fract", f.BurnRate2Fract);
    field("bFitBurnRate2Fract", f.bFitBurnRate2Fract);
  }
  count = std::min(n, capacity);
  values.resize(static_cast<std::size_t>(count) + 1);
  return values;
}

namespace {

// Reads a saved list front to back; running past its end marks it short.
class ListReader {
 public:
  ListReader(const float* list, int count) : list_(list), count_(count) {}
  double Value() {
    if (!list_ || pos_ >= count_) {
      shortList_ = true;
      return 0.0;
    }
    return list_[++pos_];
  }
  int Count() {
    const double v = Value();
    // A count that cannot be one makes the rest unreadable.
    if (!(v >= 0.0 && v <= 1e6)) shortList_ = true;
    return shortList_ ? 0 : static_cast<int>(std::lround(v));
  }
  unsigned char Flag() { return std::fabs(Value() - 1.0) < 1e-6 ? 1 : 0; }
  bool Short() const { return shortList_; }

 private:
  const float* list_;
  int count_;
  int pos_ = 0;
  bool shortList_ = false;
};

void SetExactWavelengthCount(CFluorophore& f, int n) {
  if (n > f.nWavelengths) {
    f.SetWavelengthCount(n);
    return;
  }
  if (n == f.nWavelengths || n < 1) return;
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  f.pSpecificSignalCoeffs.resize(size);
  f.pRateConstantsOn.resize(size);
  f.pInfTimeSteadyStateOn.resize(size);
  f.ppRecoveryLevels.resize(size);
  f.nWavelengths = n;
}

void SetExactResetCount(CFluorophore& f, int n) {
  if (n == f.nResetTimes) return;
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  f.nResetTimes = n;
  f.pResetTimes.assign(size, 0.0f);
  for (auto& row : f.ppRecoveryLevels) row.assign(size, 1.0f);
  f.pbFitRecoveryLevels.assign(size, 0);
}

}  // namespace

bool CAllFluorophores::LoadParameters(const float* list, int count) {
  // Everything is read into a copy first, so a short list changes nothing.
  CAllFluorophores next = *this;
  ListReader in(list, count);
  const int n = in.Count();
  if (!in.Short() && n != next.nFLO) next.SetFluorophoreCount(n);
  if (n < 1 || n != next.nFLO) {
    ErrorBox("wrong number of parameters in CAllFluorophores::LoadParameters");
    return false;
  }
  for (int i = 1; i <= n; ++i) next.IsActive[i] = in.Flag();
  const int resets = in.Count();
  std::vector<float> times(static_cast<std::size_t>(resets) + 1, 0.0f);
  for (int k = 1; k <= resets; ++k) times[k] = static_cast<float>(in.Value());
  next.bFitLaserPowerTimeDrift = in.Flag();
  next.LaserPowerTimeDrift = static_cast<float>(in.Value());
  next.bFitRadialSigMagDrift = in.Flag();
  next.RadialSigMagDrift = static_cast<float>(in.Value());
  next.bFitLaserConeDiameter = in.Flag();
  next.LaserConeDiameter = static_cast<float>(in.Value());
  next.ConvolutionRadius = static_cast<float>(in.Value());
  if (!in.Short()) next.SetResetTimes(resets, times.data());
  for (int i = 1; i <= n && !in.Short(); ++i) {
    CFluorophore& f = next.pFLO[i];
    SetExactWavelengthCount(f, in.Count());
    if (in.Short()) break;
    for (int w = 1; w <= f.nWavelengths; ++w) f.pSpecificSignalCoeffs[w] = static_cast<float>(in.Value());
    for (int w = 1; w <= f.nWavelengths; ++w) f.pRateConstantsOn[w] = static_cast<float>(in.Value());
    f.bFitRateConstants = in.Flag();
    for (int w = 1; w <= f.nWavelengths; ++w) f.pInfTimeSteadyStateOn[w] = static_cast<float>(in.Value());
    f.bFitSteadyStateLevels = in.Flag();
    f.bSwitching = in.Flag();
    SetExactResetCount(f, in.Count());
    for (int k = 1; k <= f.nResetTimes; ++k) f.pResetTimes[k] = static_cast<float>(in.Value());
    for (int k = 1; k <= f.nResetTimes; ++k)
      for (int w = 1; w <= f.nWavelengths; ++w) f.ppRecoveryLevels[w][k] = static_cast<float>(in.Value());
    for (int k = 1; k <= f.nResetTimes; ++k) f.pbFitRecoveryLevels[k] = in.Flag();
    f.bRecoveryAllSame = in.Flag();
    f.AllSameFrom = static_cast<int>(std::lround(in.Value()));
    f.AllSameTo = static_cast<int>(std::lround(in.Value()));
    f.bRecoveryExponential = in.Flag();
    f.bBurning = in.Flag();
    f.bWithBurnReset = in.Flag();
    f.BurnStartTime = in.Value();
    f.BurnEndTime = in.Value();
    f.BurnResetTime = in.Value();
    f.BurnBeamWidth = in.Value();
    f.BurnDepth = in.Value();
    f.BurnRate = in.Value();
    f.bFitBurnRate = in.Flag();
    f.BurnCenterRadius = in.Value();
    f.bFitBurnCenterRadius = in.Flag();
    f.BurnZone = in.Value();
    f.bFitBurnZone = in.Flag();
    f.bWithInitialBurn = in.Flag();
    f.nInitialBurn = in.Count();
    f.pInitialBurnFact.assign(static_cast<std::size_t>(f.nInitialBurn) + 1, 0.0);
    f.pInitialBurnRad.assign(static_cast<std::size_t>(f.nInitialBurn) + 1, 0.0);
    for (int k = 1; k <= f.nInitialBurn; ++k) {
      f.pInitialBurnFact[k] = in.Value();
      f.pInitialBurnRad[k] = in.Value();
    }
    f.BurnAsym = in.Value();
    f.bFitBurnAsym = in.Flag();
    f.BurnCenterRadius2 = in.Value();
    f.bFitBurnCenterRadius2 = in.Flag();
    f.BurnZone2 = in.Value();
    f.bFitBurnZone2 = in.Flag();
    f.BurnRate2Fract = in.Value();
    f.bFitBurnRate2Fract = in.Flag();
  }
  if (in.Short()) {
    ErrorBox("wrong number of parameters in CAllFluorophores::LoadParameters");
    return false;
  }
  *this = std::move(next);
  return true;
}

float CAllFluorophores::ConditionNumberOfSignals(int points, const float* times, const float* weights,
                                                 std::vector<double>* eigenvalues,
                                                 std::vector<std::vector<double>>* signals,
                                                 std::vector<std::vector<double>>* gram) {
  const int m = BuildActiveIndex();
  if (m == 0) return 0.0f;
  if (m == 1) return 1.0f;
  const std::size_t size = static_cast<std::size_t>(m) + 1;
  std::vector<std::vector<double>> S(size, std::vector<double>(static_cast<std::size_t>(points) + 1, 0.0));
  for (int a = 1; a <= m; ++a)
    for (int k = 1; k <= points; ++k) S[a][k] = TimeDecayFactor(pFLO[activeList[a]], 1, times[k]);
  std::vector<std::vector<double>> G(size, std::vector<double>(size, 0.0));
  for (int a = 1; a <= m; ++a)
    for (int b = 1; b <= m; ++b)
      for (int k = 1; k <= points; ++k) G[a][b] += S[a][k] * S[b][k] * weights[k];
  std::vector<std::vector<double>> work = G, vectors(size, std::vector<double>(size, 0.0));
  std::vector<double*> a(size), v(size);
  for (std::size_t i = 1; i < size; ++i) {
    a[i] = work[i].data();
    v[i] = vectors[i].data();
  }
  std::vector<double> d(size, 0.0);
  int rotations = 0;
  djacobi(a.data(), m, d.data(), v.data(), &rotations);
  sort_select_d(d.data(), v.data(), m);
  if (eigenvalues) *eigenvalues = d;
  if (signals) *signals = std::move(S);
  if (gram) *gram = std::move(G);
  return d[m] > 0.0 ? static_cast<float>(d[1] / d[m]) : 0.0f;
}
