#include "platform/SoundPlayer.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>
#include <map>

namespace quillax {

namespace {

class EffectPlayer final : public SoundPlayer {
public:
    void play(const QString& path) override {
        // A machine without sound output plays nothing and says nothing.
        if (QMediaDevices::audioOutputs().isEmpty()) {
            return;
        }
        QPointer<QSoundEffect>& effect = effects_[path];
        if (effect.isNull()) {
            // Owned by the application, so the effects go before the audio system does.
            effect = new QSoundEffect(QCoreApplication::instance());
            effect->setSource(QUrl::fromLocalFile(path));
        }
        effect->play();
    }

private:
    // One effect per file, kept so that a sound is not cut off when play() returns.
    std::map<QString, QPointer<QSoundEffect>> effects_;
};

SoundPlayer* g_player = nullptr;

} // namespace

SoundPlayer& Sounds() {
    if (g_player != nullptr) {
        return *g_player;
    }
    static EffectPlayer player;
    return player;
}

SoundPlayer* SetSounds(SoundPlayer* player) {
    SoundPlayer* previous = g_player;
    g_player = player;
    return previous;
}

} // namespace quillax
