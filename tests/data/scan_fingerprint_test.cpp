#include "data/scan_fingerprint.h"

#include <gtest/gtest.h>

#include <vector>

#include "numerics/arrays.h"

namespace {

struct ThreeScans {
  std::vector<ScanRecord> records = std::vector<ScanRecord>(4);
  int points[4] = {0, 101, 99, 100};
  FloatVec a{1, 101}, b{1, 99}, c{1, 100};
  float* values[4] = {nullptr, a, b, c};
  ThreeScans() {
    for (int i = 1; i <= 101; ++i) a[i] = 1.0f + 0.01f * i;
    for (int i = 1; i <= 99; ++i) b[i] = 2.0f + 0.01f * i;
    for (int i = 1; i <= 100; ++i) c[i] = 3.0f + 0.01f * i;
    records[1].type = 'I';
    records[1].cell = 3;
    records[1].temperature = 20.1f;
    records[1].rpm = 42000;
    records[1].timeRead = 1000;
    records[1].wavelength = 280;
    records[1].time = 1001;
  }
};

}  // namespace

TEST(FingerprintTest, RecognisesUnchangedDataAndSamplesTheMiddle) {
  CSVDataFingerPrint fp;
  ThreeScans s;
  EXPECT_FALSE(fp.Matches(3, s.records.data(), s.points, s.values));  // nothing recorded
  fp.Record(3, s.records.data(), s.points, s.values);
  EXPECT_EQ(fp.sampleIndex, 50);
  EXPECT_EQ(fp.values[2], s.b[50]);
  EXPECT_TRUE(fp.Matches(3, s.records.data(), s.points, s.values));
  EXPECT_TRUE(fp.Matches(3, s.records.data(), nullptr, nullptr));
  EXPECT_FALSE(fp.Matches(2, s.records.data(), s.points, s.values));

  s.b[50] += 2e-6f;
  EXPECT_FALSE(fp.Matches(3, s.records.data(), s.points, s.values));
  EXPECT_TRUE(fp.Matches(3, s.records.data(), s.points, nullptr));
  s.b[50] = 2.5f + 5e-7f;
  EXPECT_TRUE(fp.Matches(3, s.records.data(), s.points, s.values));

  ThreeScans t;
  t.points[3] = 98;
  EXPECT_FALSE(fp.Matches(3, t.records.data(), t.points, nullptr));
}

TEST(FingerprintTest, ReferenceHeaderFieldsMustBeEqual) {
  ThreeScans s;
  CSVDataFingerPrint fp;
  fp.Record(3, s.records.data(), s.points, s.values);
  const std::vector<void (*)(ScanRecord&)> changes = {
      [](ScanRecord& r) { r.type = 'R'; },          [](ScanRecord& r) { r.cell = 4; },
      [](ScanRecord& r) { r.temperature += 0.01f; }, [](ScanRecord& r) { r.rpm = 42001; },
      [](ScanRecord& r) { r.timeRead += 1e-9; },     [](ScanRecord& r) { r.wavelength = 230; },
      [](ScanRecord& r) { r.time = 1002; }};
  for (auto change : changes) {
    ThreeScans t;
    change(t.records[1]);
    EXPECT_FALSE(fp.Matches(3, t.records.data(), t.points, t.values));
  }
  ThreeScans u;
  u.records[1].w2t = 5;  // not part of the fingerprint
  u.records[2].cell = 9;
  EXPECT_TRUE(fp.Matches(3, u.records.data(), u.points, u.values));
}

TEST(FingerprintTest, ShortScansAreSampledAtTheirLastPoint) {
  std::vector<ScanRecord> records(3);
  int points[3] = {0, 1000, 10};
  FloatVec a(1, 1000), b(1, 10);
  for (int i = 1; i <= 10; ++i) b[i] = static_cast<float>(i);
  float* values[3] = {nullptr, a, b};
  CSVDataFingerPrint fp;
  fp.Record(2, records.data(), points, values);
  EXPECT_EQ(fp.sampleIndex, 500);
  EXPECT_EQ(fp.values[2], 10.0f);
  EXPECT_TRUE(fp.Matches(2, records.data(), points, values));
  EXPECT_TRUE(fp.Matches(2, records.data(), nullptr, values));
}
