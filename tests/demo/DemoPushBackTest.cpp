// The demo site pushes back as a protective library database does, deterministically: a
// throttle whose Retry-After is exact, sessions that lapse, and flaky answers from a seed.

#include "DemoCommandLine.h"
#include "DemoSite.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quillax::demo;

namespace {

struct Got {
    int status = 0;
    QByteArray retryAfter;
    QByteArray contentType;
};

class PushBack : public ::testing::Test {
protected:
    void startSite() {
        options.nowMs = [this] { return clock; };
        site = std::make_unique<DemoSite>(options);
        ASSERT_TRUE(site->start());
    }
    Got get(const QString& address) {
        QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(address)));
        waitFor(reply);
        Got got{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->rawHeader("Retry-After"), reply->rawHeader("Content-Type")};
        reply->readAll();
        reply->deleteLater();
        return got;
    }
    /// Waits in an event loop that ends with the reply: polling would add several milliseconds
    /// of sleep to every one of the thousand requests a test makes.
    static void waitFor(QNetworkReply* reply) {
        if (reply->isFinished()) {
            return;
        }
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_TRUE(reply->isFinished());
    }
    Got pdf(int n) { return get(site->pdfAddress(n)); }
    void login() {
        QNetworkRequest request(QUrl(site->loginUrl()));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        QNetworkReply* reply = manager.post(request, "userid=" + options.account.toUtf8() +
                                                         "&password=" + options.password.toUtf8());
        waitFor(reply);
        reply->deleteLater();
    }

    DemoOptions options;
    qint64 clock = 1'000'000;
    std::unique_ptr<DemoSite> site;
    QNetworkAccessManager manager;
};

TEST_F(PushBack, TheThrottlesRetryAfterIsExact) {
    options.loginGate = false;
    options.throttlePerMinute = 60; // one a second
    startSite();
    EXPECT_EQ(pdf(1).status, 200);
    ASSERT_TRUE(site->pdfAddress(2).startsWith(site->baseUrl()));
    const Got refused = pdf(2);
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.retryAfter, QByteArray("1"));
    clock += 400; // still too early: the wait left is rounded up
    EXPECT_EQ(pdf(2).retryAfter, QByteArray("1"));
    clock += 600; // exactly the wait: let through
    EXPECT_EQ(pdf(2).status, 200);
    // Obeying every Retry-After never meets a second refusal.
    options.throttlePerMinute = 12; // one every 5 s
    startSite();
    EXPECT_EQ(pdf(1).status, 200);
    int asked = 0;
    for (int i = 2; i < 14; ++i) {
        if (!site->pdfAddress(i).startsWith(site->baseUrl())) {
            continue; // the other server keeps its own turns
        }
        ++asked;
        const Got first = pdf(i);
        ASSERT_EQ(first.status, 429);
        clock += first.retryAfter.toLongLong() * 1000;
        EXPECT_EQ(pdf(i).status, 200) << i;
    }
    // Record pages are never throttled, and the log says what was refused and for how long.
    EXPECT_EQ(get(site->baseUrl() + QStringLiteral("record?rec=3")).status, 200);
    int refusals = 0;
    for (const LoggedRequest& r : site->requests()) {
        if (r.status == 429) {
            ++refusals;
            EXPECT_EQ(r.retryAfter, 5);
        }
    }
    EXPECT_EQ(refusals, asked);
    EXPECT_GE(asked, 5);
}

TEST_F(PushBack, ALoginLapsesAfterItsMinutes) {
    options.sessionMinutes = 2;
    startSite();
    login();
    EXPECT_TRUE(pdf(1).contentType.startsWith("application/pdf"));
    clock += 2 * 60'000 - 1;
    EXPECT_TRUE(pdf(1).contentType.startsWith("application/pdf"));
    clock += 1;
    EXPECT_TRUE(pdf(1).contentType.startsWith("text/html")); // the login page
    login();
    EXPECT_TRUE(pdf(1).contentType.startsWith("application/pdf"));
}

TEST_F(PushBack, FlakyAnswersComeFromTheSeed) {
    options.loginGate = false;
    options.flaky = 0.3;
    options.seed = 42;
    const auto run = [this] {
        startSite();
        QList<int> statuses;
        for (int i = 0; i < 80; ++i) {
            const Got got = pdf(1 + i % 5);
            statuses.append(got.status);
            if (got.status == 503) {
                EXPECT_EQ(got.retryAfter, QByteArray("1"));
            }
        }
        return statuses;
    };
    const QList<int> first = run();
    const QList<int> second = run();
    EXPECT_EQ(first, second);
    const auto refused = first.count(503);
    EXPECT_GT(refused, 10); // about 24 of 80
    EXPECT_LT(refused, 40);
}

TEST_F(PushBack, TheThrottleSpacesPdfsEvenly) {
    // A first PDF, then a second one this long after it: what the second one gets.
    struct Case {
        int perMinute;
        qint64 afterMs;
        int status;
        QByteArray retryAfter;
    };
    const Case cases[] = {
        {60, 0, 429, "1"},
        {60, 999, 429, "1"},
        {60, 1000, 200, ""},
        {12, 1, 429, "5"},
        {12, 4001, 429, "1"},
        {12, 5000, 200, ""},
        // 60/7 s is 8571.43 ms: the 8571st ms is still too early, or a minute would hold eight.
        {7, 1, 429, "9"},
        {7, 8571, 429, "1"},
        {7, 8572, 200, ""},
        {1, 30'000, 429, "30"},
        {1, 59'999, 429, "1"},
        {1, 60'000, 200, ""},
        // More than one a millisecond is no limit to speak of.
        {100'000, 1, 200, ""},
    };
    options.loginGate = false;
    for (const Case& c : cases) {
        options.throttlePerMinute = c.perMinute;
        startSite();
        ASSERT_EQ(pdf(1).status, 200) << c.perMinute;
        clock += c.afterMs;
        const Got got = pdf(1);
        EXPECT_EQ(got.status, c.status) << c.perMinute << " per minute, after " << c.afterMs;
        EXPECT_EQ(got.retryAfter, c.retryAfter) << c.perMinute << " after " << c.afterMs;
    }
    // Each server keeps its own turns, as each host of a library does: a PDF of the full-text
    // server is not held back by one just taken from the site.
    options.throttlePerMinute = 1;
    startSite();
    ASSERT_TRUE(site->pdfAddress(1).startsWith(site->baseUrl()));
    ASSERT_TRUE(site->pdfAddress(3).startsWith(site->fullTextBaseUrl()));
    EXPECT_EQ(pdf(1).status, 200);
    EXPECT_EQ(pdf(3).status, 200);
    EXPECT_EQ(pdf(1).status, 429);
    EXPECT_EQ(pdf(3).status, 429);
}

TEST_F(PushBack, ObeyingEveryRetryAfterNeverMeetsTheThrottle) {
    options.loginGate = false;
    options.throttlePerMinute = 10; // one every 6 s
    options.flaky = 0.4;
    options.seed = 7;
    startSite();
    // A greedy client of one server: asks again at once after every PDF, and waits exactly as
    // long as told after every refusal.
    QVector<int> records;
    for (int n = 1; n <= 10; ++n) {
        if (site->pdfAddress(n).startsWith(site->baseUrl())) {
            records << n;
        }
    }
    ASSERT_GE(records.size(), 3);
    bool obeyed = false;
    int delivered = 0;
    int failed = 0;
    for (int i = 0; i < 60; ++i) {
        const Got got = pdf(records[i % records.size()]);
        if (obeyed) {
            EXPECT_NE(got.status, 429) << "request " << i << " came after waiting as told";
        }
        delivered += got.status == 200;
        failed += got.status == 503;
        obeyed = !got.retryAfter.isEmpty();
        clock += got.retryAfter.toLongLong() * 1000;
    }
    EXPECT_GT(delivered, 5);
    EXPECT_GT(failed, 5);
    // The site's own record agrees: nothing came inside the window a refusal asked for.
    const QList<LoggedRequest>& log = site->requests();
    for (qsizetype i = 1; i < log.size(); ++i) {
        if (log[i - 1].retryAfter > 0) {
            EXPECT_GE(log[i].atMs, log[i - 1].atMs + log[i - 1].retryAfter * 1000);
        }
    }
}

/// The status and Retry-After a request for `path` gets when it comes from `from`, read from
/// the raw answer; status -1 when the connection could not be made.
Got GetFrom(const QHostAddress& from, const QString& address) {
    const QUrl url(address);
    QTcpSocket socket;
    if (!socket.bind(from)) {
        return Got{-1, {}, {}};
    }
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(url.port()));
    if (!socket.waitForConnected(5000)) {
        return Got{-1, {}, {}};
    }
    socket.write("GET " + url.path(QUrl::FullyEncoded).toLatin1() + '?' +
                 url.query(QUrl::FullyEncoded).toLatin1() +
                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray received;
    QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            return received.contains("\r\n\r\n");
        },
        10000);
    Got got;
    const QList<QByteArray> lines = received.left(received.indexOf("\r\n\r\n")).split('\n');
    got.status = lines.value(0).split(' ').value(1).toInt();
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("retry-after:")) {
            got.retryAfter = line.mid(12).trimmed();
        }
    }
    socket.abort();
    return got;
}

TEST_F(PushBack, EachClientAddressHasItsOwnTurn) {
    options.loginGate = false;
    options.throttlePerMinute = 6; // one every 10 s
    startSite();
    const QHostAddress one(QStringLiteral("127.0.0.1"));
    const QHostAddress two(QStringLiteral("127.0.0.2"));
    ASSERT_EQ(GetFrom(one, site->pdfAddress(1)).status, 200);
    const Got second = GetFrom(two, site->pdfAddress(3));
    if (second.status == -1) {
        GTEST_SKIP() << "this machine cannot send from 127.0.0.2";
    }
    // The second address is not held back by the first; each has its own turn on each server.
    EXPECT_EQ(second.status, 200);
    EXPECT_EQ(GetFrom(two, site->pdfAddress(1)).status, 200);
    EXPECT_EQ(GetFrom(two, site->pdfAddress(1)).retryAfter, QByteArray("10"));
    EXPECT_EQ(GetFrom(one, site->pdfAddress(1)).retryAfter, QByteArray("10"));
    clock += 10'000;
    EXPECT_EQ(GetFrom(two, site->pdfAddress(1)).status, 200);
    EXPECT_EQ(GetFrom(one, site->pdfAddress(1)).status, 200);
}

TEST_F(PushBack, OnlyPdfRequestsArePushedBack) {
    options.throttlePerMinute = 1;
    options.flaky = 1;
    startSite();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pdf(1).status, 503);
        EXPECT_EQ(pdf(3).status, 503);
        EXPECT_EQ(get(site->baseUrl()).status, 200);
        EXPECT_EQ(get(site->baseUrl() + QStringLiteral("results?q=data&page=2")).status, 200);
        EXPECT_EQ(get(site->baseUrl() + QStringLiteral("record?rec=4")).status, 200);
        EXPECT_EQ(get(site->loginUrl()).status, 200);
        login();
    }
    // A PDF the site does not have stays a plain 404.
    EXPECT_EQ(get(site->baseUrl() + QStringLiteral("pdf/99999.pdf")).status, 404);
}

TEST_F(PushBack, SessionsLapseOnBothServers) {
    struct Case {
        int minutes;
        qint64 afterMs;
        bool pdf; ///< still a PDF; otherwise the login page
    };
    const Case cases[] = {
        {1, 59'999, true},
        {1, 60'000, false},
        {30, 29 * 60'000, true},
        {30, 30 * 60'000, false},
        {0, 30LL * 24 * 3'600'000, true}, // 0: a login never lapses
    };
    for (const Case& c : cases) {
        options.sessionMinutes = c.minutes;
        manager.setCookieJar(new QNetworkCookieJar);
        startSite();
        login();
        clock += c.afterMs;
        for (int n : {1, 3}) {
            EXPECT_EQ(pdf(n).contentType.startsWith("application/pdf"), c.pdf)
                << "record " << n << ", " << c.minutes << " minutes, after " << c.afterMs;
        }
        // A fresh login works again for its own minutes.
        login();
        EXPECT_TRUE(pdf(3).contentType.startsWith("application/pdf")) << c.minutes;
    }
}

TEST_F(PushBack, AFractionOfAThousandPdfsIsFlakyAsTheSeedSays) {
    options.loginGate = false;
    options.flaky = 0.25;
    const auto run = [this](quint32 seed) {
        options.seed = seed;
        startSite();
        QList<int> statuses;
        for (int i = 0; i < 1000; ++i) {
            statuses.append(pdf(1).status);
        }
        return statuses;
    };
    const QList<int> first = run(5);
    EXPECT_EQ(run(5), first);
    EXPECT_NE(run(6), first);
    EXPECT_EQ(first.count(200) + first.count(503), 1000);
    EXPECT_GT(first.count(503), 200); // 250 expected; 3.6 standard deviations either way
    EXPECT_LT(first.count(503), 300);
}

TEST_F(PushBack, TheWrittenLogCarriesTimeStatusAndRetryAfter) {
    QTemporaryDir logDir;
    ASSERT_TRUE(logDir.isValid());
    options.logTarget = logDir.path();
    options.loginGate = false;
    options.throttlePerMinute = 30;
    options.flaky = 0.3;
    startSite();
    QList<Got> answers;
    for (int i = 0; i < 20; ++i) {
        answers.append(pdf(1 + i % 5));
        clock += 700;
    }
    answers.append(get(site->baseUrl() + QStringLiteral("record?rec=2")));
    QFile file(logDir.path() + QStringLiteral("/requests.log"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), answers.size());
    const QRegularExpression format(QStringLiteral(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} GET /\S+ (\d{3})(?: retry-after=(\d+))?$)"));
    QSet<int> statuses;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = format.match(QString::fromUtf8(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(1).toInt(), answers[i].status) << lines[i].toStdString();
        EXPECT_EQ(m.captured(2).toLatin1(), answers[i].retryAfter) << lines[i].toStdString();
        statuses.insert(answers[i].status);
    }
    EXPECT_EQ(statuses, (QSet<int>{200, 429, 503}));
}

TEST(DemoCommandLine, BadValuesAreTurnedAwayWithTheOptionsName) {
    struct Case {
        QStringList arguments;
        QString error; ///< the option the message names; empty: accepted
    };
    const Case cases[] = {
        {{"--throttle", "-1"}, "--throttle"},
        {{"--throttle", "2.5"}, "--throttle"},
        {{"--flaky", "2"}, "--flaky"},
        {{"--flaky", "-0.1"}, "--flaky"},
        {{"--flaky", "abc"}, "--flaky"},
        {{"--flaky", "nan"}, "--flaky"},
        {{"--flaky", ""}, "--flaky"},
        {{"--seed", "-3"}, "--seed"},
        {{"--session-minutes", "x"}, "--session-minutes"},
        {{"--port", "65536"}, "--port"},
        {{"--login", "maybe"}, "--login"},
        {{"--flaky", "1", "--throttle", "0", "--seed", "0"}, ""},
    };
    for (const Case& c : cases) {
        QCommandLineParser parser;
        AddDemoOptions(parser);
        ASSERT_TRUE(parser.parse(QStringList{QStringLiteral("quillax-demo-site")} + c.arguments));
        DemoCommandLine line;
        const QString error = ReadDemoOptions(parser, &line);
        if (c.error.isEmpty()) {
            EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        } else {
            EXPECT_TRUE(error.startsWith(c.error + QLatin1Char(':')))
                << c.arguments.join(u' ').toStdString() << " -> " << error.toStdString();
        }
    }
}

TEST(DemoCommandLine, ReadsThePushBackOptions) {
    QCommandLineParser parser;
    AddDemoOptions(parser);
    ASSERT_TRUE(parser.parse({"quillax-demo-site", "--throttle", "30", "--session-minutes", "5",
                              "--flaky", "0.25", "--seed", "9", "--port", "8080"}));
    DemoCommandLine line;
    ASSERT_EQ(ReadDemoOptions(parser, &line), QString());
    EXPECT_EQ(line.options.throttlePerMinute, 30);
    EXPECT_EQ(line.options.sessionMinutes, 5);
    EXPECT_DOUBLE_EQ(line.options.flaky, 0.25);
    EXPECT_EQ(line.options.seed, 9u);
    EXPECT_EQ(line.port, 8080);
    // Unset, they push back not at all, and the seed is 1.
    QCommandLineParser plain;
    AddDemoOptions(plain);
    ASSERT_TRUE(plain.parse({"quillax-demo-site"}));
    DemoCommandLine defaults;
    ASSERT_EQ(ReadDemoOptions(plain, &defaults), QString());
    EXPECT_EQ(defaults.options.throttlePerMinute, 0);
    EXPECT_EQ(defaults.options.sessionMinutes, 0);
    EXPECT_EQ(defaults.options.flaky, 0);
    EXPECT_EQ(defaults.options.seed, 1u);
    EXPECT_TRUE(defaults.options.loginGate);
}

} // namespace
