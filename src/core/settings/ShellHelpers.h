#pragma once
// Opening an address in the user's browser, and the program's three sounds.

#include <QString>
#include <optional>

namespace quillax {

/// Opens `address` with the desktop's default handler (`xdg-open`); when that ends in failure,
/// or at once when `newBrowserWindow` is set, opens it in the web browser (`x-www-browser`,
/// then `sensible-browser`). Returns at once: the opener's exit status is read later, from the
/// event loop. An address that is no URL opens nothing. Failures are silent.
/// Lets the event queue run once, waiting at most 10 ms for something to happen: a loop that
/// only waits then neither spins a core nor keeps the window from repainting.
void YieldOnce();

void OpenInBrowser(const QString& address, bool newBrowserWindow);

/// `address` in the encoded form a browser is given ("a%20b?q=%E4%B8%AD" stays encoded), or
/// nothing when it is not a URL: empty, words with spaces, a web address without a host.
/// A text without a scheme that looks like a host name ("www.example.com/a") is taken as http.
std::optional<QString> BrowserAddress(const QString& address);

/// The sounds built into the program.
enum SoundNumber : int { kSoundItemDone = 101, kSoundAllDone = 102, kSoundFailed = 103 };

/// Plays sound 101, 102 or 103 without waiting for it. The sound is written once from the
/// program's resources to `<folder>/<number>.wav` (the per-user data folder when `folder` is
/// empty) and played from there. Nothing is reported when it cannot be written or played.
void PlaySoundResource(int number, const QString& folder = QString());

} // namespace quillax
