#pragma once
// Weight-average s of a set of sedimentation-velocity scans by the second
// moment of each boundary: the area under the data between meniscus and the
// right fit limit gives the equivalent boundary radius, the loading
// concentration follows from radial dilution, and the boundary's moment
// either against its neighbour in time (differential) or against t = 0.
#include <string>
#include <vector>

struct MomentScan {
  const float* r = nullptr;  // 1-based radii (cm)
  const float* c = nullptr;  // 1-based signal
  int points = 0;
  int firstInLimits = 0, lastInLimits = 0;  // 0: the first or last point
  float rpm = 0;
  double elapsed = 0;  // s, as read from the scan file
  double w2t = 0;      // rad^2/s
};

struct SecondMomentResult {
  bool ok = false;
  std::string text;  // the result, or the refusal naming the scan
  // Per scan in the order given: the step model's plateau and boundary radius.
  std::vector<float> plateau, boundary;
  // The table for the clipboard: elapsed time and s (S) in time order.
  std::vector<float> tableTime, tableS;
  double sw = 0, c0 = 0, averageConcentration = 0;
};

// timeOrder lists the indices into scans by elapsed time.
SecondMomentResult DifferentialSecondMomentSw(const std::vector<MomentScan>& scans,
                                              const std::vector<int>& timeOrder, float meniscus,
                                              float rightLimit);
SecondMomentResult SecondMomentSw(const std::vector<MomentScan>& scans, const std::vector<int>& timeOrder,
                                  float meniscus, float rightLimit);
