// The Display-menu commands that take the calculated systematic noise out
// of the loaded scans ("Subtract ... From Raw Data", "Restore Original TI
// Noise to Data") and the hidden buffer-mismatch subtraction: the data
// layer checks that the noise is fitted, shows its notice and takes the
// noise out of the loaded scans.
#include "app/commands/distribution/peak_labels.h"
#include "app/window/txla_window.h"
#include "data/noise_subtraction.h"

namespace {

// Taking the noise out of the scans (or putting it back) leaves the
// distribution as it is: its peak labels stay through the repaints.
void RunKeepingPeakLabels(int id) {
  PeakLabelTable& labels = PeakLabels();
  const bool kept = labels.labelsShown;
  if (labels.count > 0) labels.labelsShown = true;
  // A command that did nothing leaves the labels as they were.
  if (!RunNoiseCommand(id)) labels.labelsShown = kept;
}

}  // namespace

void TXLAWindow::CmSubtractTINoise() { RunKeepingPeakLabels(508); }
void TXLAWindow::CmSubtractRINoise() { RunKeepingPeakLabels(509); }
void TXLAWindow::CmSubtractAllNoise() { RunKeepingPeakLabels(519); }
void TXLAWindow::CmRestoreTINoise() { RunKeepingPeakLabels(607); }
void TXLAWindow::CmSubtractBufferMismatch() { RunNoiseCommand(576); }
