#pragma once
// The distributions of the integration tests, on grids of the tests' own
// in Conti().
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/model_selector.h"

// A c(s) model with the module's records restored after the test.
class DistributionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Conti();
    savedFlags_ = gModelSelectorFlags;
    gModelSelectorFlags = ModelSelectorFlags();
    gModelSelectorFlags.CSModel = 1;
    gModelSelectorFlags.DistributionModel = 1;
  }
  void TearDown() override {
    Conti() = saved_;
    gModelSelectorFlags = savedFlags_;
    CurrentDataTypeFlags().dls = 0;
  }
  ContiSettings saved_;
  ModelSelectorFlags savedFlags_;
};

// Two Gaussian peaks on s_i = 0.1 i (i = 1..150):
// c = exp(-(s-3)^2/0.18) + 0.5 exp(-(s-7)^2/0.5). Reference numbers come
// from a separate walk and trapezoid sum written apart from this code.
class TwoPeakDistribution : public DistributionTest {
 protected:
  void SetUp() override {
    DistributionTest::SetUp();
    Load([](double s) { return std::exp(-(s - 3) * (s - 3) / 0.18) + 0.5 * std::exp(-(s - 7) * (s - 7) / 0.5); });
  }
  template <typename F>
  void Load(F f, int n = 150) {
    s_.assign(static_cast<size_t>(n) + 1, 0.0f);
    c_.assign(static_cast<size_t>(n) + 1, 0.0f);
    for (int i = 1; i <= n; ++i) {
      s_[i] = static_cast<float>(0.1 * i);
      c_[i] = static_cast<float>(f(s_[i]));
    }
    Conti().gridSize = n;
    Conti().sValues = Conti().molarMasses = s_.data();
    Conti().distribution = c_.data();
  }
  std::vector<float> s_, c_;
};
