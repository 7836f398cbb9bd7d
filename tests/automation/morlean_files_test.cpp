#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "automation/exchange/morlean_model_files.h"
#include "automation/exchange/xp_file.h"
#include "fit/serial_fit_settings.h"
#include "lamm/lamm_settings.h"
#include "tests/automation/automation_test_support.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/file_text.h"

using autotest::ReadFile;

namespace {

using teststate::FileLines;

// Scans with names and descriptions only: what the xp writer reads of them.
class MorleanFiles : public autotest::Scratch {
 protected:
  MorleanFiles() { Reset(); }
  ~MorleanFiles() override { Reset(); }
  static void Reset() {
    autotest::ResetAnalysisState();
    CurrentScanSet().equilibriumMode = 0;
    CurrentScanSet().dlsRecords.clear();
  }

  void Scans(int n, const char* description = "Run 12: BSA (pH 7)") {
    ScanSet& s = CurrentScanSet();
    AllocateScanTables(s, n);
    s.dataFolder = (dir / "data").string();
    for (int i = 1; i <= n; ++i) {
      autotest::PutScan(i, 3, 6.0f, 0.1f, [](float) { return 1.0f; }, [](float) { return 0.0f; });
      s.fileNames[static_cast<std::size_t>(i)] = "0000" + std::to_string(i) + ".RA1";
      std::strncpy(s.records[static_cast<std::size_t>(i)].description, description, 99);
      s.order[static_cast<std::size_t>(i)] = i;
    }
  }
  std::vector<std::string> Written(bool askNothing = true) {
    const std::string path = (dir / "data.xp").string();
    EXPECT_TRUE(WriteMorleanXpFile(path, askNothing));
    return FileLines(path);
  }
  static std::string Find(const std::vector<std::string>& lines, const std::string& key) {
    for (const auto& l : lines)
      if (l.find(key) != std::string::npos) return l;
    return "";
  }
};

TEST_F(MorleanFiles, KindOfDataChoosesTypeNoiseCenterpieceRotorAndExtraSets) {
  struct Case {
    const char* name;
    int scans;
    bool equilibrium, dls, electrophoresis;
    const char* type;
    const char* noise;
    const char* centerpiece;
    const char* rotor;
    int extraSets;
  };
  const Case cases[] = {
      {"velocity", 3, false, false, false, "0 (ExperimentType: SEDVELOCITY)", "0.010000", "2", " FOURHOLE)", 1},
      {"one equilibrium scan", 1, true, false, false, "3 (ExperimentType: SEDEQUILIBRIUM)", "0.005000", "2",
       " FOURHOLE)", 1},
      {"three equilibrium scans", 3, true, false, false, "4 (ExperimentType: MULTISEDEQ)", "0.005000", "2",
       " FOURHOLE)", 3},
      {"DLS", 2, false, true, false, "1 (ExperimentType: DLS)", "0.000100", "0", " NOROTOR)", 1},
      {"electrophoresis", 2, false, false, true, "2 (ExperimentType: ELECTROPHORESIS)", "0.010000", "0",
       " NOROTOR)", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    Scans(c.scans);
    CurrentScanSet().equilibriumMode = c.equilibrium;
    CurrentDataTypeFlags().dls = c.dls;
    CurrentDataTypeFlags().electrophoresis = c.electrophoresis;
    if (c.dls) {
      CurrentScanSet().dlsRecords.assign(static_cast<std::size_t>(c.scans) + 1, DlsHeaderRecord{});
      std::strcpy(CurrentScanSet().dlsRecords[1].description, "lysozyme 2 mg/ml");
    }
    const auto lines = Written();
    EXPECT_EQ(lines[0], c.type);
    EXPECT_EQ(lines[1], c.dls ? "lysozyme 2 mg/ml (exported xp file from TARNEL)"
                              : "Run 12: BSA  (exported xp file from TARNEL)");
    EXPECT_EQ(Find(lines, "(ExperimentalNoise)"), std::string(c.noise) + " (ExperimentalNoise)");
    EXPECT_EQ(Find(lines, "(Centerpiece)"), std::string(c.centerpiece) + " (Centerpiece)");
    EXPECT_EQ(Find(lines, "(rotor type:").substr(2), std::string("(rotor type: ") + c.rotor);
    EXPECT_EQ(Find(lines, "(NFILES)"), std::to_string(c.scans) + " (NFILES)");
    int sets = 0;
    for (const auto& l : lines) sets += l.find("(ppMultiLocalExtraConcs[") != std::string::npos;
    EXPECT_EQ(sets, 3 * c.extraSets);
    const std::string last = "0.000000e+00 (ppMultiLocalExtraConcs[" + std::to_string(c.extraSets) + "][3])";
    EXPECT_NE(std::find(lines.begin(), lines.end(), last), lines.end());
    EXPECT_EQ(lines.back(), "1 (bITCUnmixedNeck)");
    EXPECT_EQ(lines.size(), 86u + 3u * static_cast<std::size_t>(c.extraSets));
  }
}

TEST_F(MorleanFiles, DescriptionTextStopsAtTheFirstCharacterOutsideTheAllowedSet) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"Run 12: BSA (pH 7)", "Run 12: BSA "},
      {"(pH 7) first", ""},
      {"a", ""},
      {"ab\nsecond line", "ab"},
      {"C:\\runs\\#3_x/y,z.", "C:\\runs\\#3_x/y,z."},
      {"caf\xc3\xa9", "caf"},
  };
  for (const auto& c : cases) EXPECT_EQ(XpDescriptionText(c.in), c.out) << c.in;
  char full[100];
  std::memset(full, 'x', sizeof full);  // no terminator: the copy stops at 100
  EXPECT_EQ(XpDescriptionText(full), std::string(100, 'x'));
}

TEST_F(MorleanFiles, NameLineQuotesTheFolderAndTheBlankSeparatedNames) {
  Scans(3);
  auto lines = Written();
  const std::string folder = (dir / "data").string();
  EXPECT_EQ(lines[2], "\"" + folder + "\" \" 00001.RA1 00002.RA1 00003.RA1\"");
  Reset();
  Scans(1);
  CurrentScanSet().equilibriumMode = 1;
  lines = Written();
  EXPECT_EQ(lines[2], "\"" + folder + "/\" \" 00001.RA1\"");
}

TEST_F(MorleanFiles, AnswersBecomeTheSolutionConditionsAndChoicesAreNarrowed) {
  Scans(2);
  CurrentScanSet().equilibriumMode = 1;
  gModelSelectorFlags.NonidealCSModel = 1;
  const char* caption = "make MORLEAN xp file";
  ui.lenient = false;
  ui.ExpectPrompt(caption, "buffer density (g/ml)", std::string("0"))  // not positive: asked again
      .ExpectPrompt(caption, "buffer density (g/ml)", std::string("1.02"))
      .ExpectPrompt(caption, "buffer viscosity (cPoise)", std::string("-1"))
      .ExpectPrompt(caption, "buffer viscosity (cPoise)", std::string("0.02004"))
      .ExpectPrompt(caption, "partial-specific volume (ml/g)", std::string("0.72"))
      .ExpectPrompt(caption, "molar extinction coefficient", std::string("2.5"))
      .ExpectPrompt(caption, "centerpiece (2 or 6)", std::string("5"))
      .ExpectPrompt(caption, "optical pathlength (cm)", std::string("0.3"))
      .ExpectPrompt(caption, "rotor type (4 or 8)", std::string("8.0"));
  const auto lines = Written(false);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_EQ(lines[3], "1.020000 (fBufferDensity)");
  EXPECT_EQ(lines[4], "0.002004 (fBufferViscosity)");
  EXPECT_EQ(lines[5], "0.720000 (VBAR)");
  EXPECT_EQ(Find(lines, "(xExtinctionCoeffA)"), "2.500000 (xExtinctionCoeffA)");
  EXPECT_EQ(Find(lines, "(Centerpiece)"), "2 (Centerpiece)");
  EXPECT_EQ(Find(lines, "(pathlength)"), "0.300000 (pathlength)");
  EXPECT_EQ(Find(lines, "(rotor type:"), "8 (rotor type:  EIGHTHOLE)");
  EXPECT_FLOAT_EQ(gSolutionConditions.density, 1.02f);
  EXPECT_FLOAT_EQ(gSolutionConditions.viscosity, 2.0f);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbar, 0.72f);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbarRho, 0.72f * 1.02f);
}

TEST_F(MorleanFiles, AskingNothingWritesTheCurrentValues) {
  Scans(2);
  gSolutionConditions.viscosity = 1.0f;
  auto lines = Written(true);
  EXPECT_TRUE(ui.transcript.empty());
  // A running serial fit mutes the questions of any caller.
  gSerialFitSettings.running = 1;
  lines = Written(false);
  gSerialFitSettings.running = 0;
  EXPECT_TRUE(ui.transcript.empty());
  EXPECT_EQ(lines[3], "1.000000 (fBufferDensity)");
  EXPECT_EQ(lines[4], "0.001002 (fBufferViscosity)");
  EXPECT_EQ(Find(lines, "(xExtinctionCoeffA)"), "1.000000 (xExtinctionCoeffA)");
  EXPECT_EQ(Find(lines, "(pathlength)"), "1.200000 (pathlength)");
}

TEST_F(MorleanFiles, TheWriterRefusesWhatTheNameLineCannotCarry) {
  const std::string path = (dir / "refused.xp").string();
  EXPECT_FALSE(WriteMorleanXpFile(path, true));  // no scans, no message
  EXPECT_TRUE(ui.transcript.empty());
  for (const char* name : {"scan 1.RA1", "scan\"1.RA1"}) {
    Reset();
    ui.transcript.clear();
    Scans(2);
    CurrentScanSet().fileNames[2] = name;
    EXPECT_FALSE(WriteMorleanXpFile(path, true)) << name;
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_EQ(ui.transcript.size(), 1u);
    EXPECT_EQ(ui.transcript[0].caption, "ERROR");
    EXPECT_NE(ui.transcript[0].text.find(name), std::string::npos);
  }
  Reset();
  ui.transcript.clear();
  Scans(2);
  EXPECT_FALSE(WriteMorleanXpFile((dir / "missing" / "x.xp").string(), true));
  ASSERT_EQ(ui.transcript.size(), 1u);
  EXPECT_EQ(ui.transcript[0].text, "could not open " + (dir / "missing" / "x.xp").string());
  // A full disk (a file-size limit here) is said and keeps the earlier file;
  // a device or a pipe at the name is never opened.
  const std::string kept = Put("kept.xp", "earlier export\n").string();
  ui.transcript.clear();
  ASSERT_TRUE(testsupport::WithFileSizeLimit(0, [&] { EXPECT_FALSE(WriteMorleanXpFile(kept, true)); }));
  ASSERT_EQ(ui.transcript.size(), 1u);
  EXPECT_EQ(ui.transcript[0].text, "could not write " + kept);
  EXPECT_EQ(ReadFile(kept), "earlier export\n");
  ui.transcript.clear();
  EXPECT_FALSE(WriteMorleanXpFile("/dev/full", true));
  ASSERT_EQ(ui.transcript.size(), 1u);
  EXPECT_EQ(ui.transcript[0].text, "could not open /dev/full");
}

// ---- reading ----------------------------------------------------------------

TEST_F(MorleanFiles, DamagedFilesAreRefusedAndShortOnesGiveWhatTheyHold) {
  const std::string head = "0 (ExperimentType: SEDVELOCITY)\nrun (exported xp file from TARNEL)\n";
  const std::string names = "\"/data/run\" \" a.RA1 b.RA1\"\n";
  const struct {
    const char* name;
    std::string text;
    XpReadStatus status;
    std::size_t values;
  } cases[] = {
      {"equilibrium", "3 (ExperimentType: SEDEQUILIBRIUM)\nx\n" + names, XpReadStatus::NotVelocity, 0},
      {"no number", "type\n", XpReadStatus::NoNumber, 0},
      {"empty", "", XpReadStatus::NoNumber, 0},
      {"unquoted", head + "/data/run a.RA1 b.RA1\n", XpReadStatus::OldFormat, 0},
      {"three quotes", head + "\"/data/run\" \" a.RA1 b.RA1\n1.0 (x)\n", XpReadStatus::BadNameLine, 0},
      {"no names", head + "\"/data/run\" \" \"\n", XpReadStatus::BadNameLine, 0},
      {"too long", head + "\"/data/run\" \" " + std::string(kXpNameLineLimit, 'a') + "\"\n",
       XpReadStatus::BadNameLine, 0},
      {"two values", head + names + "1.01 (fBufferDensity)\n0.001 (fBufferViscosity)\n", XpReadStatus::Ok, 2},
      {"unreadable third", head + names + "1.01 (a)\n0.001 (b)\n(VBAR)\n6.0 (Meniscus)\n", XpReadStatus::Ok, 2},
      {"CRLF", "0 (x)\r\nd\r\n\"/data/run\" \" a.RA1 b.RA1\"\r\n1.0 (a)\r\n", XpReadStatus::Ok, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = Put("case.xp", c.text);
    const XpFileContents xp = ReadXpFile(path.string());
    EXPECT_EQ(xp.status, c.status);
    EXPECT_EQ(xp.values.size(), c.values);
    if (c.status == XpReadStatus::Ok) {
      EXPECT_EQ(xp.folder, "/data/run");
      EXPECT_EQ(xp.names, (std::vector<std::string>{"a.RA1", "b.RA1"}));
    }
  }
  EXPECT_EQ(ReadXpFile((dir / "none.xp").string()).status, XpReadStatus::CannotOpen);
}

TEST_F(MorleanFiles, AnUnderscoreFolderLiesBesideTheXpFile) {
  const auto path = Put("set.xp", "0 (x)\nd\n\"_scans\" \" a.RA1\"\n");
  const XpFileContents xp = ReadXpFile(path.string());
  ASSERT_EQ(xp.status, XpReadStatus::Ok);
  EXPECT_EQ(xp.folder, dir.string() + "/_scans");
}

TEST_F(MorleanFiles, OnlyTheValuesPresentAreAppliedAndNonPositiveSolventValuesAreKept) {
  gSolutionConditions.viscosity = 1.2f;
  ApplyXpValues({1.1, 0.0, -0.7});
  EXPECT_FLOAT_EQ(gSolutionConditions.density, 1.1f);
  EXPECT_FLOAT_EQ(gSolutionConditions.viscosity, 1.2f);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbar, 0.73f);
  EXPECT_EQ(gModelParams.meniscus, 0.0f);
}

// ---- the hybrid model files --------------------------------------------------

class HybridFiles : public MorleanFiles {
 protected:
  HybridFiles() {
    ContiSettings& c = Conti();
    c.resolution = 49.9f;
    c.sMin = 0.5f;
    c.sMax = 15.0f;
    c.ffValue = 1.25f;
    c.fitFfValue = 1;
    c.confidenceLevel = 0.68f;
    c.hybridDiscrete = 0;
    c.discreteM = 350.0f;
    c.discreteS = 0.34f;
    c.fitDiscreteM = 0;
    c.fitDiscreteS = 1;
    LammSettings() = LammSolverSettings{};
  }
  ~HybridFiles() override { Conti().hybridDiscrete = 0; }
  std::vector<std::string> Parameters(const MorleanPeakExport& peaks) {
    EXPECT_TRUE(WriteMorleanHybridParameterFile(config(), xp(), peaks));
    return FileLines(dir / "set1.morlean_PAR");
  }
  std::string config() const { return (dir / "set1.cfg").string(); }
  std::string xp() const { return (dir / "set1.xp").string(); }
};

TEST_F(HybridFiles, ParameterFileAnnouncesEightyParametersAndCarriesTheCsSettings) {
  const auto lines = Parameters(MorleanPeakExport{});
  ASSERT_EQ(lines.size(), 82u);
  EXPECT_EQ(lines[0], "1000 (hybrid discrete - c(s) model) ");
  EXPECT_EQ(lines[1], "80 (# of parameter follow)");
  EXPECT_EQ(lines[2], "49 (resolution c(s) #1)");
  EXPECT_EQ(lines[3], "0.500000 (MCDsmin1)");
  EXPECT_EQ(lines[4], "15.000000 (MCDsmax1)");
  EXPECT_EQ(lines[5], "1 (MCDlinlog1)");
  EXPECT_EQ(lines[6], "1.250000 (ff0 c(s) #1)");
  EXPECT_EQ(lines[7], "1 (MCDfitff01)");
  EXPECT_EQ(lines[15], "0.680000 (MCDWPval)");
  // No discrete species, no peaks: every slot in its "0" form.
  for (int k = 1; k <= 10; ++k) {
    EXPECT_EQ(lines[static_cast<std::size_t>(16 + k)], "0.000000 (MCDglobM #" + std::to_string(k) + ")");
    EXPECT_EQ(lines[static_cast<std::size_t>(26 + k)], "0 (exist #" + std::to_string(k) + ")");
    EXPECT_EQ(lines[static_cast<std::size_t>(46 + k)], "0 (MCDfitM #" + std::to_string(k) + ")");
    EXPECT_EQ(lines[static_cast<std::size_t>(56 + k)], "0 (MCDfitS #" + std::to_string(k) + ")");
  }
  EXPECT_EQ(lines[81], "1 (bMarquardLevenbergMin)");
}

TEST_F(HybridFiles, DiscreteSpeciesFillsSlotOneWithItsFitSwitches) {
  Conti().hybridDiscrete = 1;
  const auto lines = Parameters(MorleanPeakExport{});
  EXPECT_EQ(lines[17], "350.000000 (MCDglobM #1)");
  EXPECT_EQ(lines[27], "1 (exist #1)");
  EXPECT_EQ(lines[37], "0.340000 (MCDglobS #1)");
  EXPECT_EQ(lines[47], "0 (MCDfitM #1)");
  EXPECT_EQ(lines[57], "1 (MCDfitS #1)");
  EXPECT_EQ(lines[28], "0 (exist #2)");
}

TEST_F(HybridFiles, ConvertedPeaksComeFirstConvertedToS20wAndTheDiscreteSpeciesAfterThem) {
  Conti().hybridDiscrete = 1;
  gSolutionConditions = SolutionConditions{};  // rho 1, eta_r 1, vbar 0.73
  MorleanPeakExport peaks;
  peaks.convert = true;
  peaks.s = {2.47f, 5.03f, 8.05f};
  peaks.M = {30000, 80000, 150000};
  const auto lines = Parameters(peaks);
  ASSERT_EQ(lines.size(), 82u);
  EXPECT_EQ(lines[2], "0 (resolution c(s) #1)");
  EXPECT_EQ(lines[7], "0 (MCDfitff01)");
  const double factor = (1.0 - 0.73 * 0.99823) / (1.0 - 0.73);
  for (int k = 1; k <= 3; ++k) {
    const auto i = static_cast<std::size_t>(k);
    EXPECT_NEAR(std::stod(lines[36 + i]), peaks.s[i - 1] * factor, 2e-6 * 8.1) << k;
    EXPECT_NEAR(std::stod(lines[16 + i]), peaks.M[i - 1], 1e-6) << k;
    EXPECT_EQ(lines[26 + i], "1 (exist #" + std::to_string(k) + ")");
  }
  EXPECT_EQ(lines[20], "350.000000 (MCDglobM #4)");
  EXPECT_EQ(lines[40], "0.340000 (MCDglobS #4)");
  EXPECT_EQ(lines[50], "1 (MCDfitM #4)");
  for (int k = 5; k <= 10; ++k) {
    const auto i = static_cast<std::size_t>(k);
    EXPECT_EQ(lines[16 + i], "0.000000 (MCDglobM #" + std::to_string(k) + ")");
    EXPECT_EQ(lines[26 + i], "0.000000 (exist #" + std::to_string(k) + ")");
    EXPECT_EQ(lines[46 + i], "0.000000 (MCDfitM #" + std::to_string(k) + ")");
    EXPECT_EQ(lines[56 + i], "0.000000 (MCDfitS #" + std::to_string(k) + ")");
  }
}

TEST_F(HybridFiles, TenPeaksBesideTheDiscreteSpeciesLeaveTheSmallestOut) {
  MorleanPeakExport peaks;
  peaks.convert = true;
  for (int k = 1; k <= 10; ++k) {
    peaks.s.push_back(static_cast<float>(k));
    peaks.M.push_back(1000.0f * static_cast<float>(k));
  }
  MorleanPeakExport withoutDiscrete = peaks;
  EXPECT_TRUE(FitPeaksIntoSlots(withoutDiscrete, false).empty());
  EXPECT_EQ(withoutDiscrete.s.size(), 10u);
  const std::vector<float> left = FitPeaksIntoSlots(peaks, true);
  EXPECT_EQ(left, std::vector<float>{10.0f});
  EXPECT_EQ(peaks.s.size(), 9u);
  EXPECT_EQ(peaks.M.size(), 9u);
  // Even an untrimmed list never spills past the tenth slot.
  Conti().hybridDiscrete = 1;
  MorleanPeakExport eleven = withoutDiscrete;
  const auto lines = Parameters(eleven);
  ASSERT_EQ(lines.size(), 82u);
  EXPECT_EQ(lines[26], "350.000000 (MCDglobM #10)");
  EXPECT_EQ(lines[36], "1 (exist #10)");
}

TEST_F(HybridFiles, ConfigurationNamesTheFilesTheSolverSettingsAndTwentyLinks) {
  Parameters(MorleanPeakExport{});
  const auto lines = FileLines(config());
  EXPECT_EQ(MorleanParameterFilePath("C:\\runs\\set1.cfg"), "C:\\runs\\set1.morlean_PAR");
  ASSERT_EQ(lines.size(), 50u);
  EXPECT_EQ(lines[0], "experiments:");
  EXPECT_EQ(lines[1], "1 1 " + xp());
  EXPECT_EQ(lines[2], "-1 0 end");
  EXPECT_EQ(lines[3], "0.730000 0.300000 (vbar20, hydration)");
  EXPECT_EQ(lines[4], "g 18 (#global parameters)");
  EXPECT_EQ(lines[5], "1 0.000459");
  EXPECT_EQ(lines[7], "5.000000 (threshold s for switching algorithms)");
  EXPECT_EQ(lines[8], "1000.000000 (nGridSize)");
  EXPECT_EQ(lines[9], "1.000000 (adjust dt with max relative increase)");
  EXPECT_EQ(lines[22], "1 (bSAFinalML)");
  EXPECT_EQ(lines[23], "model:");
  EXPECT_EQ(lines[24], "1000 (hybrid discrete - c(s) model) ");
  EXPECT_EQ(lines[25], "parameter file:");
  EXPECT_EQ(lines[26], (dir / "set1.morlean_PAR").string());
  EXPECT_EQ(lines[28], "20 (iMaxExp)");
  EXPECT_EQ(lines[29], "7 (#links)");
  EXPECT_EQ(lines[30], "1 1 1 1 1 0 0");
  EXPECT_EQ(lines.back(), "20 20 20 20 20 0 0");
}

TEST_F(HybridFiles, AnUnwritableParameterFileLeavesTheConfigurationUnwritten) {
  std::filesystem::create_directory(dir / "set1.morlean_PAR");  // a folder in its place
  EXPECT_FALSE(WriteMorleanHybridParameterFile(config(), xp(), MorleanPeakExport{}));
  EXPECT_FALSE(std::filesystem::exists(config()));
  ASSERT_FALSE(ui.transcript.empty());
  EXPECT_EQ(ui.transcript.back().text,
            "could not open file " + (dir / "set1.morlean_PAR").string() + " for writing");
  EXPECT_EQ(ui.transcript.back().icon, platform::BoxIcon::Error);
}

}  // namespace
