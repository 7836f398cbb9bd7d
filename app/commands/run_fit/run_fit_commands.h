#pragma once
// Shared steps of "Run" and "Fit".
#include <string>
#include <vector>

class TXLAWindow;

// Screens the scans for a signal rising faster than the limit of "Flag Too
// Strong Gradients" over four successive intervals inside the fit limits;
// false (after its message) when one does.
bool CheckExcessGradients();
// Advice boxes of the "Help Wizard" when residuals or fitted values look
// suspicious after a run or fit.
void CheckResidualSize();
// Clears the model curves, residuals and fit information that an earlier
// computation left, for a model that has computed nothing yet.
void ForgetShownResult(TXLAWindow& window);
// Their texts (without the footer), in the order the boxes come: what the
// wizard notes of the state reached, whether or not its boxes are shown.
std::vector<std::string> ResidualNotes();
// Runs the model once as "Run" would.
void RunModelFromTools(TXLAWindow& window);
// Tells the distributions whether they may draw into the window and show
// advice, before they compute.
void PrepareContiContext(TXLAWindow& window);
