#include "core/download/InetEngine.h"
#include "core/download/ParallelDownloads.h"

#include "platform/Network.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;
using Col = DownloadListModel::Column;

namespace {

const QByteArray kPdf = "%PDF-1.4\n" + QByteArray(5000, 'p') + "\n%%EOF";
const QByteArray kLoginPage =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><title>Sign in</title></head>"
    "<body><form id=\"login\"><input name=\"user\"></form></body></html>";

} // namespace

class InetEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        timeouts.headerWaitMs = 1500;
        timeouts.stallMs = 1200;
        timeouts.fallbackWaitMs = 5000;
        folder = tmp.path() + QStringLiteral("/papers/");
    }

    int add(const QByteArray& path, const QString& name = QStringLiteral("Title"),
            const QString& referrer = QString()) {
        list.addItem(server.url(QString::fromLatin1(path)), name, QStringLiteral("pdf"), folder,
                     referrer);
        return list.count() - 1;
    }
    bool run(int row) { return engine.Inet下载当前文件(row); }
    const DownloadItem& item(int row) const { return list.item(row); }
    QString file(const QString& name) const { return folder + name; }
    QStringList files() const {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir tmp;
    QString folder;
    TestHttpServer server;
    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    DownloadTimeouts timeouts;
    InetEngine engine{list, state, options, timeouts};
    RecordingMessageBoxes boxes;
};

TEST_F(InetEngineTest, StoresAFileWithAndWithoutLength) {
    server.route("/a.pdf", Serve(kPdf, "application/pdf"));
    Route noLength = Serve(kPdf, "application/pdf");
    noLength.sendLength = false;
    server.route("/b.pdf", noLength);
    const int a = add("/a.pdf", QStringLiteral("A"));
    const int b = add("/b.pdf", QStringLiteral("B"));

    EXPECT_TRUE(run(a));
    EXPECT_TRUE(run(b));
    const QString size = QString::number(kPdf.size());
    for (int row : {a, b}) {
        EXPECT_EQ(item(row).status, ItemStatus::Finished);
        EXPECT_EQ(item(row).size, size);
        EXPECT_EQ(item(row).received, size);
        EXPECT_EQ(item(row).percent, QStringLiteral("100%"));
        EXPECT_EQ(item(row).type, QStringLiteral("pdf"));
        EXPECT_EQ(item(row).folder, folder);
    }
    EXPECT_EQ(ReadFile(file(QStringLiteral("A.pdf"))), kPdf);
    EXPECT_EQ(ReadFile(file(QStringLiteral("B.pdf"))), kPdf);
    EXPECT_FALSE(state.IsDownloading);
    // No whole-file fetch (it would come without a Referer).
    for (const ReceivedRequest& r : server.requests()) {
        EXPECT_TRUE(r.headers.contains("referer")) << r.path.toStdString();
    }
}

TEST_F(InetEngineTest, SendsTheReferrerOrTheSiteRoot) {
    server.route("/a.pdf", Serve(kPdf, "application/pdf"));
    server.route("/b.pdf", Serve(kPdf, "application/pdf"));
    run(add("/a.pdf", QStringLiteral("A"), QStringLiteral("https://search.example/record/1")));
    run(add("/b.pdf", QStringLiteral("B")));
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[0].headers.value("referer"), "https://search.example/record/1");
    EXPECT_EQ(server.requests()[1].headers.value("referer"),
              QStringLiteral("http://127.0.0.1:%1").arg(server.port()).toUtf8());
}

TEST_F(InetEngineTest, TypesComeFromTheHeadersAndThenFromTheContent) {
    Route charset = Serve(kLoginPage, "text/javascript; charset=utf-8");
    Route disposition = Serve("binary data here", "application/octet-stream");
    disposition.headers.append(qMakePair(QByteArray("Content-Disposition"),
                                         QByteArray("attachment; filename=\"paper.caj\"")));
    Route login = Serve(kLoginPage, "text/html");
    server.route("/charset", charset);
    server.route("/disp", disposition);
    server.route("/login", login);
    const int c = add("/charset", QStringLiteral("C"));
    const int d = add("/disp", QStringLiteral("D"));
    const int l = add("/login", QStringLiteral("L"));
    for (int row : {c, d, l}) {
        EXPECT_TRUE(run(row));
    }
    EXPECT_EQ(item(c).type, QStringLiteral("htm"));
    EXPECT_EQ(item(d).type, QStringLiteral("caj"));
    // text/html names it .html; the content says htm, so the file is renamed.
    EXPECT_EQ(item(l).type, QStringLiteral("htm"));
    EXPECT_EQ(files(), (QStringList{QStringLiteral("C.htm"), QStringLiteral("D.caj"),
                                    QStringLiteral("L.htm")}));
}

TEST_F(InetEngineTest, WithoutLengthOrSuccessTheBodyIsFetchedAgainWhole) {
    Route notFound = Serve(kLoginPage, "text/html");
    notFound.status = 203;
    notFound.reason = "Non-Authoritative Information";
    notFound.sendLength = false;
    server.route("/gone", notFound);
    const int row = add("/gone");
    EXPECT_TRUE(run(row));
    // The whole-file fetch is a second request, without a Referer. (Qt may repeat a GET on a
    // connection it found closed, so the count is a lower bound.)
    EXPECT_GE(server.requestCount("/gone"), 2);
    EXPECT_FALSE(server.requests().last().headers.contains("referer"));
    EXPECT_EQ(item(row).status, ItemStatus::Finished);
    EXPECT_EQ(item(row).percent, QStringLiteral("100%"));
    EXPECT_EQ(item(row).type, QStringLiteral("htm"));
    EXPECT_EQ(ReadFile(file(QStringLiteral("Title.htm"))), kLoginPage);
}

TEST_F(InetEngineTest, LoginPagesAreStoredAndRecognisedAndErrorPagesFail) {
    // A login page may come with 401 or 403: stored, and recognised as a web page.
    for (int code : {401, 403}) {
        Route page = Serve(kLoginPage, "text/html");
        page.status = code;
        page.reason = "Error";
        const QByteArray path = "/e" + QByteArray::number(code);
        server.route(path, page);
        const int row = add(path, QString::number(code));
        EXPECT_TRUE(run(row));
        EXPECT_EQ(item(row).status, ItemStatus::Finished);
        EXPECT_EQ(item(row).type, QStringLiteral("htm"));
    }
    // "Not there" or a failed server: the page is not the file, with or without a length. (A
    // 503 asks for a pause instead; the politeness tests cover it.)
    for (int code : {404, 410, 500}) {
        for (bool length : {true, false}) {
            Route page = Serve("<html>error</html>", "text/html");
            page.status = code;
            page.reason = "Error";
            page.sendLength = length;
            const QByteArray path = "/f" + QByteArray::number(code) + (length ? "l" : "n");
            server.route(path, page);
            const QString name = QString::fromLatin1(path.mid(1));
            const int row = add(path, name);
            EXPECT_FALSE(run(row)) << code;
            EXPECT_EQ(item(row).status, ItemStatus::Failed) << code;
            EXPECT_EQ(item(row).size, QStringLiteral("下载失败")) << code;
            EXPECT_TRUE(
                QDir(folder).entryList({name + QStringLiteral(".*")}, QDir::Files).isEmpty())
                << code;
        }
    }
}

// Method 2 meets the same answers: the row fails and says the status, and neither the error
// page nor the two-byte placeholder is left in the folder, with or without a length.
TEST_F(InetEngineTest, ErrorPagesFailUnderMethodTwoAndLeaveNothing) {
    struct Case {
        int code;
        const char* reason;
    };
    const Case cases[] = {{404, "服务器返回404"}, {410, "服务器返回410"}, {500, "服务器返回500"}};
    ASSERT_TRUE(QDir().mkpath(folder));
    ParallelDownloads threads(list, state, options, timeouts);
    for (const Case& c : cases) {
        for (bool length : {true, false}) {
            SCOPED_TRACE(std::to_string(c.code) + (length ? " with length" : " without length"));
            Route page = Serve("<html><body>error page</body></html>", "text/html");
            page.status = c.code;
            page.reason = "Error";
            page.sendLength = length;
            const QByteArray path = "/m" + QByteArray::number(c.code) + (length ? "l" : "n");
            server.route(path, page);
            const int row = add(path, QString::fromLatin1(path.mid(1)));
            state.ThreadItemIndex[1] = row + 1;
            threads.多线程下载(1, row + 1, server.url(QString::fromLatin1(path)),
                               file(item(row).name + QStringLiteral(".pdf")));
            ASSERT_TRUE(QTest::qWaitFor([&] { return !threads.IsControlLoaded(1); }, 8000));
            EXPECT_EQ(item(row).status, ItemStatus::Failed);
            EXPECT_EQ(item(row).reason, QString::fromUtf8(c.reason));
            EXPECT_EQ(item(row).size, QStringLiteral("下载失败"));
            EXPECT_NE(item(row).percent, QStringLiteral("100%"));
            EXPECT_FALSE(item(row).createdFile);
            // The writer thread removes a discarded part file soon after the row has ended.
            EXPECT_TRUE(QTest::qWaitFor([&] { return files().isEmpty(); }, 3000))
                << files().join(QLatin1Char(',')).toStdString();
        }
    }
}

TEST_F(InetEngineTest, TheSizeLimitCountsExactBytes) {
    options.maxFileSizeMB = 10;
    const qint64 limit = 10 * 1024 * 1024;
    Route exact;
    exact.generatedBytes = limit;
    exact.headers = {{"Content-Type", "application/pdf"}};
    Route over = exact;
    over.generatedBytes = limit + 1;
    server.route("/exact", exact);
    server.route("/over", over);
    const int e = add("/exact", QStringLiteral("E"));
    const int o = add("/over", QStringLiteral("O"));

    EXPECT_TRUE(run(e));
    EXPECT_EQ(item(e).status, ItemStatus::Finished);
    EXPECT_EQ(item(e).percent, QStringLiteral("100%"));
    EXPECT_EQ(QFileInfo(file(QStringLiteral("E.pdf"))).size(), limit);

    EXPECT_TRUE(run(o));
    EXPECT_EQ(item(o).status, ItemStatus::Finished);
    EXPECT_EQ(item(o).percent, QStringLiteral("大文件，跳过"));
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("O.pdf")))); // refused before any file
}

// A cut body under the article's title would pass for the paper: nothing of it is kept.
TEST_F(InetEngineTest, AFileWithoutLengthStopsAtTheSizeLimitAndKeepsNothing) {
    options.maxFileSizeMB = 0.5;
    Route big;
    big.generatedBytes = 2 * 1024 * 1024;
    big.sendLength = false;
    server.route("/big", big);
    const int row = add("/big");
    EXPECT_TRUE(run(row));
    EXPECT_EQ(item(row).status, ItemStatus::Finished);
    EXPECT_EQ(item(row).percent, QStringLiteral("大文件，跳过"));
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("Title.pdf"))));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(InetEngineTest, BrokenTransfersFailAndLeaveNoFile) {
    struct Case {
        const char* what;
        Route route;
        const char* sizeText;
    };
    Route stallHeaders = Serve(kPdf, "application/pdf");
    stallHeaders.delayHeadersMs = -1;
    Route stallBody = Serve(kPdf, "application/pdf");
    stallBody.stallAfterBytes = 1000;
    Route closed = Serve(kPdf, "application/pdf");
    closed.closeAfterBytes = 1000;
    Route reset = closed;
    reset.resetOnClose = true;
    const Case cases[] = {
        {"no response at all", stallHeaders, ""},
        {"a stall half-way", stallBody, "下载失败"},
        {"closed before the announced length", closed, "下载失败"},
        {"reset before the announced length", reset, "下载失败"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QByteArray path = "/broken" + QByteArray::number(n);
        server.route(path, c.route);
        const int row = add(path, QStringLiteral("B%1").arg(n++));
        EXPECT_FALSE(run(row)) << c.what;
        EXPECT_EQ(item(row).status, ItemStatus::Failed) << c.what;
        EXPECT_EQ(item(row).size, QString::fromUtf8(c.sizeText)) << c.what;
    }
    EXPECT_TRUE(files().isEmpty()) << files().join(QLatin1Char(',')).toStdString();
}

TEST_F(InetEngineTest, MalformedResponsesEndInAStateThatMatchesTheFile) {
    struct Case {
        const char* what;
        QByteArray raw;
        ItemStatus status;
        QByteArray stored; ///< expected file content when finished
    };
    const Case cases[] = {
        {"body longer than announced",
         "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Length: 8\r\n\r\n%PDF-1.4 "
         "and more",
         ItemStatus::Finished, "%PDF-1.4"},
        // A length that is no number counts as no length: the body runs to the end.
        {"malformed length",
         "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Length: abc\r\n\r\n%PDF-x",
         ItemStatus::Finished, "%PDF-x"},
        // Two different lengths: no way to tell which part of the body is the file.
        {"duplicated conflicting length",
         "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nContent-Length: 9\r\n\r\n%PDF-xyz1",
         ItemStatus::Failed, ""},
        // A chunk size that is no number breaks the body: nothing of it is kept.
        {"broken chunked body",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n%PDF\r\nZZ\r\nxx\r\n",
         ItemStatus::Failed, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        Route r;
        r.raw = c.raw;
        const QByteArray path = "/raw" + QByteArray::number(n);
        server.route(path, r);
        const QString name = QStringLiteral("R%1").arg(n++);
        const int row = add(path, name);
        run(row);
        EXPECT_EQ(item(row).status, c.status) << c.what;
        if (c.status == ItemStatus::Finished) {
            EXPECT_EQ(ReadFile(file(name + QStringLiteral(".pdf"))), c.stored) << c.what;
        } else {
            EXPECT_FALSE(QFile::exists(file(name + QStringLiteral(".pdf")))) << c.what;
        }
    }
}

TEST_F(InetEngineTest, RedirectsAreFollowedButNotLoopedOrDowngraded) {
    server.route("/final.pdf", Serve(kPdf, "application/pdf"));
    server.route("/moved", RedirectTo(server.url(QStringLiteral("/final.pdf"))));
    server.route("/loop", RedirectTo(server.url(QStringLiteral("/loop"))));
    const int moved = add("/moved", QStringLiteral("M"));
    const int loop = add("/loop", QStringLiteral("L"));
    EXPECT_TRUE(run(moved));
    EXPECT_EQ(item(moved).status, ItemStatus::Finished);
    EXPECT_EQ(ReadFile(file(QStringLiteral("M.pdf"))), kPdf);
    // The loop fails as no answer does: nothing received, and the row says why.
    EXPECT_FALSE(run(loop));
    EXPECT_EQ(item(loop).status, ItemStatus::Failed);
    EXPECT_EQ(QStringList({item(loop).size, item(loop).received, item(loop).percent}),
              QStringList({QString(), QString(), QString()}));
    EXPECT_EQ(item(loop).reason, QStringLiteral("网址重定向次数过多"));
    EXPECT_EQ(files(), QStringList{QStringLiteral("M.pdf")});
}

TEST_F(InetEngineTest, ASlowDripCompletes) {
    Route drip = Serve(kPdf, "application/pdf");
    drip.dripBytes = 700;
    drip.dripIntervalMs = 30;
    server.route("/drip", drip);
    const int row = add("/drip");
    EXPECT_TRUE(run(row));
    EXPECT_EQ(item(row).status, ItemStatus::Finished);
    EXPECT_EQ(ReadFile(file(QStringLiteral("Title.pdf"))), kPdf);
}

TEST_F(InetEngineTest, StopDeletesThePartialFileAndSaysCancelled) {
    Route drip = Serve(kPdf, "application/pdf");
    drip.dripBytes = 100;
    drip.dripIntervalMs = 50;
    server.route("/drip", drip);
    const int row = add("/drip");
    QTimer::singleShot(300, [this] { state.IsDownloading = false; });
    EXPECT_FALSE(run(row));
    EXPECT_EQ(item(row).status, ItemStatus::Failed);
    EXPECT_EQ(item(row).size, QStringLiteral("下载取消"));
    EXPECT_TRUE(files().isEmpty());
}

TEST_F(InetEngineTest, ABusyEngineSendsTheItemBackToWaiting) {
    server.route("/a.pdf", Serve(kPdf, "application/pdf"));
    const int row = add("/a.pdf");
    state.IsDownloading = true;
    EXPECT_FALSE(run(row));
    EXPECT_EQ(item(row).status, ItemStatus::Waiting);
    EXPECT_EQ(item(row).size, QStringLiteral("等待重新下载"));
    EXPECT_EQ(server.requests().size(), 0);
}

TEST_F(InetEngineTest, SameNamePoliciesNeverLoseAFileBySurprise) {
    server.route("/a", Serve(kPdf, "application/pdf"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteFile(file(QStringLiteral("Title.pdf")), "precious"));

    // Skip: the headers name a file that exists; it is kept and nothing is written.
    options.policy = DuplicateNamePolicy::Skip;
    list.addItem(server.url(QStringLiteral("/a")), QStringLiteral("Title"), QStringLiteral("dat"),
                 folder, QString());
    EXPECT_TRUE(run(0));
    EXPECT_EQ(item(0).status, ItemStatus::Finished);
    EXPECT_EQ(item(0).percent, QStringLiteral("已存在，跳过"));
    EXPECT_EQ(item(0).size, QStringLiteral("8"));
    EXPECT_EQ(ReadFile(file(QStringLiteral("Title.pdf"))), QByteArray("precious"));

    // Rename: a numbered name, the old file untouched.
    options.policy = DuplicateNamePolicy::Rename;
    list.addItem(server.url(QStringLiteral("/a")) + QStringLiteral("?2"), QStringLiteral("Title"),
                 QStringLiteral("pdf"), folder, QString());
    server.route("/a?2", Serve(kPdf, "application/pdf"));
    EXPECT_TRUE(run(1));
    EXPECT_EQ(item(1).name, QStringLiteral("Title[001]"));
    EXPECT_EQ(ReadFile(file(QStringLiteral("Title[001].pdf"))), kPdf);
    EXPECT_EQ(ReadFile(file(QStringLiteral("Title.pdf"))), QByteArray("precious"));

    // Overwrite: the user asked for it.
    options.policy = DuplicateNamePolicy::Overwrite;
    list.addItem(server.url(QStringLiteral("/a")) + QStringLiteral("?3"), QStringLiteral("Title"),
                 QStringLiteral("pdf"), folder, QString());
    server.route("/a?3", Serve(kPdf, "application/pdf"));
    EXPECT_TRUE(run(2));
    EXPECT_EQ(ReadFile(file(QStringLiteral("Title.pdf"))), kPdf);
}

TEST_F(InetEngineTest, AFolderThatCannotBeCreatedWritesNothingElsewhere) {
    server.route("/a", Serve(kPdf, "application/pdf"));
    ASSERT_TRUE(WriteFile(tmp.path() + QStringLiteral("/blocker"), "x"));
    list.addItem(server.url(QStringLiteral("/a")), QStringLiteral("T"), QStringLiteral("pdf"),
                 tmp.path() + QStringLiteral("/blocker/sub/"), QString());
    EXPECT_FALSE(run(0));
    EXPECT_EQ(item(0).status, ItemStatus::Failed);
    EXPECT_EQ(item(0).size, QStringLiteral("下载失败"));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{QStringLiteral("blocker")});
}

TEST_F(InetEngineTest, FinalStepsReportSoundsLoginAndPanels) {
    options.sounds = true;
    options.autoLogin = true;
    server.route("/login", Serve(kLoginPage, "text/html"));
    const int row = add("/login");
    QSignalSpy sounds(&engine, &InetEngine::soundRequested);
    QSignalSpy ended(&engine, &InetEngine::transferEnded); // the scheduler decides on a login
    QSignalSpy panels(&engine, &InetEngine::statusPanelText);
    const qint64 before = MonotonicMs();
    run(row);
    ASSERT_EQ(sounds.size(), 1);
    EXPECT_EQ(sounds[0][0].toInt(), 101);
    ASSERT_EQ(ended.size(), 1);
    EXPECT_EQ(ended[0][0].toInt(), row);
    EXPECT_GE(state.LastFinishMonotonicMs, before);
    QStringList panel2;
    QStringList panel3;
    for (const auto& args : panels) {
        (args[0].toInt() == 2 ? panel2 : panel3) << args[1].toString();
    }
    EXPECT_EQ(panel2,
              (QStringList{QStringLiteral("正在下载:Title"), QStringLiteral("完成下载:Title")}));
    EXPECT_TRUE(panel3.contains(QStringLiteral("1 正在查询所指定的主机的 IP 地址...")));
    EXPECT_TRUE(panel3.contains(QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。")));

    Route stall = Serve(kPdf, "application/pdf");
    stall.closeAfterBytes = 10;
    server.route("/fail", stall);
    sounds.clear();
    run(add("/fail", QStringLiteral("F")));
    ASSERT_EQ(sounds.size(), 1);
    EXPECT_EQ(sounds[0][0].toInt(), 103);
}

TEST_F(InetEngineTest, StateTextsAreExact) {
    EXPECT_EQ(InetEngine::StateText(0, 0, {}), QStringLiteral("0 无状态可报告。"));
    EXPECT_EQ(InetEngine::StateText(10, 0, {}), QStringLiteral("10 已成功地与主机解除了连接。"));
    EXPECT_EQ(InetEngine::StateText(11, 5, QStringLiteral("x")),
              QStringLiteral("11 与主机通讯时出现了错误:5:x"));
    EXPECT_EQ(InetEngine::StateText(42, 7, QStringLiteral("y")), QStringLiteral("7:y"));
}

TEST(PercentText, WholePartInSinglePrecision) {
    EXPECT_EQ(PercentText(37, 100), QStringLiteral("37%"));
    EXPECT_EQ(PercentText(999, 1000), QStringLiteral("99%"));
    EXPECT_EQ(PercentText(100, 100), QStringLiteral("100%"));
}

class InetEngineTls : public InetEngineTest {
protected:
    TestHttpServer tlsServer{true};
};

TEST_F(InetEngineTls, HttpsIsVerified) {
    tlsServer.route("/a.pdf", Serve(kPdf, "application/pdf"));
    list.addItem(tlsServer.url(QStringLiteral("/a.pdf")), QStringLiteral("Untrusted"),
                 QStringLiteral("pdf"), folder, QString());
    EXPECT_FALSE(run(0));
    EXPECT_EQ(item(0).status, ItemStatus::Failed);
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("Untrusted.pdf"))));

    // Trusted by this test only.
    SetExtraTrustedCertificates({QSslCertificate(TestCertificatePem())});
    list.addItem(tlsServer.url(QStringLiteral("/a.pdf")) + QStringLiteral("?t"),
                 QStringLiteral("Trusted"), QStringLiteral("pdf"), folder, QString());
    tlsServer.route("/a.pdf?t", Serve(kPdf, "application/pdf"));
    const bool stored = run(1);
    SetExtraTrustedCertificates({});
    EXPECT_TRUE(stored);
    EXPECT_EQ(ReadFile(file(QStringLiteral("Trusted.pdf"))), kPdf);
}

TEST_F(InetEngineTls, ARedirectFromHttpsToHttpIsRefused) {
    server.route("/plain.pdf", Serve(kPdf, "application/pdf"));
    tlsServer.route("/down", RedirectTo(server.url(QStringLiteral("/plain.pdf"))));
    SetExtraTrustedCertificates({QSslCertificate(TestCertificatePem())});
    list.addItem(tlsServer.url(QStringLiteral("/down")), QStringLiteral("Down"),
                 QStringLiteral("pdf"), folder, QString());
    EXPECT_FALSE(run(0));
    SetExtraTrustedCertificates({});
    EXPECT_EQ(server.requestCount("/plain.pdf"), 0);
    EXPECT_EQ(item(0).status, ItemStatus::Failed);
    EXPECT_EQ(QStringList({item(0).size, item(0).received, item(0).percent}),
              QStringList({QString(), QString(), QString()}));
    EXPECT_EQ(item(0).reason, QStringLiteral("网址从https转向了http，已拒绝"));
    EXPECT_TRUE(files().isEmpty()) << files().join(QLatin1Char(',')).toStdString();
}
