#pragma once
// Opening an address in the user's browser, and the program's three sounds.

#include <QString>

namespace quillax {

/// Opens `address` with the desktop's default handler; when that fails, or when
/// `newBrowserWindow` is set, opens it in the default web browser. Failures are silent.
void OpenInBrowser(const QString& address, bool newBrowserWindow);

/// The sounds built into the program.
enum SoundNumber : int { kSoundItemDone = 101, kSoundAllDone = 102, kSoundFailed = 103 };

/// Plays sound 101, 102 or 103 without waiting for it. The sound is written once from the
/// program's resources to `<folder>/<number>.wav` (the per-user data folder when `folder` is
/// empty) and played from there. Nothing is reported when it cannot be written or played.
void PlaySoundResource(int number, const QString& folder = QString());

} // namespace quillax
