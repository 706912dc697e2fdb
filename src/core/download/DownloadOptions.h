#pragma once
// The download window's choices that the scheduler and the engines work with, gathered in one
// plain object so that they can be driven without the window.

#include "core/files/DuplicatePolicy.h"
// The waits below are measured on its monotonic clock.
#include "platform/Clock.h"

#include <QString>

namespace quillax {

/// What automatic re-download puts back into the queue (the index of its choice box).
enum class AutoRedownloadKind : int { Failed = 0, WebPages = 1, FailedAndWebPages = 2 };

struct DownloadOptions {
    int method = 2;          ///< 1 single stream, 2 parallel threads
    int threadCount = 3;     ///< 1 to 6, method 2 only
    int intervalSeconds = 0; ///< between the end of one download and the next start
    DuplicateNamePolicy policy = DuplicateNamePolicy::Rename;
    bool autoRedownload = false;
    int autoRedownloadKind = 0; ///< `AutoRedownloadKind`; any other index re-downloads nothing
    bool autoStart = false;     ///< start whenever items not yet attempted exist
    bool stopAtFiveFailures = false;
    bool sounds = false;
    bool autoLocate = false; ///< scroll each item that starts into view
    bool autoLogin = false;  ///< ask for the site login after a web page arrives
    double maxFileSizeMB = 10;
    int proxyEnabled = 0;
    QString proxyAddress;
    QString proxyPort;

    /// The size limit in bytes: a file is too big when it has more bytes than this.
    double maxFileBytes() const { return maxFileSizeMB * 1024.0 * 1024.0; }
};

/// Waits and limits of the engines, in milliseconds. Tests shorten them.
struct DownloadTimeouts {
    int headerWaitMs = 30'000;   ///< single stream: wait for the response headers
    int stallMs = 120'000;       ///< single stream: no growth of the file
    int asyncStallMs = 300'000;  ///< parallel threads: no progress
    int stallCheckMs = 1'000;    ///< period of the parallel threads' stall timer
    int fallbackWaitMs = 60'000; ///< whole-file fetch
    int tickMs = 1'000;          ///< the scheduler's two timers
};

/// An answer that says the file is not there or the server failed (404, 410, 5xx): its body is
/// an error page, never the file, and the download fails. Other statuses (a 401 or 403 login
/// page among them) are stored and recognised by their content.
inline bool FailedHttpStatus(int code) {
    return code == 404 || code == 410 || code >= 500;
}

} // namespace quillax
