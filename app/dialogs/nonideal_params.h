#pragma once
// The parameter dialog's share of the nonideal sedimentation models: the
// values the hindered-sedimentation template shows next to its entries, and
// the sticky-sphere switch its check boxes set.
#include <vector>

#include "app/dialogs/form_dialog.h"
#include "app/dialogs/params_fields.h"

// Template 1101: |reduced ks| and |Baxter t|, M implied by s0 and D0 at
// 20 degC (kDa), f/f0 at standard conditions, the volume fraction of the
// load, B2/B2,HS and vbar, written into the template's edits.
void ShowHinderedSedimentationFields(ParamsTransfer& buffer);
// After OK: the sticky-sphere switch from the template's check box (1101:
// the box beside B2/B2,HS; 1102: "Baxter T (set -1 for non-sticky
// spheres)"); the borrowed boxes are then no fit flags.
void TakeHardSphereOptions(int templateId, const ParamsTransfer& buffer);

// Template 892 borrows controls for the ten nonideal terms of the
// multiple-species model: before the dialog the terms and their fit flags
// go into them (the boxes' own states are kept aside) ...
void ShowNonidealTerms(ParamsTransfer& buffer);
// ... and after OK they are read back, the boxes get their own states again,
// and each present component's extinction is asked for.
void TakeNonidealTerms(ParamsTransfer& buffer);
// The borrowed boxes stand beside the terms they fit (hidden with a hidden
// term), displacing the box of that cell; 424 is the synthetic-boundary
// switch.
void PlaceNonidealTermBoxes(std::vector<FormControl>& controls);
