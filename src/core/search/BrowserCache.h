#pragma once
// The embedded browser's disk cache as the cache viewer sees it: the entries of the running
// profile (read from the cache's own entry files; a body is written out as a plain file only
// when it is copied), the cache files of every user's profile of this program, and their
// deletion.
//
// Every path walked or deleted comes from a folder listing below a resolved cache folder; links
// are never followed, and deleting one removes the link itself.

#include <QAbstractTableModel>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace quillax {

// ---------------------------------------------------------------------------------------------
// Where caches are

/// The folder that holds the users' home folders, and the administrator's home beside it.
inline constexpr char kDefaultUserHomesRoot[] = "/home";
inline constexpr char kRootUserHome[] = "/root";
/// Overrides the homes root (and leaves out the administrator's home), so that tests and the
/// demonstration never see the machine's real users.
inline constexpr char kEnvUserHomesRoot[] = "QUILLAX_USER_HOMES";
/// The HTTP cache below a browser profile's cache path.
inline constexpr char kHttpCacheSubfolder[] = "Cache/Cache_Data";
/// Where bodies being copied out of the running profile's entries are written, below its cache
/// path.
inline constexpr char kExtractedSubfolder[] = "ExtractedFiles";

struct CacheLocations {
    QString cacheFolder;   ///< the running profile's HTTP cache folder
    QString extractFolder; ///< where entry bodies are written out for copying
    QString home;          ///< the running user's home folder
    QString homesRoot;     ///< the folder that holds every user's home folder
    QString rootHome;      ///< a further home folder to look in (may be empty)
};

/// The locations for a profile whose cache path is `profileCachePath`, with the homes root
/// from the environment or the default.
CacheLocations DefaultCacheLocations(const QString& profileCachePath);

struct ProfileCache {
    QString user;   ///< the home folder's last segment
    QString folder; ///< the profile's HTTP cache folder, links resolved
};

/// The cache folder of this program's profile in each home folder below the homes root (and
/// the root home), as far as they can be read. The relative place of the cache in a home is the
/// running profile's; when the running profile is not in a home below the homes root, only its
/// own cache is given. A cache folder that resolves outside its own home is left out.
QVector<ProfileCache> FindProfileCaches(const CacheLocations& where);

// ---------------------------------------------------------------------------------------------
// Names and folder walks

/// The type of a file named by an address or path: the trimmed text after the last "." of the
/// last segment, cut at the query, fragment and other characters not allowed in names; empty
/// when there is none or it has 7 characters or more.
QString FileTypeFromAddress(const QString& text);

/// Bounds the folder walks (a bind mount can make a tree without end).
inline constexpr int kMaxWalkDepth = 64;

/// Appends `folder` + "/" + name of every sub-folder of `folder` (hidden ones included; links are
/// not folders here), and, when `recursive`, of their sub-folders after them. Only absolute
/// folder texts are walked. "pagefile.sys" and, at the root, "RECYCLER" (ignoring case) are
/// skipped.
void ListSubfolders(const QString& folder, QStringList& list, bool recursive);
/// Appends the files of `folder` the same way (a link counts as a file and is not followed),
/// recursing into sub-folders when `recursive`.
void ListFilesRecursive(const QString& folder, QStringList& list, bool recursive);

// ---------------------------------------------------------------------------------------------
// Cache entries

/// One entry of the browser's disk cache, read from its entry file.
struct CacheEntryRecord {
    QString entryFile;      ///< the "<hash>_0" file
    QStringList entryFiles; ///< every file of the entry from the listing, "_0" first
    bool keyRead = false;   ///< the entry's key, hence its address, could be read
    QString address;        ///< the source address (the entry file's path when unreadable)
    bool framed = false;    ///< the body's place in the file is known
    qint64 bodyOffset = 0;
    qint64 bodySize = -1;
    QString contentEncoding; ///< from the stored response headers
};

/// The address an entry key names: the key without its credential and upload prefixes, and for
/// a key split by site, its last part.
QString AddressFromCacheKey(const QByteArray& key);
/// Reads an entry file. Never fails: what cannot be read stays unset.
CacheEntryRecord ReadCacheEntry(const QString& entryFile);

struct CacheFolderListing {
    bool ok = true;       ///< false when the folder exists but cannot be listed
    bool entries = false; ///< the folder holds the browser's entry files
    QVector<CacheEntryRecord> records;
    QStringList files; ///< when the format is not recognised: every file of the folder
};
/// Reads the browser's cache folder. A folder that does not exist is an empty cache.
CacheFolderListing ReadCacheFolder(const QString& folder);

/// One copy writes out at most this many bytes of bodies in all: a compressed body can grow a
/// thousandfold when decoded.
inline constexpr qint64 kCopyOutBudgetBytes = 256LL * 1024 * 1024;

/// True when the entry's body can be given as a plain file: its place is known, it is not empty
/// and its content encoding is one this reader undoes.
bool HasPlainBody(const CacheEntryRecord& entry);
/// The name a written-out body gets: the address's last path segment, cleaned, or "index".
QString BodyFileName(const QString& address);

enum class BodyOutcome { Written, NoPlainBody, OverBudget, Cancelled };
/// Writes the entry's body, decoded from gzip or deflate when it was stored so, to
/// "<extractRoot>/<entry hash>/<BodyFileName>", and returns that path; an unchanged entry
/// reuses the file written before. Empty when the body cannot be given as a plain file, would
/// take more than `maxBytes`, or `cancel` was set; `outcome` says which.
QString ExtractEntryBody(const CacheEntryRecord& entry, const QString& extractRoot,
                         qint64 maxBytes = kCopyOutBudgetBytes, BodyOutcome* outcome = nullptr,
                         const std::atomic<bool>* cancel = nullptr);
/// Removes the folders below `extractRoot` whose entry is not among `keepEntryFiles`.
void PruneExtractedBodies(const QString& extractRoot, const QStringList& keepEntryFiles);

struct WrittenBodies {
    QStringList paths;       ///< one per entry file asked for, empty where there is no body
    bool overBudget = false; ///< refused: nothing of this run is left on disk
    bool cancelled = false;  ///< stopped: nothing of this run is left on disk
};
/// Writes out the bodies of the entries whose main files are `entryFiles`, in order, below
/// `extractRoot`, with `budget` bytes for all of them; bodies of earlier runs go. Runs on any
/// thread: it touches nothing but the files.
WrittenBodies WriteOutBodies(const QStringList& entryFiles, const QString& extractRoot,
                             qint64 budget, const std::atomic<bool>* cancel = nullptr);
/// The refusal shown when a copy would take more than `budget` bytes.
QString CopyBudgetRefusal(qint64 budget);

// ---------------------------------------------------------------------------------------------
// Deleting

/// Deletes one file (or link, never what it points to) strictly inside one of `roots` (resolved
/// folders). The folders on the way are opened one by one from "/" without following links and
/// the file is removed relative to the last of them, so no link, however late it appears, leads
/// the deletion out. File attributes play no part in deleting here, so none are changed. Errors
/// are ignored; returns whether it is gone.
bool 强制删除(const QString& path, const QStringList& roots);
/// Removes one empty folder inside `roots` the same way; a folder that is not empty stays.
bool RemoveEmptyFolder(const QString& path, const QStringList& roots);
/// Called with each path just before it is removed, once the folders on its way are open, so
/// that tests can change the tree at that very moment. Returns the hook it replaces.
using RemoveHook = std::function<void(const QString& path)>;
RemoveHook SetRemoveHook(RemoveHook hook);

// ---------------------------------------------------------------------------------------------
// Lists

inline const QString kMyCacheTag = QStringLiteral("我的缓存");
inline const QString kAllCachesTag = QStringLiteral("所有缓存");
inline const QString kUserRowPrefix = QStringLiteral("用户:");

struct CacheRow {
    QString address; ///< "用户:" + user name in the all-users view
    QString type;
    qint64 size = -1;       ///< -1: no local file; for an entry, the size of its stored body
    QString filePath;       ///< for an entry, its main file, when its body can be copied out
    QStringList entryFiles; ///< the cache entry's own files, its main file first
    QString entryRoot;      ///< the folder they lie in
    QString fileRoot;       ///< the folder `filePath` lies in
};

class CacheListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColUrl, ColType, ColSize, ColFilePath, ColumnCount };

    explicit CacheListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Stable; sizes compare as numbers (a row without size as 0), other columns as text
    /// ignoring case.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// A header click: descending first, then the other way at each click.
    void sortByHeaderClick(int column);
    Qt::SortOrder lastSortOrder() const { return lastOrder_; }

    void setRows(QVector<CacheRow> rows);
    void append(const CacheRow& row);
    void setLocalFile(int row, const QString& path, qint64 size, const QString& root);
    void clear();
    int count() const { return static_cast<int>(rows_.size()); }
    const CacheRow& row(int r) const { return rows_.at(r); }

private:
    QVector<CacheRow> rows_;
    Qt::SortOrder lastOrder_ = Qt::AscendingOrder;
};

/// A list of text rows with fixed headers, for the users and folders lists.
class TextRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    TextRowsModel(QStringList headers, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void append(const QStringList& cells);
    void clear();
    int count() const { return static_cast<int>(rows_.size()); }
    QString text(int row, int column) const;

private:
    QStringList headers_;
    QVector<QStringList> rows_;
};

/// The users list: profiles that have a cache folder.
class CacheUserListModel : public TextRowsModel {
    Q_OBJECT
public:
    enum Column { ColUser, ColFolder, ColumnCount };
    explicit CacheUserListModel(QObject* parent = nullptr);
};

/// Every cache folder found below the profiles' cache folders.
class CacheFolderListModel : public TextRowsModel {
    Q_OBJECT
public:
    enum Column { ColFolder, ColumnCount };
    explicit CacheFolderListModel(QObject* parent = nullptr);
};

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
