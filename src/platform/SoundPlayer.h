#pragma once
// Plays short WAV files without blocking. Injected so tests can record what would be heard.

#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <memory>

class QSoundEffect;

namespace quillax {

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    /// Starts playing the WAV file at `path` and returns at once; failures are silent.
    virtual void play(const QString& path) = 0;
};

/// Plays through the machine's sound output. Finding that output can take half a minute when
/// the sound server hangs, so it is looked for once, on a thread of its own; until the answer
/// has come, and for good when there is no output, sounds are dropped.
class EffectPlayer final : public SoundPlayer {
public:
    /// Whether the machine has a sound output; called once, off the window thread.
    using FindOutput = std::function<bool()>;
    /// Plays a file on the window thread once the output is known to exist.
    using PlayFile = std::function<void(const QString& path)>;
    enum class Output { NotAsked, Asking, Present, Absent };

    /// Empty functions stand for the real sound system.
    explicit EffectPlayer(FindOutput findOutput = {}, PlayFile playFile = {});
    ~EffectPlayer() override;

    void play(const QString& path) override;
    /// Starts looking for the output, unless that has begun already. Returns at once.
    void prepare();
    Output output() const;

private:
    struct Search;
    void playWithEffect(const QString& path);

    std::shared_ptr<Search> search_;
    PlayFile playFile_;
    // One effect per file, kept so that a sound is not cut off when play() returns.
    std::map<QString, QPointer<QSoundEffect>> effects_;
};

SoundPlayer& Sounds();
/// Installs `player` (not owned) and returns the previous one; nullptr restores the real one.
SoundPlayer* SetSounds(SoundPlayer* player);
/// Starts looking for the real sound output in the background, so that the first sound of a
/// run is not lost to the search. The program calls it at start.
void PrepareSoundOutput();

} // namespace quillax
