#pragma once
// The window's side of the nonideal c(s): the ctot(r,t) file commands, the
// field over the data plot, the questions on loading and reloading, and the
// mean-field controls of its parameter templates.
#include <string>

class CWINPlot;
class TXLAWindow;
struct ParamsTransfer;
namespace platform {
class DrawContext;
}

// "Restore Mean Field ctot(r,t) from file"; flag is kept for the callers.
void LoadCtotFiles(TXLAWindow& window, int flag);
void SaveCtotFile(TXLAWindow& window);
// Offers "<parameter file>.ctot" when it exists (after a reload).
void OfferLoadCtotForData(const std::string& parameterFile);
// Beside the fit-parameter file; nothing without a field.
void SaveCtotBesideParameters(const std::string& parameterFile);
// Before new files are loaded: "reset mean field ctot data?".
void ResetMeanFieldCtotPrompt(TXLAWindow& window);

// The field's frames over the data plot while its display is on.
void DrawCtotMovie(TXLAWindow& window, CWINPlot* dataPlot, platform::DrawContext& dc);
// A key ends the display; true when it was on (the key is consumed).
bool EndCtotDisplay(TXLAWindow& window);

// Templates 586 and 1102: the mean-field controls to and from the dialog.
void FillMeanFieldControls(ParamsTransfer& b);
void ApplyMeanFieldControls(const ParamsTransfer& b);

// Hooks of the model, the loaders and the saved parameters.
void ConnectMeanField();
