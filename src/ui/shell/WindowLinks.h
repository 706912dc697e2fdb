#pragma once
// The few ways a window reaches a window family above its own. The families stack as
// search -> download -> shell: the search window hands records to the download window, both use
// the start window's dialogs. The download window's menu still opens the search window and
// clears the browser cache, and the options dialog must tell an open download window that the
// options changed; these go through here, so a lower family never includes a higher one.

#include <QObject>

#include <functional>

namespace quillax {

/// Set once by the program at start. An empty link does nothing, which is what a test of a
/// single window wants.
struct WindowLinks {
    std::function<void()> openSearchWindow;
    /// Asks before clearing, and reports the result.
    std::function<void()> clearBrowserCache;
};

WindowLinks& Links();

/// Tells the open windows that options changed; the download window listens.
class OptionsNotifier : public QObject {
    Q_OBJECT
public:
    static OptionsNotifier& instance();

Q_SIGNALS:
    void downloadMethodChanged(int method);
    /// The proxy, the size limit or another option of the next downloads changed.
    void optionsChanged();
};

} // namespace quillax
