#include "platform/qt/qt_sound_player.h"

#include <QFileInfo>
#include <QUrl>

#include "platform/paths.h"

#if defined(TARNEL_HAVE_QT_MULTIMEDIA)
#include <QAudioDevice>
#include <QEventLoop>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#endif

namespace platform::qt {

#if defined(TARNEL_HAVE_QT_MULTIMEDIA)
struct QtSoundPlayer::Impl {
  Impl() : audible(!QMediaDevices::audioOutputs().isEmpty()) {}
  bool audible;
  std::unique_ptr<QSoundEffect> effect;  // made on first use
};
#else
struct QtSoundPlayer::Impl {
  bool audible = false;
};
#endif

QtSoundPlayer::QtSoundPlayer(int synchronousTimeoutMs)
    : impl_(std::make_unique<Impl>()), timeoutMs_(synchronousTimeoutMs) {}

QtSoundPlayer::~QtSoundPlayer() = default;

bool QtSoundPlayer::Audible() const { return impl_->audible; }

void QtSoundPlayer::Play(const std::string& path, bool synchronous) {
  if (!impl_->audible) return;
  const QString file = QString::fromStdString(ToNative(path));
  if (!QFileInfo(file).isFile()) return;  // a missing recording is silent
#if defined(TARNEL_HAVE_QT_MULTIMEDIA)
  if (!impl_->effect) impl_->effect = std::make_unique<QSoundEffect>();
  QSoundEffect& effect = *impl_->effect;
  effect.stop();
  effect.setSource(QUrl::fromLocalFile(file));
  effect.play();
  if (!synchronous) return;
  QEventLoop loop;
  QTimer timeout;
  timeout.setSingleShot(true);
  QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
  QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, [&] {
    if (!effect.isPlaying() && effect.status() != QSoundEffect::Loading) loop.quit();
  });
  QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, [&] {
    if (effect.status() == QSoundEffect::Error) loop.quit();
  });
  timeout.start(timeoutMs_);
  if (effect.status() != QSoundEffect::Error) loop.exec(QEventLoop::ExcludeUserInputEvents);
#else
  (void)synchronous;
#endif
}

}  // namespace platform::qt
