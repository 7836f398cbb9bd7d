#include "platform/sound_player.h"

namespace platform {

namespace {
class SilentSoundPlayer : public ISoundPlayer {
 public:
  void Play(const std::string&, bool) override {}
};
ISoundPlayer* g_player = nullptr;
}  // namespace

ISoundPlayer& SoundPlayer() {
  static SilentSoundPlayer silent;
  return g_player ? *g_player : silent;
}
void SetSoundPlayer(ISoundPlayer* player) { g_player = player; }

}  // namespace platform
