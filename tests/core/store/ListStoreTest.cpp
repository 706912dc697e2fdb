#include "core/store/ListStore.h"
#include "TestSupport.h"
#include "core/download/BodyWriter.h"
#include "core/files/FileNaming.h"
#include "core/store/QueueKeeper.h"
#include "ui/shell/QueueKeeping.h"

#include <QAbstractItemModelTester>
#include <QCryptographicHash>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

using namespace quillax;
using namespace quillax::test;

namespace {

DownloadItem odd(int n, ItemStatus status) {
    DownloadItem item;
    item.key = QStringLiteral("http://a/%1.pdf|http://b/%1.pdf").arg(n);
    item.name = n % 2 ? QStringLiteral("论文 %1：标题'\"").arg(n) : QString();
    item.type = QStringLiteral("pdf");
    item.size = QStringLiteral("99999999999");
    item.received = QStringLiteral("12");
    item.percent = QStringLiteral("等待服务器");
    item.folder = QStringLiteral("/tmp/x y/");
    item.referrer = QStringLiteral("http://a/record?id=%1&b=2").arg(n);
    item.status = status;
    item.createdFile = n % 2 == 0;
    item.adoptedFile = n % 3 == 0;
    item.replacesPath = n % 2 ? QStringLiteral("/tmp/x y/old.pdf") : QString();
    item.reason = QStringLiteral("服务器返回429，要求暂停下载");
    item.autoAttempts = n;
    item.notBefore = 1'796'904'000'000LL + n;
    if (n % 2 == 1) {
        item.citation.title = QStringLiteral("标题 %1 & “引号”").arg(n);
        item.citation.authors = {QStringLiteral("Müller, Jürgen"), QStringLiteral("王芳")};
        item.citation.date = QStringLiteral("Mar2011");
        item.citation.doi = QStringLiteral("10.5555/qx.%1").arg(n);
        item.citation.recordUrl = item.referrer;
    }
    return item;
}

Citation citedAs(const QString& title) {
    Citation c;
    c.title = title;
    c.authors = {QStringLiteral("Smith, John")};
    c.date = QStringLiteral("2011");
    return c;
}

bool same(const DownloadItem& a, const DownloadItem& b) {
    return a.key == b.key && a.name == b.name && a.type == b.type && a.size == b.size &&
           a.received == b.received && a.percent == b.percent && a.folder == b.folder &&
           a.referrer == b.referrer && a.status == b.status && a.createdFile == b.createdFile &&
           a.adoptedFile == b.adoptedFile && a.replacesPath == b.replacesPath &&
           a.reason == b.reason && a.autoAttempts == b.autoAttempts && a.notBefore == b.notBefore &&
           a.citation == b.citation;
}

QByteArray sha(const QString& path) {
    return QCryptographicHash::hash(ReadFile(path), QCryptographicHash::Sha256);
}

// Keeps `n` waiting rows in a new store at `path`, closed again.
void keepRows(const QString& path, int n) {
    ListStore store;
    ASSERT_NE(store.open(path).status, StoreOpen::Failed);
    QList<QPair<int, DownloadItem>> rows;
    for (int i = 0; i < n; ++i) {
        rows.append({i, odd(i, ItemStatus::Waiting)});
    }
    ASSERT_TRUE(store.writeDownloads(rows, true, n));
}

// The files a move aside would have left beside the store ("queue.sqlite.damaged-…").
QStringList movedAside(const QString& path) {
    const QFileInfo info(path);
    return QDir(info.path()).entryList({info.fileName() + QStringLiteral(".*")}, QDir::Files);
}

// A connection of the test's own to a store file, closed when it goes.
class Peek {
public:
    explicit Peek(const QString& path) : name_(QStringLiteral("peek-%1").arg(++count_)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
    }
    ~Peek() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    Peek(const Peek&) = delete;
    Peek& operator=(const Peek&) = delete;
    bool exec(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        const bool ok = q.exec(sql);
        EXPECT_TRUE(ok) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        return ok;
    }

private:
    static inline int count_ = 0;
    QString name_;
};

// Every write to the kept download table fails, as on a full disk, until lifted.
class FailingWrites {
public:
    explicit FailingWrites(const QString& path) : peek_(path) {
        for (const char* what : {"INSERT", "DELETE"}) {
            peek_.exec(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %1 ON downloads BEGIN "
                                      "SELECT RAISE(ABORT, 'database or disk is full'); END")
                           .arg(QLatin1String(what)));
        }
    }
    ~FailingWrites() { lift(); }
    FailingWrites(const FailingWrites&) = delete;
    FailingWrites& operator=(const FailingWrites&) = delete;
    void lift() {
        if (!lifted_) {
            lifted_ = true;
            peek_.exec(QStringLiteral("DROP TRIGGER refuse_INSERT"));
            peek_.exec(QStringLiteral("DROP TRIGGER refuse_DELETE"));
        }
    }

private:
    Peek peek_;
    bool lifted_ = false;
};

// A small file system of the test's own, which it can fill to the last byte.
class SmallDisk {
public:
    SmallDisk(const QString& at, int kilobytes) : at_(at) {
        QDir().mkpath(at);
        const QByteArray size = "size=" + QByteArray::number(kilobytes) + "k";
        mounted_ =
            ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0, size.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(QFile::encodeName(at_).constData(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    QString path() const { return at_; }
    /// Writes a file until the disk refuses another byte.
    bool fill() {
        QFile filler(fillerPath());
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            return false;
        }
        for (qsizetype chunk = 64 * 1024; chunk > 0; chunk /= 2) {
            const QByteArray bytes(chunk, 'x');
            while (filler.write(bytes) == bytes.size()) {
            }
        }
        return filler.size() > 0;
    }
    void free() { QFile::remove(fillerPath()); }

private:
    QString fillerPath() const { return at_ + QStringLiteral("/filler"); }
    QString at_;
    bool mounted_ = false;
};

bool sameRows(const QList<DownloadItem>& kept, const DownloadListModel& list) {
    if (kept.size() != list.count()) {
        ADD_FAILURE() << "kept " << kept.size() << " rows, the list holds " << list.count();
        return false;
    }
    bool ok = true;
    for (int row = 0; row < list.count(); ++row) {
        if (!same(kept[row], list.item(row))) {
            ADD_FAILURE() << "row " << row << ": kept " << kept[row].key.toStdString()
                          << ", the list holds " << list.item(row).key.toStdString();
            ok = false;
        }
    }
    return ok;
}

void addRows(DownloadListModel& list, int from, int to) {
    for (int i = from; i < to; ++i) {
        list.addItem(QStringLiteral("http://a/%1").arg(i), QStringLiteral("N%1").arg(i),
                     QStringLiteral("pdf"), QStringLiteral("/f/"), QString());
    }
}

class ListStoreTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString path() const { return tmp.path() + QStringLiteral("/data/queue.sqlite"); }
};

TEST_F(ListStoreTest, KeepsEveryFieldOfBothListsInOrderInWalMode) {
    QList<DownloadItem> items;
    const ItemStatus statuses[] = {ItemStatus::Waiting, ItemStatus::Downloading,
                                   ItemStatus::Finished, ItemStatus::Failed};
    for (int n = 0; n < 8; ++n) {
        items.append(odd(n, statuses[n % 4]));
    }
    QList<AnalysisRecord> records{{QStringLiteral("标题 1"), QStringLiteral("http://a/1"),
                                   QStringLiteral("pdf"), QString(), QStringLiteral("/f/"),
                                   QStringLiteral("http://a/page?x=1"),
                                   citedAs(QStringLiteral("标题 1"))},
                                  {QString(),
                                   QStringLiteral("http://a/2"),
                                   QStringLiteral("pdf"),
                                   QStringLiteral("成功"),
                                   QString(),
                                   QString(),
                                   {}}};
    {
        ListStore store;
        ASSERT_EQ(store.open(path()).status, StoreOpen::Created);
        QList<QPair<int, DownloadItem>> rows;
        for (int i = 0; i < items.size(); ++i) {
            rows.append({i, items[i]});
        }
        ASSERT_TRUE(store.writeDownloads(rows, true, static_cast<int>(items.size())));
        ASSERT_TRUE(store.writeRecords({{0, records[0]}, {1, records[1]}}, true, 2));
    }
    ListStore store;
    ASSERT_EQ(store.open(path()).status, StoreOpen::Opened);
    const KeptQueue kept = store.load();
    ASSERT_EQ(kept.downloads.size(), items.size());
    for (int i = 0; i < items.size(); ++i) {
        EXPECT_TRUE(same(kept.downloads[i], items[i])) << i;
    }
    ASSERT_EQ(kept.records.size(), 2);
    EXPECT_EQ(kept.records[0].title, records[0].title);
    EXPECT_EQ(kept.records[0].pageUrl, records[0].pageUrl);
    EXPECT_EQ(kept.records[1].status, records[1].status);
    EXPECT_EQ(kept.records[0].citation, records[0].citation);
    EXPECT_TRUE(kept.records[1].citation.isEmpty());
    EXPECT_EQ(kept.unfinished(), 6 + 1); // not finished rows, and the unanalysed record
    EXPECT_EQ(store.unfinishedCount(), kept.unfinished());
    EXPECT_TRUE(store.hasUnfinished());
    ASSERT_TRUE(store.clearAll());
    EXPECT_FALSE(store.hasUnfinished());
    EXPECT_TRUE(store.load().downloads.isEmpty());

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
    db.setDatabaseName(path());
    ASSERT_TRUE(db.open());
    {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next());
        EXPECT_EQ(q.value(0).toString(), QStringLiteral("wal"));
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
}

// A file that is no database, a cut one, or one from a newer version: moved aside whole, never
// deleted, and the program starts with empty lists.
TEST_F(ListStoreTest, AnUnreadableStoreIsMovedAsideWhole) {
    struct Case {
        const char* what;
        std::function<void(const QString&)> make;
        const char* why;
    };
    const Case cases[] = {
        {"garbage", [](const QString& p) { WriteFile(p, QByteArray(5000, '\x7f')); }, "damaged"},
        {"cut short",
         [](const QString& p) {
             {
                 ListStore full;
                 full.open(p);
                 QList<QPair<int, DownloadItem>> rows;
                 for (int i = 0; i < 300; ++i) {
                     rows.append({i, odd(i, ItemStatus::Waiting)});
                 }
                 full.writeDownloads(rows, true, 300);
             }
             QFile::remove(p + QStringLiteral("-wal"));
             QFile file(p);
             file.open(QIODevice::ReadWrite);
             file.resize(file.size() / 2);
         },
         "damaged"},
        {"tables of another shape",
         [](const QString& p) {
             QSqlDatabase db =
                 QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("shape"));
             db.setDatabaseName(p);
             db.open();
             QSqlQuery(db).exec(QStringLiteral("CREATE TABLE downloads (pos INTEGER, url TEXT)"));
             QSqlQuery(db).exec(
                 QStringLiteral("PRAGMA user_version = %1").arg(ListStore::kSchemaVersion));
             db.close();
             db = QSqlDatabase();
             QSqlDatabase::removeDatabase(QStringLiteral("shape"));
         },
         "damaged"},
        {"newer",
         [](const QString& p) {
             {
                 ListStore store;
                 store.open(p);
             }
             QSqlDatabase db =
                 QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
             db.setDatabaseName(p);
             db.open();
             QSqlQuery(db).exec(
                 QStringLiteral("PRAGMA user_version = %1").arg(ListStore::kSchemaVersion + 1));
             db.close();
             db = QSqlDatabase();
             QSqlDatabase::removeDatabase(QStringLiteral("newer"));
         },
         "newer"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString p = tmp.path() + QStringLiteral("/c%1/queue.sqlite").arg(++n);
        QDir().mkpath(QFileInfo(p).path());
        c.make(p);
        const QByteArray before = sha(p);
        ListStore store;
        const StoreOpenResult result = store.open(p);
        ASSERT_EQ(result.status, StoreOpen::MovedAside);
        EXPECT_TRUE(result.movedTo.contains(QLatin1String(c.why))) << result.movedTo.toStdString();
        EXPECT_EQ(sha(result.movedTo), before);
        EXPECT_TRUE(store.load().downloads.isEmpty());
        EXPECT_TRUE(store.isOpen());
        EXPECT_TRUE(store.writeDownloads({{0, odd(1, ItemStatus::Waiting)}}, true, 1));
        EXPECT_EQ(store.load().downloads.size(), 1);
    }
}

// A queue kept by the previous version (no citations) opens with every row, and is written on.
TEST_F(ListStoreTest, AFirstVersionStoreIsUpgradedWithItsRows) {
    QDir().mkpath(QFileInfo(path()).path());
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(path());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral(
            "CREATE TABLE downloads (pos INTEGER PRIMARY KEY, key TEXT, name TEXT, type TEXT, "
            "size TEXT, received TEXT, percent TEXT, folder TEXT, referrer TEXT, status INTEGER, "
            "created INTEGER, adopted INTEGER, replaces TEXT, reason TEXT, attempts INTEGER, "
            "not_before INTEGER)")));
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE records (pos INTEGER PRIMARY KEY, "
                                          "title TEXT, link TEXT, type TEXT, status TEXT, "
                                          "folder TEXT, page_url TEXT)")));
        ASSERT_TRUE(q.exec(QStringLiteral(
            "INSERT INTO downloads VALUES (0, 'http://a/1.pdf', 'A', 'pdf', '', '', '', '/f/', "
            "'http://a/r1', 1, 0, 0, '', '', 0, 0)")));
        ASSERT_TRUE(q.exec(QStringLiteral(
            "INSERT INTO records VALUES (0, 'T', 'http://a/r1', 'pdf', '', '/f/', 'http://a/p')")));
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA user_version = 1")));
        q = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("v1"));
    }
    ListStore store;
    ASSERT_EQ(store.open(path()).status, StoreOpen::Opened);
    KeptQueue kept = store.load();
    ASSERT_EQ(kept.downloads.size(), 1);
    EXPECT_EQ(kept.downloads[0].key, QStringLiteral("http://a/1.pdf"));
    EXPECT_TRUE(kept.downloads[0].citation.isEmpty());
    ASSERT_EQ(kept.records.size(), 1);
    EXPECT_EQ(kept.records[0].pageUrl, QStringLiteral("http://a/p"));

    DownloadItem item = kept.downloads[0];
    item.citation.title = QStringLiteral("A");
    ASSERT_TRUE(store.writeDownloads({{0, item}}, false, 1));
    EXPECT_EQ(store.load().downloads.value(0).citation.title, QStringLiteral("A"));
}

// A place where no database can be made fails plainly; the file in the way is left alone, and
// a keeper on the closed store writes nothing and does not crash.
TEST_F(ListStoreTest, AStoreThatCannotBeMadeFailsAndTouchesNothing) {
    const QString blocker = tmp.path() + QStringLiteral("/data");
    ASSERT_TRUE(WriteFile(blocker, "a file where the folder should be"));
    const QByteArray before = sha(blocker);
    ListStore store;
    const StoreOpenResult result = store.open(blocker + QStringLiteral("/queue.sqlite"));
    EXPECT_EQ(result.status, StoreOpen::Failed);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_FALSE(store.isOpen());
    EXPECT_EQ(sha(blocker), before);
    EXPECT_EQ(store.unfinishedCount(), 0);
    DownloadListModel list;
    QueueKeeper keeper(store, 0);
    keeper.attachDownloads(&list);
    list.addItem(QStringLiteral("http://a/0"), QStringLiteral("N0"), QStringLiteral("pdf"),
                 QStringLiteral("/f/"), QString());
    keeper.flushAndWait();
    EXPECT_TRUE(store.load().downloads.isEmpty());
}

TEST_F(ListStoreTest, TheKeeperWritesWhatTheListsDoInOneFlush) {
    ListStore store;
    ASSERT_NE(store.open(path()).status, StoreOpen::Failed);
    auto list = std::make_unique<DownloadListModel>();
    AnalysisListModel records;
    QAbstractItemModelTester tester(list.get());
    QueueKeeper keeper(store, 60'000);
    keeper.attachDownloads(list.get());
    keeper.attachRecords(&records);
    for (int i = 0; i < 5; ++i) {
        list->addItem(QStringLiteral("http://a/%1").arg(i), QStringLiteral("N%1").arg(i),
                      QStringLiteral("pdf"), QStringLiteral("/f/"), QString());
    }
    records.加入LV1(QStringLiteral("T"), QStringLiteral("http://a/r"), QString(),
                    QStringLiteral("pdf"), QString());
    list->setStatus(2, ItemStatus::Finished);
    // A citation filled in later (the record page, the stored PDF) is kept too.
    Citation citation;
    citation.title = QStringLiteral("N2");
    citation.authors = {QStringLiteral("Smith, John")};
    list->setCitation(2, citation);
    records.setCitation(0, citation);
    keeper.flushAndWait();
    KeptQueue kept = store.load();
    ASSERT_EQ(kept.downloads.size(), 5);
    EXPECT_EQ(kept.downloads[2].status, ItemStatus::Finished);
    EXPECT_EQ(kept.downloads[2].citation, citation);
    ASSERT_EQ(kept.records.size(), 1);
    EXPECT_EQ(kept.records[0].citation, citation);

    // Removal and reordering rewrite the table.
    list->removeRowsWhere([](int row) { return row == 0; });
    list->reorder({3, 2, 1, 0});
    keeper.flushAndWait();
    kept = store.load();
    ASSERT_EQ(kept.downloads.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(kept.downloads[i].key, list->item(i).key) << i;
    }
    // Emptied by the user: nothing kept.
    list->clear();
    keeper.flushAndWait();
    EXPECT_TRUE(store.load().downloads.isEmpty());

    // A list that goes with its window leaves the keeper unharmed.
    list->addItem(QStringLiteral("http://a/x"), QStringLiteral("X"), QStringLiteral("pdf"),
                  QStringLiteral("/f/"), QString());
    keeper.flushAndWait();
    list.reset();
    keeper.flushAndWait();
    EXPECT_EQ(store.load().downloads.size(), 1);
}

// The window goes and its list with it between two flushes: the rows changed last are kept.
TEST_F(ListStoreTest, AListDestroyedBeforeTheFlushKeepsItsLastChanges) {
    ListStore store;
    ASSERT_NE(store.open(path()).status, StoreOpen::Failed);
    QueueKeeper keeper(store, 60'000);
    auto list = std::make_unique<DownloadListModel>();
    auto records = std::make_unique<AnalysisListModel>();
    keeper.attachDownloads(list.get());
    keeper.attachRecords(records.get());
    for (int i = 0; i < 3; ++i) {
        list->addItem(QStringLiteral("http://a/%1").arg(i), QStringLiteral("N%1").arg(i),
                      QStringLiteral("pdf"), QStringLiteral("/f/"), QString());
    }
    records->加入LV1(QStringLiteral("T"), QStringLiteral("http://a/r"), QString(),
                     QStringLiteral("pdf"), QString());
    keeper.flushAndWait();
    list->setStatus(1, ItemStatus::Failed);
    list->setReason(1, QStringLiteral("连接超时"));
    records->setStatus(0, QStringLiteral("成功"));
    list->removeRowsWhere([](int row) { return row == 0; }); // the last change is structural
    list->setStatus(0, ItemStatus::Finished);
    list.reset();
    records.reset();
    keeper.flushAndWait();
    const KeptQueue kept = store.load();
    ASSERT_EQ(kept.downloads.size(), 2);
    EXPECT_EQ(kept.downloads[0].key, QStringLiteral("http://a/1"));
    EXPECT_EQ(kept.downloads[0].status, ItemStatus::Finished);
    EXPECT_EQ(kept.downloads[0].reason, QStringLiteral("连接超时"));
    ASSERT_EQ(kept.records.size(), 1);
    EXPECT_EQ(kept.records[0].status, QStringLiteral("成功"));
}

// Left to its own timer, the keeper writes without being asked; progress ticks between two
// flushes leave only their latest values.
TEST_F(ListStoreTest, TheKeeperFlushesOnItsOwnTimer) {
    ListStore store;
    ASSERT_NE(store.open(path()).status, StoreOpen::Failed);
    DownloadListModel list;
    QueueKeeper keeper(store, 0);
    keeper.attachDownloads(&list);
    list.addItem(QStringLiteral("http://a/0"), QStringLiteral("N0"), QStringLiteral("pdf"),
                 QStringLiteral("/f/"), QString());
    list.startRow(0);
    for (int tick = 1; tick <= 5; ++tick) {
        list.setText(0, DownloadListModel::ColReceived, QString::number(tick * 1000));
    }
    list.flushProgressNotices();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const KeptQueue kept = store.load();
        return kept.downloads.size() == 1 && kept.downloads[0].received == QStringLiteral("5000") &&
               kept.downloads[0].status == ItemStatus::Downloading;
    }));
}

// A row that was downloading when the program ended waits again; only its own part file and
// its own placeholder go, a look-alike file stays byte for byte.
TEST_F(ListStoreTest, RestoringTurnsARunningRowBackToWaitingAndRemovesOnlyItsPartFile) {
    const QString folder = tmp.path() + QStringLiteral("/papers/");
    QDir().mkpath(folder);
    DownloadItem running = odd(2, ItemStatus::Downloading);
    running.folder = folder;
    running.name = QStringLiteral("Paper");
    running.createdFile = true;
    const QString target = ItemFilePath(folder, running.name, running.type);
    ASSERT_TRUE(WriteFile(target, QByteArray("\x01\x00", 2)));
    // Written by a process that has ended: one number above the system's highest.
    const QString pid = QString::number(
        ReadFile(QStringLiteral("/proc/sys/kernel/pid_max")).trimmed().toLongLong() + 1);
    const QString part = target + QStringLiteral(".%1-1").arg(pid) + QLatin1String(kPartSuffix);
    ASSERT_TRUE(WriteFile(part, "half a body"));
    const QString decoy =
        folder + QStringLiteral("Paper2.pdf.%1-1").arg(pid) + QLatin1String(kPartSuffix);
    const QString users = folder + QStringLiteral("Paper.pdf.notes");
    ASSERT_TRUE(WriteFile(decoy, "another row's body"));
    ASSERT_TRUE(WriteFile(users, "the user's notes"));
    const QByteArray decoyHash = sha(decoy);
    const QByteArray usersHash = sha(users);
    DownloadItem finished = odd(3, ItemStatus::Finished);

    KeptQueue kept;
    kept.downloads = {running, finished};
    kept.records = {{QStringLiteral("T"),
                     QStringLiteral("http://a/r"),
                     QStringLiteral("pdf"),
                     QString(),
                     QString(),
                     QString(),
                     {}}};
    DownloadListModel list;
    AnalysisListModel records;
    QAbstractItemModelTester tester(&list);
    QAbstractItemModelTester recordsTester(&records);
    EXPECT_EQ(RestoreKeptQueue(kept, &list, &records), 3);
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.item(0).status, ItemStatus::Waiting);
    EXPECT_TRUE(list.item(0).percent.isEmpty());
    EXPECT_FALSE(list.item(0).createdFile);
    EXPECT_TRUE(same(list.item(1), finished));
    EXPECT_FALSE(QFileInfo::exists(part));
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(sha(decoy), decoyHash);
    EXPECT_EQ(sha(users), usersHash);
    EXPECT_EQ(records.count(), 1);
}

// The file at a running row's target goes only when it is still the two-byte placeholder, which
// a row of the ended run made whatever its kept flag says; anything else there is someone's file.
TEST_F(ListStoreTest, RestoringRemovesAPlaceholderOnlyWhenItIsUnchanged) {
    struct Case {
        const char* what;
        bool createdFile;
        QByteArray bytes;
        bool removed;
    };
    const Case cases[] = {
        {"its own placeholder", true, QByteArray("\x01\x00", 2), true},
        {"a placeholder another row made", false, QByteArray("\x01\x00", 2), true},
        {"two other bytes", true, QByteArray("ok"), false},
        {"a finished body", true, QByteArray("%PDF-1.7 a whole body"), false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = tmp.path() + QStringLiteral("/p%1/").arg(++n);
        QDir().mkpath(folder);
        DownloadItem item = odd(n, ItemStatus::Downloading);
        item.folder = folder;
        item.name = QStringLiteral("论文");
        item.createdFile = c.createdFile;
        const QString target = ItemFilePath(folder, item.name, item.type);
        ASSERT_TRUE(WriteFile(target, c.bytes));
        const QByteArray before = sha(target);
        DownloadListModel list;
        KeptQueue kept;
        kept.downloads = {item};
        ASSERT_EQ(RestoreKeptQueue(kept, &list, nullptr), 1);
        EXPECT_EQ(!QFileInfo::exists(target), c.removed);
        if (!c.removed) {
            EXPECT_EQ(sha(target), before);
        }
        EXPECT_EQ(list.item(0).status, ItemStatus::Waiting);
        EXPECT_TRUE(list.item(0).received.isEmpty());
    }
}

// A queue that cannot be read for now is no damage: a read-only file, or one another program
// holds locked, stays where it is byte for byte, the failure says why, and the file opens with
// every row once the cause has gone.
TEST_F(ListStoreTest, AQueueBlockedForNowStaysWhereItIs) {
    struct Case {
        const char* what;
        /// Blocks the store at the path; what it returns lifts the block when it goes.
        std::function<std::shared_ptr<void>(const QString& path)> block;
    };
    const Case cases[] = {
        {"read-only for its user",
         [this](const QString& p) -> std::shared_ptr<void> {
             struct ReadOnly {
                 std::unique_ptr<AsUnprivileged> user;
                 QString path;
                 ~ReadOnly() {
                     user.reset();
                     QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
                 }
             };
             auto block = std::make_shared<ReadOnly>();
             block->path = p;
             block->user =
                 std::make_unique<AsUnprivileged>(QStringList{tmp.path(), QFileInfo(p).path(), p});
             QFile::setPermissions(p, QFile::ReadOwner);
             return block;
         }},
        {"locked by another program",
         [](const QString& p) -> std::shared_ptr<void> {
             auto holder = std::make_shared<Peek>(p);
             holder->exec(QStringLiteral("BEGIN EXCLUSIVE"));
             holder->exec(QStringLiteral("DELETE FROM downloads"));
             return holder;
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString p = tmp.path() + QStringLiteral("/b%1/queue.sqlite").arg(++n);
        keepRows(p, 30);
        const QByteArray before = sha(p);
        {
            std::shared_ptr<void> blocked = c.block(p);
            ListStore store;
            const StoreOpenResult result = store.open(p);
            EXPECT_EQ(result.status, StoreOpen::Failed);
            EXPECT_TRUE(result.movedTo.isEmpty()) << result.movedTo.toStdString();
            EXPECT_FALSE(result.error.isEmpty());
            EXPECT_FALSE(store.isOpen());
        }
        EXPECT_EQ(sha(p), before);
        EXPECT_EQ(movedAside(p), QStringList());
        ListStore store;
        EXPECT_EQ(store.open(p).status, StoreOpen::Opened);
        EXPECT_EQ(store.load().downloads.size(), 30);
    }
}

// A full disk is no damage either: the queue stays where it is until space is freed, then opens
// with every row. A damaged file is moved aside even then, and the result says where to although
// no fresh store can be made.
TEST_F(ListStoreTest, AFullDiskLeavesTheQueueWhereItIsUntilSpaceIsFreed) {
    SmallDisk disk(tmp.path() + QStringLiteral("/disk"), 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << "no file system can be mounted here; AQueueBlockedForNowStaysWhereItIs "
                        "stands in with a read-only and a locked file";
    }
    const QString intact = disk.path() + QStringLiteral("/a/queue.sqlite");
    const QString damaged = disk.path() + QStringLiteral("/b/queue.sqlite");
    const QByteArray garbage(5000, '\x7f');
    keepRows(intact, 40);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(damaged).path()));
    ASSERT_TRUE(WriteFile(damaged, garbage));
    const QByteArray before = sha(intact);
    ASSERT_TRUE(disk.fill());
    {
        ListStore store;
        const StoreOpenResult result = store.open(intact);
        EXPECT_EQ(result.status, StoreOpen::Failed);
        EXPECT_TRUE(result.movedTo.isEmpty()) << result.movedTo.toStdString();
        EXPECT_FALSE(result.error.isEmpty());
    }
    EXPECT_EQ(sha(intact), before);
    EXPECT_EQ(movedAside(intact), QStringList());
    {
        ListStore store;
        const StoreOpenResult result = store.open(damaged);
        EXPECT_EQ(result.status, StoreOpen::Failed);
        ASSERT_FALSE(result.movedTo.isEmpty());
        EXPECT_EQ(ReadFile(result.movedTo), garbage);
    }
    disk.free();
    ListStore store;
    ASSERT_EQ(store.open(intact).status, StoreOpen::Opened);
    EXPECT_EQ(store.load().downloads.size(), 40);
}

// A write of the kept queue that fails stays pending, and the next attempt leaves the table as
// if every write had gone in: a row the user removed never comes back and none is lost, also
// when the failed write was a whole rewrite followed by changes of single rows. The user is
// told once that the list is not being kept.
TEST_F(ListStoreTest, AFailedWriteStaysPendingAndGoesInWhole) {
    using Step = std::function<void(DownloadListModel&)>;
    struct Case {
        const char* what;
        std::vector<Step> steps; ///< each written (and failing) on its own
    };
    const Case cases[] = {
        {"rows changed, removed and added",
         {[](DownloadListModel& l) { l.setStatus(1, ItemStatus::Finished); },
          [](DownloadListModel& l) { l.removeRowsWhere([](int row) { return row == 0; }); },
          [](DownloadListModel& l) { addRows(l, 10, 11); },
          [](DownloadListModel& l) { l.setReason(2, QStringLiteral("连接超时")); }}},
        {"emptied, then new rows",
         {[](DownloadListModel& l) { l.clear(); }, [](DownloadListModel& l) { addRows(l, 20, 22); },
          [](DownloadListModel& l) { l.setStatus(1, ItemStatus::Failed); }}},
        {"reordered, then one row changed",
         {[](DownloadListModel& l) {
              l.reorder({4, 3, 2, 1, 0});
          },
          [](DownloadListModel& l) { l.setStatus(4, ItemStatus::Finished); }}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString p = tmp.path() + QStringLiteral("/w%1/queue.sqlite").arg(++n);
        RecordingMessageBoxes boxes;
        ListStore store;
        ASSERT_NE(store.open(p).status, StoreOpen::Failed);
        DownloadListModel list;
        QueueKeeper keeper(store, 60'000);
        SetActiveQueueKeeper(&keeper);
        keeper.attachDownloads(&list);
        addRows(list, 0, 5);
        keeper.flushAndWait();
        ASSERT_EQ(store.load().downloads.size(), 5);
        FailingWrites failing(p);
        for (const Step& step : c.steps) {
            step(list);
            keeper.flushAndWait();
            QCoreApplication::processEvents();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.isEmpty(); }));
        failing.lift();
        keeper.flushAndWait();
        QCoreApplication::processEvents();
        EXPECT_TRUE(sameRows(store.load().downloads, list));
        ASSERT_EQ(boxes.shown.size(), 1) << boxes.texts().join(u'|').toStdString();
        EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("下载列表暂时无法保存：")))
            << boxes.shown[0].text.toStdString();
        EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Warning);
        SetActiveQueueKeeper(nullptr);
    }
}

// Nobody needs to change the list again: once the cause has gone, the keeper's own retry writes
// what is pending.
TEST_F(ListStoreTest, AFailedWriteIsRetriedWithoutAnotherChange) {
    RecordingMessageBoxes boxes;
    ListStore store;
    ASSERT_NE(store.open(path()).status, StoreOpen::Failed);
    DownloadListModel list;
    QueueKeeper keeper(store, 0);
    SetActiveQueueKeeper(&keeper);
    keeper.attachDownloads(&list);
    {
        FailingWrites failing(path());
        addRows(list, 0, 3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.isEmpty(); }));
        EXPECT_TRUE(store.load().downloads.isEmpty());
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return store.load().downloads.size() == 3; }));
    EXPECT_TRUE(sameRows(store.load().downloads, list));
    EXPECT_EQ(boxes.shown.size(), 1);
    SetActiveQueueKeeper(nullptr);
}

} // namespace
