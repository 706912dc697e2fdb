#pragma once
// The one download window of a run: created on first use, hidden until shown, gone once closed.

class QWidget;

namespace quillax {

class fFileDownload;

/// The download window while it is loaded (shown or hidden), or nullptr.
fFileDownload* LoadedDownloadWindow();
/// The loaded download window; one is created, hidden, when there is none.
fFileDownload* EnsureDownloadWindow();

} // namespace quillax
