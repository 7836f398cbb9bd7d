#pragma once
#include <cstdint>
#include <functional>
#include <string>
// The model switches of the Model menu: one byte per model family or variant
// (0 = off, 1 = on; a family switch and a variant switch may be on together).
// Plain record, no behaviour beyond the reset of its own switches, so that
// every layer from the fit engine up to the window can read it.

struct ModelSelectorFlags {
  // Cleared by the model reset, in this order.
  unsigned char LammDiscreteModel = 0;
  unsigned char ConcDependentSolverSwitch = 0;
  unsigned char MonomerDimerModel = 0;
  unsigned char AssocCoefficientAveraging = 0;
  unsigned char MonomerTrimerModel = 0;
  unsigned char MonomerDimerTetramerModel = 0;
  unsigned char MonomerTetramerOctamerModel = 0;
  unsigned char NonidealSingleSpeciesModel = 0;
  unsigned char NonidealVariantModel = 0;
  unsigned char NonidealMultipleSpeciesModel = 0;
  unsigned char DistributionModel = 0;
  unsigned char Model267 = 0;
  unsigned char CMPriorVbarModel = 0;
  unsigned char CMInvariantDModel = 0;
  unsigned char CMPowerLawModel = 0;
  unsigned char DlsStokesRadiiModel = 0;
  unsigned char DlsCumulantModel = 0;
  unsigned char LinearLammModel = 0;
  unsigned char ZoneCentrifugationModel = 0;
  unsigned char ZoneCentrifugationCSModel = 0;
  unsigned char ZoneCentrifugationLsgModel = 0;
  unsigned char ExternalLoadingCellModel = 0;
  unsigned char ElectrophoresisLammModel = 0;
  unsigned char ElectrophoresisLsgModel = 0;
  unsigned char Model282 = 0;
  unsigned char LsgStarModel = 0;
  unsigned char LsgStarWith1DiscreteModel = 0;
  unsigned char NonidealCSModel = 0;
  unsigned char HybridCSLsgModel = 0;
  unsigned char ContiRegularizationSwitch = 0;
  unsigned char CSWithMsTableModel = 0;
  unsigned char SedTransformModel = 0;
  unsigned char SedTransformShown = 0;
  unsigned char VanHoldeWeischetFlotation = 0;
  unsigned char LsgExtrapolationModel = 0;
  unsigned char DlsIRhModel = 0;
  unsigned char DlsIRhTimeCourseModel = 0;
  unsigned char DlsIDModel = 0;
  unsigned char ElectrophoresisCVModel = 0;
  unsigned char ConformationalChangeCSModel = 0;
  unsigned char BimodalFF0CSModel = 0;
  unsigned char BimodalFF0With1DiscreteCSModel = 0;
  unsigned char WormlikeChainCSModel = 0;
  unsigned char GeneralScalingLawCSModel = 0;
  unsigned char FMScalingLawModel = 0;
  unsigned char FixFF0FloatingVbarCSModel = 0;
  unsigned char CSff0Model = 0;
  unsigned char CSff0With1DiscreteModel = 0;
  unsigned char CSWith1DiscreteModel = 0;
  unsigned char CSWith1DiscreteComponent = 0;
  unsigned char CSModel521 = 0;
  unsigned char CSInvariantDModel = 0;
  unsigned char EquilibriumModel284 = 0;
  unsigned char EquilibriumModel523 = 0;

  // Left alone by the switch reset.
  unsigned char CSModel = 0;
  unsigned char ConcDependentLammModel = 0;
  unsigned char NonidealCSVariant = 0;
  // Marker of what a model command changed outside this record, undone by
  // the next model selection: "times from w^2t" switched on. (The grid
  // size a distribution replaced is kept by the grid size's own record.)
  unsigned char TimesFromW2tByModel = 0;

  // Clears every switch of the first group; CSModel, ConcDependentLammModel
  // and NonidealCSVariant keep their values.
  void ClearSwitches();

  bool AnySelfAssociationModel() const {
    return MonomerDimerModel || MonomerTrimerModel || MonomerDimerTetramerModel ||
           MonomerTetramerOctamerModel;
  }
  // Discrete species in a cell that is no sector (the static-grid solver's
  // planar geometries).
  bool AnyPlanarGeometryModel() const {
    return LinearLammModel || ExternalLoadingCellModel || Model282 || ElectrophoresisLammModel;
  }
  bool AnyNonidealSpeciesModel() const {
    return NonidealSingleSpeciesModel || NonidealMultipleSpeciesModel;
  }

  // The c(s) family whose s grid reads as molar masses: plain c(s) and every
  // variant with a friction ratio or an s-M relation of its own.
  bool CsModelWithMolarMass() const {
    return CSModel || ConformationalChangeCSModel || FixFF0FloatingVbarCSModel || GeneralScalingLawCSModel ||
           WormlikeChainCSModel || CSWithMsTableModel || CSModel521 || CSWith1DiscreteModel ||
           CSWith1DiscreteComponent || CSInvariantDModel || AnyBimodalCsModel();
  }
  // Either nonideal c(s) switch: the s grid of the c(s) family, but no
  // molar mass per s, so its peaks are labelled by s.
  bool AnyNonidealCsModel() const { return NonidealCSModel || NonidealCSVariant; }
  bool AnyCsFamilyModel() const { return CsModelWithMolarMass() || AnyNonidealCsModel(); }
  // Variants whose s-M relation is no friction-ratio scaling: nothing about
  // them has a friction ratio, Stokes radius or axial ratio.
  bool CsModelWithOwnMassRelation() const {
    return GeneralScalingLawCSModel || WormlikeChainCSModel || CSWithMsTableModel ||
           ConformationalChangeCSModel || CSInvariantDModel || CSModel521;
  }
  bool AnyBimodalCsModel() const { return BimodalFF0CSModel || BimodalFF0With1DiscreteCSModel; }
  bool AnyCsff0Model() const { return CSff0Model || CSff0With1DiscreteModel; }
  bool AnyLsgModel() const { return LsgStarModel || LsgStarWith1DiscreteModel || HybridCSLsgModel; }
  bool AnyDlsDistributionModel() const { return DlsIRhModel || DlsIRhTimeCourseModel || DlsIDModel; }
  // The distribution's grid is a grid of s (a migration velocity in
  // electrophoresis): the c(s) family, the ls-g*(s) relatives, c(s,f/f0),
  // zone centrifugation and the boundary transforms (the extrapolation of
  // ls-g*(s) areas is a boundary transform too and always comes with
  // SedTransformModel).
  bool GridIsS() const {
    return CsModelWithMolarMass() || ElectrophoresisCVModel || NonidealCSModel || AnyLsgModel() ||
           AnyCsff0Model() || ZoneCentrifugationCSModel || ZoneCentrifugationLsgModel ||
           ElectrophoresisLsgModel || SedTransformModel;
  }
  // The distribution's grid holds molar masses (c(M) and f(M)): neither an
  // s grid nor a DLS model, and no DLS data loaded (`dlsData`), whose grids
  // are log radii or log diffusion coefficients.
  bool GridIsMass(bool dlsData) const { return !GridIsS() && !AnyDlsDistributionModel() && !dlsData; }
  // The distribution is drawn over the molar-mass array rather than the s
  // array: a mass grid, the I(D) model (which keeps its log D there), or an
  // s grid whose distribution has been transformed to c(M)
  // (`transformedToCM`; integrals, which are refused then, and new plots
  // pass false).
  bool AxisShownIsMass(bool dlsData, bool transformedToCM) const {
    return DlsIDModel || GridIsMass(dlsData) || transformedToCM;
  }
  // Grid point 1 of the distribution holds a term that is no part of it: a
  // discrete species, the nonideal model's leading term, or the buffer's
  // signal while the buffer-sedimentation correction is on
  // (`bufferCorrection`); `hybridDiscrete` is the hybrid model's discrete
  // part. That point keeps its amplitude through every transform and stays
  // out of every integral, drawn range and normalisation.
  bool FirstPointOutsideDistribution(bool bufferCorrection, bool hybridDiscrete) const {
    return bufferCorrection || CSWith1DiscreteModel || CSWith1DiscreteComponent ||
           BimodalFF0With1DiscreteCSModel || CSWithMsTableModel || NonidealCSModel ||
           LsgStarWith1DiscreteModel || CSff0With1DiscreteModel || (HybridCSLsgModel && hybridDiscrete);
  }
};

extern ModelSelectorFlags gModelSelectorFlags;

// Window and analysis state that the model reset touches above this layer;
// each does nothing (or answers "off") until set.
struct ModelSelectionHooks {
  std::function<void(const std::string& text)> message;  // box with an empty caption
  std::function<void()> switchOffWienerSkewing;          // the correction and its fit flag
  std::function<bool()> equilibriumTestMode;
  std::function<void()> exitEquilibriumTestMode;
  std::function<bool()> mStarAnalysisActive;
  std::function<void()> closeMStarAnalysis;               // takes the M* screen away
  std::function<void(int command, bool checked)> checkMenuItem;
};
ModelSelectionHooks& CurrentModelSelectionHooks();
