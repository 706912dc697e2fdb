#pragma once
// The kept queue: the download list and the analysis list in a SQLite database in the
// program's data folder (WAL mode), so that a crash, a logout or a closed lid loses neither.
// A damaged database, or one from a newer version, is moved aside, never deleted. One that
// cannot be read for now (a full disk, a read-only file, a lock held elsewhere) is left alone.

#include "core/download/DownloadListModel.h"
#include "core/search/AnalysisListModel.h"

#include <QList>
#include <QString>

class QSqlError;

namespace quillax {

/// Where the kept queue lives: the program's data folder, "queue.sqlite".
QString DefaultQueuePath();

enum class StoreOpen { Created, Opened, MovedAside, Failed };

struct StoreOpenResult {
    StoreOpen status = StoreOpen::Failed;
    /// Where the old file went: MovedAside, and Failed when no new store could be made after it.
    QString movedTo;
    QString error; ///< Failed: why, in words for the user
};

/// What a store holds: both lists, in order.
struct KeptQueue {
    QList<DownloadItem> downloads;
    QList<AnalysisRecord> records;
    /// Download items not finished, plus records not analysed yet.
    int unfinished() const;
};

class ListStore {
public:
    /// The schema version this program writes; a file with a higher one is moved aside.
    static constexpr int kSchemaVersion = 2;

    ListStore();
    ~ListStore();
    ListStore(const ListStore&) = delete;
    ListStore& operator=(const ListStore&) = delete;

    StoreOpenResult open(const QString& path);
    bool isOpen() const;
    QString path() const { return path_; }

    KeptQueue load() const;
    /// Writes the given download rows (row number → item) in one transaction; `all` replaces
    /// the whole table by them (rows removed or reordered).
    bool writeDownloads(const QList<QPair<int, DownloadItem>>& rows, bool all, int count);
    bool writeRecords(const QList<QPair<int, AnalysisRecord>>& rows, bool all, int count);
    bool clearAll();
    /// Why the last write failed, in words for the user.
    QString lastError() const { return lastError_; }
    /// What the start question counts: download items not finished (waiting, downloading or
    /// failed) plus records not analysed yet; the same rule as KeptQueue::unfinished().
    int unfinishedCount() const;
    bool hasUnfinished() const { return unfinishedCount() > 0; }

private:
    /// Opens `path_` and makes the schema; on failure `why` names what to move aside for
    /// ("damaged", "newer"), or stays empty when the file itself is not at fault.
    bool tryOpen(QString* why, QString* error);
    bool createSchema(QSqlError* error);
    /// The first statement of `version`'s columns that fails, or no error.
    QSqlError schemaError(int version) const;
    void close();

    QString connection_;
    QString path_;
    QString lastError_;
};

/// Puts a kept queue back into the lists. A row that was downloading comes back as waiting, and
/// the part file it was writing goes (only files named as our part files, beside its target, of
/// a process that has ended). At the target of a row that is not finished our exact two-byte
/// placeholder goes, whichever row made it: nothing runs yet that could own it. Returns the
/// rows restored.
int RestoreKeptQueue(const KeptQueue& kept, DownloadListModel* downloads,
                     AnalysisListModel* records);

} // namespace quillax
