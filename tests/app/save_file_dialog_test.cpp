// The one save dialog of the commands that write one file: what it asks
// the interface for, where it opens, and what counts as cancelled.
#include <gtest/gtest.h>

#include <string>

#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "platform/scripted_ui.h"

namespace {

platform::FileDialogResult Chosen(const std::string& path) {
  platform::FileDialogResult r;
  r.accepted = true;
  r.paths = {path};
  return r;
}

TEST(SaveFileDialog, AsksForOneFileAndRefusesPathsTheNameBufferCannotHold) {
  platform::FileDialogRequest base;
  base.title = "select files";
  base.filters = {{"All AUC Files", "*.IP*;*.RA*"}};
  base.initialFolder = "/last/";
  base.multiSelect = true;
  base.confirmOverwrite = false;
  base.defaultExtension = "*";
  const std::string longest(kLongestSavePath, 'a');
  struct Case {
    const char* what;
    SaveFileQuestion question;
    platform::FileDialogResult answer;
    std::string folder;  // where the dialog opens
    std::string path;    // what the caller gets
  };
  const Case cases[] = {
      {"chosen", {"save residuals as", "r0000x.rxx", "/data/"}, Chosen("/data/r1.rxx"), "/data/", "/data/r1.rxx"},
      {"cancelled", {"save residuals as", "r0000x.rxx", "/data/"}, {}, "/data/", ""},
      {"accepted without a path", {"t", "p", ""}, {true, {}}, "/last/", ""},
      {"no start folder", {"t", "newdat.dat", "", "dat"}, Chosen("/x/newdat.dat"), "/last/", "/x/newdat.dat"},
      {"longest path", {"t", "p", ""}, Chosen(longest), "/last/", longest},
      {"one too long", {"t", "p", ""}, Chosen(longest + "a"), "/last/", ""},
      {"any length", {"t", "p", "", "", 0}, Chosen(longest + "a"), "/last/", longest + "a"},
  };
  for (const Case& c : cases) {
    platform::ScriptedUserInterface ui;
    platform::ScopedUI guard(ui);
    ui.ExpectFiles(c.question.title, c.answer);
    EXPECT_EQ(AskSaveFile(base, c.question), c.path) << c.what;
    ASSERT_EQ(ui.fileRequests.size(), 1u) << c.what;
    const platform::FileDialogRequest& r = ui.fileRequests[0];
    EXPECT_TRUE(r.save) << c.what;
    EXPECT_FALSE(r.multiSelect) << c.what;
    EXPECT_EQ(r.title, c.question.title) << c.what;
    EXPECT_EQ(r.presetName, c.question.preset) << c.what;
    EXPECT_EQ(r.initialFolder, c.folder) << c.what;
    EXPECT_EQ(r.defaultExtension, c.question.defaultExtension) << c.what;
    // The base's filters and overwrite question stay.
    EXPECT_EQ(r.filters, base.filters) << c.what;
    EXPECT_FALSE(r.confirmOverwrite) << c.what;
    EXPECT_TRUE(ui.failures.empty()) << c.what;
  }
}

TEST(SaveFileDialog, ABareNameIsProposedBesideTheData) {
  ScanSet& s = CurrentScanSet();
  const std::string kept = s.dataFolder;
  struct Case {
    const char* preset;
    const char* dataFolder;
    const char* folder;
  };
  const Case cases[] = {
      {"f0000x.rxx", "/data/run1/", "/data/run1/"},
      {"/elsewhere/r0000x.rxx", "/data/run1/", "/elsewhere/"},
      {"C:\\runs\\average.ra1", "/data/run1/", "C:\\runs\\"},
      {"0000x.ra0", "", ""},
  };
  for (const Case& c : cases) {
    s.dataFolder = c.dataFolder;
    EXPECT_EQ(SaveFolderFor(c.preset), c.folder) << c.preset;
  }
  s.dataFolder = kept;
}

}  // namespace
