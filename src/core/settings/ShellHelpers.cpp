#include "core/settings/ShellHelpers.h"

#include "core/settings/AppValues.h"
#include "platform/DesktopShell.h"
#include "platform/SoundPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace quillax {

void YieldOnce() {
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    loop.processEvents(QEventLoop::WaitForMoreEvents);
}

namespace {

/// A scheme at the start: "https:", "mailto:", "file:".
bool hasScheme(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return scheme.match(text).hasMatch();
}

bool needsHost(const QString& scheme) {
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ftp");
}

/// The web browser in a new window, then the distribution's sensible choice of browser.
void openInBrowserWindow(const QString& address) {
    if (Shell().startDetached(QStringLiteral("x-www-browser"), {address})) {
        return;
    }
    Shell().startDetached(QStringLiteral("sensible-browser"), {address});
}

} // namespace

std::optional<QString> BrowserAddress(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    QUrl url;
    if (hasScheme(text)) {
        url = QUrl(text, QUrl::TolerantMode);
    } else if (!text.contains(QRegularExpression(QStringLiteral("\\s"))) &&
               text.contains(QLatin1Char('.'))) {
        url = QUrl::fromUserInput(text); // "www.example.com/page" is a web address
    }
    if (!url.isValid() || url.scheme().isEmpty() ||
        (needsHost(url.scheme().toLower()) && url.host().isEmpty())) {
        return std::nullopt;
    }
    return url.toString(QUrl::FullyEncoded);
}

void OpenInBrowser(const QString& address, bool newBrowserWindow) {
    const std::optional<QString> encoded = BrowserAddress(address);
    if (!encoded) {
        return;
    }
    if (newBrowserWindow) {
        openInBrowserWindow(*encoded);
        return;
    }
    // The desktop's opener says by its exit status whether anything handles the address;
    // the status arrives later, so the window never waits for it.
    Shell().run(QStringLiteral("xdg-open"), {*encoded}, [target = *encoded](bool opened) {
        if (!opened) {
            openInBrowserWindow(target);
        }
    });
}

void PlaySoundResource(int number, const QString& folder) {
    if (number != kSoundItemDone && number != kSoundAllDone && number != kSoundFailed) {
        return;
    }
    const QString dir = folder.isEmpty() ? ProgramDataFolder() : folder;
    const QString path = dir + QLatin1Char('/') + QString::number(number) + QStringLiteral(".wav");
    if (!QFile::exists(path)) {
        QFile resource(QStringLiteral(":/sounds/%1.wav").arg(number));
        if (!resource.open(QIODevice::ReadOnly)) {
            return;
        }
        QDir().mkpath(dir);
        // Written whole or not at all, so a half-written sound is never kept.
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(resource.readAll()) < 0 || !out.commit()) {
            return;
        }
    }
    Sounds().play(path);
}

} // namespace quillax
