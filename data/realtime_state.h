#pragma once
// The state of the realtime update of a running experiment: whether it runs,
// the files it watches and found, and its status lines. Loading reads it and
// stops the update on a failed load; the update itself drives it.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct RealtimeSeries {
  std::string extension;  // with its dot, e.g. ".RA1"
  int firstNumber = 1;
};

struct RealtimeState {
  std::uint8_t running = 0;
  std::uint8_t stopRequested = 0;
  std::uint8_t busy = 0;
  std::uint8_t rangeChanged = 0;
  std::uint8_t noAutoRange = 0;
  std::uint8_t temperatureWarned = 0;
  std::uint8_t autoContinue = 0;
  std::uint8_t allCells = 0;
  std::uint8_t testMode = 0;  // approach-to-equilibrium test: several series at once
  std::vector<std::string> fileNames;  // [1..maxNumber]
  int maxNumber = 1000;
  int firstNumber = 0;
  int currentNumber = 0;
  int lastLoadedNumber = 0;
  int maxFilesAtOnce = 20;
  unsigned timerId = 13;
  unsigned timerInterval = 60000;  // ms
  std::time_t lastChanged = 0, lastChecked = 0;
  std::string drive, folder, extension;  // of the loaded files
  std::vector<RealtimeSeries> series;    // test mode: the watched series
  std::string statusLine1, statusLine2;
};

RealtimeState& CurrentRealtimeState();
