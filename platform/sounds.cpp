#include "platform/sounds.h"

#include <cstdlib>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/sound_player.h"

SoundStateRecord SoundState;

namespace {

using platform::SoundCategory;

// The C generator, reseeded from the clock on every play: the same second
// gives the same draw, which the last-played rule then breaks.
void Reseed() { std::srand(static_cast<unsigned>(platform::Clock().Now())); }

int Draw(int count) { return count > 0 ? std::rand() % count : 0; }

bool Active() { return SoundState.soundsOn && SoundState.nameBufferReady; }

void PlayCategory(SoundCategory category, bool synchronous, bool greeting) {
  if (!Active()) return;
  Reseed();
  const int count = SoundState.count[category];
  if (greeting) {
    // A random number of discarded draws, so that the greeting varies even
    // when the program starts in the same second as the last one ended.
    for (int i = 1;; ++i) {
      const int r = std::rand() % 10;
      if (i > r) break;
      if (count > 0) (void)Draw(count);
    }
  }
  int v = Draw(count);
  if (v == SoundState.lastPlayed[category]) v = Draw(count);
  SoundState.lastPlayed[category] = v;
  const char* name =
      BuildSoundFileName(platform::ProgramPaths.SoundFilePaths[category].c_str(), v + 1);
  if (!name) return;
  if (synchronous) {
    PlaySoundSync(name);
  } else {
    PlaySoundAsync(name);
  }
}

}  // namespace

void CountSoundFiles() {
  Reseed();
  SoundState.nameBufferReady = true;
  static const SoundCategory order[] = {platform::kSoundError, platform::kSoundBeer,
                                        platform::kSoundInfo,  platform::kSoundQuestion,
                                        platform::kSoundFitDone, platform::kSoundHi,
                                        platform::kSoundBye,   platform::kSoundOk};
  for (SoundCategory category : order) {
    const std::string& base = platform::ProgramPaths.SoundFilePaths[category];
    int n = 0;
    for (;;) {
      const char* name = BuildSoundFileName(base.c_str(), n + 1);
      if (!name || !platform::FileExists(name)) break;
      ++n;
    }
    SoundState.count[category] = n;
  }
}

const char* BuildSoundFileName(const char* base, int k) {
  if (!base || !*base) return nullptr;
  if (k == 0 || k == 1) {
    SoundState.nameBuffer = base;
  } else {
    platform::PathParts parts = platform::SplitPath(base);
    parts.name += std::to_string(k);
    SoundState.nameBuffer = platform::JoinPath(parts);
  }
  return SoundState.nameBuffer.c_str();
}

void PlaySoundAsync(const char* name) {
  if (SoundState.soundsOn && name) platform::SoundPlayer().Play(name, false);
}

void PlaySoundSync(const char* name) {
  if (SoundState.soundsOn && name) platform::SoundPlayer().Play(name, true);
}

void PlaySoundError() { PlayCategory(platform::kSoundError, false, false); }
void PlaySoundInfo() { PlayCategory(platform::kSoundInfo, false, false); }
void PlaySoundQuestion() { PlayCategory(platform::kSoundQuestion, false, false); }
void PlaySoundFitDone() { PlayCategory(platform::kSoundFitDone, false, false); }
void PlaySoundOk() { PlayCategory(platform::kSoundOk, false, false); }
void PlaySoundBeer() { PlayCategory(platform::kSoundBeer, false, false); }
void PlaySoundHi() { PlayCategory(platform::kSoundHi, false, true); }
void PlaySoundBye() { PlayCategory(platform::kSoundBye, true, false); }

void MaybePlaySoundInfo() {
  if (!Active()) return;
  const double u = (std::rand() % 100 + 1) * 0.01;
  if (u <= 0.2) PlaySoundInfo();
}

void SoundStub() {}
