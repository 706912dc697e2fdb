// The start of a run's kept queue through the program's own pieces: what the user is told about
// the file, and the kept analysis records coming back in the first search window, whichever
// window opens it.

#include "core/store/ListStore.h"
#include "core/store/QueueKeeper.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/QueueKeeping.h"
#include "ui/shell/WindowLinks.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include "core/settings/AppValues.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

AnalysisRecord record(int n) {
    return {QStringLiteral("标题 %1").arg(n),
            QStringLiteral("http://a/r%1").arg(n),
            QStringLiteral("pdf"),
            QString(),
            QStringLiteral("/f/"),
            QStringLiteral("http://a/page"),
            {}};
}

void keep(const QString& path, int downloads, int records) {
    ListStore store;
    ASSERT_NE(store.open(path).status, StoreOpen::Failed);
    QList<QPair<int, DownloadItem>> items;
    for (int i = 0; i < downloads; ++i) {
        DownloadItem item;
        item.key = QStringLiteral("http://a/%1.pdf").arg(i);
        item.name = QStringLiteral("N%1").arg(i);
        item.type = QStringLiteral("pdf");
        items.append({i, item});
    }
    QList<QPair<int, AnalysisRecord>> kept;
    for (int i = 0; i < records; ++i) {
        kept.append({i, record(i)});
    }
    ASSERT_TRUE(store.writeDownloads(items, true, downloads));
    ASSERT_TRUE(store.writeRecords(kept, true, records));
}

QByteArray sha(const QString& path) {
    return QCryptographicHash::hash(ReadFile(path), QCryptographicHash::Sha256);
}

// Whatever became of the kept file, the user is told, with where the file is; a file that
// cannot be read for now stays for the next run, and nothing is written to it in this one.
TEST(KeptQueueStart, TheUserIsToldWhatBecameOfTheKeptFile) {
    QTemporaryDir tmp;
    RecordingMessageBoxes boxes;
    {
        SCOPED_TRACE("damaged");
        const QString path = tmp.path() + QStringLiteral("/damaged/queue.sqlite");
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ASSERT_TRUE(WriteFile(path, QByteArray(5000, '\x7f')));
        ListStore store;
        const KeptQueue kept = OpenKeptQueue(store, path);
        EXPECT_TRUE(kept.downloads.isEmpty());
        ASSERT_EQ(boxes.shown.size(), 1);
        const QStringList aside =
            QDir(QFileInfo(path).path()).entryList({QStringLiteral("queue.sqlite.damaged-*")});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(boxes.shown[0].text.contains(aside[0])) << boxes.shown[0].text.toStdString();
        EXPECT_TRUE(store.isOpen());
    }
    boxes.shown.clear();
    {
        SCOPED_TRACE("read-only for now");
        const QString path = tmp.path() + QStringLiteral("/blocked/queue.sqlite");
        keep(path, 3, 2);
        const QByteArray before = sha(path);
        {
            AsUnprivileged user({tmp.path(), QFileInfo(path).path(), path});
            QFile::setPermissions(path, QFile::ReadOwner);
            ListStore store;
            const KeptQueue kept = OpenKeptQueue(store, path);
            EXPECT_TRUE(kept.downloads.isEmpty());
            ASSERT_EQ(boxes.shown.size(), 1);
            EXPECT_TRUE(
                boxes.shown[0].text.startsWith(QStringLiteral("保存的下载列表暂时无法读取：")))
                << boxes.shown[0].text.toStdString();
            EXPECT_TRUE(boxes.shown[0].text.contains(path)) << boxes.shown[0].text.toStdString();
            // The run goes on without keeping its lists.
            DownloadListModel list;
            QueueKeeper keeper(store, 0);
            keeper.attachDownloads(&list);
            list.addItem(QStringLiteral("http://a/x"), QStringLiteral("X"), QStringLiteral("pdf"),
                         QStringLiteral("/f/"), QString());
            keeper.flushAndWait();
        }
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_EQ(sha(path), before);
        EXPECT_EQ(QDir(QFileInfo(path).path()).entryList({QStringLiteral("queue.sqlite.*")}),
                  QStringList());
        boxes.shown.clear();
        ListStore store;
        const KeptQueue kept = OpenKeptQueue(store, path);
        EXPECT_EQ(kept.downloads.size(), 3);
        EXPECT_EQ(kept.records.size(), 2);
        EXPECT_TRUE(boxes.shown.isEmpty());
    }
}

// After a restart the download window is the one shown; the user opens the search window from
// its menu, and the kept records are there, so that the first new record joins them.
TEST(KeptQueueStart, KeptRecordsComeBackWhenTheDownloadWindowOpensTheSearchWindow) {
    RecordingMessageBoxes boxes;
    TestHttpServer site;
    site.route("/", Serve("<html><body>检索</body></html>", "text/html; charset=utf-8"));
    qputenv("QUILLAX_SEARCH_HOME", site.url(QStringLiteral("/")).toUtf8());
    QTemporaryDir tmp;
    const AppValues saved = Values();
    Values().SaveFolder = tmp.path() + QLatin1Char('/');
    const QString path = tmp.path() + QStringLiteral("/queue.sqlite");
    keep(path, 0, 2);

    ListStore store;
    const KeptQueue kept = OpenKeptQueue(store, path);
    ASSERT_EQ(kept.records.size(), 2);
    QueueKeeper keeper(store, 60'000);
    SetActiveQueueKeeper(&keeper);
    SetRecordsToRestore(kept.records);
    Links().openSearchWindow = [] { OpenSearchWindow(); };

    fFileDownload* downloads = EnsureDownloadWindow();
    downloads->show();
    QAction* open = nullptr;
    for (QAction* action : downloads->findChildren<QAction*>()) {
        if (action->text() == QStringLiteral("资料检索分析窗口")) {
            open = action;
        }
    }
    ASSERT_NE(open, nullptr);
    open->trigger();
    fWebSearch* search = LoadedSearchWindow();
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->list().count(), 2);
    search->list().加入LV1(QStringLiteral("新的"), QStringLiteral("http://a/new"),
                           QStringLiteral("http://a/page"), QStringLiteral("pdf"),
                           QStringLiteral("/f/"));
    keeper.flushAndWait();
    const QList<AnalysisRecord> records = store.load().records;
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0].title, kept.records[0].title);
    EXPECT_EQ(records[1].title, kept.records[1].title);
    EXPECT_EQ(records[2].title, QStringLiteral("新的"));

    boxes.answer = MsgResult::Yes;
    search->close();
    downloads->close();
    QTest::qWait(20);
    Links().openSearchWindow = nullptr;
    SetActiveQueueKeeper(nullptr);
    Values() = saved;
    qunsetenv("QUILLAX_SEARCH_HOME");
}

} // namespace
