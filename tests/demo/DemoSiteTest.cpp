// The demo library site answers what the program reads: result pages that the real
// extraction reads in the real browser, record pages with the PDF address, PDFs behind a login
// gate, and the faults it promises.

#include "DemoSite.h"
#include "BoundedHttp.h"

#include "core/search/AnalysisListModel.h"
#include "platform/WebBrowser.h"
#include "ui/search/ResultPageReader.h"

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::demo;

namespace {

struct Answer {
    int status = 0;
    QByteArray contentType;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    bool hasLength = false;
};

/// What a client that speaks raw bytes got back.
struct RawExchange {
    QByteArray received;
    bool closedByServer = false;
    QString error;        ///< how the connection ended, for a failure's message
    qint64 floodSent = 0; ///< how much of the flood the server let the client send
};

/// Sends `head`, then `floodBytes` of `fill` as fast as the server takes them, and waits until
/// the server closes the connection or, when `until` is given, the answer ends with it (at most
/// 20 s).
RawExchange rawExchange(const QString& baseUrl, const QByteArray& head, qint64 floodBytes = 0,
                        char fill = 'a', const QByteArray& until = {}) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(QUrl(baseUrl).port()));
    RawExchange out;
    if (!socket.waitForConnected(5000)) {
        return out;
    }
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { out.received += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] { out.closedByServer = true; });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&] {
        out.closedByServer = true;
        out.error = socket.errorString();
    });
    const QByteArray chunk(64 * 1024, fill);
    qint64 sent = 0;
    const auto more = [&] {
        while (!out.closedByServer && sent < floodBytes && socket.bytesToWrite() < 256 * 1024) {
            socket.write(chunk);
            sent += chunk.size();
        }
    };
    QObject::connect(&socket, &QTcpSocket::bytesWritten, more);
    socket.write(head);
    more();
    const bool ended = QTest::qWaitFor(
        [&] { return out.closedByServer || (!until.isEmpty() && out.received.endsWith(until)); },
        20000);
    out.closedByServer = out.closedByServer && ended;
    out.floodSent = sent;
    out.received += socket.readAll();
    return out;
}

QByteArray sha(const QByteArray& b) {
    return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex();
}

class DemoSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.slowRecordMs = 300;
        options.dripIntervalMs = 2;
        options.dripBytes = 8192;
        site = std::make_unique<DemoSite>(options);
        ASSERT_TRUE(site->start());
    }

    Answer fetch(const QString& url, const QByteArray& postBody = {}) {
        QNetworkRequest request{QUrl(url)};
        QNetworkReply* reply = nullptr;
        if (postBody.isNull()) {
            reply = manager.get(request);
        } else {
            request.setHeader(QNetworkRequest::ContentTypeHeader,
                              "application/x-www-form-urlencoded");
            reply = manager.post(request, postBody);
        }
        EXPECT_TRUE(QTest::qWaitFor([reply] { return reply->isFinished(); }, 15000));
        Answer a;
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        a.hasLength = reply->header(QNetworkRequest::ContentLengthHeader).isValid();
        a.body = reply->readAll();
        a.error = reply->error();
        reply->deleteLater();
        return a;
    }
    QString page(const QString& path) const { return site->baseUrl() + path; }

    DemoOptions options;
    std::unique_ptr<DemoSite> site;
    QNetworkAccessManager manager; // with a cookie jar of its own
};

} // namespace

TEST(DemoCatalog, IsDeterministicAndHasTheRecordsItPromises) {
    EXPECT_EQ(PageCount(57, 10), 6);
    EXPECT_EQ(RecordsOnPage(1, 57, 10).size(), 10);
    EXPECT_EQ(RecordsOnPage(2, 57, 10).first(), 10); // repeated from page 1
    EXPECT_EQ(RecordsOnPage(6, 57, 10), (QVector<int>{51, 52, 53, 54, 55, 56, 57}));
    EXPECT_EQ(RecordAt(9).title, RecordAt(10).title);
    EXPECT_GT(RecordAt(5).title.size(), 150);
    EXPECT_NE(RecordAt(7).title, RecordAt(7).title.trimmed());
    EXPECT_TRUE(RecordAt(3).title.contains(QLatin1Char('|')));
    EXPECT_EQ(RecordAt(21).pdfNumber, 20);
    for (int n : {1, 3, 17, 30}) {
        const QByteArray pdf = PdfBytes(n);
        EXPECT_TRUE(pdf.startsWith("%PDF-")) << n;
        EXPECT_TRUE(pdf.endsWith("%%EOF\n")) << n;
        EXPECT_GE(pdf.size(), 20 * 1024) << n;
        EXPECT_LE(pdf.size(), 4 * 1024 * 1024) << n;
        EXPECT_EQ(sha(pdf), sha(PdfBytes(n))) << n;
        // The cross-reference table points at every object.
        const qsizetype xref =
            pdf.mid(pdf.lastIndexOf("startxref") + 10).trimmed().split('\n')[0].toLongLong();
        EXPECT_TRUE(pdf.mid(xref).startsWith("xref\n0 8\n")) << n;
        const QList<QByteArray> rows = pdf.mid(xref).split('\n');
        for (int object = 1; object < 8; ++object) {
            const qsizetype at = rows[2 + object].left(10).toLongLong();
            EXPECT_TRUE(pdf.mid(at).startsWith(QByteArray::number(object) + " 0 obj")) << n;
        }
    }
    EXPECT_NE(sha(PdfBytes(1)), sha(PdfBytes(2)));
}

TEST_F(DemoSiteTest, RoutesAnswerAsPromised) {
    struct Case {
        const char* what;
        QString url;
        int status;
        const char* bodyContains; ///< nullptr: not checked
        const char* bodyLacks;    ///< nullptr: not checked
    };
    const Case cases[] = {
        {"home page", page(QString()), 200, "name=\"q\"", nullptr},
        {"first result page", page(QStringLiteral("results?q=x&page=1")), 200, "下一个", "上一个"},
        {"last result page", page(QStringLiteral("results?q=x&page=6")), 200, "上一个", "下一个"},
        {"record page", page(QStringLiteral("record?rec=1&db=demo")), 200,
         "id=\"pdfUrl\" value=\"http://127.0.0.1:", nullptr},
        {"record page without a PDF address", page(QStringLiteral("record?rec=8&db=demo")), 200,
         nullptr, "pdfUrl"},
        {"the slow record page", site->fullTextBaseUrl() + QStringLiteral("record?rec=18"), 200,
         "pdfUrl", nullptr},
        {"PDF without a session", site->pdfAddress(1), 200, "name=\"userid\"", "%PDF"},
        {"chunked PDF without a session", site->pdfAddress(3), 200, "id=\"submitip\"", "%PDF"},
        {"wrong password", page(QStringLiteral("login")), 200, "账号或密码错误", "登录成功"},
        {"no update notice unless asked for", page(QStringLiteral("Quillax/newver.txt")), 404,
         nullptr, nullptr},
        {"missing PDF", site->pdfAddress(15), 404, nullptr, "%PDF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool login = QString::fromUtf8(c.what) == QLatin1String("wrong password");
        const Answer a =
            fetch(c.url, login ? QByteArray("userid=demo&password=wrong") : QByteArray());
        EXPECT_EQ(a.status, c.status);
        if (c.bodyContains != nullptr) {
            EXPECT_TRUE(a.body.contains(c.bodyContains)) << a.body.left(300).toStdString();
        }
        if (c.bodyLacks != nullptr) {
            EXPECT_FALSE(a.body.contains(c.bodyLacks));
        }
    }
    // The record page writes the address with "&amp;"; decoded, it is the PDF's address.
    const Answer record = fetch(page(QStringLiteral("record?rec=21&db=demo")));
    EXPECT_TRUE(record.body.contains(
        QString(site->pdfAddress(20)).replace(u'&', QStringLiteral("&amp;")).toUtf8()));
    EXPECT_TRUE(manager.cookieJar()->cookiesForUrl(QUrl(site->baseUrl())).isEmpty());
}

TEST_F(DemoSiteTest, ALoginOpensTheGateToEveryKindOfPdf) {
    const Answer login = fetch(page(QStringLiteral("login")), "userid=demo&password=quillax");
    EXPECT_TRUE(login.body.contains("登录成功"));
    struct Case {
        int record;
        bool length;
        bool complete;
    };
    // Content-Length, chunked, Content-Disposition, the drip, and the cut-short body.
    for (const Case& c : {Case{2, true, true}, Case{3, false, true}, Case{5, true, true},
                          Case{17, true, true}, Case{16, true, false}}) {
        SCOPED_TRACE(c.record);
        const Answer a = fetch(site->pdfAddress(c.record));
        EXPECT_EQ(a.contentType, QByteArray("application/pdf"));
        EXPECT_EQ(a.hasLength, c.length);
        if (c.complete) {
            EXPECT_EQ(a.error, QNetworkReply::NoError);
            EXPECT_EQ(sha(a.body), sha(PdfBytes(c.record)));
        } else {
            EXPECT_NE(a.error, QNetworkReply::NoError);
            EXPECT_LT(a.body.size(), PdfBytes(c.record).size());
        }
    }
    // The IP login works too, for a visitor with no cookie yet.
    manager.setCookieJar(new QNetworkCookieJar);
    EXPECT_FALSE(fetch(site->pdfAddress(2)).body.startsWith("%PDF"));
    EXPECT_TRUE(fetch(page(QStringLiteral("login/ip")), "submitip=1").body.contains("登录成功"));
    EXPECT_EQ(sha(fetch(site->pdfAddress(2)).body), sha(PdfBytes(2)));
}

TEST_F(DemoSiteTest, TheRealExtractionReadsItsResultPages) {
    WebBrowser browser;
    AnalysisListModel list;
    const auto load = [&](int pageNumber) {
        QSignalSpy done(&browser, &WebBrowser::DocumentComplete);
        browser.Navigate(page(QStringLiteral("results?q=citation&page=%1").arg(pageNumber)));
        return done.wait(20000) || !done.isEmpty();
    };
    ASSERT_TRUE(load(1));
    // Page 1: records 1 to 10 less the one with HTML full text only and the one without.
    EXPECT_EQ(ExtractResultPage(browser.page(), list, QStringLiteral("/papers/")), 8);
    ASSERT_EQ(list.count(), 8);
    EXPECT_EQ(list.record(0).title, RecordAt(1).title);
    EXPECT_EQ(list.record(2).title, RecordAt(3).title); // forbidden characters arrive as text
    EXPECT_EQ(list.record(0).link, page(QStringLiteral("record?rec=1&db=demo&from=results")));
    EXPECT_EQ(list.record(0).pageUrl, page(QStringLiteral("results?q=citation&page=1")));
    // Page 2 repeats record 10: one row for it.
    ASSERT_TRUE(load(2));
    EXPECT_EQ(ExtractResultPage(browser.page(), list, QStringLiteral("/papers/")), 11);
    EXPECT_EQ(list.count(), 18);
    // The slow record page lives on the full-text server.
    EXPECT_TRUE(list.record(15).link.startsWith(site->fullTextBaseUrl()));
}

// A head that never ends is refused once past the cap, on both servers, instead of being
// held in memory while it grows; the site goes on answering others.
TEST_F(DemoSiteTest, AHeaderFloodIsRefusedAndTheConnectionClosed) {
    const QByteArray floods[] = {
        "GET /results?q=",                                // a request line that never ends
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Flood: ", // a header that never ends
    };
    for (const QString& base : {site->baseUrl(), site->fullTextBaseUrl()}) {
        for (const QByteArray& head : floods) {
            SCOPED_TRACE((base + QString::fromLatin1(head.left(20))).toStdString());
            const RawExchange ex = rawExchange(base, head, 64 * 1024 * 1024);
            EXPECT_TRUE(ex.closedByServer) << ex.error.toStdString();
            // Refused after a few dozen KiB: what the kernel buffers is all the client got rid
            // of, never the whole flood.
            EXPECT_LT(ex.floodSent, 16 * 1024 * 1024);
            // The refusal may be lost to the reset of a connection the client still writes to.
            if (!ex.received.isEmpty()) {
                EXPECT_TRUE(ex.received.startsWith("HTTP/1.1 431"))
                    << ex.received.left(80).toStdString();
            }
        }
    }
    EXPECT_EQ(fetch(page(QString())).status, 200);
}

// A body past the cap, or one without a length, is refused from its head alone.
TEST_F(DemoSiteTest, ABodyFloodIsRefusedFromItsHead) {
    struct Case {
        const char* what;
        QString base;
        QByteArray head;
        QByteArray status;
    };
    const Case cases[] = {
        {"600 MiB login form", site->baseUrl(),
         "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
         "application/x-www-form-urlencoded\r\nContent-Length: 629145600\r\n\r\n",
         "HTTP/1.1 413"},
        {"chunked login form", site->baseUrl(),
         "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n",
         "HTTP/1.1 411"},
        {"two lengths that disagree", site->baseUrl(),
         "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\nContent-Length: "
         "900000000\r\n\r\n",
         "HTTP/1.1 400"},
        {"body on the full-text server", site->fullTextBaseUrl(),
         "GET /pdf/1.pdf HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 629145600\r\n\r\n",
         "HTTP/1.1 413"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RawExchange ex = rawExchange(c.base, c.head);
        EXPECT_TRUE(ex.closedByServer);
        EXPECT_TRUE(ex.received.startsWith(c.status)) << ex.received.left(80).toStdString();
    }
    // Requests within the caps, two in one write on one connection, are both answered.
    const RawExchange two = rawExchange(
        site->baseUrl(),
        "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nContent-Length: 26\r\n\r\nuserid=demo&password=wrong"
        "GET /css/site.css HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        0, 'a', "#fbfbf8; }\n");
    EXPECT_TRUE(two.received.contains("账号或密码错误")) << two.received.left(200).toStdString();
    EXPECT_TRUE(two.received.endsWith("#fbfbf8; }\n")) << two.received.right(80).toStdString();
}

// A header line that the guard and the HTTP server behind it could read two ways is refused on
// both servers: a folded line (one that starts with a space or a tab) or white space between a
// name and its colon. A length that only the guard read would let what follows past the head
// cap as a body.
TEST_F(DemoSiteTest, AHeaderLineReadTwoWaysIsRefused) {
    const QByteArray login = "POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const QByteArray heads[] = {
        login + "Content-Length : 5\r\n\r\n",
        login + "Content-Length\t: 5\r\n\r\n",
        login + "Transfer-Encoding : identity\r\n\r\n",
        login + "X-Note: a\r\n Content-Length: 5\r\n\r\n",
        login + "X-Note: a\r\n\tb\r\n\r\n",
        login + "X-Note: a\n\tb\n\n",
    };
    for (const QString& base : {site->baseUrl(), site->fullTextBaseUrl()}) {
        for (const QByteArray& head : heads) {
            SCOPED_TRACE((base + QLatin1Char(' ') + QString::fromLatin1(head.mid(login.size())))
                             .toStdString());
            const RawExchange ex = rawExchange(base, head + "abcde");
            EXPECT_TRUE(ex.closedByServer) << ex.error.toStdString();
            EXPECT_TRUE(ex.received.startsWith("HTTP/1.1 400"))
                << ex.received.left(80).toStdString();
        }
    }
    // The same lines written plainly are answered.
    const RawExchange plain =
        rawExchange(site->baseUrl(), login + "X-Note: a b\r\nContent-Length: 5\r\n\r\nabcde", 0,
                    'a', "</html>\n");
    EXPECT_TRUE(plain.received.startsWith("HTTP/1.1 200")) << plain.received.left(80).toStdString();
    EXPECT_TRUE(plain.received.endsWith("</html>\n")) << plain.received.right(80).toStdString();
}

// The log holds the most recent requests only, each with a bounded part of its address, in
// memory and in its file.
TEST(DemoSiteLog, KeepsTheMostRecentRequestsWithBoundedPaths) {
    QTemporaryDir logDir;
    DemoOptions options;
    options.logTarget = logDir.path();
    DemoSite site(options);
    ASSERT_TRUE(site.start());
    QNetworkAccessManager manager;
    const QString longQuery(10000, QLatin1Char('x'));
    const int total = kMaxLogEntries + 50;
    int finished = 0;
    for (int i = 0; i < total; ++i) {
        const QString base = i % 2 == 0 ? site.baseUrl() : site.fullTextBaseUrl();
        QNetworkReply* reply = manager.get(
            QNetworkRequest(QUrl(base + QStringLiteral("results?n=%1&q=").arg(i) + longQuery)));
        QObject::connect(reply, &QNetworkReply::finished, reply, [&finished, reply] {
            ++finished;
            reply->deleteLater();
        });
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished == total; }, 120000));
    const QStringList& log = site.requestLog();
    EXPECT_EQ(log.size(), kMaxLogEntries);
    for (const QString& line : log) {
        EXPECT_LE(line.size(), kMaxLoggedPathChars + 16) << line.left(80).toStdString();
    }
    QFile file(logDir.path() + QStringLiteral("/requests.log"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    EXPECT_EQ(lines.size(), total);
    // The written line adds its date and time ("yyyy-MM-ddTHH:mm:ss.zzz ") and, for a refusal,
    // " retry-after=S".
    for (const QByteArray& line : lines) {
        EXPECT_LE(QString::fromUtf8(line).size(), kMaxLoggedPathChars + 16 + 24 + 24);
    }
}

// A record number the site does not have is a 404 on every page that takes one.
TEST_F(DemoSiteTest, BadRecordNumbersAreNotFoundOnEveryPage) {
    const QString main = site->baseUrl();
    const QString fullText = site->fullTextBaseUrl();
    const QString pages[] = {
        main + QStringLiteral("detail?rec=%1&db=demo"),
        main + QStringLiteral("detail?rec=%1&view=html"),
        main + QStringLiteral("record?rec=%1&db=demo"),
        main + QStringLiteral("pdf/%1.pdf?sid=x"),
        fullText + QStringLiteral("record?rec=%1&db=demo"),
        fullText + QStringLiteral("pdf/%1.pdf?sid=x"),
    };
    // "61": one past the site's last record.
    const char* const bad[] = {"-100", "0",    "61",          "-2147483648", "2147483648",
                               "abc",  "5abc", "%205",        "%2B5",        "1e2",
                               "",     "0x10", "99999999999", "%EF%BC%95"};
    for (const QString& pattern : pages) {
        SCOPED_TRACE(pattern.toStdString());
        // The control: a record that exists is served (a PDF without a session as the login page).
        EXPECT_EQ(fetch(pattern.arg(2)).status, 200);
        for (const char* number : bad) {
            const Answer a = fetch(pattern.arg(QString::fromLatin1(number)));
            EXPECT_EQ(a.status, 404) << number;
            EXPECT_FALSE(a.body.contains("%PDF")) << number;
        }
    }
    EXPECT_EQ(RecordNumber(QStringLiteral("57"), 57), 57);
    EXPECT_EQ(RecordNumber(QStringLiteral("007"), 57), 7);
}
