#include "platform/process_launcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(ProcessLauncher, ArgumentsPassUnharmedAndExitCodesComeBack) {
  namespace fs = std::filesystem;
  const fs::path file = fs::temp_directory_path() / "tarnel launcher test; 'quoted' $name.txt";
  std::ofstream(file) << "x";
  platform::IProcessLauncher& p = platform::Processes();
  EXPECT_EQ(p.RunAndWait("sh", {"-c", "test -f \"$0\"", file.string()}), 0);
  EXPECT_EQ(p.RunAndWait("sh", {"-c", "exit 3"}), 3);
  EXPECT_EQ(p.RunAndWait("/no/such/program", {}), -1);
  EXPECT_TRUE(p.StartDetached("true", {}));
  fs::remove(file);
}

TEST(ProcessLauncher, NotepadStandsForTheDesktopEditor) {
  namespace fs = std::filesystem;
  const fs::path marker = fs::temp_directory_path() / "tarnel_editor_marker";
  const fs::path editor = fs::temp_directory_path() / "tarnel_fake_editor.sh";
  fs::remove(marker);
  std::ofstream(editor) << "#!/bin/sh\necho \"$1\" > " << marker.string() << "\n";
  fs::permissions(editor, fs::perms::owner_all);
  setenv("VISUAL", editor.c_str(), 1);
  EXPECT_TRUE(platform::Processes().StartDetached("C:\\WINDOWS\\NOTEPAD.EXE", {"report.txt"}));
  // The editor runs detached: wait for its whole line, not just for the file,
  // which exists from the moment the shell opens it.
  auto written = [&marker] {
    std::ifstream in(marker);
    std::string line;
    std::getline(in, line);
    return line;
  };
  for (int i = 0; i < 500 && written() != "report.txt"; ++i)
    platform::Processes().RunAndWait("sleep", {"0.01"});
  EXPECT_EQ(written(), "report.txt");
  unsetenv("VISUAL");
  fs::remove(marker);
  fs::remove(editor);
}

}  // namespace
