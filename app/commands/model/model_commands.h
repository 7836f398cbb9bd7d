#pragma once
// Shared steps of the Model menu commands.
#include "distributions/conti_models.h"
#include "distributions/model_entries.h"
#include "distributions/model_starts.h"
#include "lamm/element_integrals.h"

#include <functional>
#include <utility>
#include <vector>

class TXLAWindow;

// The info sound and a refusal box captioned "ERROR"; always true.
bool RefuseModelFor(const char* text);
// Refuses with "this model is not implemented for DLS data" when DLS data
// are loaded; true when refused.
bool RefuseDlsData();
// The reset of the model switches before a model command sets its own.
void ClearSelectionForModel();

// The menu mark of the model chosen, every other model's cleared.
void MarkChosenModel(TXLAWindow& w, int item);
// The menu marks as the switches select the model (after a saved analysis
// set the switches itself).
void MarkSelectedModel(TXLAWindow& w);
// The distribution arrays go when a distribution or a boundary transform
// was the model.
void ReleaseDistributionArrays();
// A model whose grid size differs needs the Lamm arrays made anew.
void ReallocLammArraysIfPresent();
// The M-and-s parametrisation of the discrete species, with its menu mark.
// A change of form converts each species' M into D or back, as the menu
// toggle does, while the slots hold species (not a distribution's grid):
// those of a species model, or the start-up species with no model chosen.
void SetFitMAndS(TXLAWindow& w, bool on);
// The species' second quantity from M to D or back (D = s RT / (M (1 - vbar
// rho)) has the same form both ways); RT in erg/mol. The reacting system
// converts its two components only.
void ConvertSpeciesMassAndD(float RT, float buoyancy);
// A model command as the menu gives it: when the model is already the one
// in use, what its row in the table of models says (nothing, its options
// asked again, or its command run again); otherwise the entries of the model left are put aside,
// the command sets its model up, and the model chosen gets back what the
// user last entered for it (the first time: its own start). Every way into
// a model passes here: the window's dispatch, the unattended run's model,
// the saved parameter files (and the serial fits that read them), the M*
// screen and the fluorescence tools.
void RunModelCommand(TXLAWindow& w, int id, const std::function<void()>& command);
// While it lives, model commands choose their model for a saved parameter
// file being read: the model left is the one before the file (`fileTrip`,
// begun by BeginReloadedModel), and the file's values are read over what
// the command set up.
class ModelCommandsFromFile {
 public:
  explicit ModelCommandsFromFile(const ModelEntryTrip& fileTrip);
  ~ModelCommandsFromFile();
  ModelCommandsFromFile(const ModelCommandsFromFile&) = delete;
  ModelCommandsFromFile& operator=(const ModelCommandsFromFile&) = delete;

 private:
  const ModelEntryTrip* was_;
};
// The distribution family's view of the loaded data and of the window.
ContiModelCommandContext ModelCommandContext();
// The window's share after a command of the family: the M-and-s switch, the
// Lamm arrays and the repaint it asked for, the regularisation marks.
void AfterContiCommand(TXLAWindow& w, const ContiModelCommandContext& ctx, const ContiModelCommandResult& r);
