#include "platform/process_launcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

}  // namespace
