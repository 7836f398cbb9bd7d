#pragma once
// A scratch folder for the DLS tests and a scripted user interface that
// records every box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "data/dlsdat_file.h"
#include "numerics/arrays.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

class DlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_ = std::make_unique<platform::ScriptedUserInterface>();
    scope_ = std::make_unique<platform::ScopedUI>(*ui_);
  }
  void TearDown() override { scope_.reset(); }


 public:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }
  std::string Read(const std::string& name) const { return teststate::FileText(Path(name)); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // A loaded dlsdat file; the arrays are freed with the test.
  struct Loaded {
    int ok = 0;
    DlsHeaderRecord header;
    int n = 0;
    std::vector<float> x, y;  // 0-based copies
    std::string reason;
  };
  static Loaded Load(const std::string& path, bool keepG2) {
    Loaded l;
    float* x = nullptr;
    float* y = nullptr;
    l.ok = ReadDlsdatForLoad(path, &l.header, &l.n, &x, &y, keepG2, &l.reason);
    if (l.ok) {
      l.x.assign(x + 1, x + l.n + 1);
      l.y.assign(y + 1, y + l.n + 1);
      free_vector(x, 1, l.n);
      free_vector(y, 1, l.n);
    } else {
      EXPECT_EQ(x, nullptr);
      EXPECT_EQ(y, nullptr);
    }
    return l;
  }

  static float SignedRoot(double v) { return static_cast<float>(v < 0 ? -std::sqrt(-v) : std::sqrt(v)); }

  teststate::TempFolder folder_;
  const std::filesystem::path dir_{folder_.path()};
  std::unique_ptr<platform::ScriptedUserInterface> ui_;
  std::unique_ptr<platform::ScopedUI> scope_;
};
