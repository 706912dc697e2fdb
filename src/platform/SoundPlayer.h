#pragma once
// Plays short WAV files without blocking. Injected so tests can record what would be heard.

#include <QString>

namespace quillax {

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    /// Starts playing the WAV file at `path` and returns at once; failures are silent.
    virtual void play(const QString& path) = 0;
};

SoundPlayer& Sounds();
/// Installs `player` (not owned) and returns the previous one; nullptr restores the real one.
SoundPlayer* SetSounds(SoundPlayer* player);

} // namespace quillax
