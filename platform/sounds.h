#pragma once
// Short sounds that comment on events (error, question, finished fit,
// greeting, farewell, ...). Each category may have several recordings in the
// program's sounds folder: the base file (sounds/error.wav) and numbered
// variants (error2.wav, error3.wav, ...); a player picks one at random,
// avoiding the one it played last. User-interface thread only.
#include <array>
#include <string>

#include "platform/program_paths.h"

struct SoundStateRecord {
  // The sounds-on preference; the window's preference loader sets it.
  bool soundsOn = true;
  // Recordings found per category (platform::SoundCategory order).
  std::array<int, platform::kSoundCategoryCount> count{};
  // Number of the recording played last, -1 before the first.
  std::array<int, platform::kSoundCategoryCount> lastPlayed{-1, -1, -1, -1, -1, -1, -1, -1};
  // The shared buffer of built file names; no sound plays until
  // CountSoundFiles has made it.
  bool nameBufferReady = false;
  std::string nameBuffer;
};

extern SoundStateRecord SoundState;

// Seeds the C generator with the time, makes the name buffer and counts the
// recordings 1, 2, ... of each category up to the first missing one.
void CountSoundFiles();
// Recording k of a base path: the base for k = 0 or 1, else the decimal k
// appended to the name before the extension. Null for an empty base. The
// result lives in the shared buffer.
const char* BuildSoundFileName(const char* base, int k);

// Play when sounds are on; a missing file is silent.
void PlaySoundAsync(const char* name);
void PlaySoundSync(const char* name);

void PlaySoundError();
void PlaySoundInfo();
void PlaySoundQuestion();
void PlaySoundFitDone();
void PlaySoundOk();
void PlaySoundBeer();
void PlaySoundHi();
// The farewell plays synchronously: the caller waits for its end.
void PlaySoundBye();
// The info sound with probability 20 in 100.
void MaybePlaySoundInfo();
// Called after dialogs have closed; does nothing.
void SoundStub();
