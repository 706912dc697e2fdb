#include "core/search/HttpFetch.h"
#include "core/search/uXMLHTTP.h"

#include "platform/HttpRequest.h"
#include "platform/Network.h"
#include "platform/WebBrowser.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

TEST(HttpGetText, ReturnsAnyCompletedBodyAndSendsTheReferrer) {
    TestHttpServer server;
    Route notFound = Serve("<html><body>没有这一页</body></html>", "text/html; charset=utf-8");
    notFound.status = 404;
    notFound.reason = "Not Found";
    server.route("/missing", notFound);
    server.route("/gbk", Serve(QByteArray("\xd6\xd0\xce\xc4"), "text/plain"));

    EXPECT_EQ(HttpGetText(server.url(QStringLiteral("/missing")), QStringLiteral("utf-8"),
                          QStringLiteral("http://search.example/results")),
              QStringLiteral("<html><body>没有这一页</body></html>"));
    EXPECT_EQ(server.requests().last().headers.value("referer"), "http://search.example/results");

    EXPECT_EQ(HttpGetText(server.url(QStringLiteral("/gbk")), QStringLiteral("gbk"), QString()),
              QStringLiteral("中文"));
    ASSERT_TRUE(server.requests().last().headers.contains("referer")); // set, though empty
    EXPECT_TRUE(server.requests().last().headers.value("referer").isEmpty());

    // Bytes that are not valid in the character set decode by the decoder's rules.
    const QString bad =
        HttpGetText(server.url(QStringLiteral("/gbk")), QStringLiteral("utf-8"), QString());
    EXPECT_TRUE(bad.contains(QChar(QChar::ReplacementCharacter)));
    EXPECT_EQ(HttpGetText(server.url(QStringLiteral("/gbk")), QStringLiteral("no-such-charset"),
                          QString()),
              QString());
}

TEST(HttpGetText, ASilentServerGivesTheEmptyTextAtTheLimit) {
    TestHttpServer server;
    Route silent;
    silent.delayHeadersMs = -1;
    server.route("/silent", silent);
    EXPECT_EQ(
        HttpGetText(server.url(QStringLiteral("/silent")), QStringLiteral("utf-8"), QString(), 600),
        QString());
    EXPECT_EQ(HttpGetText(QStringLiteral("not a url"), QStringLiteral("utf-8"), QString(), 600),
              QString());
}

TEST(HttpGetText, AnAnswerPastTheLimitIsAFailedFetch) {
    TestHttpServer server;
    for (bool length : {true, false}) {
        Route huge;
        huge.generatedBytes = HttpRequest::kMaxResponseBytes + 64 * 1024;
        huge.headers = {{"Content-Type", "text/html"}};
        huge.sendLength = length;
        huge.chunked = !length;
        server.route("/huge", huge);
        EXPECT_EQ(
            HttpGetText(server.url(QStringLiteral("/huge")), QStringLiteral("utf-8"), QString()),
            QString())
            << length;
    }
    // Just under the limit is still a page.
    Route big;
    big.generatedBytes = HttpRequest::kMaxResponseBytes - 1;
    big.headers = {{"Content-Type", "text/html"}};
    server.route("/big", big);
    EXPECT_EQ(
        HttpGetText(server.url(QStringLiteral("/big")), QStringLiteral("utf-8"), QString()).size(),
        HttpRequest::kMaxResponseBytes - 1);
}

TEST(HttpGetText, CarriesTheCookiesOfTheEmbeddedBrowser) {
    TestHttpServer server;
    server.route("/login", Serve("<html><body><script>document.cookie = 'ebsco_session=s3cret; "
                                 "path=/';</script>signed in</body></html>",
                                 "text/html"));
    server.route("/record", Serve("record page", "text/html"));
    WebBrowser browser;
    QSignalSpy done(&browser, &WebBrowser::DocumentComplete);
    browser.Navigate(server.url(QStringLiteral("/login")));
    ASSERT_TRUE(done.wait(20000));
    const QUrl site(server.url(QStringLiteral("/")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !NetworkManager().cookieJar()->cookiesForUrl(site).isEmpty(); }, 5000));
    EXPECT_EQ(
        HttpGetText(server.url(QStringLiteral("/record")), QStringLiteral("utf-8"), QString()),
        QStringLiteral("record page"));
    EXPECT_TRUE(server.requests().last().headers.value("cookie").contains("ebsco_session=s3cret"));
    EXPECT_EQ(server.requests().last().headers.value("user-agent"),
              BrowserProfile()->httpUserAgent().toUtf8());
}

class AsyncRequest : public ::testing::Test {
protected:
    void SetUp() override {
        Route teapot = Serve("short and stout", "text/plain");
        teapot.status = 418;
        teapot.reason = "I'm a teapot";
        server.route("/ok", Serve("the update notice 1.2.3", "text/plain"));
        Route notFound = Serve("gone", "text/plain");
        notFound.status = 404;
        notFound.reason = "Not Found";
        server.route("/404", notFound);
        server.route("/418", teapot);
    }
    bool run(const QString& address, const QString& savePath) {
        arrived.clear();
        errors.clear();
        if (!control.Open_(QStringLiteral("get"), address, savePath)) {
            return false;
        }
        control.Send_();
        return QTest::qWaitFor([&] { return control.DownOK(); }, 5000);
    }
    TestHttpServer server;
    QTemporaryDir tmp;
    uXMLHTTP control;
    QSignalSpy arrived{&control, &uXMLHTTP::OnDateArrived};
    QSignalSpy errors{&control, &uXMLHTTP::OnDateErr};
};

TEST_F(AsyncRequest, OkWithAndWithoutASavePath) {
    const QString path = tmp.path() + QStringLiteral("/notice.txt");
    ASSERT_TRUE(WriteFile(path, "an older and longer file that must go"));
    ASSERT_TRUE(run(server.url(QStringLiteral("/ok")), path));
    EXPECT_EQ(arrived.size(), 1);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(ReadFile(path), QByteArray("the update notice 1.2.3"));
    EXPECT_FALSE(control.isPolling());

    ASSERT_TRUE(run(server.url(QStringLiteral("/ok")), QString()));
    EXPECT_EQ(arrived.size(), 1);
    EXPECT_EQ(control.ResponseText(), QStringLiteral("the update notice 1.2.3"));
    EXPECT_EQ(control.Status(), 200);
}

TEST_F(AsyncRequest, OtherStatusesRaiseTheirDescription) {
    const QString path = tmp.path() + QStringLiteral("/x.txt");
    ASSERT_TRUE(run(server.url(QStringLiteral("/404")), path));
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0][0].toString(), QStringLiteral("没有发现文件?查询或URl"));
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_TRUE(run(server.url(QStringLiteral("/418")), QString()));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0][0].toString(), QString());
    EXPECT_TRUE(arrived.isEmpty());

    // Nobody listens: the platform's error number stands in for a status, and no event comes.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    ASSERT_TRUE(run(QStringLiteral("http://127.0.0.1:%1/").arg(port), QString()));
    EXPECT_GT(control.Status(), 600);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(arrived.isEmpty());
}

TEST(AsyncRequestControl, StatusTableAndSendWithoutOpen) {
    EXPECT_EQ(uXMLHTTP::StatusDescription(200), QStringLiteral("交易成功"));
    EXPECT_EQ(uXMLHTTP::StatusDescription(505),
              QStringLiteral("服务器不支持或拒绝支请求头中指定的HTTP版本"));
    EXPECT_EQ(uXMLHTTP::StatusDescription(0), QString());
    int described = 0;
    for (int code = 0; code <= 600; ++code) {
        described += uXMLHTTP::StatusDescription(code).isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(described, 41);

    uXMLHTTP control;
    QSignalSpy changes(&control, &uXMLHTTP::OnReadyStateChange);
    control.Send_();
    QTest::qWait(50);
    EXPECT_FALSE(control.isPolling());
    EXPECT_TRUE(changes.isEmpty());
    EXPECT_FALSE(control.Open_(QStringLiteral("GET"), QStringLiteral("::bad"), QString()));
}
