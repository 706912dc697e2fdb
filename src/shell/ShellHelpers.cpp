#include "shell/ShellHelpers.h"

#include "platform/DesktopShell.h"
#include "platform/SoundPlayer.h"
#include "shell/AppValues.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

namespace quillax {

void OpenInBrowser(const QString& address, bool newBrowserWindow) {
    DesktopShell& shell = Shell();
    const QUrl url = QUrl::fromUserInput(address);
    if (!newBrowserWindow && shell.openUrl(url)) {
        return;
    }
    // The desktop's own opener, then the distribution's default web browser.
    if (shell.startDetached(QStringLiteral("xdg-open"), {url.toString()})) {
        return;
    }
    shell.startDetached(QStringLiteral("x-www-browser"), {url.toString()});
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
