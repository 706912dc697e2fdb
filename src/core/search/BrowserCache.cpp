#include "core/search/BrowserCache.h"

#include "core/search/CacheInternal.h"

#include <QThread>
#include <QVector>

#include <algorithm>
#include <sys/stat.h>
#include <utility>

namespace quillax {

using namespace cache_internal;

BrowserCacheViewer::BrowserCacheViewer(CacheLocations where, QObject* parent)
    : QObject(parent), where_(std::move(where)) {}

BrowserCacheViewer::~BrowserCacheViewer() {
    if (copyThread_ != nullptr) {
        copyCancel_->store(true);
        copyThread_->wait();
        delete copyThread_;
        // Bodies of a copy that will never reach the copy dialog.
        discardCopiedBodies();
    }
}

void BrowserCacheViewer::setLabel(const QString& text) {
    label_ = text;
    Q_EMIT labelChanged(text);
}

bool BrowserCacheViewer::GetCacheURLList() {
    cacheList_.clear();
    records_.clear();
    const CacheFolderListing listing = ReadCacheFolder(where_.cacheFolder);
    const QString root = resolvedFolder(where_.cacheFolder);
    QVector<CacheRow> rows;
    if (listing.entries) {
        for (const CacheEntryRecord& record : listing.records) {
            CacheRow row;
            row.address = record.address;
            row.type = FileTypeFromAddress(record.address);
            row.entryFiles = record.entryFiles;
            row.entryRoot = root;
            rows.append(row);
            records_.insert(record.entryFile, record);
        }
    } else {
        // A cache in a form this reader does not know: its files stand for its entries.
        for (const QString& file : listing.files) {
            CacheRow row;
            row.address = file;
            row.type = FileTypeFromAddress(file);
            row.filePath = file;
            row.fileRoot = root;
            struct stat st {};
            row.size = lstatPath(file, &st) ? static_cast<qint64>(st.st_size) : -1;
            rows.append(row);
        }
    }
    cacheList_.setRows(rows);
    const QString count = QString::number(cacheList_.count()) + QStringLiteral(" 个文件");
    if (!listing.ok) {
        setLabel(QStringLiteral("出错!!!共有") + count);
        return false;
    }
    setLabel(QStringLiteral("共有") + count);
    判断文件在缓存中文件路径();
    return true;
}

void BrowserCacheViewer::判断文件在缓存中文件路径() {
    for (int i = 0; i < cacheList_.count(); ++i) {
        const CacheRow& row = cacheList_.row(i);
        if (row.entryFiles.isEmpty()) {
            continue;
        }
        CacheEntryRecord record = records_.value(row.entryFiles.first());
        if (record.entryFile.isEmpty()) {
            record = ReadCacheEntry(row.entryFiles.first());
        }
        // The stored size: the body is written out only when it is copied.
        if (HasPlainBody(record)) {
            cacheList_.setLocalFile(i, record.entryFile, record.bodySize, row.entryRoot);
        }
    }
    records_.clear();
}

bool BrowserCacheViewer::查看我的缓存() {
    const bool ok = GetCacheURLList();
    tag_ = kMyCacheTag;
    Q_EMIT listsFilled();
    return ok;
}

void BrowserCacheViewer::查看所有用户缓存() {
    cacheList_.clear();
    userList_.clear();
    folderList_.clear();
    cacheFolders_ = QStringList{QString()};
    cacheFolderRoots_.clear();

    const QVector<ProfileCache> profiles = FindProfileCaches(where_);
    for (const ProfileCache& profile : profiles) {
        userList_.append({profile.user, profile.folder});
        cacheFolderRoots_ << profile.folder;
        ListSubfolders(profile.folder, cacheFolders_, true);
    }
    for (const QString& folder : std::as_const(cacheFolders_)) {
        if (!folder.isEmpty()) {
            folderList_.append({folder});
        }
    }
    QVector<CacheRow> rows;
    for (const ProfileCache& profile : profiles) {
        QStringList files;
        ListFilesRecursive(profile.folder, files, true);
        for (const QString& file : std::as_const(files)) {
            CacheRow row;
            row.address = kUserRowPrefix + profile.user;
            row.type = FileTypeFromAddress(file);
            struct stat st {};
            row.size = lstatPath(file, &st) ? static_cast<qint64>(st.st_size) : -1;
            row.filePath = file;
            row.fileRoot = profile.folder;
            rows.append(row);
        }
    }
    cacheList_.setRows(rows);
    setLabel(QStringLiteral("共有") + QString::number(cacheList_.count()) +
             QStringLiteral(" 个文件"));
    tag_ = kAllCachesTag;
    Q_EMIT listsFilled();
}

void BrowserCacheViewer::deleteRow(const CacheRow& row) {
    if (row.address.startsWith(kUserRowPrefix)) {
        if (!row.filePath.isEmpty() && row.type.toLower() != QLatin1String("txt")) {
            强制删除(row.filePath, {row.fileRoot});
        }
        return;
    }
    if (row.address.isEmpty() ||
        row.address.contains(QLatin1String("cookie"), Qt::CaseInsensitive)) {
        return;
    }
    for (const QString& file : row.entryFiles) {
        强制删除(file, {row.entryRoot});
    }
    if (!row.filePath.isEmpty() && !row.entryFiles.contains(row.filePath)) {
        强制删除(row.filePath, {row.fileRoot});
    }
}

void BrowserCacheViewer::删除所选文件(const QList<int>& rows) {
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (const int r : std::as_const(sorted)) {
        if (r >= 0 && r < cacheList_.count()) {
            deleteRow(cacheList_.row(r));
        }
    }
    删除空文件夹();
    refresh();
}

void BrowserCacheViewer::全部删除() {
    for (int r = 0; r < cacheList_.count(); ++r) {
        deleteRow(cacheList_.row(r));
    }
    删除空文件夹();
    refresh();
}

void BrowserCacheViewer::删除空文件夹() {
    for (qsizetype i = cacheFolders_.size() - 1; i >= 0; --i) {
        const QString& folder = cacheFolders_.at(i);
        if (!folder.isEmpty()) {
            RemoveEmptyFolder(folder, cacheFolderRoots_);
        }
    }
}

void BrowserCacheViewer::refresh() {
    if (tag_ == kMyCacheTag) {
        查看我的缓存();
    } else if (tag_ == kAllCachesTag) {
        查看所有用户缓存();
    }
}

QStringList BrowserCacheViewer::filePaths(const QList<int>& rows) const {
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QStringList paths;
    for (const int r : std::as_const(sorted)) {
        if (r >= 0 && r < cacheList_.count() && !cacheList_.row(r).filePath.isEmpty()) {
            paths << cacheList_.row(r).filePath;
        }
    }
    return paths;
}

bool BrowserCacheViewer::复制选中(const QList<int>& rows) {
    if (copyThread_ != nullptr) {
        return false;
    }
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    // In list order: a plain file is copied as it is, an entry's body is written out first.
    QStringList plainFiles;
    QStringList entryFiles;
    QVector<int> entrySlot; // per row taken: index into entryFiles, or -1 for plainFiles
    for (const int r : std::as_const(sorted)) {
        if (r < 0 || r >= cacheList_.count() || cacheList_.row(r).filePath.isEmpty()) {
            continue;
        }
        const CacheRow& row = cacheList_.row(r);
        if (row.entryFiles.isEmpty()) {
            entrySlot << -1;
            plainFiles << row.filePath;
        } else {
            entrySlot << static_cast<int>(entryFiles.size());
            entryFiles << row.entryFiles.first();
        }
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto result = std::make_shared<WrittenBodies>();
    const QString extractRoot = where_.extractFolder;
    const qint64 budget = copyBudget_;
    copyCancel_ = cancel;
    // Decoding and writing take long for large bodies: the window must not wait on them.
    copyThread_ = QThread::create([entryFiles, extractRoot, budget, cancel, result] {
        if (!entryFiles.isEmpty()) {
            *result = WriteOutBodies(entryFiles, extractRoot, budget, cancel.get());
        }
    });
    connect(copyThread_, &QThread::finished, this, [this, result, budget, entrySlot, plainFiles] {
        copyThread_->deleteLater();
        copyThread_ = nullptr;
        if (result->overBudget) {
            Q_EMIT copyFinished({}, CopyBudgetRefusal(budget));
            return;
        }
        QStringList paths;
        int plain = 0;
        for (const int slot : entrySlot) {
            const QString path = slot < 0 ? plainFiles.at(plain++) : result->paths.value(slot);
            if (!path.isEmpty()) {
                paths << path;
            }
        }
        Q_EMIT copyFinished(paths, QString());
    });
    copyThread_->start();
    return true;
}

void BrowserCacheViewer::discardCopiedBodies() {
    PruneExtractedBodies(where_.extractFolder, {});
}

} // namespace quillax
