#pragma once
// Following a running experiment: the data folder is polled once a minute
// for new scan files "%05d" + extension, which are loaded and analysed.
// The window owns the timer and the menu; it calls RealtimeStart,
// RealtimeTick on each timer message and RealtimeStop.
#include <string>

#include "data/realtime_state.h"

// Starts the update (the window starts its timer afterwards); false when no
// scans are loaded or the prompt was cancelled.
bool RealtimeStart();
// One timer tick; true while the update goes on.
bool RealtimeTick(unsigned timerId);
void RealtimeStop();

bool RealtimeLoadNewFiles();
bool RealtimeScanForNewFiles();
// The selection for LoadAllData: folder, then each name, NUL-separated.
std::string BuildRealtimeSelection();
void CheckTemperatureFluctuation();
void AutoAdjustDistributionRange();
