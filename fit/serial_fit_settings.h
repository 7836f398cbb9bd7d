#pragma once
// Status of the serial fits of many data sets, read by every fit and run
// below the automation layer: while a serial fit runs, non-fatal conditions
// store an error code here instead of showing a message box.
#include <cstdint>

struct SerialFitSettings {
  uint8_t abortRequest = 0;  // the user interrupted a fit or a run
  uint8_t running = 0;       // a serial fit is running
  // Code of the last muted condition: 1 NNLS iteration limit, 2 NNLS
  // factorisation failed, 3 root not bracketed, 4 root-finder iterations,
  // 5 double-precision root not bracketed, 6 maximum-entropy alpha search
  // stopped, 8 maximum-entropy root iterations, 9 zero differential,
  // 10 Nelder-Mead not converged.
  int32_t errorCode = 0;
  // Integrated Monte-Carlo statistics.
  float mcMeanSw = 0, mcSdSw = 0, mcLowerSw = 0, mcUpperSw = 0;
  float mcMeanC = 0, mcSdC = 0, mcLowerC = 0, mcUpperC = 0;
  // "restore previous params if available?": saved parameters of a set
  // are restored without asking.
  uint8_t reuseSavedParameters = 0;
  uint8_t monteCarlo = 0;      // Monte-Carlo error analysis of each set
  uint8_t useListOfLists = 0;  // the series comes from listOfLists.txt, not toBeProcessed.txt
};

extern SerialFitSettings gSerialFitSettings;
