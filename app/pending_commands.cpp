// Commands whose subsystems are not built yet: each says so in the one
// shared way and does nothing else. A subsystem that brings its command
// deletes the line here and defines the handler in its own file.
#include "app/txla_window.h"

void TXLAWindow::CmCopyDataPlot() { NotAvailableYet(); }
void TXLAWindow::CmCopyResidualsPlot() { NotAvailableYet(); }
void TXLAWindow::CmSetRange() { NotAvailableYet(); }
void TXLAWindow::CmFullRange() { NotAvailableYet(); }
void TXLAWindow::CmShowResiduals() { NotAvailableYet(); }
void TXLAWindow::CmToggleDisplayFlag210() { NotAvailableYet(); }
void TXLAWindow::CmDataMarkSize() { NotAvailableYet(); }
void TXLAWindow::CmNotepad() { NotAvailableYet(); }
void TXLAWindow::CmFitMAndS() { NotAvailableYet(); }
void TXLAWindow::CmSetVRho() { NotAvailableYet(); }
void TXLAWindow::CmSetPolynomOrder() { NotAvailableYet(); }
void TXLAWindow::CmAlignInterferenceOffset() { NotAvailableYet(); }
void TXLAWindow::CmSimplexSettings() { NotAvailableYet(); }
void TXLAWindow::CmSaveEquilibriumData() { NotAvailableYet(); }
void TXLAWindow::CmShowData() { NotAvailableYet(); }
void TXLAWindow::CmPrinterSetup() { NotAvailableYet(); }
void TXLAWindow::CmPrint() { NotAvailableYet(); }
void TXLAWindow::CmDontLoadSpikes() { NotAvailableYet(); }
void TXLAWindow::CmFitT0() { NotAvailableYet(); }
void TXLAWindow::CmSedimentationTimeOffset() { NotAvailableYet(); }
void TXLAWindow::CmUpdate() { NotAvailableYet(); }
void TXLAWindow::CmModel267() { NotAvailableYet(); }

void TXLAWindow::CmSetRadialResolution() { NotAvailableYet(); }
void TXLAWindow::CmExcludeWorstScan() { NotAvailableYet(); }
void TXLAWindow::CmShowPeakMw() { NotAvailableYet(); }
void TXLAWindow::CmChangeCell() { NotAvailableYet(); }
void TXLAWindow::CmToggleMouseSliding() { NotAvailableYet(); }
void TXLAWindow::CmFlagTooStrongGradients() { NotAvailableYet(); }
void TXLAWindow::CmSortFluorescenceDataToDisk() { NotAvailableYet(); }
void TXLAWindow::CmSignalMagnificationRadialGradient() { NotAvailableYet(); }
void TXLAWindow::CmNonlinearDetection() { NotAvailableYet(); }
void TXLAWindow::CmSignalMagnificationDriftWithTime() { NotAvailableYet(); }
void TXLAWindow::CmSignalRadialConvolution() { NotAvailableYet(); }
void TXLAWindow::CmExcitationShadowAtBottom() { NotAvailableYet(); }
void TXLAWindow::CmFloToolBox() { NotAvailableYet(); }
void TXLAWindow::CmJohnstonOgstonSignalDepletion() { NotAvailableYet(); }
void TXLAWindow::CmCopyResidualsHistogram() { NotAvailableYet(); }
void TXLAWindow::CmLoadCtotFiles() { NotAvailableYet(); }
void TXLAWindow::CmSaveCtotFile() { NotAvailableYet(); }
void TXLAWindow::CmRerunWithMeanField() { NotAvailableYet(); }
void TXLAWindow::CmClearMeanFieldCtot() { NotAvailableYet(); }
void TXLAWindow::CmTrackTINoiseFeature() { NotAvailableYet(); }
void TXLAWindow::CmFixScratchJump() { NotAvailableYet(); }
void TXLAWindow::CmFixIndividualScanJump() { NotAvailableYet(); }

// Window messages whose handling arrives with the plot interaction, the
// loader and the real-time update.
void TXLAWindow::EvChar(int, int, unsigned) {}
void TXLAWindow::EvLButtonDblClk(unsigned, int, int) {}
void TXLAWindow::EvRButtonDblClk(unsigned, int, int) {}
