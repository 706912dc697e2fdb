#include "shell/FolderList.h"

#include "files/FileNaming.h"
#include "shell/AppValues.h"
#include "shell/TextUtil.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>

namespace quillax {

QString SaveListPath() {
    return ProgramDataFolder() + QStringLiteral("/SaveList.dat");
}

QString ResolvedFolder(const QString& folder) {
    const QString text = TrimSpaces(folder);
    if (text.isEmpty()) {
        return {};
    }
    return QDir::cleanPath(QFileInfo(ExpandHomePath(text)).absoluteFilePath());
}

bool SameFolder(const QString& a, const QString& b) {
    const QString ra = ResolvedFolder(a);
    return !ra.isEmpty() && ra == ResolvedFolder(b);
}

bool FolderListContains(const QStringList& folders, const QString& folder) {
    for (const QString& item : folders) {
        if (SameFolder(item, folder)) {
            return true;
        }
    }
    return false;
}

std::optional<QStringList> ReadFolderList(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QStringList folders;
    QStringList resolved;
    int lines = 0;
    // Read line by line: a huge file costs no more than its first hundred folders.
    while (lines < kMaxFolderListLines && !file.atEnd()) {
        QByteArray raw = file.readLine(64 * 1024);
        while (raw.endsWith('\n') || raw.endsWith('\r')) {
            raw.chop(1);
        }
        const QString line = TrimSpaces(QString::fromUtf8(raw));
        if (line.isEmpty()) {
            continue;
        }
        ++lines;
        const QString key = ResolvedFolder(line);
        if (resolved.contains(key)) {
            continue;
        }
        resolved << key;
        folders << line;
    }
    return folders;
}

bool WriteFolderList(const QString& path, const QStringList& folders) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray bytes;
    if (folders.isEmpty()) {
        bytes = "\r\n";
    }
    for (const QString& folder : folders) {
        bytes += folder.toUtf8() + "\r\n";
    }
    return file.write(bytes) == bytes.size() && file.commit();
}

QStringList RememberFolder(const QStringList& folders, const QString& folder) {
    QStringList out;
    if (!TrimSpaces(folder).isEmpty()) {
        out << folder;
    }
    for (const QString& f : folders) {
        if (out.size() >= kMaxFolderListLines) {
            break;
        }
        if (!FolderListContains(out, f)) {
            out << f;
        }
    }
    return out;
}

void RememberFolder(QComboBox* combo, const QString& folder) {
    if (combo == nullptr) {
        return;
    }
    QStringList folders;
    for (int i = 0; i < combo->count(); ++i) {
        folders << combo->itemText(i);
    }
    const QString text = combo->currentText();
    combo->clear();
    combo->addItems(RememberFolder(folders, folder));
    if (combo->isEditable()) {
        combo->setEditText(text);
    }
}

void LoadFolderList(QComboBox* combo, const QString& path) {
    if (combo == nullptr) {
        return;
    }
    const std::optional<QStringList> folders = ReadFolderList(path);
    if (!folders) {
        return;
    }
    const QString text = combo->currentText();
    combo->clear();
    combo->addItems(*folders);
    if (combo->isEditable()) {
        combo->setEditText(text);
    }
}

bool SaveFolderList(QComboBox* combo, const QString& path) {
    if (combo == nullptr) {
        return false;
    }
    QStringList folders;
    for (int i = 0; i < combo->count(); ++i) {
        folders << combo->itemText(i);
    }
    return WriteFolderList(path, folders);
}

void FitComboDropWidth(QComboBox* combo) {
    if (combo == nullptr || combo->count() == 0) {
        return;
    }
    QString longest;
    for (int i = 0; i < combo->count(); ++i) {
        const QString item = combo->itemText(i);
        if (item.size() > longest.size()) {
            longest = item;
        }
    }
    int width = QFontMetrics(combo->font()).horizontalAdvance(longest) + 7;
    if (combo->count() >= 9) {
        width += combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo);
    }
    QScreen* screen =
        combo->screen() != nullptr ? combo->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const int left = combo->mapToGlobal(QPoint(0, 0)).x();
        const int room = screen->availableGeometry().right() + 1 - left;
        if (room > 0) {
            width = std::min(width, room);
        }
    }
    combo->view()->setMinimumWidth(width);
}

} // namespace quillax
