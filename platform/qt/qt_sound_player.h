#pragma once
// Plays the program's .wav sounds through Qt Multimedia when it is built in
// and an audio output exists; silent otherwise. A new sound cuts off the one
// playing; a synchronous play waits for the end, at most a time-out.
#include <memory>

#include "platform/sound_player.h"

namespace platform::qt {

class QtSoundPlayer : public ISoundPlayer {
 public:
  explicit QtSoundPlayer(int synchronousTimeoutMs = 15000);
  ~QtSoundPlayer() override;
  void Play(const std::string& path, bool synchronous) override;
  // False when sounds cannot be heard here (no multimedia, no audio output).
  bool Audible() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int timeoutMs_;
};

}  // namespace platform::qt
