#pragma once
// The short plain-text report of the discrete-species model and its fit:
// the included components with D (or M) and s and whether each was
// floated, the loading concentrations, meniscus, bottom, baseline, the
// fitted radial range, the initial distribution, the start time and the
// rmsd. Written next to the fit data or copied to the clipboard; both
// first unpack the fit vector so the listing shows what was fitted.
#include <string>

// The listing of the current parameters. The clipboard form differs in
// two places that spreadsheets of earlier copies rely on: the s line has
// no line end after its flag, and the baseline texts.
std::string ParameterListingText(bool forClipboard);

// Writes the listing to name; a name without an extension, or with the
// placeholder ".rxx", takes the extension of the first loaded scan file. An existing
// file is overwritten only when the user agrees. The path written, or an
// empty string when nothing was written.
std::string SaveParametersToFile(const std::string& name);
// The listing onto the clipboard; a clipboard that cannot be opened is
// left as it was, without a message.
void CopyParametersToClipboard();
