#include "files/FileTools.h"

#include "platform/DesktopShell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace quillax {

void ShowFileInFolderAsync(const QString& filePath, std::function<void(bool)> done) {
    const QString absolute = QFileInfo(filePath).absoluteFilePath();
    const QString folder = QFileInfo(absolute).absolutePath();
    Shell().run(QStringLiteral("dbus-send"),
                {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                 QStringLiteral("--reply-timeout=5000"),
                 QStringLiteral("--dest=org.freedesktop.FileManager1"),
                 QStringLiteral("/org/freedesktop/FileManager1"),
                 QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                 // dbus-send splits array values at commas: a comma in a title is encoded.
                 QStringLiteral("array:string:") +
                     QString::fromUtf8(QUrl::fromLocalFile(absolute).toEncoded())
                         .replace(QLatin1Char(','), QLatin1String("%2C")),
                 QStringLiteral("string:")},
                [folder, done = std::move(done)](bool shown) {
                    if (shown) {
                        done(true);
                        return;
                    }
                    done(Shell().openUrl(QUrl::fromLocalFile(folder)));
                });
}

std::optional<QStringList> CommandFromDesktopEntry(const QString& entryText, const QString& path) {
    bool inEntry = false;
    for (const QString& raw : entryText.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (inEntry &&
            (line == QLatin1String("Terminal=true") || line == QLatin1String("Hidden=true"))) {
            return std::nullopt; // started without a terminal it would show nothing
        }
        if (!inEntry || !line.startsWith(QLatin1String("Exec="))) {
            continue;
        }
        const QStringList words = QProcess::splitCommand(line.mid(5));
        QStringList command;
        bool placed = false;
        for (const QString& word : words) {
            if (word == QLatin1String("%f") || word == QLatin1String("%F") ||
                word == QLatin1String("%u") || word == QLatin1String("%U")) {
                command << path;
                placed = true;
            } else if (word.size() == 2 && word.startsWith(QLatin1Char('%'))) {
                continue; // other field codes carry nothing we have
            } else {
                command << word;
            }
        }
        if (command.isEmpty()) {
            return std::nullopt;
        }
        if (!placed) {
            command << path;
        }
        return command;
    }
    return std::nullopt;
}

QStringList CommonTextEditors() {
    return {QStringLiteral("gnome-text-editor"),
            QStringLiteral("gedit"),
            QStringLiteral("kate"),
            QStringLiteral("kwrite"),
            QStringLiteral("mousepad"),
            QStringLiteral("xed"),
            QStringLiteral("pluma"),
            QStringLiteral("featherpad"),
            QStringLiteral("leafpad")};
}

namespace {

void openWithFirstCommonEditor(const QString& path) {
    for (const QString& editor : CommonTextEditors()) {
        const QString program = QStandardPaths::findExecutable(editor);
        if (!program.isEmpty() && Shell().startDetached(program, {path})) {
            return;
        }
    }
}

} // namespace

void OpenInTextEditor(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // The default application for plain text, asked without waiting for the answer.
    auto* query = new QProcess(QCoreApplication::instance());
    QObject::connect(query, &QProcess::finished, query, [query, absolute](int code) {
        const QString entry = QString::fromUtf8(query->readAllStandardOutput()).trimmed();
        query->deleteLater();
        if (code == 0 && entry.endsWith(QLatin1String(".desktop")) &&
            !entry.contains(QLatin1Char('/'))) {
            const QString file =
                QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
            QFile desktop(file);
            if (!file.isEmpty() && desktop.open(QIODevice::ReadOnly)) {
                const std::optional<QStringList> command =
                    CommandFromDesktopEntry(QString::fromUtf8(desktop.read(64 * 1024)), absolute);
                if (command && Shell().startDetached(command->first(), command->mid(1))) {
                    return;
                }
            }
        }
        openWithFirstCommonEditor(absolute);
    });
    QObject::connect(query, &QProcess::errorOccurred, query,
                     [query, absolute](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart) {
                             query->deleteLater();
                             openWithFirstCommonEditor(absolute);
                         }
                     });
    query->start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                              QStringLiteral("text/plain")});
}

} // namespace quillax
