#include "platform/sounds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/clock.h"
#include "platform/sound_player.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class Sounds : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "sounds");
    const std::string base = folder_.string() + "/";
    for (int c = 0; c < platform::kSoundCategoryCount; ++c)
      platform::ProgramPaths.SoundFilePaths[c] = base + platform::kSoundFileNames[c];
    SoundState = SoundStateRecord{};
    clock_.now = 1000;
    platform::SetClock(&clock_);
    platform::SetSoundPlayer(&player_);
  }
  void TearDown() override {
    platform::SetSoundPlayer(nullptr);
    platform::SetClock(nullptr);
  }
  void Touch(const std::string& name) { std::ofstream(folder_ / "sounds" / name) << "RIFF"; }
  std::string Path(const std::string& name) const { return (folder_ / "sounds" / name).string(); }

  teststate::TempFolder scratch_;
  const fs::path folder_{scratch_.path()};
  platform::ManualClock clock_;
  platform::RecordingSoundPlayer player_;
};

TEST_F(Sounds, RecordingsAreCountedUpToTheFirstGap) {
  Touch("error.wav");
  Touch("error2.wav");
  Touch("info2.wav");  // without info.wav nothing counts
  Touch("hi.wav");
  Touch("hi2.wav");
  Touch("hi3.wav");
  Touch("hi5.wav");
  CountSoundFiles();
  EXPECT_EQ(SoundState.count[platform::kSoundError], 2);
  EXPECT_EQ(SoundState.count[platform::kSoundInfo], 0);
  EXPECT_EQ(SoundState.count[platform::kSoundHi], 3);
  EXPECT_EQ(SoundState.count[platform::kSoundBye], 0);
}

TEST_F(Sounds, FileNamesOfNumberedRecordings) {
  EXPECT_EQ(std::string(BuildSoundFileName("folder/sounds/hi.wav", 3)), "folder/sounds/hi3.wav");
  EXPECT_EQ(std::string(BuildSoundFileName("folder/sounds/hi.wav", 1)), "folder/sounds/hi.wav");
  EXPECT_EQ(std::string(BuildSoundFileName("folder/sounds/hi.wav", 0)), "folder/sounds/hi.wav");
  EXPECT_EQ(BuildSoundFileName("", 2), nullptr);
}

TEST_F(Sounds, NothingPlaysBeforeCountingOrWithSoundsOff) {
  PlaySoundError();
  EXPECT_TRUE(player_.played.empty()) << "no name buffer yet";
  CountSoundFiles();
  SoundState.soundsOn = false;
  std::srand(4242);
  const int expected = std::rand();
  std::srand(4242);
  PlaySoundError();
  PlaySoundHi();
  PlaySoundBye();
  MaybePlaySoundInfo();
  EXPECT_TRUE(player_.played.empty());
  EXPECT_EQ(std::rand(), expected) << "the generator is not touched";
  EXPECT_EQ(SoundState.lastPlayed[platform::kSoundError], -1);
}

TEST_F(Sounds, PlayersPickExistingRecordingsAndAvoidARepeatWhenTheyCan) {
  Touch("ok.wav");
  Touch("ok2.wav");
  Touch("ok3.wav");
  CountSoundFiles();
  std::set<std::string> seen;
  int repeats = 0;
  for (int i = 0; i < 60; ++i) {
    clock_.now = 1000 + i / 3;  // three plays within each second
    PlaySoundOk();
    ASSERT_EQ(player_.played.size(), static_cast<std::size_t>(i + 1));
    const auto& entry = player_.played.back();
    EXPECT_FALSE(entry.synchronous);
    seen.insert(entry.path);
    if (i > 0 && entry.path == player_.played[i - 1].path) ++repeats;
  }
  EXPECT_EQ(seen, (std::set<std::string>{Path("ok.wav"), Path("ok2.wav"), Path("ok3.wav")}));
  // A repeat needs two equal draws in a row: rare, never the rule.
  EXPECT_LT(repeats, 20);
}

TEST_F(Sounds, MissingCategoriesStillPlayTheirBaseFileAndTheFarewellWaits) {
  CountSoundFiles();
  PlaySoundQuestion();
  PlaySoundBye();
  PlaySoundHi();
  ASSERT_EQ(player_.played.size(), 3u);
  EXPECT_EQ(player_.played[0].path, Path("question.wav"));
  EXPECT_EQ(player_.played[1].path, Path("bye.wav"));
  EXPECT_TRUE(player_.played[1].synchronous);
  EXPECT_EQ(player_.played[2].path, Path("hi.wav"));
  EXPECT_EQ(SoundState.lastPlayed[platform::kSoundQuestion], 0);
}

}  // namespace
