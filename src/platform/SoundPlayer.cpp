#include "platform/SoundPlayer.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#include <atomic>
#include <thread>

namespace quillax {

struct EffectPlayer::Search {
    FindOutput find;
    std::atomic<Output> output{Output::NotAsked};
};

EffectPlayer::EffectPlayer(FindOutput findOutput, PlayFile playFile)
    : search_(std::make_shared<Search>()), playFile_(std::move(playFile)) {
    search_->find = findOutput ? std::move(findOutput)
                               : [] { return !QMediaDevices::audioOutputs().isEmpty(); };
}

EffectPlayer::~EffectPlayer() = default;

void EffectPlayer::prepare() {
    Output expected = Output::NotAsked;
    if (!search_->output.compare_exchange_strong(expected, Output::Asking)) {
        return;
    }
    // The search keeps its own share of the state: a player that goes first leaves it a place
    // to write its answer. The thread is never waited for, since it may hang for long.
    std::thread([search = search_] {
        const bool present = search->find();
        search->output = present ? Output::Present : Output::Absent;
    }).detach();
}

EffectPlayer::Output EffectPlayer::output() const {
    return search_->output;
}

void EffectPlayer::play(const QString& path) {
    prepare();
    // A machine without sound output, or one still being asked, plays nothing and says nothing.
    if (output() != Output::Present) {
        return;
    }
    if (playFile_) {
        playFile_(path);
    } else {
        playWithEffect(path);
    }
}

void EffectPlayer::playWithEffect(const QString& path) {
    QPointer<QSoundEffect>& effect = effects_[path];
    if (effect.isNull()) {
        // Owned by the application, so the effects go before the audio system does.
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(QUrl::fromLocalFile(path));
    }
    effect->play();
}

namespace {

SoundPlayer* g_player = nullptr;

EffectPlayer& realPlayer() {
    static EffectPlayer player;
    return player;
}

} // namespace

SoundPlayer& Sounds() {
    if (g_player != nullptr) {
        return *g_player;
    }
    return realPlayer();
}

SoundPlayer* SetSounds(SoundPlayer* player) {
    SoundPlayer* previous = g_player;
    g_player = player;
    return previous;
}

void PrepareSoundOutput() {
    realPlayer().prepare();
}

} // namespace quillax
