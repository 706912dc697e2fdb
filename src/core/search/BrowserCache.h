#pragma once
// The embedded browser's disk cache as the cache viewer sees it: the entries of the running
// profile (read from the cache's own entry files; a body is written out as a plain file only
// when it is copied), the cache files of every user's profile of this program, and their
// deletion.
//
// Every path walked or deleted comes from a folder listing below a resolved cache folder; links
// are never followed, and deleting one removes the link itself.

#include "core/search/CacheBodies.h"
#include "core/search/CacheModels.h"
#include "core/search/CacheReader.h"
#include "core/search/CacheRemoval.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;

namespace quillax {

// ---------------------------------------------------------------------------------------------
// The viewer's work, without its window

class BrowserCacheViewer : public QObject {
    Q_OBJECT
public:
    explicit BrowserCacheViewer(CacheLocations where, QObject* parent = nullptr);
    /// Stops a copy under way and waits for its thread.
    ~BrowserCacheViewer() override;

    CacheListModel* cacheList() { return &cacheList_; }
    CacheUserListModel* userList() { return &userList_; }
    CacheFolderListModel* folderList() { return &folderList_; }
    const QString& label() const { return label_; }
    const QString& tag() const { return tag_; }
    const CacheLocations& locations() const { return where_; }

    /// Lists the running profile's entries; false (and "出错!!!" in the label) when its cache
    /// folder cannot be read.
    bool GetCacheURLList();
    /// Fills each listed entry's size and file path from what was read; writes nothing.
    void 判断文件在缓存中文件路径();
    /// The current-user view.
    bool 查看我的缓存();
    /// The all-users view.
    void 查看所有用户缓存();
    /// Deletes the given rows (ascending), then empty cache folders, then shows the view again.
    void 删除所选文件(const QList<int>& rows);
    void 全部删除();
    /// Removes the collected cache folders that are empty, deepest first.
    void 删除空文件夹();

    /// The file paths of the given rows that have one, in list order.
    QStringList filePaths(const QList<int>& rows) const;

    /// Starts the copy of the given rows: the bodies of entries are written out on a worker
    /// thread within the copy budget; copyFinished follows, always later. False (and nothing
    /// starts) while a copy is under way.
    bool 复制选中(const QList<int>& rows);
    bool copying() const { return copyThread_ != nullptr; }
    void setCopyBudget(qint64 bytes) { copyBudget_ = bytes; }
    qint64 copyBudget() const { return copyBudget_; }
    /// Removes the bodies written out for the last copy, once they were copied.
    void discardCopiedBodies();

Q_SIGNALS:
    void labelChanged(const QString& text);
    /// A view has filled the lists (the window fits its columns).
    void listsFilled();
    /// The files to copy, in list order, or the refusal when the copy would take too much.
    void copyFinished(const QStringList& paths, const QString& refusal);

private:
    void setLabel(const QString& text);
    void deleteRow(const CacheRow& row);
    void refresh();

    CacheLocations where_;
    CacheListModel cacheList_;
    CacheUserListModel userList_;
    CacheFolderListModel folderList_;
    QStringList cacheFolders_{QString()};
    QStringList cacheFolderRoots_;
    QHash<QString, CacheEntryRecord> records_; ///< the last listing's entries, by entry file
    QString label_ = QStringLiteral("000");
    QString tag_;
    qint64 copyBudget_ = kCopyOutBudgetBytes;
    QThread* copyThread_ = nullptr;
    std::shared_ptr<std::atomic<bool>> copyCancel_;
};

} // namespace quillax
