// The parallel downloads read on a thread of their own: what the browser's login left in the
// program's cookies must reach them, also after the thread is running, and what they hear
// back must reach the list on the window thread.

#include "core/download/ParallelDownloads.h"
#include "platform/Network.h"
#include "platform/WebBrowser.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

Route loginPage(const char* session) {
    return Serve(QByteArray("<html><body><script>document.cookie = 'ebsco_session=") + session +
                     "; path=/';</script>signed in</body></html>",
                 "text/html");
}

class NetworkThread : public ::testing::Test {
protected:
    void SetUp() override {
        timeouts.asyncStallMs = 5000;
        timeouts.stallCheckMs = 50;
        options.method = 2;
    }
    /// Downloads `path` on thread 1 into a new row and waits until the thread lets it go.
    bool download(const QByteArray& path, const QString& name) {
        list.addItem(server.url(QString::fromLatin1(path)), name, QStringLiteral("pdf"), tmp.path(),
                     QString());
        const int position = list.count();
        state.ThreadItemIndex[1] = position;
        threads.多线程下载(1, position, server.url(QString::fromLatin1(path)),
                           tmp.path() + QLatin1Char('/') + name + QStringLiteral(".pdf"));
        return QTest::qWaitFor([&] { return !threads.IsControlLoaded(1); }, 10000);
    }
    QByteArray lastCookieHeader() const { return server.requests().last().headers.value("cookie"); }

    QTemporaryDir tmp;
    TestHttpServer server;
    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    DownloadTimeouts timeouts;
    ParallelDownloads threads{list, state, options, timeouts};
};

} // namespace

TEST_F(NetworkThread, ABrowserLoginReachesDownloadsStartedAfterIt) {
    const QByteArray pdf = QByteArray("%PDF-1.4\n") + QByteArray(20000, 'p');
    Route paper = Serve(pdf, "application/pdf");
    // What a download hears back is the program's too: the next fetch of the window carries it.
    paper.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("seen=yes; Path=/")));
    server.route("/paper", paper);
    server.route("/login", loginPage("first"));
    server.route("/again", loginPage("second"));
    const QUrl site(server.url(QStringLiteral("/")));
    const auto sessionIs = [&](const QByteArray& value) {
        for (const QNetworkCookie& c : ProgramCookies().cookiesForUrl(site)) {
            if (c.name() == "ebsco_session" && c.value() == value) {
                return true;
            }
        }
        return false;
    };

    // Before any login: the thread starts, and sends no session.
    ASSERT_TRUE(download("/paper", QStringLiteral("Before")));
    EXPECT_FALSE(lastCookieHeader().contains("ebsco_session"));

    WebBrowser browser;
    QSignalSpy done(&browser, &WebBrowser::DocumentComplete);
    browser.Navigate(server.url(QStringLiteral("/login")));
    ASSERT_TRUE(done.wait(20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sessionIs("first"); }, 5000));
    ASSERT_TRUE(download("/paper", QStringLiteral("AfterLogin")));
    EXPECT_TRUE(lastCookieHeader().contains("ebsco_session=first")) << lastCookieHeader().data();
    EXPECT_TRUE(lastCookieHeader().contains("seen=yes")) << lastCookieHeader().data();

    // A new login while the thread runs replaces the session it sends.
    browser.Navigate(server.url(QStringLiteral("/again")));
    ASSERT_TRUE(done.wait(20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sessionIs("second"); }, 5000));
    ASSERT_TRUE(download("/paper", QStringLiteral("AfterSecondLogin")));
    EXPECT_TRUE(lastCookieHeader().contains("ebsco_session=second")) << lastCookieHeader().data();
    EXPECT_FALSE(lastCookieHeader().contains("ebsco_session=first"));

    for (int row = 0; row < list.count(); ++row) {
        EXPECT_EQ(list.item(row).status, ItemStatus::Finished) << row;
        EXPECT_EQ(FileSha256(tmp.path() + QLatin1Char('/') + list.item(row).name +
                             QStringLiteral(".pdf")),
                  Sha256(pdf));
    }
}

// Six slow bodies at once: every change of the list happens on the window thread, progress
// shows while they arrive, and each file is whole.
TEST_F(NetworkThread, SixBodiesReportToTheListOnTheWindowThread) {
    QThread* const window = QThread::currentThread();
    bool offThread = false;
    int progressChanges = 0;
    const QMetaObject::Connection watch = QObject::connect(
        &list, &QAbstractItemModel::dataChanged, &list,
        [&] {
            offThread = offThread || QThread::currentThread() != window;
            ++progressChanges;
        },
        Qt::DirectConnection);
    std::vector<QByteArray> bodies;
    for (int k = 1; k <= ParallelDownloads::kMaxThreads; ++k) {
        QByteArray bytes =
            QByteArray("%PDF-1.4\n") + QByteArray(300 * 1024, static_cast<char>('a' + k));
        Route drip = Serve(bytes, "application/pdf");
        drip.dripBytes = 32 * 1024;
        drip.dripIntervalMs = 15;
        const QByteArray path = "/slow" + QByteArray::number(k);
        server.route(path, drip);
        bodies.push_back(bytes);
        list.addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Slow%1").arg(k),
                     QStringLiteral("pdf"), tmp.path(), QString());
        state.ThreadItemIndex[static_cast<std::size_t>(k)] = k;
        threads.多线程下载(k, k, server.url(QString::fromLatin1(path)),
                           tmp.path() + QStringLiteral("/Slow%1.pdf").arg(k));
    }
    EXPECT_EQ(threads.统计下载控件数目(), ParallelDownloads::kMaxThreads + 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return threads.统计下载控件数目() == 1; }, 20000));
    QObject::disconnect(watch);
    EXPECT_FALSE(offThread);
    EXPECT_GT(progressChanges, 0);
    for (int k = 1; k <= ParallelDownloads::kMaxThreads; ++k) {
        EXPECT_EQ(list.item(k - 1).status, ItemStatus::Finished) << k;
        EXPECT_EQ(list.item(k - 1).percent, QStringLiteral("100%")) << k;
        EXPECT_EQ(FileSha256(tmp.path() + QStringLiteral("/Slow%1.pdf").arg(k)),
                  Sha256(bodies[static_cast<std::size_t>(k - 1)]));
    }
}

// Stopping while bodies arrive: nothing more reaches the list, and neither placeholders nor
// part files stay behind, also when the downloads object goes at once.
TEST_F(NetworkThread, StoppingMidBodyLeavesNothingAndHearsNothing) {
    Route drip = Serve(QByteArray("%PDF-1.4\n") + QByteArray(400 * 1024, 's'), "application/pdf");
    drip.dripBytes = 16 * 1024;
    drip.dripIntervalMs = 20;
    for (const char* path : {"/drip1", "/drip2", "/drip3"}) {
        server.route(path, drip); // one address per row: the list keeps no address twice
    }
    QTemporaryDir dir;
    DownloadListModel rows;
    DownloadWindowState rowState;
    ASSERT_TRUE(QDir(dir.path()).isEmpty());
    {
        ParallelDownloads own(rows, rowState, options, timeouts);
        for (int k = 1; k <= 3; ++k) {
            rows.addItem(server.url(QStringLiteral("/drip%1").arg(k)),
                         QStringLiteral("Drip%1").arg(k), QStringLiteral("pdf"), dir.path(),
                         QString());
            rowState.ThreadItemIndex[static_cast<std::size_t>(k)] = k;
            own.多线程下载(k, k, server.url(QStringLiteral("/drip%1").arg(k)),
                           dir.path() + QStringLiteral("/Drip%1.pdf").arg(k));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !rows.item(0).received.isEmpty(); }, 5000));
        own.UnloadAll();
        for (int k = 1; k <= 3; ++k) {
            EXPECT_FALSE(rows.item(k - 1).createdFile) << k;
            EXPECT_FALSE(QFile::exists(dir.path() + QStringLiteral("/Drip%1.pdf").arg(k))) << k;
        }
        const QStringList texts{rows.item(0).received, rows.item(1).received,
                                rows.item(2).received};
        QTest::qWait(300);
        EXPECT_EQ(
            (QStringList{rows.item(0).received, rows.item(1).received, rows.item(2).received}),
            texts);
        // A second round, ended by the object going instead of a stop.
        for (int k = 1; k <= 3; ++k) {
            own.多线程下载(k, k, server.url(QStringLiteral("/drip%1").arg(k)),
                           dir.path() + QStringLiteral("/Drip%1.pdf").arg(k));
        }
        QTest::qWait(100);
    }
    QTest::qWait(200); // the writers' threads discard their part files
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(u' ').toStdString();
}
