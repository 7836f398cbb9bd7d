// What a load takes from a folder where the program has saved a fit: the
// scans only, never the fitted data, residuals or noise beside them; and one
// chosen file that is no scan is said to be none.
#include <algorithm>

#include "data/fit_output_files.h"
#include "data/scan_loading.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"
#include "road_support.h"

namespace {

class OwnFilesLoad : public RoadTest {
 protected:
  // One species at 5 S, run once over the four loaded scans.
  void RunOneSpecies() {
    OneSpecies("5.0", "5.0");
    Window().Dispatch(213);
  }
  // "Save Fit Data" with the names the dialogs offer.
  void SaveWithOfferedNames() {
    ui_->ExpectBox("SAVE PARAMETERS", "", platform::IDNO);
    ui_->ExpectFiles("save fitted data as", Chosen({(dir_ / DefaultFitDataName()).string()}));
    ui_->ExpectFiles("save residuals as", Chosen({(dir_ / DefaultResidualsName()).string()}));
    ui_->ExpectFiles("save some fit parameters as", platform::FileDialogResult{});
    Window().Dispatch(203);
  }
  // Every file of the folder, as select-all in the open dialog gives them.
  std::vector<std::string> EveryFile() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      std::string extension = e.path().extension().string();
      for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (extension == ".ra1") names.push_back(e.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> LoadedNames() const {
    const ScanSet& s = CurrentScanSet();
    std::vector<std::string> n;
    for (int i = 1; i <= s.count; ++i) n.push_back(s.fileNames[i]);
    std::sort(n.begin(), n.end());
    return n;
  }
};

TEST_F(OwnFilesLoad, SelectAllAfterSavingAFitLoadsTheScansOnly) {
  LoadRun(4);
  RunOneSpecies();
  SaveWithOfferedNames();
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  for (const char* name : {"f0001.ra1", "r0004.ra1"}) ASSERT_TRUE(std::filesystem::exists(dir_ / name)) << name;
  // The program's other files beside the scans, named as its commands name
  // them: the fit parameters of the Ctrl+S chain, the time-stamp report, the
  // notes, the saved analysis and the list of a load.
  for (const char* own : {"fitparams.RA1", "timestampanalysis.ra1", "simparams.RA1", "notes.ra1", "~tmppars.RA1",
                          "sdist.RA1", "list.ra1", "list_corr.ra1"})
    std::ofstream(dir_ / own) << "1 2 3\n";
  const std::vector<std::string> before = LoadedNames();

  const std::vector<std::string> all = EveryFile();
  ASSERT_EQ(all.size(), 4u + 4u + 4u + 8u);  // scans, fits, residuals and the program's own
  ui_->ExpectFiles("select files to fit", Chosen(all));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  // The fits, the residuals and the three reports are counted, the load's
  // own bookkeeping is not.
  ui_->ExpectBox("LOAD", "11 files written by this program (fitted data, residuals, noise or reports) were left out");
  ui_->lenient = false;
  ui_->initialTexts.clear();
  Window().Dispatch(200);
  ExpectScriptMet();
  EXPECT_EQ(LoadedNames(), before);
  // The count is offered as a count.
  EXPECT_EQ(ui_->initialTexts, std::vector<std::string>{"1"});
  // The list remembers the scans only.
  const std::string list = ReadFile((dir_ / "list.ra1").string());
  EXPECT_EQ(list.find("f0001"), std::string::npos) << list;
  EXPECT_EQ(list.find("r0001"), std::string::npos) << list;
  EXPECT_NE(list.find("00001.ra1"), std::string::npos) << list;
}

TEST_F(OwnFilesLoad, FittedDataChosenOnTheirOwnAreLoadedAsTheUserAsked) {
  LoadRun(4);
  RunOneSpecies();
  SaveWithOfferedNames();
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  std::vector<std::string> fits;
  for (const std::string& p : EveryFile())
    if (platform::SplitPath(p).name[0] == 'f') fits.push_back(p);
  ASSERT_EQ(fits.size(), 4u);
  LoadChosen(fits);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"f0001.ra1", "f0002.ra1", "f0003.ra1", "f0004.ra1"}));
}

TEST_F(OwnFilesLoad, OutputFilesAreToldByTheirFirstLine) {
  struct Case {
    const char* firstLine;
    bool output;
  };
  const Case cases[] = {
      {"fitted to /data/00001.ra1", true},
      {"[T OK]residuals to /data/00001.ra1", true},
      {"time-independent noise ", true},
      {"synthetic velocity run", false},
      {"  fitted data of a colleague", false},
      {"", false},
  };
  for (const Case& c : cases) {
    const std::string path = (dir_ / "probe.ra1").string();
    std::ofstream(path) << c.firstLine << "\nR 1 20.0 50000 1200 1.0e10 280 1\n   6.0000  1.0e-01   0.0e+00 \n";
    EXPECT_EQ(IsProgramOutputFile(path), c.output) << c.firstLine;
  }
  // A folder or a missing file is no output of the program.
  EXPECT_FALSE(IsProgramOutputFile(dir_.string()));
  EXPECT_FALSE(IsProgramOutputFile((dir_ / "absent.ra1").string()));
}

TEST_F(OwnFilesLoad, OneChosenFileThatIsNoScanIsSaidToBeNoneAndTheModeStays) {
  const std::string text = (dir_ / "readme.txt").string();
  std::ofstream(text) << "a few words\nand no numbers\n";
  Window();
  ui_->ExpectFiles("select files to fit", Chosen({text}));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  ui_->ExpectBox("LOAD ERROR", "The file is not a scan file: nothing was loaded.\n" + text);
  Window().Dispatch(200);
  ExpectScriptMet();
  EXPECT_EQ(CurrentScanSet().equilibriumMode, 0);
  EXPECT_EQ(CurrentScanSet().count, 0);
  for (const auto& t : ui_->transcript) EXPECT_EQ(t.text.find("Equilibrium Data Mode"), std::string::npos);
}

TEST_F(OwnFilesLoad, OneChosenScanAsksForTheEquilibriumModeWithNoAsTheDefault) {
  const auto paths = WriteRun();
  Window();
  ui_->ExpectFiles("select files to fit", Chosen({paths[0]}));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  ui_->ExpectBox("ERROR", "only one file selected");
  ui_->ExpectBox("LOAD ERROR", "switch to Equilibrium Data Mode?", platform::IDNO);
  Window().Dispatch(200);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  bool asked = false;
  for (const auto& t : ui_->transcript)
    if (t.text == "switch to Equilibrium Data Mode?") {
      asked = true;
      EXPECT_EQ(t.buttons, platform::BoxButtons::YesNoDefaultNo);
    }
  EXPECT_TRUE(asked);
  EXPECT_EQ(CurrentScanSet().equilibriumMode, 0);
}

TEST_F(OwnFilesLoad, AFitIsNeverSavedInPlaceOfAScan) {
  // Scans whose names begin with the letter of the fitted data.
  auto paths = WriteRun();
  std::vector<std::string> names;
  for (std::size_t k = 0; k < paths.size(); ++k) {
    const std::string name = "f000" + std::to_string(k + 1) + ".ra1";
    std::filesystem::rename(paths[k], dir_ / name);
    names.push_back(name);
  }
  Window();
  ASSERT_TRUE(LoadAllData(MakeSelection(dir_.string(), names)));
  RunOneSpecies();
  const std::string scan = ReadFile((dir_ / "f0001.ra1").string());
  ui_->ExpectBox("SAVE PARAMETERS", "", platform::IDNO);
  ui_->ExpectFiles("save fitted data as", Chosen({(dir_ / DefaultFitDataName()).string()}));
  ui_->ExpectBox("ERROR", "fitted data would replace the scan");
  ui_->ExpectFiles("save residuals as", platform::FileDialogResult{});
  ui_->ExpectFiles("save some fit parameters as", platform::FileDialogResult{});
  Window().Dispatch(203);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(ReadFile((dir_ / "f0001.ra1").string()), scan);
}

}  // namespace
