#include "ui/download/DownloadWindowHost.h"

#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "ui/download/fFileDownload.h"
#include "ui/shell/WindowHelpers.h"
#include "ui/shell/fCover.h"

#include <QPointer>
#include <QTreeView>

namespace quillax {

namespace {
QPointer<fFileDownload>& current() {
    static QPointer<fFileDownload> window;
    return window;
}
} // namespace

fFileDownload* LoadedDownloadWindow() {
    fFileDownload* window = current();
    // A window that is closing no longer counts, though its object may live a moment longer.
    return window != nullptr && IsWindowLoaded(QStringLiteral("fFileDownload")) ? window : nullptr;
}

fFileDownload* EnsureDownloadWindow() {
    if (fFileDownload* window = LoadedDownloadWindow()) {
        return window;
    }
    static SettingsStore settings;
    auto* window = new fFileDownload(settings, Values());
    current() = window;
    // The start window hides while a work window is open and comes back when all are closed.
    if (fCover* cover = fCover::instance()) {
        cover->registerWorkWindow(window);
    }
    return window;
}

DownloadQueue* DownloadWindowQueue(bool create) {
    fFileDownload* window = create ? EnsureDownloadWindow() : LoadedDownloadWindow();
    return window != nullptr ? &window->list() : nullptr;
}

void ShowDownloadWindow(DownloadWindowShow how) {
    fFileDownload* window =
        how == DownloadWindowShow::Raised ? EnsureDownloadWindow() : LoadedDownloadWindow();
    if (window == nullptr) {
        return;
    }
    if (how == DownloadWindowShow::Restored || how == DownloadWindowShow::KeepMinimised) {
        window->listView()->viewport()->update();
    }
    if (window->isHidden()) {
        window->show();
    }
    if (how == DownloadWindowShow::Restored && window->isMinimized()) {
        window->showNormal();
    }
    if (how == DownloadWindowShow::Raised) {
        window->raise();
    }
}

} // namespace quillax
