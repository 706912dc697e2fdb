#pragma once
// The one download window of a run: created on first use, hidden until shown, gone once closed.

class QWidget;

namespace quillax {

class DownloadQueue;
class fFileDownload;

/// The download window while it is loaded (shown or hidden), or nullptr.
fFileDownload* LoadedDownloadWindow();
/// The loaded download window; one is created, hidden, when there is none.
fFileDownload* EnsureDownloadWindow();

// What the search window needs of the download window, without its header: the queue that takes
// the analysed items, and the window's showing.

/// The download list as the queue that analysed items are handed to. `create`: a hidden window
/// is made when none is loaded; otherwise nullptr then.
DownloadQueue* DownloadWindowQueue(bool create);

enum class DownloadWindowShow {
    IfHidden,      ///< shown if loaded and hidden; nothing else
    Restored,      ///< the list repainted, shown if hidden, restored if minimised
    KeepMinimised, ///< the list repainted, shown if hidden, a minimised window stays so
    Raised,        ///< made if none is loaded, shown and raised
};
/// Shows the download window as asked; does nothing when none is loaded, except for `Raised`.
void ShowDownloadWindow(DownloadWindowShow how);

} // namespace quillax
