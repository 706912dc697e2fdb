#include "core/store/CrashDebris.h"

#include "core/download/BodyWriter.h"
#include "core/download/Downloader.h"
#include "core/files/FileNaming.h"
#include "platform/ProcessAlive.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace quillax {

qint64 PartFileWriter(const QString& fileName, QString* target) {
    // BodyWriter's names: the target's file name, the process, a running number, the suffix.
    static const QRegularExpression pattern(
        QStringLiteral("^(.+)\\.([1-9]\\d{0,9})-\\d+%1$")
            .arg(QRegularExpression::escape(QLatin1String(kPartSuffix))));
    const QRegularExpressionMatch m = pattern.match(fileName);
    if (!m.hasMatch()) {
        return 0;
    }
    if (target != nullptr) {
        *target = m.captured(1);
    }
    return m.captured(2).toLongLong();
}

bool IsStalePartFile(const QString& fileName) {
    const qint64 pid = PartFileWriter(fileName);
    return pid > 0 && pid != QCoreApplication::applicationPid() && !ProcessIsAlive(pid);
}

int RemoveCrashDebris(const KeptQueue& kept, const QStringList& folders) {
    int removed = 0;
    QSet<QString> seen;
    QStringList all = folders;
    for (const DownloadItem& item : kept.downloads) {
        all << item.folder;
        if (item.status != ItemStatus::Finished &&
            Downloader::RemovePlaceholder(ItemFilePath(item.folder, item.name, item.type))) {
            ++removed;
        }
    }
    for (const QString& folder : std::as_const(all)) {
        const QString path = QDir::cleanPath(folder);
        if (folder.isEmpty() || seen.contains(path)) {
            continue;
        }
        seen.insert(path);
        const QDir dir(path);
        const QStringList parts = dir.entryList({QStringLiteral("*") + QLatin1String(kPartSuffix)},
                                                QDir::Files | QDir::Hidden);
        for (const QString& part : parts) {
            if (IsStalePartFile(part) && !QFileInfo(dir.filePath(part)).isSymLink() &&
                QFile::remove(dir.filePath(part))) {
                ++removed;
            }
        }
    }
    return removed;
}

} // namespace quillax
