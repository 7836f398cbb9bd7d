#pragma once
// Plays a sound file; silent backends for machines without audio and tests.
#include <string>
#include <vector>

namespace platform {

class ISoundPlayer {
 public:
  virtual ~ISoundPlayer() = default;
  // Plays the file; waits for its end when synchronous. A missing file is silent.
  virtual void Play(const std::string& path, bool synchronous) = 0;
};

ISoundPlayer& SoundPlayer();
void SetSoundPlayer(ISoundPlayer* player);  // nullptr restores the silent one

class RecordingSoundPlayer : public ISoundPlayer {
 public:
  struct Entry {
    std::string path;
    bool synchronous;
  };
  void Play(const std::string& path, bool synchronous) override {
    played.push_back({path, synchronous});
  }
  std::vector<Entry> played;
};

}  // namespace platform
