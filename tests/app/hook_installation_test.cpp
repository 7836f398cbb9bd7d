// Every hook of the records the window fills (Road(), PlotHooks(),
// CurrentLoadHooks(), ...) is installed in one place of app/: a second
// installation that runs later silently replaces the first, and a fix made
// to the first is then lost. Read from the sources: an installation is a
// lambda or a function assigned to a member, through the accessor itself
// (`Road().x = [`) or through a reference bound to it in the same file
// (`RoadServices& r = Road(); ... r.x = [`). A member saved and put back in
// the same file (a temporary swap, as printing does with the scan colours)
// is not a second installation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Installations = std::map<std::string, std::vector<std::string>>;

void CollectInstallations(const std::string& file, const std::string& text, Installations& found) {
  static const std::regex binding(R"((\w+)& (\w+) = (\w+)\(\);)");
  static const std::regex install(R"(^\s*(\w+)(\(\))?\.(\w+) = (\[|&\w))");
  std::map<std::string, std::string> accessorOf;
  for (std::sregex_iterator m(text.begin(), text.end(), binding), end; m != end; ++m)
    accessorOf[(*m)[2]] = (*m)[3];
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line) && number < 100000; ++number) {
    std::smatch m;
    if (!std::regex_search(line, m, install)) continue;
    const std::string name = m[1], member = m[3];
    const std::string accessor = m[2].matched ? name : (accessorOf.count(name) ? accessorOf[name] : "");
    if (accessor.empty()) continue;
    // Saved before and put back: a swap for the length of one call.
    if (text.find("= " + name + "." + member + ";") != std::string::npos) continue;
    found[accessor + "()." + member].push_back(file + ":" + std::to_string(number));
  }
}

Installations InstallationsIn(const fs::path& root) {
  Installations found;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.path().extension() != ".cpp") continue;
    std::ifstream in(e.path());
    std::stringstream text;
    text << in.rdbuf();
    CollectInstallations(fs::relative(e.path(), root.parent_path()).string(), text.str(), found);
  }
  return found;
}

TEST(HookInstallation, TheReaderFindsBothFormsAndSkipsSwaps) {
  Installations found;
  CollectInstallations("a.cpp",
                       "  RoadServices& r = Road();\n"
                       "  r.paint = [w] { Paint(*w); };\n"
                       "  Road().scan = [] {};\n"
                       "  r.cleared = nullptr;\n",
                       found);
  CollectInstallations("b.cpp",
                       "  PlotWindowHooks& p = PlotHooks();\n"
                       "  p.paint = [] {};\n"
                       "  RoadServices& road = Road();\n"
                       "  const auto saved = road.scan;\n"
                       "  road.scan = [](int) { return 0; };\n"
                       "  road.scan = saved;\n"
                       "  Road().paint = &PaintAgain;\n",
                       found);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found["Road().paint"], (std::vector<std::string>{"a.cpp:2", "b.cpp:7"}));
  EXPECT_EQ(found["Road().scan"], (std::vector<std::string>{"a.cpp:3"}));
  EXPECT_EQ(found["PlotHooks().paint"], (std::vector<std::string>{"b.cpp:2"}));
}

TEST(HookInstallation, NoHookOfTheWindowIsInstalledTwice) {
  const Installations found = InstallationsIn(fs::path(TARNEL_SOURCE_DIR) / "app");
  EXPECT_GT(found.size(), 50u);  // the reader still recognises the wiring
  for (const auto& [hook, places] : found) {
    std::string where;
    for (const std::string& p : places) where += " " + p;
    EXPECT_EQ(places.size(), 1u) << hook << " is installed at" << where;
  }
}

}  // namespace
