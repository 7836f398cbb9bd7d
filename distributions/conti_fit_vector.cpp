#include "distributions/conti_fit_vector.h"

#include <cmath>
#include <vector>

#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_end.h"
#include "fit/fit_host.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"

namespace {

const ModelSelectorFlags& F() { return gModelSelectorFlags; }
FitEngineState& FS() { return gFitEngineState; }

}  // namespace

namespace conti_fit_vector {

bool TwoDimensional() { return F().AnyCsff0Model(); }
bool Bimodal() { return F().AnyBimodalCsModel(); }
bool ZoneGeometry() {
  return F().ZoneCentrifugationModel || F().ZoneCentrifugationCSModel ||
         F().ZoneCentrifugationLsgModel;
}

}  // namespace conti_fit_vector

namespace {

using conti_fit_vector::Bimodal;
using conti_fit_vector::Positions;
using conti_fit_vector::TwoDimensional;
using conti_fit_vector::ZoneGeometry;

// The quantities of the continuous models, in their fixed order.
enum EntryId {
  kVbar = 1,
  kCone,
  kBleachRate,
  kBleachLimit,
  kDrift,
  kConvolution,
  kMagnification,
  kNonlinear,
  kDepletionS,
  kDepletionD,
  kDepletionAmplitude,
  kBufferAmplitude,
  kBufferSize,
  kBufferS,
  kMeniscusDifference,
  kConcentrationRatio,
  kReferenceSize,
  kReferenceS,
  kFf0,
  kSecondFf0,
  kFloatingVbar,
  kScalingKs,
  kScalingBs,
  kPersistenceLength,
  kInvariantD,
  kNonideal1,
  kNonideal2,
  kDiscreteS,
  kDiscreteSize,
  kMeniscus,
  kBottom,
  kLamella,
  kConstantD,
};

// The fit engine's option entries that the continuous fit shares, by entry.
constexpr int kOptionOf[kReferenceS + 1] = {
    0,
    kFitOptionVbar,
    kFitOptionConeRadius,
    kFitOptionPhotophysicsRate,
    kFitOptionLimitingLevel,
    kFitOptionLinearDrift,
    kFitOptionConvolutionWidth,
    kFitOptionMagnificationGradient,
    kFitOptionNonlinearPower,
    kFitOptionDepletionS,
    kFitOptionDepletionD,
    kFitOptionDepletionAmplitude,
    kFitOptionBufferSignal,
    kFitOptionBufferSize,
    kFitOptionBufferS,
    kFitOptionMeniscusDifference,
    kFitOptionRelativeConcentration,
    kFitOptionReferenceSize,
    kFitOptionReferenceS,
};

struct Entry {
  int id = 0;
  float* f = nullptr;
  double* d = nullptr;
  int mirror = 0;            // P[] slot that mirrors the value, 0 for none
  bool plainVbar = false;    // the vbar of the solution conditions (vbar x rho follows)
  bool massSize = false;     // buffer or reference size given as molar mass
  int mirrorDiscrete = 0;    // second mirror of the discrete component
  float* follower = nullptr; // the solvated vbar beside the apparent one
};

double Get(const Entry& e) { return e.f ? *e.f : (e.d ? *e.d : 0.0); }

void Set(const Entry& e, double v) {
  if (e.f) *e.f = static_cast<float>(v);
  if (e.d) *e.d = v;
  if (e.mirror) gModelParameterVector.P[e.mirror] = static_cast<float>(v);
  if (e.mirrorDiscrete) gModelParameterVector.P[e.mirrorDiscrete] = static_cast<float>(v);
  if (e.follower) *e.follower = static_cast<float>(v);
}

bool DiscreteDVariant() { return F().CSWith1DiscreteModel && !F().CSWith1DiscreteComponent; }
bool OneDiscreteComponent() {
  const ModelSelectorFlags& f = F();
  return f.BimodalFF0With1DiscreteCSModel || TwoDimensional() || f.CSWith1DiscreteModel ||
         f.CSWith1DiscreteComponent || f.CSWithMsTableModel ||
         (f.HybridCSLsgModel && Conti().hybridDiscrete) || f.NonidealCSModel ||
         f.LsgStarWith1DiscreteModel;
}

Positions gPositions;

// Meniscus and bottom the radial grid was last made for.
float gGridMeniscus = 0.0f, gGridBottom = 0.0f;
std::vector<Entry> CollectEntries() {
  std::vector<Entry> list;
  ContiSettings& cs = Conti();
  ModelParams& mp = gModelParams;
  const int* FF = gModelParameterVector.F;
  const bool mass = FS().molarMassParameters != 0;
  const FitOptionEntries options = CurrentFitOptions();
  for (int id = kVbar; id <= kReferenceS; ++id) {
    const FitOptionEntry& o = options.entry[kOptionOf[id]];
    if (!o.present) continue;
    if (id == kBufferAmplitude && mp.algebraicAmplitudes) continue;
    Entry e;
    e.id = id;
    e.f = o.f;
    e.d = o.d;
    e.plainVbar = o.plainVbar;
    e.follower = o.follower;
    if (id == kBufferSize || id == kReferenceSize) {
      e.massSize = mass;
      if (!e.f && !e.d) e.d = mass ? o.massValue : o.diffusionValue;
    }
    if (e.f || e.d) list.push_back(e);
  }
  auto add = [&list](int id, float* f, int mirror, int mirrorDiscrete = 0) {
    Entry e;
    e.id = id;
    e.f = f;
    e.mirror = mirror;
    e.mirrorDiscrete = mirrorDiscrete;
    list.push_back(e);
  };
  const ModelSelectorFlags& f = F();
  if (!TwoDimensional() && cs.fitFfValue) add(kFf0, &cs.ffValue, 11);
  if (Bimodal() && cs.fitSecondFf) add(kSecondFf0, &cs.secondFf, 10);
  if (f.FixFF0FloatingVbarCSModel && FF[11]) add(kFloatingVbar, &gSolutionConditions.vbar, 11);
  if ((f.GeneralScalingLawCSModel || f.FMScalingLawModel) && cs.fitScalingKs)
    add(kScalingKs, &cs.scalingKs, 11);
  if ((f.GeneralScalingLawCSModel || f.FMScalingLawModel) && cs.fitScalingBs)
    add(kScalingBs, &cs.scalingBs, 18);
  if (f.WormlikeChainCSModel && cs.fitWormPersistenceLength)
    add(kPersistenceLength, &cs.wormPersistenceLength, 11);
  if (f.CSInvariantDModel && cs.fitInvariantD) add(kInvariantD, &cs.invariantD, 11);
  if (f.NonidealCSModel && mp.value20Fit) add(kNonideal1, &mp.value20, 20);
  if (f.NonidealCSModel && mp.value21Fit) add(kNonideal2, &mp.value21, 21);
  if (OneDiscreteComponent()) {
    // The hybrid keeps its threshold in P[10], its discrete species beside it in 16 and 17.
    const bool secondSlots =
        f.CSff0With1DiscreteModel || f.BimodalFF0With1DiscreteCSModel || f.HybridCSLsgModel;
    if (cs.fitDiscreteS) add(kDiscreteS, &cs.discreteS, secondSlots ? 17 : 6);
    if (DiscreteDVariant() ? cs.fitDiscreteD : cs.fitDiscreteM)
      add(kDiscreteSize, DiscreteDVariant() ? &cs.discreteD : &cs.discreteM,
          secondSlots ? 16 : 10);
  }
  if (FF[13]) add(kMeniscus, &mp.meniscus, 13);
  if (FF[14]) add(kBottom, &mp.bottom, 14);
  if (ZoneGeometry() && FF[23]) add(kLamella, &mp.zoneValue, 23);
  if (f.ElectrophoresisCVModel && cs.constantDSwitch && cs.fitConstantD)
    add(kConstantD, &cs.constantD, 3);
  return list;
}

// vbar x density of the solvent after vbar moved: the buoyancy belongs to
// the buffer the cell holds, not to water.
void UpdateVbarRho() {
  gSolutionConditions.vbarRho = gSolutionConditions.vbar * gSolutionConditions.density;
}

// Packing limits; the corrected value goes into the model as well.
double PackValue(const Entry& e) {
  double x = Get(e);
  double c = x;
  switch (e.id) {
    case kVbar: if (x < 0.0) c = 0.01; break;
    case kBufferSize: if (!e.massSize && x < 0.01) c = 0.01; break;
    case kConcentrationRatio: if (x <= 0.0001) c = 0.0001; break;
    case kReferenceSize: if (!e.massSize && x < 0.0) c = 0.01; break;
    case kFf0:
    case kSecondFf0: if (x < 0.0) c = 0.01; break;
    case kFloatingVbar: if (x < 0.1) c = 0.1; break;
    case kScalingKs: if (x < 1e-8) c = 1e-8; break;
    case kScalingBs: if (x < 0.001) c = 0.001; break;
    case kPersistenceLength: if (x < 0.1) c = 0.1; break;
    case kInvariantD: if (x < 0.0) c = 0.001; break;
    case kDiscreteSize: if (x < 0.0) c = 0.01; break;
    default: break;
  }
  if (c != x || e.mirror) Set(e, c);
  if (e.id == kFloatingVbar || (e.id == kVbar && e.plainVbar && c != x)) UpdateVbarRho();
  return c;
}

float gFrictionalRatioCeiling = kMaxFrictionalRatio;
float gFrictionalRatioFloor = 0.0f;

// Unpacking limits; returns the value written into the model.
double UnpackValue(const Entry& e, double x) {
  const FitEngineState& fs = FS();
  switch (e.id) {
    case kFf0:
    case kSecondFf0:
      if (x < 0.0) x = 0.0;
      if (x < gFrictionalRatioFloor) x = gFrictionalRatioFloor;
      if (x > gFrictionalRatioCeiling) x = gFrictionalRatioCeiling;
      break;
    case kVbar:
    case kBleachRate:
    case kBleachLimit:
    case kDepletionAmplitude:
    case kBufferAmplitude:
    case kInvariantD:
    case kLamella:
      if (x < 0.0) x = 0.0;
      break;
    case kConstantD:
      // A constant D of 0 has no finite-element kernel.
      if (x < 0.01) x = 0.01;
      break;
    case kCone: x = x < 0.01 ? 0.01 : (x > 1.0 ? 1.0 : x); break;
    case kMagnification: x = x < 0.5 ? 0.5 : (x > 2.0 ? 2.0 : x); break;
    case kDepletionS:
    case kDepletionD:
      if (x < 0.0) x = 0.01;
      break;
    case kBufferSize:
    case kReferenceSize:
      x = std::fabs(x);
      if (e.massSize) {
        if (x < 10.0) x = 10.0;
      } else {
        if (x > 1000.0) x = 1000.0;
        if (x <= 0.01) x = 0.01;
      }
      break;
    case kConcentrationRatio: if (x < 0.0001) x = 0.0001; break;
    case kFloatingVbar: if (x <= 0.1) x = 0.1; break;
    case kScalingKs: if (x <= 1e-8) x = 1e-8; break;
    case kScalingBs: if (x <= 0.001) x = 0.001; break;
    case kPersistenceLength: if (x <= 0.1) x = 0.1; break;
    case kDiscreteSize: if (x < 0.0) x = 0.001; break;
    case kMeniscus:
      if (x > fs.meniscusMax) x = fs.meniscusMax;
      if (x < fs.meniscusMin) x = fs.meniscusMin;
      break;
    case kBottom:
      if (x > fs.bottomMax) x = fs.bottomMax;
      if (x < fs.bottomMin) x = fs.bottomMin;
      break;
    default: break;
  }
  Set(e, x);
  if (e.id == kFloatingVbar || (e.id == kVbar && e.plainVbar)) UpdateVbarRho();
  return x;
}
}  // namespace

void SetContiFrictionalRatioCeiling(float ceiling) { gFrictionalRatioCeiling = ceiling; }
float ContiFrictionalRatioCeilingInUse() { return gFrictionalRatioCeiling; }
void SetContiFrictionalRatioFloor(float floor) { gFrictionalRatioFloor = floor; }
float ContiFrictionalRatioFloorInUse() { return gFrictionalRatioFloor; }

const conti_fit_vector::Positions& conti_fit_vector::EntryPositions() { return gPositions; }

int ContiParametersToFitVector(int n, float* p) {
  const std::vector<Entry> list = CollectEntries();
  gPositions = Positions{};
  const int count = static_cast<int>(list.size());
  for (int k = 1; k <= count; ++k) {
    const Entry& e = list[k - 1];
    switch (e.id) {
      case kMeniscus: gPositions.meniscus = k; break;
      case kBottom: gPositions.bottom = k; break;
      case kLamella: gPositions.lamella = k; break;
      case kFf0: gPositions.ff0 = k; break;
      case kNonideal1: gPositions.nonideal1 = k; break;
      case kNonideal2: gPositions.nonideal2 = k; break;
      default: break;
    }
    if (p && k <= n) p[k] = static_cast<float>(PackValue(e));
  }
  return count;
}

void ContiFitVectorToParameters(float* p, FitHost* host) {
  const std::vector<Entry> list = CollectEntries();
  for (size_t k = 1; k <= list.size(); ++k) {
    const Entry& e = list[k - 1];
    // The value the model takes goes back into the vertex: a minimiser
    // that stepped beyond a limit goes on from the limit, so every vertex
    // it keeps is a point it could evaluate.
    p[k] = static_cast<float>(UnpackValue(e, p[k]));
  }
  const ModelParams& mp = gModelParams;
  if (gGridMeniscus == 0.0f && gGridBottom == 0.0f) {
    gGridMeniscus = mp.meniscus;
    gGridBottom = mp.bottom;
  }
  if (mp.meniscus != gGridMeniscus || mp.bottom != gGridBottom) {
    if (host) host->MakeRadialGrid();
    gGridMeniscus = mp.meniscus;
    gGridBottom = mp.bottom;
  }
}

std::string ContiFitVectorEntryName(int k) {
  const std::vector<Entry> list = CollectEntries();
  if (k < 1 || k > static_cast<int>(list.size())) return {};
  switch (list[static_cast<size_t>(k - 1)].id) {
    case kVbar: return "vbar";
    case kCone: return "excit. cone";
    case kBleachRate: return "kbleach";
    case kBleachLimit: return "Alim";
    case kDrift: return "drift";
    case kConvolution: return "convolution";
    case kMagnification: return "radial mag factor";
    case kNonlinear: return "nonlin coeff";
    case kDepletionS: return "JO-s";
    case kDepletionD: return "JO-D";
    case kDepletionAmplitude: return "JO-amp";
    case kBufferAmplitude: return "buffer signal";
    case kBufferSize: return "buffer D or Mb";
    case kBufferS: return "buffer s";
    case kMeniscusDifference: return "meniscus diff (s-r)";
    case kConcentrationRatio: return "conc. ratio (s/r)";
    case kReferenceSize: return "reference D or Mb";
    case kReferenceS: return "reference s";
    case kFf0: return "f/f0";
    case kSecondFf0: return "second f/f0";
    case kFloatingVbar: return "vbar";
    case kScalingKs: return "Ks";
    case kScalingBs: return "bs";
    case kPersistenceLength: return "persistence length";
    case kInvariantD: return "D";
    case kNonideal1: return "first nonideality parameter";
    case kNonideal2: return "second nonideality parameter";
    case kDiscreteS: return "discrete s";
    case kDiscreteSize: return "discrete M or D";
    case kMeniscus: return "meniscus";
    case kBottom: return "bottom";
    case kLamella: return "lamella thickness";
    case kConstantD: return "constant D";
    default: return {};
  }
}

float ContiSimplexSpread(int i) {
  const Positions& at = gPositions;
  if (i == at.meniscus || i == at.bottom) return 0.01f;
  if (i == at.lamella || i == at.ff0) return 0.1f;
  if (i == at.nonideal1 || i == at.nonideal2) return 0.2f;
  return 1.0f;
}

int ContiDerivativeSteps() {
  const std::vector<Entry> list = CollectEntries();
  MarquardtWorkArrays& w = FS().mlWork;
  const int count = static_cast<int>(list.size());
  for (int k = 1; k <= count && k <= w.n; ++k) {
    const Entry& e = list[k - 1];
    const double v = Get(e);
    double f = 1.0001, h = 0.0001;
    switch (e.id) {
      case kBufferAmplitude:
      case kBufferS:
      case kReferenceS:
      case kFf0:
      case kSecondFf0:
      case kDiscreteS:
        f = 1.001, h = 0.001;
        break;
      case kBufferSize:
      case kReferenceSize:
        f = 1.01, h = e.massSize ? 10.0 : 0.1;
        break;
      case kMeniscusDifference:
      case kMeniscus:
      case kBottom:
      case kLamella:
        f = 1.0001, h = 0.001;
        break;
      case kConcentrationRatio:
      case kPersistenceLength:
      case kInvariantD:
      case kDiscreteSize:
      case kConstantD:
        f = 1.01, h = 0.01;
        break;
      case kScalingKs: f = 1.01, h = 1e-6; break;
      case kScalingBs: f = 1.01, h = 0.0001; break;
      case kNonideal1:
        if (v > -1.5) f = 1.0005, h = 0.0005;
        else if (v > -2.5) f = 1.001, h = 0.0005;
        else f = 1.005, h = 0.005;
        break;
      case kNonideal2:
        if (v > -1.5) f = 1.001, h = 0.001;
        else if (v > -2.5) f = 1.003, h = 0.003;
        else f = 1.01, h = 0.01;
        break;
      default: break;
    }
    w.stepFactor[k] = f;
    w.absoluteStep[k] = h;
  }
  return count;
}
