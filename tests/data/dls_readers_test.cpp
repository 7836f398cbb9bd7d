#include "data/dls/dls_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "dls_fixture.h"

namespace {

class DlsReaderTest : public DlsTest {
 protected:
  // The written file as loaded with g(2)-1 kept; its lag times and values
  // must be these.
  Loaded ExpectWritten(const std::string& name, const std::vector<double>& tau, const std::vector<double>& g2m1) {
    const Loaded l = Load(Path(name), true);
    EXPECT_EQ(l.ok, 1) << name << ": " << l.reason;
    EXPECT_EQ(l.n, static_cast<int>(tau.size())) << name;
    for (int k = 0; k < l.n && k < static_cast<int>(tau.size()); ++k) {
      EXPECT_NEAR(std::pow(10.0, l.x[k]) / tau[k], 1.0, 1e-5) << name << " row " << k + 1;
      EXPECT_NEAR(l.y[k], g2m1[k], 1e-5) << name << " row " << k + 1;
    }
    return l;
  }
  static DlsConditions Asked() {
    DlsConditions c;
    c.temperature = 21.5f;
    c.refractiveIndex = 1.333f;
    c.viscosity = 0.01002f;
    c.angle = 90;
    c.wavelength = 6.6e-7f;
    c.time = 77;
    c.countRate = 5;
    return c;
  }
};

// "Measurement number i", a 24-character column title between two line
// ends (the rows begin 26 characters after the title), then rows of tau
// and g(2).
std::string Measurement(int i, const std::vector<double>& tau, const std::vector<double>& g2) {
  std::string text = "Measurement number " + std::to_string(i) + "\nTime (s)     Coefficient\n";
  for (std::size_t k = 0; k < tau.size(); ++k) {
    char row[64];
    std::snprintf(row, sizeof row, "%g\t%g\n", tau[k], g2[k]);
    text += row;
  }
  return text + "\n";
}

TEST_F(DlsReaderTest, CoefficientExportsOfDynamicsAndProteinSolutions6) {
  const std::string csv =
      "Sample,BSA\nTime (us),Correlation Coefficient,Fit\n1.5,1.8,x\n3,1.7,x\n6.0,1.2,x\n\n12,1.1,x\n";
  const std::string tabs = "Sample\tBSA\nTime (us)\tCoefficient\n1.5\t1.8\n3\t1.7\n6.0\t1.2\n\n";
  const DlsReadResult a = ReadDlsDynamics7(Write("d7.csv", csv), Path("d7.dlsdat"), Asked());
  const DlsReadResult b = ReadDlsPS99v6(Write("ps6.dat", tabs), Path("ps6.dlsdat"), Asked());
  EXPECT_EQ(a.files, 1) << a.reason;
  EXPECT_EQ(b.files, 1) << b.reason;
  for (const char* name : {"d7.dlsdat", "ps6.dlsdat"}) {
    const Loaded l = ExpectWritten(name, {1.5e-6, 3e-6, 6e-6}, {0.8, 0.7, 0.2});
    EXPECT_DOUBLE_EQ(l.header.time, 0);
    EXPECT_FLOAT_EQ(l.header.countRate, 1.0f);
    EXPECT_FLOAT_EQ(l.header.temperature, 21.5f);
    EXPECT_FLOAT_EQ(l.header.wavelength, 6.6e-7f);
    EXPECT_STREQ(l.header.description, "");
  }
  // Without a "Coef" line the rows begin on line 2.
  EXPECT_TRUE(ReadDlsPS99v6(Write("plain.dat", "title\n2 1.5\n4 1.25\n"), Path("plain.dlsdat"), Asked()));
  ExpectWritten("plain.dlsdat", {2e-6, 4e-6}, {0.5, 0.25});
}

TEST_F(DlsReaderTest, PhotoCorReportWithItsKeywordsAndChannelLists) {
  const std::string head =
      "PhotoCor Runtime Report\nTemperature, C: 25.0\nViscosity, cP: 0.89\nRefractive index: 1.331\n"
      "Scatteting angle, deg: 60\nMean signal intensity, Hz: 150000\nSample time, s: 1e-7\n"
      "Number of channels: 4\n";
  // The list ends at the first missing ARG, before the channel count.
  const std::string acf = "ARG[1] = 1\nACF[1] = 0.9\nARG[2] = 2\nACF[2] = 0.8\nARG[3] = 4\nACF[3] = 0.6\n";
  struct Case {
    const char* wavelength;
    float metres;  // 0: refused
  } cases[] = {{"633", 6.33e-7f}, {"6328", 6.328e-7f}, {"1064", 1.064e-6f}, {"50", 0}, {"30000", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wavelength);
    std::filesystem::remove(Path("pc.dlsdat"));
    const std::string text = head + "Laser wavelength, nm: " + c.wavelength + "\n" + acf;
    const DlsReadResult r = ReadDlsPhotoCor(Write("pc.txt", text), Path("pc.dlsdat"));
    if (c.metres == 0) {
      EXPECT_FALSE(r);
      EXPECT_NE(r.reason.find("wavelength"), std::string::npos) << r.reason;
      EXPECT_FALSE(Exists("pc.dlsdat"));
      continue;
    }
    ASSERT_TRUE(r) << r.reason;
    const Loaded l = ExpectWritten("pc.dlsdat", {1e-7, 2e-7, 4e-7}, {0.9, 0.8, 0.6});
    EXPECT_FLOAT_EQ(l.header.wavelength, c.metres);
    EXPECT_FLOAT_EQ(l.header.viscosity, 0.0089f);
    EXPECT_FLOAT_EQ(l.header.angle, 60);
    EXPECT_FLOAT_EQ(l.header.countRate, 150000);
    EXPECT_DOUBLE_EQ(l.header.time, 1);
  }
  const std::string noAcf = head + "Laser wavelength, nm: 633\nARG[1] = 1\nACF[1] = 0.9\nARG[2] = 2\n";
  const DlsReadResult r = ReadDlsPhotoCor(Write("pc2.txt", noAcf), Path("pc2.dlsdat"));
  EXPECT_EQ(r.reason, "no \"ACF[2] =\"");
  EXPECT_FALSE(Exists("pc2.dlsdat"));
}

const char kAlv[] =
    "ALV-5000/E-WIN Data\nDate :\t\"07.12.2026\"\nTime :\t\"12:30:15\"\nSamplename : \t\"BSA\"\n"
    "Temperature [K] :\t     293.15000\nViscosity [cp]  :\t       1.00200\nRefractive Index:\t       1.33200\n"
    "Wavelength [nm] :\t     632.80000\nAngle [deg]     :\t      90.00000\nDuration [s]    :\t        30\n"
    "MeanCR0 [kHz]   :\t     250.00000\nMeanCR1 [kHz]   :\t       0.00000\n\n\"Correlation\"\n"
    "  1.00000E-003\t  8.00000E-001\n  2.00000E-003\t  6.00000E-001\n  4.00000E-003\t  3.00000E-001\n\n"
    "\"Count Rate\"\n       0.00000\t     250.00000\n";

TEST_F(DlsReaderTest, AlvHeaderUnitsAndRows) {
  const DlsReadResult r = ReadDlsALV(Write("bsa.asc", kAlv), Path("bsa.dlsdat"));
  ASSERT_TRUE(r) << r.reason;
  const Loaded l = ExpectWritten("bsa.dlsdat", {1e-6, 2e-6, 4e-6}, {0.8, 0.6, 0.3});
  EXPECT_DOUBLE_EQ(l.header.time, 45015);
  EXPECT_NEAR(l.header.temperature, 20.0f, 1e-4);
  EXPECT_FLOAT_EQ(l.header.viscosity, 0.01002f);
  EXPECT_FLOAT_EQ(l.header.refractiveIndex, 1.332f);
  EXPECT_FLOAT_EQ(l.header.wavelength, 6.328e-7f);
  EXPECT_FLOAT_EQ(l.header.angle, 90);
  EXPECT_FLOAT_EQ(l.header.countRate, 250000);
}

TEST_F(DlsReaderTest, TwoColumnExports) {
  const DlsReadResult g2 =
      ReadDls2ColumnG2(Write("g2.txt", "4 150000\n1 180000\r\n\n2 170000\n"), Path("g2.dlsdat"), 1e-6f, 100000, Asked());
  ASSERT_TRUE(g2) << g2.reason;
  const Loaded a = ExpectWritten("g2.dlsdat", {1e-6, 2e-6, 4e-6}, {0.8, 0.7, 0.5});
  EXPECT_DOUBLE_EQ(a.header.time, 77);
  EXPECT_FLOAT_EQ(a.header.countRate, 5);

  const DlsReadResult m1 = ReadDls2ColumnG2m1(Write("m1.txt", "1 0.8\n2 0.7\n"), Path("m1.dlsdat"), Asked());
  ASSERT_TRUE(m1) << m1.reason;
  EXPECT_FLOAT_EQ(ExpectWritten("m1.dlsdat", {1e-6, 2e-6}, {0.8, 0.7}).header.countRate, 1.0f);

  // No fixed limit on the rows.
  std::string many;
  std::vector<double> tau, y;
  for (int k = 1; k <= 1500; ++k) {
    many += std::to_string(k) + " " + std::to_string(1.0 / k) + "\n";
    tau.push_back(k * 1e-6);
    y.push_back(1.0 / k);
  }
  ASSERT_TRUE(ReadDls2ColumnG2m1(Write("many.txt", many), Path("many.dlsdat"), Asked()));
  ExpectWritten("many.dlsdat", tau, y);
}

// 37 (or 23) leading numbers with the named positions filled in.
std::string BicHead(int count, double channels1, double channels2) {
  std::vector<double> v(static_cast<std::size_t>(count) + 1, 0.0);
  v[2] = 12345;
  v[7] = channels1;
  v[9] = 90;
  v[10] = 532;
  v[11] = 298.15;
  v[12] = 0.89;
  v[14] = 1.33;
  v[21] = channels2;
  v[23] = 100000;
  std::string text;
  for (int k = 1; k <= count; ++k) text += std::to_string(v[static_cast<std::size_t>(k)]) + "\n";
  return text;
}

TEST_F(DlsReaderTest, BicLayoutsCountTheirChannels) {
  const std::string rows = "1 180000\n2 170000\n4 150000\n8 120000\n16 105000\n";
  const std::string notes = "BSA 1 mg/ml\nJane\nfirst run\nfiltered\n";
  ASSERT_TRUE(ReadDlsBIC(Write("new.dat", BicHead(37, 3.7, 2) + rows + notes), Path("new.dlsdat")));
  const Loaded a = ExpectWritten("new.dlsdat", {1e-6, 2e-6, 4e-6, 8e-6, 16e-6}, {0.8, 0.7, 0.5, 0.2, 0.05});
  EXPECT_STREQ(a.header.description, "sample: BSA 1 mg/ml, operator: Jane, first run, filtered");
  EXPECT_FLOAT_EQ(a.header.countRate, 12345);
  EXPECT_FLOAT_EQ(a.header.wavelength, 5.32e-7f);
  EXPECT_NEAR(a.header.temperature, 25.0f, 1e-4);
  EXPECT_FLOAT_EQ(a.header.viscosity, 0.0089f);
  EXPECT_FLOAT_EQ(a.header.refractiveIndex, 1.33f);

  // The old layout counts position 7 alone.
  ASSERT_TRUE(ReadDlsOldDosBIC(Write("old.dat", BicHead(23, 3, 2) + rows), Path("old.dlsdat")));
  EXPECT_STREQ(ExpectWritten("old.dlsdat", {1e-6, 2e-6, 4e-6}, {0.8, 0.7, 0.5}).header.description, "");

  struct Case {
    const char* name;
    std::string text;
    const char* reason;
  } bad[] = {
      {"fewer rows than channels", BicHead(37, 3, 2) + "1 180000\n2 170000\n4 150000\n8 120000\n",
       "fewer data rows than the 5 channels"},
      {"short header", "1\n2\n3\n", "the 37 leading numbers"},
      {"text in the header", "1\nabc\n" + BicHead(37, 3, 2), "\"abc\" is not a number"},
      {"no channels", BicHead(37, 0, 0) + rows, "channel count"},
      {"zero baseline", [] { std::string t = BicHead(37, 3, 2); return t.replace(t.rfind("100000"), 6, "0"); }() + rows,
       "baseline"},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.name);
    const DlsReadResult r = ReadDlsBIC(Write("bad.dat", c.text), Path("bad.dlsdat"));
    EXPECT_FALSE(r);
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    EXPECT_FALSE(Exists("bad.dlsdat"));
  }
}

TEST_F(DlsReaderTest, ProteinSolutions4WritesEveryMeasurementAndTheirMean) {
  const std::vector<double> tau = {1e-6, 2e-6, 4e-6, 8e-6};
  const std::vector<std::vector<double>> g2 = {
      {1.8, 1.6, 1.3, 1.1}, {1.7, 1.5, 1.25, 1.05}, {1.9, 1.7, 1.35, 1.15}};
  std::string text = "Dynamics V4 export\r\n";
  for (int i = 1; i <= 3; ++i) text += Measurement(i, tau, g2[static_cast<std::size_t>(i) - 1]);
  const std::string in = Write("ps4.txt", text);
  const DlsReadResult r = ReadDlsPSv4(in, Path("00001.dlsdat"), Asked(), 4);
  ASSERT_EQ(r.files, 3) << r.reason;
  EXPECT_EQ(Files(), (std::vector<std::string>{"00001.dlsdat", "00002.dlsdat", "00003.dlsdat", "average.dlsdat",
                                                "ps4.txt"}));
  std::vector<double> mean(4, 0.0);
  for (int i = 1; i <= 3; ++i) {
    std::vector<double> y;
    for (int k = 0; k < 4; ++k) {
      y.push_back(g2[static_cast<std::size_t>(i) - 1][static_cast<std::size_t>(k)] - 1.0);
      mean[static_cast<std::size_t>(k)] += y.back() / 3;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%05d.dlsdat", i);
    const Loaded l = ExpectWritten(name, tau, y);
    EXPECT_DOUBLE_EQ(l.header.time, i);
    EXPECT_FLOAT_EQ(l.header.countRate, 1.0f);
    EXPECT_STREQ(l.header.description, in.substr(0, 99).c_str());
  }
  EXPECT_DOUBLE_EQ(ExpectWritten("average.dlsdat", tau, mean).header.time, 0);
}

TEST_F(DlsReaderTest, ProteinSolutions99TablesGiveEachMeasurementItsConditions) {
  const std::vector<double> tau = {1e-6, 2e-6};
  std::string v520 = "Meas  Time  ...  SOS\n";
  v520 += "1 10 0 0 0 0 0 0 0 0 0 0 0 20.5 1500 0 0\n";
  v520 += "2 20 0 0 0 0 0 0 0 0 0 0 0 21.5 2500 0 0\n";
  v520 += Measurement(1, tau, {1.8, 1.6}) + Measurement(2, tau, {1.7, 1.5});
  DlsConditions fixed = Asked();
  fixed.angle = 90;
  fixed.wavelength = 808.3e-9f;
  const DlsReadResult a = ReadDlsPS99v520(Write("v520.txt", v520), Path("out.dlsdat"), fixed, 2);
  ASSERT_EQ(a.files, 2) << a.reason;
  const Loaded first = ExpectWritten("00001.dlsdat", tau, {0.8, 0.6});
  const Loaded second = ExpectWritten("00002.dlsdat", tau, {0.7, 0.5});
  EXPECT_DOUBLE_EQ(first.header.time, 10);
  EXPECT_FLOAT_EQ(first.header.temperature, 20.5f);
  EXPECT_FLOAT_EQ(second.header.countRate, 2500);
  EXPECT_FLOAT_EQ(second.header.wavelength, 808.3e-9f);
  EXPECT_FALSE(Exists("average.dlsdat"));

  const std::string v526 =
      "Laser Wavelength (A)   = 8250\nScattering Angle (deg) = 90\nItem CR x x x x x T t x x SOS\n"
      "1 1000 0 0 0 0 0 20 100 0 0\n2 3000 0 0 0 0 0 22 200 0 1.5e-05\n-----------\n"
      "Time  Coefficients 1  2  Coefficients (Ave)\n1e-6 1.8 1.6 1.7\n2e-6 1.5 1.3 1.4\n";
  // A missing output folder: reported once by the writer, and nothing written.
  ui_->ExpectBox("Error", "Attention: could not open " + Path("sub/average.dlsdat"));
  const DlsReadResult b = ReadDlsPS99v526(Write("v526.txt", v526), Path("sub/x.dlsdat"), Asked(), 2, false);
  EXPECT_EQ(b.reason, "could not write " + Path("sub/average.dlsdat"));
  EXPECT_TRUE(ui_->failures.empty());
  std::filesystem::create_directories(dir_ / "sub");
  ASSERT_EQ(ReadDlsPS99v526(Path("v526.txt"), Path("sub/x.dlsdat"), Asked(), 2, false).files, 1);
  EXPECT_FALSE(Exists("sub/00001.dlsdat"));
  ASSERT_EQ(ReadDlsPS99v526(Path("v526.txt"), Path("sub/x.dlsdat"), Asked(), 2, true).files, 2);
  const Loaded mean = ExpectWritten("sub/average.dlsdat", tau, {0.7, 0.4});
  EXPECT_FLOAT_EQ(mean.header.temperature, 21);
  EXPECT_DOUBLE_EQ(mean.header.time, 150);
  EXPECT_FLOAT_EQ(mean.header.countRate, 2000);
  EXPECT_FLOAT_EQ(mean.header.wavelength, 8.25e-7f);
  const Loaded one = ExpectWritten("sub/00001.dlsdat", tau, {0.8, 0.5});
  EXPECT_DOUBLE_EQ(one.header.time, 100);
  EXPECT_FLOAT_EQ(ExpectWritten("sub/00002.dlsdat", tau, {0.6, 0.3}).header.countRate, 3000);
}

TEST_F(DlsReaderTest, TruncatedExportsWriteNothing) {
  const std::vector<double> tau = {1e-6, 2e-6, 4e-6, 8e-6};
  const std::string full = Measurement(1, tau, {1.8, 1.6, 1.3, 1.1});
  std::string cut = full + Measurement(2, {1e-6, 2e-6, 4e-6}, {1.7, 1.5, 1.25});
  cut.resize(cut.size() - 1);
  struct Case {
    const char* name;
    std::function<DlsReadResult()> read;
    const char* reason;
  } cases[] = {
      {"empty", [&] { return ReadDls2ColumnG2m1(Write("e.txt", ""), Path("o.dlsdat"), Asked()); }, "empty file"},
      {"missing", [&] { return ReadDlsALV(Path("none.asc"), Path("o.dlsdat")); }, "could not open"},
      {"no path", [&] { return ReadDlsALV("", Path("o.dlsdat")); }, "no file name"},
      {"PS4 short measurement", [&] { return ReadDlsPSv4(Write("c.txt", cut), Path("o.dlsdat"), Asked(), 4); },
       "measurement 2 has fewer rows than the 4 channels"},
      {"PS4 rows past the end",
       [&] { return ReadDlsPSv4(Write("p.txt", full + "Measurement number 2\n"), Path("o.dlsdat"), Asked(), 4); },
       "past the end"},
      {"PS4 without measurements", [&] { return ReadDlsPSv4(Write("n.txt", "nothing\n"), Path("o.dlsdat"), Asked(), 4); },
       "no \"Measurement number\""},
      {"ALV without correlation",
       [&] {
         std::string t = kAlv;
         return ReadDlsALV(Write("a.asc", t.substr(0, t.find("\"Correlation\""))), Path("o.dlsdat"));
       },
       "no \"Correlation\""},
      {"ALV without viscosity",
       [&] {
         std::string t = kAlv;
         return ReadDlsALV(Write("v.asc", t.replace(t.find("Viscosity"), 9, "Vxxxxxxxx")), Path("o.dlsdat"));
       },
       "no \"Viscosity \""},
      {"text among the rows", [&] { return ReadDls2ColumnG2m1(Write("t.txt", "1 0.8\n2 n/a\n"), Path("o.dlsdat"), Asked()); },
       "row 2: \"n/a\" is not a number"},
      {"lag time zero", [&] { return ReadDls2ColumnG2m1(Write("z.txt", "0 0.9\n1 0.8\n"), Path("o.dlsdat"), Asked()); },
       "row 1: the lag time 0 is not positive"},
      // Lag times (us here) and values that single precision cannot hold would be written as "inf" or 0.
      {"lag time beyond single precision",
       [&] { return ReadDls2ColumnG2m1(Write("big.txt", "1 0.8\n1e45 0.7\n"), Path("o.dlsdat"), Asked()); },
       "row 2: the lag time 1e+39 s is outside the range a dlsdat file can hold"},
      {"lag time below single precision",
       [&] { return ReadDls2ColumnG2m1(Write("tiny.txt", "1e-45 0.8\n1 0.7\n"), Path("o.dlsdat"), Asked()); },
       "row 1: the lag time 1e-51 s is outside the range a dlsdat file can hold"},
      {"value beyond single precision",
       [&] { return ReadDls2ColumnG2m1(Write("huge.txt", "1 0.8\n2 1e39\n"), Path("o.dlsdat"), Asked()); },
       "row 2: the value 1e+39 is outside the range a dlsdat file can hold"},
      {"baseline zero", [&] { return ReadDls2ColumnG2(Write("b.txt", "1 5\n"), Path("o.dlsdat"), 1e-6f, 0, Asked()); },
       "the baseline 0 is not positive"},
      // g(2)-1 already normalised would come out -1 in every row.
      {"normalised g2-1 to the g2 conversion",
       [&] { return ReadDls2ColumnG2(Write("n.txt", "1 0.81\n2 0.64\n4 0.25\n8 0.04\n"), Path("o.dlsdat"), 1e-6f, 100000, Asked()); },
       "every value lies below the measured baseline count rate 100000, so the data are no intensity "
       "autocorrelation g(2); normalised g(2)-1 data are converted by \"2 Column ASCII g(2)-1\""},
      {"asked wavelength zero",
       [&] {
         DlsConditions c = Asked();
         c.wavelength = 0;
         return ReadDls2ColumnG2m1(Write("w.txt", "1 0.8\n"), Path("o.dlsdat"), c);
       },
       "wavelength"},
      {"asked angle 200",
       [&] {
         DlsConditions c = Asked();
         c.angle = 200;
         return ReadDlsDynamics7(Write("g.csv", "Coef\n1,1.8\n"), Path("o.dlsdat"), c);
       },
       "angle"},
      {"output over its input",
       [&] { return ReadDls2ColumnG2m1(Write("same.txt", "1 0.8\n"), Path("same.txt"), Asked()); },
       "would overwrite the export"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DlsReadResult r = c.read();
    EXPECT_EQ(r.files, 0);
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    EXPECT_FALSE(Exists("o.dlsdat"));
    EXPECT_FALSE(Exists("00001.dlsdat"));
    EXPECT_FALSE(Exists("average.dlsdat"));
  }
  EXPECT_EQ(Read("same.txt"), "1 0.8\n");
}

}  // namespace
