#include "core/files/FileTools.h"

#include "platform/DesktopShell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
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

namespace {

/// The keys of the file's [Desktop Entry] group (the first one; keys of action and other groups
/// are not the entry's), the first of each key counting.
QHash<QString, QString> desktopEntryKeys(const QString& entryText) {
    QHash<QString, QString> keys;
    bool inEntry = false;
    bool entrySeen = false;
    for (const QString& raw : entryText.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = !entrySeen && line == QLatin1String("[Desktop Entry]");
            entrySeen = entrySeen || inEntry;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inEntry || equals <= 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key)) {
            keys.insert(key, line.mid(equals + 1).trimmed());
        }
    }
    return keys;
}

} // namespace

std::optional<QStringList> CommandFromDesktopEntry(const QString& entryText, const QString& path) {
    // Terminal= and Hidden= may stand anywhere in the group, after Exec= too: read it all first.
    const QHash<QString, QString> keys = desktopEntryKeys(entryText);
    if (keys.value(QStringLiteral("Terminal")) == QLatin1String("true") ||
        keys.value(QStringLiteral("Hidden")) == QLatin1String("true")) {
        return std::nullopt; // started without a terminal it would show nothing
    }
    const auto exec = keys.constFind(QStringLiteral("Exec"));
    if (exec == keys.constEnd()) {
        return std::nullopt;
    }
    const QStringList words = QProcess::splitCommand(*exec);
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
