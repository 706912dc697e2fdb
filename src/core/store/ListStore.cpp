#include "core/store/ListStore.h"

#include "core/download/BodyWriter.h"
#include "core/download/Downloader.h"
#include "core/files/FileNaming.h"
#include "core/store/CrashDebris.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>

namespace quillax {

namespace {

// What load() reads, in its order; a table under our name without these is unreadable.
// The columns of the first version; the second added each row's citation.
const QLatin1String kDownloadColumnsV1("key, name, type, size, received, percent, folder, "
                                       "referrer, status, created, adopted, replaces, reason, "
                                       "attempts, not_before");
const QLatin1String kRecordColumnsV1("title, link, type, status, folder, page_url");
const QString kDownloadColumns = kDownloadColumnsV1 + QStringLiteral(", citation");
const QString kRecordColumns = kRecordColumnsV1 + QStringLiteral(", citation");

bool exec(QSqlDatabase& db, const QString& sql, QSqlError* error = nullptr) {
    QSqlQuery query(db);
    if (query.exec(sql)) {
        return true;
    }
    if (error != nullptr) {
        *error = query.lastError();
    }
    return false;
}

// SQLite's primary result code (the low byte of an extended one).
int codeOf(const QSqlError& error) {
    return error.nativeErrorCode().toInt() & 0xff;
}

constexpr int kSqliteError = 1;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

// Only these say that the file itself is damaged; a full disk, a lock or a refused write pass.
bool fileAtFault(const QSqlError& error) {
    return codeOf(error) == kSqliteCorrupt || codeOf(error) == kSqliteNotADatabase;
}

QString errorText(const QSqlError& error) {
    // The shared-memory file of WAL mode cannot grow: what a full disk does at the start.
    constexpr int kSqliteShmSize = 4874;
    if (error.nativeErrorCode().toInt() == kSqliteShmSize) {
        return QStringLiteral("磁盘已满或不可写入");
    }
    switch (codeOf(error)) {
    case 13: // SQLITE_FULL
        return QStringLiteral("磁盘已满");
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return QStringLiteral("文件正被另一个程序使用");
    case 3:  // SQLITE_PERM
    case 8:  // SQLITE_READONLY
    case 23: // SQLITE_AUTH
        return QStringLiteral("文件不可写入");
    case 14: // SQLITE_CANTOPEN
        return QStringLiteral("文件无法打开");
    case 10: // SQLITE_IOERR
        return QStringLiteral("磁盘读写出错");
    case 7: // SQLITE_NOMEM
        return QStringLiteral("内存不足");
    case kSqliteCorrupt:
    case kSqliteNotADatabase:
        return QStringLiteral("文件已损坏");
    default:
        break;
    }
    // A failed commit carries no code, only SQLite's English words: the common ones are said
    // in the user's language too.
    const QString text = error.databaseText().trimmed();
    const struct {
        const char* words;
        const char* said;
    } known[] = {
        {"disk is full", "磁盘已满"},
        {"database is locked", "文件正被另一个程序使用"},
        {"readonly database", "文件不可写入"},
        {"disk I/O error", "磁盘读写出错"},
        {"unable to open database", "文件无法打开"},
        {"malformed", "文件已损坏"},
    };
    for (const auto& k : known) {
        if (text.contains(QLatin1String(k.words), Qt::CaseInsensitive)) {
            return QString::fromUtf8(k.said);
        }
    }
    return text.isEmpty() ? QStringLiteral("数据库出错") : text;
}

// Moves the database and its WAL files aside under `<name>.<why>-<time>`; returns the new name.
QString moveAside(const QString& path, const QString& why) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QLatin1Char('.') + why + QLatin1Char('-') + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n) {
        target = path + QLatin1Char('.') + why + QLatin1Char('-') + stamp + QLatin1Char('-') +
                 QString::number(n);
    }
    if (!QFile::rename(path, target)) {
        return QString();
    }
    for (const char* side : {"-wal", "-shm"}) {
        const QString from = path + QLatin1String(side);
        if (QFileInfo::exists(from)) {
            QFile::rename(from, target + QLatin1String(side));
        }
    }
    return target;
}

// One transaction: the table's rows from `count` on go (all of them when `all`), then `rows` are
// written at their positions. Nothing changes unless every statement succeeds.
template <typename Row, typename ValuesOf>
bool ReplaceRows(QSqlDatabase db, const QString& table, const QString& columns,
                 const QList<QPair<int, Row>>& rows, bool all, int count, ValuesOf valuesOf,
                 QSqlError* error) {
    if (!db.transaction()) {
        *error = db.lastError();
        return false;
    }
    QSqlQuery q(db);
    bool ok = all ? q.exec(QStringLiteral("DELETE FROM %1").arg(table))
                  : q.exec(QStringLiteral("DELETE FROM %1 WHERE pos >= %2").arg(table).arg(count));
    const qsizetype fields = columns.count(QLatin1Char(',')) + 2; // pos and the columns
    QStringList marks(fields, QStringLiteral("?"));
    ok = ok && q.prepare(QStringLiteral("INSERT OR REPLACE INTO %1 (pos, %2) VALUES (%3)")
                             .arg(table, columns, marks.join(QStringLiteral(", "))));
    for (const auto& [pos, row] : rows) {
        if (!ok) {
            break;
        }
        const QVariantList values = valuesOf(pos, row);
        for (int i = 0; i < values.size(); ++i) {
            q.bindValue(i, values.at(i));
        }
        ok = q.exec();
    }
    if (ok && db.commit()) {
        return true;
    }
    *error = ok ? db.lastError() : q.lastError();
    db.rollback();
    return false;
}

} // namespace

QString DefaultQueuePath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/queue.sqlite");
}

int KeptQueue::unfinished() const {
    int n = 0;
    for (const DownloadItem& item : downloads) {
        n += item.status != ItemStatus::Finished ? 1 : 0;
    }
    for (const AnalysisRecord& record : records) {
        n += record.status.isEmpty() ? 1 : 0;
    }
    return n;
}

ListStore::ListStore() {
    static std::atomic<int> number{0};
    connection_ = QStringLiteral("quillax-queue-%1").arg(++number);
}

ListStore::~ListStore() {
    close();
}

void ListStore::close() {
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool ListStore::isOpen() const {
    return QSqlDatabase::contains(connection_) &&
           QSqlDatabase::database(connection_, false).isOpen();
}

StoreOpenResult ListStore::open(const QString& path) {
    close();
    path_ = path;
    StoreOpenResult result;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const bool existed = QFileInfo::exists(path);
    QString why;
    if (tryOpen(&why, &result.error)) {
        result.status = existed ? StoreOpen::Opened : StoreOpen::Created;
        return result;
    }
    close();
    if (why.isEmpty()) {
        return result; // not the file's fault: it stays for a later run
    }
    result.movedTo = moveAside(path, why);
    if (result.movedTo.isEmpty()) {
        result.error += QStringLiteral("，且无法移到别处");
        return result;
    }
    why.clear();
    if (!tryOpen(&why, &result.error)) {
        close(); // a fresh file fails too: said with where the old one went
        return result;
    }
    result.status = StoreOpen::MovedAside;
    return result;
}

bool ListStore::tryOpen(QString* why, QString* error) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    // What failed decides: the file's own damage moves it aside, anything else leaves it.
    const auto failed = [why, error](const QSqlError& e) {
        if (fileAtFault(e)) {
            *why = QStringLiteral("damaged");
        }
        *error = errorText(e);
        return false;
    };
    const auto damaged = [why, error] {
        *why = QStringLiteral("damaged");
        *error = QStringLiteral("文件已损坏");
        return false;
    };
    if (!db.open()) {
        return failed(db.lastError());
    }
    int version = -1;
    {
        QSqlQuery check(db);
        if (!check.exec(QStringLiteral("PRAGMA quick_check"))) {
            return failed(check.lastError());
        }
        if (!check.next()) {
            return check.lastError().isValid() ? failed(check.lastError()) : damaged();
        }
        if (check.value(0).toString() != QLatin1String("ok")) {
            return damaged(); // the check ran and found the file damaged
        }
        if (!check.exec(QStringLiteral("PRAGMA user_version")) || !check.next()) {
            return failed(check.lastError());
        }
        version = check.value(0).toInt();
    }
    if (version > kSchemaVersion) {
        *why = QStringLiteral("newer");
        *error = QStringLiteral("文件来自更新的版本");
        return false;
    }
    if (const QSqlError shape = schemaError(version); shape.isValid()) {
        // A column that is not there: tables of another shape under our names.
        return codeOf(shape) == kSqliteError ? damaged() : failed(shape);
    }
    QSqlError e;
    if (!exec(db, QStringLiteral("PRAGMA journal_mode=WAL"), &e) ||
        !exec(db, QStringLiteral("PRAGMA synchronous=NORMAL"), &e) || !createSchema(&e)) {
        return failed(e);
    }
    return true;
}

QSqlError ListStore::schemaError(int version) const {
    // Checked before anything is written, so that a file moved aside keeps its bytes. A file of
    // the first version gets its new columns when the schema is made.
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QStringList tables = db.tables();
    const QString downloads = version >= 2 ? kDownloadColumns : QString(kDownloadColumnsV1);
    const QString records = version >= 2 ? kRecordColumns : QString(kRecordColumnsV1);
    for (const auto& [table, columns] : {std::pair{QStringLiteral("downloads"), downloads},
                                         std::pair{QStringLiteral("records"), records}}) {
        QSqlQuery q(db);
        if (tables.contains(table) &&
            !q.exec(QStringLiteral("SELECT %1 FROM %2 LIMIT 0").arg(columns, table))) {
            return q.lastError();
        }
    }
    return {};
}

int ListStore::unfinishedCount() const {
    if (!isOpen()) {
        return 0;
    }
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    int n = 0;
    if (q.exec(QStringLiteral("SELECT count(*) FROM downloads WHERE status <> %1")
                   .arg(static_cast<int>(ItemStatus::Finished))) &&
        q.next()) {
        n += q.value(0).toInt();
    }
    if (q.exec(
            QStringLiteral("SELECT count(*) FROM records WHERE status IS NULL OR status = ''")) &&
        q.next()) {
        n += q.value(0).toInt();
    }
    return n;
}

bool ListStore::createSchema(QSqlError* error) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.transaction()) {
        *error = db.lastError();
        return false;
    }
    // Tables of the first version get the citation column; their rows keep an empty one.
    const auto addCitation = [&db, error](const QString& table) {
        QSqlQuery q(db);
        return !db.tables().contains(table) ||
               q.exec(QStringLiteral("SELECT citation FROM %1 LIMIT 0").arg(table)) ||
               exec(db, QStringLiteral("ALTER TABLE %1 ADD COLUMN citation TEXT").arg(table),
                    error);
    };
    bool ok = addCitation(QStringLiteral("downloads")) && addCitation(QStringLiteral("records")) &&
              exec(db,
                   QStringLiteral("CREATE TABLE IF NOT EXISTS downloads (pos INTEGER PRIMARY KEY, "
                                  "key TEXT, name TEXT, type TEXT, size TEXT, received TEXT, "
                                  "percent TEXT, folder TEXT, referrer TEXT, status INTEGER, "
                                  "created INTEGER, adopted INTEGER, replaces TEXT, reason TEXT, "
                                  "attempts INTEGER, not_before INTEGER, citation TEXT)"),
                   error) &&
              exec(db,
                   QStringLiteral("CREATE TABLE IF NOT EXISTS records (pos INTEGER PRIMARY KEY, "
                                  "title TEXT, link TEXT, type TEXT, status TEXT, folder TEXT, "
                                  "page_url TEXT, citation TEXT)"),
                   error) &&
              exec(db, QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion), error);
    if (ok && !db.commit()) {
        *error = db.lastError();
        ok = false;
    }
    if (!ok) {
        db.rollback();
    }
    return ok;
}

KeptQueue ListStore::load() const {
    KeptQueue kept;
    if (!isOpen()) {
        return kept;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT %1 FROM downloads ORDER BY pos").arg(kDownloadColumns))) {
        while (q.next()) {
            DownloadItem item;
            item.key = q.value(0).toString();
            item.name = q.value(1).toString();
            item.type = q.value(2).toString();
            item.size = q.value(3).toString();
            item.received = q.value(4).toString();
            item.percent = q.value(5).toString();
            item.folder = q.value(6).toString();
            item.referrer = q.value(7).toString();
            const int status = q.value(8).toInt();
            item.status = status >= static_cast<int>(ItemStatus::Waiting) &&
                                  status <= static_cast<int>(ItemStatus::Failed)
                              ? static_cast<ItemStatus>(status)
                              : ItemStatus::Waiting;
            item.createdFile = q.value(9).toInt() != 0;
            item.adoptedFile = q.value(10).toInt() != 0;
            item.replacesPath = q.value(11).toString();
            item.reason = q.value(12).toString();
            item.autoAttempts = q.value(13).toInt();
            item.notBefore = q.value(14).toLongLong();
            item.citation = CitationFromJson(q.value(15).toString());
            kept.downloads.append(item);
        }
    }
    if (q.exec(QStringLiteral("SELECT %1 FROM records ORDER BY pos").arg(kRecordColumns))) {
        while (q.next()) {
            kept.records.append(AnalysisRecord{q.value(0).toString(), q.value(1).toString(),
                                               q.value(2).toString(), q.value(3).toString(),
                                               q.value(4).toString(), q.value(5).toString(),
                                               CitationFromJson(q.value(6).toString())});
        }
    }
    return kept;
}

bool ListStore::writeDownloads(const QList<QPair<int, DownloadItem>>& rows, bool all, int count) {
    if (!isOpen()) {
        lastError_ = QStringLiteral("文件没有打开");
        return false;
    }
    QSqlError error;
    const bool ok = ReplaceRows(
        QSqlDatabase::database(connection_, false), QStringLiteral("downloads"), kDownloadColumns,
        rows, all, count,
        [](int pos, const DownloadItem& item) {
            return QVariantList{pos,
                                item.key,
                                item.name,
                                item.type,
                                item.size,
                                item.received,
                                item.percent,
                                item.folder,
                                item.referrer,
                                static_cast<int>(item.status),
                                item.createdFile ? 1 : 0,
                                item.adoptedFile ? 1 : 0,
                                item.replacesPath,
                                item.reason,
                                item.autoAttempts,
                                item.notBefore,
                                CitationToJson(item.citation)};
        },
        &error);
    lastError_ = ok ? QString() : errorText(error);
    return ok;
}

bool ListStore::writeRecords(const QList<QPair<int, AnalysisRecord>>& rows, bool all, int count) {
    if (!isOpen()) {
        lastError_ = QStringLiteral("文件没有打开");
        return false;
    }
    QSqlError error;
    const bool ok = ReplaceRows(
        QSqlDatabase::database(connection_, false), QStringLiteral("records"), kRecordColumns, rows,
        all, count,
        [](int pos, const AnalysisRecord& r) {
            return QVariantList{pos,      r.title,  r.link,    r.type,
                                r.status, r.folder, r.pageUrl, CitationToJson(r.citation)};
        },
        &error);
    lastError_ = ok ? QString() : errorText(error);
    return ok;
}

bool ListStore::clearAll() {
    return writeDownloads({}, true, 0) && writeRecords({}, true, 0);
}

int RestoreKeptQueue(const KeptQueue& kept, DownloadListModel* downloads,
                     AnalysisListModel* records) {
    int restored = 0;
    if (records != nullptr) {
        restored += records->appendRecords(kept.records);
    }
    if (downloads == nullptr) {
        return restored;
    }
    QList<DownloadItem> items = kept.downloads;
    for (DownloadItem& item : items) {
        if (item.status == ItemStatus::Finished) {
            continue;
        }
        const QString target = ItemFilePath(item.folder, item.name, item.type);
        // Method 2's two-byte placeholder reserved the name for a download of the ended run;
        // it is no paper, whichever row's flag was kept last.
        Downloader::RemovePlaceholder(target);
        // A row owns no file that is not there: a file of that name later is someone else's.
        item.createdFile = item.createdFile && FileExists(target);
        if (item.status != ItemStatus::Downloading) {
            continue;
        }
        // The download that ran when the program ended: its part file goes, and the row waits
        // to be fetched again.
        const QFileInfo info(target);
        const QStringList parts = QDir(info.path())
                                      .entryList({QStringLiteral("*") + QLatin1String(kPartSuffix)},
                                                 QDir::Files | QDir::Hidden);
        for (const QString& part : parts) {
            QString of;
            if (PartFileWriter(part, &of) > 0 && of == info.fileName() && IsStalePartFile(part)) {
                QFile::remove(info.path() + QLatin1Char('/') + part);
            }
        }
        item.status = ItemStatus::Waiting;
        item.received.clear();
        item.percent.clear();
    }
    restored += downloads->appendItems(items);
    return restored;
}

} // namespace quillax
