#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "automation/automation_run.h"
#include "automation/ini_custom_pars.h"
#include "automation/plot_exports.h"
#include "automation/result_files.h"
#include "fit/rmsd.h"
#include "numerics/ccurve.h"
#include "platform/bitmap.h"
#include "plot/plot_window_set.h"
#include "tests/automation/automation_test_support.h"
#include "tests/support/file_size_limit.h"

using autotest::ReadFile;

namespace {

// Three scans of five points, loaded out of time order (the second file is
// the earliest), with TI noise on the common grid, RI noise per scan and a
// distribution; every value is exact in binary so the files are predictable.
class ResultFiles : public autotest::Scratch {
 protected:
  ResultFiles() {
    autotest::ResetAnalysisState();
    ScanSet& s = CurrentScanSet();
    AllocateScanTables(s, 3);
    const float radii[] = {6.0f, 6.1f, 6.2f, 6.3f, 6.4f};
    const float offsets[] = {0, 0.25f, 0.5f, 0.125f};  // data - model per scan
    const double times[] = {0, 200, 100, 300};
    const float temperatures[] = {0, 20.4f, 20.0f, 19.9f};
    const char* names[] = {"", "a.RA1", "b.RA1", "c.RA1"};
    for (int i = 1; i <= 3; ++i) {
      autotest::PutScan(i, 5, 6.0f, 0.1f, [](float) { return 0.0f; }, [](float) { return 0.0f; });
      for (int k = 1; k <= 5; ++k) {
        s.radii[i][k] = radii[k - 1];
        s.signals[i][k] = 1.0f + 0.5f * static_cast<float>(k);
        s.model[i][k] = s.signals[i][k] - offsets[i];
      }
      s.residuals[i] = vector(1, 5);
      for (int k = 1; k <= 5; ++k) s.residuals[i][k] = s.signals[i][k] - s.model[i][k];
      s.firstFitPoint[i] = 2;
      s.lastFitPoint[i] = 4;
      s.fileNames[i] = names[i];
      ScanRecord& r = s.records[i];
      r.time = r.timeRead = times[i];
      r.temperature = temperatures[i];
      r.rpm = 50000;
      r.wavelength = 280;
      r.w2t = 1.5e10 * i;
    }
    s.order[1] = 2;
    s.order[2] = 1;
    s.order[3] = 3;
    s.leftFitLimit = 6.1f;
    s.rightFitLimit = 6.3f;
    s.gridOwned = 1;
    s.gridLength = 5;
    s.grid = vector(1, 5);
    s.tiNoise = vector(1, 5);
    s.riNoise = vector(1, 3);
    for (int j = 1; j <= 5; ++j) {
      s.grid[j] = radii[j - 1];
      s.tiNoise[j] = 0.0625f * static_cast<float>(j);
    }
    s.firstGridPoint = 2;
    s.lastGridPoint = 4;
    s.riNoise[1] = 0.1f;
    s.riNoise[2] = 0.2f;
    s.riNoise[3] = 0.3f;
    gModelParams.riNoiseFit = 1;
    gFitEngineState.fitTINoise = 1;
    autotest::PutDistribution({1, 2, 3}, {0.5f, 1.5f, 0.25f});
    FileNameList& list = CurrentFileNameList();
    list.names = {"", "d/a.RA1", "d/b.RA1", "d/c.RA1"};
    list.count = 3;

    std::strcpy(record.OutputResultsDirectory, (dir / "out").string().c_str());
    std::strcpy(record.AllDoneFlagFile, (dir / "flag.txt").string().c_str());
    record.hasPassThrough = true;
    record.handshakeLength = -1;
  }
  ~ResultFiles() override { autotest::ResetAnalysisState(); }

  std::string Out(const char* name) { return ReadFile(dir / "out" / name); }

  CIniCustomPars record;
};

}  // namespace

TEST_F(ResultFiles, TheDataFilesAreWrittenByteForByte) {
  std::string failures;
  ASSERT_TRUE(WriteAutomationResultFiles(record, ResultScreenshot{}, &failures)) << failures;
  EXPECT_EQ(Out("distribution.dat"),
            "1.000000e+00 5.000000e-01\n2.000000e+00 1.500000e+00\n3.000000e+00 2.500000e-01\n");
  // Grid points inside the fit limits, subtracted plus current TI noise.
  EXPECT_EQ(Out("TInoise.dat"), "6.100000 0.125000\n6.200000 0.187500\n6.300000 0.250000\n");
  // Time order: the second file first.
  EXPECT_EQ(Out("RInoise.dat"), "100.000000 0.200000\n200.000000 0.100000\n300.000000 0.300000\n");
  EXPECT_EQ(Out("ScanRMSD.dat"),
            "b.RA1 \t5.000000e-01\na.RA1 \t2.500000e-01\nc.RA1 \t1.250000e-01\n");
  const std::string zeros = "0.000000e+00 0.000000e+00 0.000000e+00 ";
  const std::string expectedDfr =
      // TI span one point beyond the fit limits on each side, RI by time order.
      "6.000000e+00 6.250000e-02 2.000000e-01 "
      "6.100000e+00 2.000000e+00 1.500000e+00 "
      "6.100000e+00 2.000000e+00 1.750000e+00 "
      "6.100000e+00 2.000000e+00 1.875000e+00 \n"
      "6.100000e+00 1.250000e-01 1.000000e-01 "
      "6.200000e+00 2.500000e+00 2.000000e+00 "
      "6.200000e+00 2.500000e+00 2.250000e+00 "
      "6.200000e+00 2.500000e+00 2.375000e+00 \n"
      "6.200000e+00 1.875000e-01 3.000000e-01 "
      "6.300000e+00 3.000000e+00 2.500000e+00 "
      "6.300000e+00 3.000000e+00 2.750000e+00 "
      "6.300000e+00 3.000000e+00 2.875000e+00 \n"
      "6.300000e+00 2.500000e-01 0.000000e+00 " + zeros + zeros + zeros + "\n" +
      "6.400000e+00 3.125000e-01 0.000000e+00 " + zeros + zeros + zeros + "\n";
  EXPECT_EQ(Out("dfr.dat"), expectedDfr);
  EXPECT_EQ(ReadFile(dir / "flag.txt"), "no handshake found");
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "screenshot.bmp"));

  // The RI noise taken out of data and model, as the subtraction does, is
  // still reported, and the data and fit are shown as loaded: the same
  // files, byte for byte.
  ScanSet& s = CurrentScanSet();
  s.riNoiseSubtracted = vector(1, 3);
  for (int i = 1; i <= 3; ++i) {
    const float ri = s.riNoise[i];
    for (int k = 1; k <= 5; ++k) {
      s.signals[i][k] -= ri;
      s.model[i][k] -= ri;
    }
    s.riNoiseSubtracted[i] = ri;
    s.riNoise[i] = 0.0f;
  }
  ASSERT_TRUE(WriteAutomationResultFiles(record, ResultScreenshot{}, &failures)) << failures;
  EXPECT_EQ(Out("RInoise.dat"), "100.000000 0.200000\n200.000000 0.100000\n300.000000 0.300000\n");
  EXPECT_EQ(Out("dfr.dat"), expectedDfr);
}

TEST_F(ResultFiles, BeforeAFitTheFitColumnStandsJustAboveTheData) {
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= 3; ++i)
    for (int k = 1; k <= 5; ++k) s.model[i][k] = 0;
  gModelParams.riNoiseFit = 0;
  ASSERT_EQ(WriteSvdfrData((dir / "m.dat").string().c_str()), 3);
  std::istringstream in(ReadFile(dir / "m.dat"));
  double v[12];
  for (double& x : v) in >> x;
  EXPECT_EQ(v[2], 0.0);  // no RI column without fitted RI noise
  for (int block = 0; block < 3; ++block) EXPECT_NEAR(v[5 + 3 * block] - v[4 + 3 * block], 0.001, 1e-6);
}

TEST_F(ResultFiles, TheParameterSummaryHasOneValuePerElement) {
  record.AutoExit = 1;
  record.StartingFrictionalRatio = 1.25f;
  std::strcpy(record.OutputResultsDirectory, "R&D<1>/out");
  gFitEngineState.useSimplex = 0;  // no method chosen at all
  gFitEngineState.currentRmsd = 0.5f;
  gFitEngineState.rmsdPointCount = 9;
  const std::string x = ComposeResultParametersXml(record, true);
  EXPECT_EQ(x.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<cGMPTarnel>\n\n<TARNELVersion>TARNEL  version ", 0), 0u);
  EXPECT_EQ(x.substr(x.size() - 15), "\n</cGMPTarnel>\n");
  for (const char* element : {
           "\n<ScreenShotPath>R&amp;D&lt;1&gt;/out/screenshot.bmp</ScreenShotPath>",
           "\n<PassThrough></PassThrough>",
           "\n<ScanDataFilesLoaded>\n  d/a.RA1\n  d/b.RA1\n  d/c.RA1\n</ScanDataFilesLoaded>",
           "\n<RMSD>0.500000</RMSD>", "\n<RMSD-points>9</RMSD-points>",
           "\n<RMSD-SSR>2.250000</RMSD-SSR>", "\n<FittingAlgorithm></FittingAlgorithm>",
           "\n<FittingStepsText>s0, step #0     </FittingStepsText>",
           "\n<LeftFitLimit>6.100000</LeftFitLimit>", "\n\t<BaselineFitted>FALSE</BaselineFitted>",
           "\n<RINoiseFitted>TRUE</RINoiseFitted>", "\n<TINoiseFitted>TRUE</TINoiseFitted>",
           "\n<RegularizationType>maxent</RegularizationType>",
           "\n<StartingFrictionalRatio>1.250000</StartingFrictionalRatio>",
           "\n<BufferViscosity>0.010020</BufferViscosity>", "\n<RotorSpeed>50000</RotorSpeed>",
           "\n<Wavelength>280.000</Wavelength>", "\n<w2tLastScan>4.500000e+10</w2tLastScan>",
           "\n<tLastScan>3.000000e+02</tLastScan>",
           "\n<TemperatureStart>2.000000e+01</TemperatureStart>",
           "\n<TemperatureEnd>1.990000e+01</TemperatureEnd>",
           "\n<TemperatureDiffMax-Min>0.500</TemperatureDiffMax-Min>",
           "\n<AutoExit>TRUE</AutoExit>\n</cGMPTarnel>"}) {
    EXPECT_NE(x.find(element), std::string::npos) << element;
  }
  EXPECT_EQ(x.find("<Model>"), std::string::npos);  // no distribution model chosen
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.LsgStarModel = 1;
  gFitEngineState.useMarquardt = 1;
  gFitEngineState.useSimplex = 1;
  const std::string y = ComposeResultParametersXml(record, false);
  EXPECT_NE(y.find("\n<Model>lsgofs</Model>"), std::string::npos);
  EXPECT_NE(y.find("\n<ScreenShotPath></ScreenShotPath>"), std::string::npos);
  EXPECT_NE(y.find("\n<FittingAlgorithm>Levenberg-Marquardt</FittingAlgorithm>"), std::string::npos);
}

TEST_F(ResultFiles, TheFlagFileHoldsTheHandshakeWhole) {
  const std::string handshake = "job 42 & <done> " + std::string(400, 'h');
  for (auto [length, text, expected] :
       {std::tuple<int, std::string, std::string>{0, "", "no handshake found"},
        {static_cast<int>(handshake.size()), handshake, handshake}}) {
    record.handshakeLength = length;
    record.handshakeText = text;
    ASSERT_TRUE(WriteAutomationResultFiles(record, ResultScreenshot{}, nullptr));
    EXPECT_EQ(ReadFile(dir / "flag.txt"), expected);
  }
}

TEST_F(ResultFiles, AFolderThatCannotBeMadeFailsEveryFileAndWritesNoFlag) {
  const std::string folder = (dir / "no" / "such" / "folder").string();
  std::strcpy(record.OutputResultsDirectory, folder.c_str());
  record.handshakeLength = 2;
  record.handshakeText = "hs";
  std::string failures;
  EXPECT_FALSE(WriteAutomationResultFiles(record, ResultScreenshot{}, &failures));
  std::string expected;
  for (const char* name : {"distribution.dat", "TInoise.dat", "RInoise.dat", "ScanRMSD.dat",
                           "dfr.dat", "ResultParameters.xml"})
    expected += std::string(expected.empty() ? "" : "; ") + "could not write " + folder + "/" + name;
  EXPECT_EQ(failures, expected);
  EXPECT_FALSE(std::filesystem::exists(dir / "flag.txt"));
}

TEST_F(ResultFiles, TheScreenshotIsAPaddedBottomUpBitmap) {
  platform::Bitmap client(101, 3, 0xffffff);
  client.SetPixel(0, 0, 0x000000ff);    // red, top left
  client.SetPixel(100, 2, 0x00ff0000);  // blue, bottom right
  const std::string path = (dir / "shot.bmp").string();
  ASSERT_TRUE(SaveWindowAreaAsBmp(path, client, 0, 0, 101, 3, 24));
  const std::string b = ReadFile(path);
  auto u32 = [&](std::size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
  };
  auto u16 = [&](std::size_t at) { return u32(at) & 0xffffu; };
  const uint32_t row = 304;  // 303 bytes rounded up to a multiple of 4
  ASSERT_EQ(b.size(), 54 + 3 * row);
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), 54 + 3 * row);
  EXPECT_EQ(u32(6), 0u);
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 101u);
  EXPECT_EQ(u32(22), 3u);  // positive: bottom-up rows
  EXPECT_EQ(u16(26), 1u);
  EXPECT_EQ(u16(28), 24u);
  EXPECT_EQ(u32(30), 0u);
  EXPECT_EQ(u32(34), 3 * row);
  // The last stored row is the top one; pixels are blue, green, red.
  EXPECT_EQ(b.substr(54 + 2 * row, 3), std::string("\x00\x00\xff", 3));
  EXPECT_EQ(b.substr(54 + 300, 3), std::string("\xff\x00\x00", 3));
  EXPECT_EQ(b.substr(54 + 303, 1), std::string("\x00", 1));  // padding
  platform::Bitmap back;
  ASSERT_TRUE(platform::LoadBmp(path, back));
  EXPECT_EQ(back, client);
  // A part of the area, and nothing for an empty rectangle or a missing folder.
  ASSERT_TRUE(SaveWindowAreaAsBmp(path, client, 100, 1, 101, 3, 24));
  ASSERT_TRUE(platform::LoadBmp(path, back));
  EXPECT_EQ(back.Width(), 1);
  EXPECT_EQ(back.GetPixel(0, 1), 0x00ff0000u);
  EXPECT_FALSE(SaveWindowAreaAsBmp(path, client, 5, 0, 5, 3, 24));
  EXPECT_FALSE(SaveWindowAreaAsBmp((dir / "x" / "y.bmp").string(), client, 0, 0, 1, 1, 24));
}

TEST_F(ResultFiles, PlotExportsMarkTheEndAndShiftDlsAbscissae) {
  const std::string path = (dir / "dist.txt").string();
  ASSERT_EQ(WriteDistributionForPlot(true, path.c_str()), 1);
  EXPECT_EQ(ReadFile(path), "1.000000e+00 5.000000e-01\n2.000000e+00 1.500000e+00\n"
                            "3.000000e+00 2.500000e-01\n-999.999 -999.999\n");
  CurrentDataTypeFlags().dls = 1;  // log10 of the radius in m becomes log10 in nm
  ASSERT_EQ(WriteDistributionForPlot(false, path.c_str()), 1);
  EXPECT_EQ(ReadFile(path).substr(0, 26), "1.000000e+01 5.000000e-01\n");
  CurrentDataTypeFlags().dls = 0;
  // Without a distribution nothing is written, and nothing is said.
  free_vector(Conti().distribution, 1, Conti().gridSize);
  Conti().distribution = nullptr;
  std::filesystem::remove(path);
  EXPECT_EQ(WriteDistributionForPlot(false, path.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(ui.transcript.empty());
}

TEST_F(ResultFiles, FluorescenceDataDoubleTheFirstTIRow) {
  // Five TI rows but only three scans of three fit points: N = R, so the
  // first radius is lowered by 0.001 cm; with a longer block, N < R and the
  // first grid point is written twice instead of the last one.
  CurrentDataTypeFlags().fluorescence = 1;
  const std::string path = (dir / "f.dat").string();
  ASSERT_EQ(WriteSvdfrData(path.c_str()), 3);
  std::istringstream a(ReadFile(path));
  double first;
  a >> first;
  EXPECT_NEAR(first, 5.999, 1e-6);

  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= 3; ++i) {
    s.firstFitPoint[i] = 1;
    s.lastFitPoint[i] = 5;
  }
  s.firstGridPoint = 3;  // TI span 2..4: N = 3 < R = 5
  s.lastGridPoint = 3;
  ASSERT_EQ(WriteSvdfrData(path.c_str()), 3);
  std::istringstream b(ReadFile(path));
  std::vector<double> radii;
  for (std::string line; std::getline(b, line);) {
    std::istringstream row(line);
    double r;
    row >> r;
    radii.push_back(r);
  }
  ASSERT_EQ(radii.size(), 5u);
  EXPECT_NEAR(radii[0], 6.1, 1e-6);
  EXPECT_NEAR(radii[1], 6.1, 1e-6);
  EXPECT_NEAR(radii[2], 6.2, 1e-6);
  EXPECT_EQ(radii[3], 0.0);
  CurrentDataTypeFlags().fluorescence = 0;
}

TEST_F(ResultFiles, EveryWriterTellsAFullDiskAndKeepsTheEarlierFile) {
  // A full disk, made by a file-size limit: each writer fails, the file
  // written before stays whole, and no temporary file is left. A device at
  // the name (/dev/full) is never opened.
  platform::Bitmap client(300, 200, 0x123456);
  std::vector<float> x(2001, 6.0f), y(2001, 0.5f);
  const struct {
    const char* writer;
    std::function<bool(const std::string&)> write;
  } writers[] = {
      {"distribution", [](const std::string& p) { return WriteDistributionForPlot(true, p.c_str()) == 1; }},
      {"data-fit-residuals", [](const std::string& p) { return WriteSvdfrData(p.c_str()) == 3; }},
      {"per-scan rmsd", [](const std::string& p) { return WriteScanRmsToFile(p); }},
      {"noise pairs", [&](const std::string& p) { return WriteXYArrays(p.c_str(), 2000, x.data(), y.data()); }},
      {"screenshot",
       [&](const std::string& p) { return SaveWindowAreaAsBmp(p, client, 0, 0, 300, 200, 24); }},
  };
  for (const auto& w : writers) {
    const std::string kept = Put(std::string(w.writer) + ".dat", "earlier result\n").string();
    ASSERT_TRUE(testsupport::WithFileSizeLimit(0, [&] { EXPECT_FALSE(w.write(kept)) << w.writer; }));
    EXPECT_EQ(autotest::ReadFile(kept), "earlier result\n") << w.writer;
    EXPECT_FALSE(w.write("/dev/full")) << w.writer;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 5);
  int told = 0;
  for (const auto& t : ui.transcript)
    if (t.text.find("could not write") != std::string::npos) ++told;
  EXPECT_EQ(told, 4);  // each text writer once; the screenshot leaves the telling to the result set
}

TEST_F(ResultFiles, AFailedRunSaysSoInItsSummary) {
  CalcRmsd();  // as the run does after each step
  const std::string plain = ComposeResultParametersXml(record, false);
  EXPECT_EQ(plain.find("<Failure>"), std::string::npos);
  RecordAutomationFailure(kAutomationStepFailed, "Fit", "Fit: failed");
  RecordAutomationFailure(kAutomationWriteFailed, "result files", "could not write");
  const std::string failed = ComposeResultParametersXml(record, false);
  EXPECT_NE(failed.find("\n<Failure>Fit; exit status 4</Failure>"), std::string::npos) << failed;
  // Everything a reader of the plain summary finds is still there.
  std::string withoutFailure = failed;
  const std::size_t from = withoutFailure.find("\n<Failure>");
  withoutFailure.erase(from, withoutFailure.find("</Failure>") + 10 - from);
  EXPECT_EQ(withoutFailure, plain);
}

TEST_F(ResultFiles, AnUnwritableFileLeavesNoFlagAndNoCutFile) {
  // The output folder holds the set of an earlier run; a folder named like
  // dfr.dat's temporary files cannot exist, so make dfr.dat itself a folder.
  std::filesystem::create_directories(dir / "out" / "dfr.dat");
  autotest::WriteFile(dir / "flag.txt", "earlier");
  std::filesystem::remove(dir / "flag.txt");
  std::string failures;
  EXPECT_FALSE(WriteAutomationResultFiles(record, ResultScreenshot{}, &failures));
  EXPECT_EQ(failures, "could not write " + (dir / "out" / "dfr.dat").string());
  EXPECT_FALSE(std::filesystem::exists(dir / "flag.txt"));
  EXPECT_EQ(CurrentAutomationState().exitCode, kAutomationWriteFailed);
  // The summary written after the failure names it.
  EXPECT_NE(ReadFile(dir / "out" / "ResultParameters.xml").find("<Failure>result files; exit status 5</Failure>"),
            std::string::npos);
  for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}
