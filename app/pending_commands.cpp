// Commands whose subsystems are not built yet: each says so in the one
// shared way and does nothing else. A subsystem that brings its command
// deletes the line here and defines the handler in its own file.
#include "app/txla_window.h"

void TXLAWindow::CmModel267() { NotAvailableYet(); }

void TXLAWindow::CmShowPeakMw() { NotAvailableYet(); }
void TXLAWindow::CmSortFluorescenceDataToDisk() { NotAvailableYet(); }
void TXLAWindow::CmSignalMagnificationRadialGradient() { NotAvailableYet(); }
void TXLAWindow::CmNonlinearDetection() { NotAvailableYet(); }
void TXLAWindow::CmSignalMagnificationDriftWithTime() { NotAvailableYet(); }
void TXLAWindow::CmSignalRadialConvolution() { NotAvailableYet(); }
void TXLAWindow::CmExcitationShadowAtBottom() { NotAvailableYet(); }
void TXLAWindow::CmFloToolBox() { NotAvailableYet(); }
void TXLAWindow::CmJohnstonOgstonSignalDepletion() { NotAvailableYet(); }
void TXLAWindow::CmLoadCtotFiles() { NotAvailableYet(); }
void TXLAWindow::CmSaveCtotFile() { NotAvailableYet(); }
void TXLAWindow::CmRerunWithMeanField() { NotAvailableYet(); }
void TXLAWindow::CmClearMeanFieldCtot() { NotAvailableYet(); }

// Window messages whose handling arrives with the plot interaction, the
// loader and the real-time update.
void TXLAWindow::EvLButtonDblClk(unsigned, int, int) {}
void TXLAWindow::EvRButtonDblClk(unsigned, int, int) {}
