// Per-step output of CLammIdeal: when the simulated time reaches the next
// scan, the node profile is interpolated onto that scan's radii (or the
// common grid) and the run moves on to the next scan; plus the solver's
// debug log.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "numerics/error_box.h"
#include "numerics/regrid.h"
#include "platform/input_events.h"
#include "platform/paths.h"
#include "platform/user_interface.h"

bool CLammIdeal::UserAbortRequested() {
  if (inWorker_) return false;
  return platform::TakeKeyDown();
}

void CLammIdeal::ShowSolvingProgress(int /*x*/, int /*y*/) {
  if (inWorker_ || suppress1_ || suppress2_) return;
  char text[200];
  std::snprintf(text, sizeof text,
                "solving Lamm equation #%d for s = %.3f S, D=%1.3e cm^2/sec [Thread %d]      ",
                component_, s_, D_, threadNumber_);
  platform::UI().StatusText(text);
}

void CLammIdeal::EachIterationOutput(double change) {
  if (showProgress_ && !inWorker_ && !suppress1_ && !suppress2_) {
    char text[200];
    std::snprintf(text, sizeof text, "dt = %f sec  #it = %d   t = %.0f sec  ri=%f  ", dt_,
                  stepCount_, t_, change);
    platform::UI().StatusText(text);
  }
  if (t_ < nextScanTime_) {
    if (timed_) ApplyTimedProfiles(t_);
    return;
  }
  if (UserAbortRequested()) {
    running_ = false;
    abortRequest_ = true;
  }
  if (movingFrame_ && !staticGrid_) UpdateMovingGridRadii();
  const int scan = indexMap_[outIndex_];
  const float* radii = nullptr;
  int n = 0;
  float* row = OutputRow(scan, &radii, &n);
  const double* profile = c_;
  if (wiener_ && wienerRef_ && wienerWork1_ && wienerWork2_) {
    for (int i = 1; i <= N_; ++i) profile_[i] = c_[i];
    ApplyWienerSkewing(N_, r_, profile_, wienerCount_, wienerRef_.get());
    profile = profile_;
  }
  if (row && radii) InterpolateOntoGridD(n, radii, row, N_, r_, profile);

  if (outIndex_ < scanCount_) {
    ++outIndex_;
    nextScanTime_ = ScanTime(outIndex_);
    pendingEvent_ = true;
    pendingTime_ = nextScanTime_;
  } else if (!continueAfterLast_) {
    ++outIndex_;
    running_ = false;
  } else {
    ++outIndex_;
    nextScanTime_ = 1e8;
    pendingEvent_ = false;
  }
  if (timed_) ApplyTimedProfiles(t_);
}

// The run ended before every scan was reached because nothing changes any
// more (steady state) or the watched boundary has left the observed region:
// the later scans show the final profile.
void CLammIdeal::FillRemainingScansWithFinalProfile() {
  if (movingFrame_ && !staticGrid_) UpdateMovingGridRadii();
  while (outIndex_ <= scanCount_) {
    const int scan = indexMap_[outIndex_];
    const float* radii = nullptr;
    int n = 0;
    float* row = OutputRow(scan, &radii, &n);
    if (row && radii) InterpolateOntoGridD(n, radii, row, N_, r_, c_);
    ++outIndex_;
  }
}

void CLammIdeal::DebugLog(const char* text) {
  if (debugFile_.empty()) {
    char name[100];
    std::snprintf(name, sizeof name, "c:\\temp\\debug_t%d.txt", threadNumber_);
    debugFile_ = name;
  }
  if (!debugHeader_) {
    char header[1000];
    std::snprintf(header, sizeof header,
                  "starting new debugging session for Lamm equation s = %.4f S, D = %.3f F", s_,
                  D_ * 1e7);
    debugHeader_ = true;
    text = header;
    // The header is the first text written.
    std::FILE* f = std::fopen(platform::ToNative(debugFile_).c_str(), debugOpened_ ? "at" : "wt");
    if (!f) {
      if (!inWorker_) {
        const std::string msg =
            "\n\aAttention: could not open " + debugFile_ + " to write debugging info";
        ErrorBox(msg.c_str());
      }
      return;
    }
    debugOpened_ = true;
    std::fputs(text, f);
    std::fclose(f);
    return;
  }
  if (!text) return;
  std::FILE* f = std::fopen(platform::ToNative(debugFile_).c_str(), debugOpened_ ? "at" : "wt");
  if (!f) {
    if (!inWorker_) {
      const std::string msg =
          "\n\aAttention: could not open " + debugFile_ + " to write debugging info";
      ErrorBox(msg.c_str());
    }
    return;
  }
  debugOpened_ = true;
  std::fputs(text, f);
  std::fflush(f);
  std::fclose(f);
}
