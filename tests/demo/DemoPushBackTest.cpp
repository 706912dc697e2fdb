// The demo site pushes back as a protective library database does, deterministically: a
// throttle whose Retry-After is exact, sessions that lapse, and flaky answers from a seed.

#include "DemoSite.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QTest>
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
        EXPECT_TRUE(QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000));
        Got got{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->rawHeader("Retry-After"), reply->rawHeader("Content-Type")};
        reply->readAll();
        reply->deleteLater();
        return got;
    }
    Got pdf(int n) { return get(site->pdfAddress(n)); }
    void login() {
        QNetworkRequest request(QUrl(site->loginUrl()));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        QNetworkReply* reply = manager.post(request, "userid=" + options.account.toUtf8() +
                                                         "&password=" + options.password.toUtf8());
        EXPECT_TRUE(QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000));
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
    for (int i = 2; i < 8; ++i) {
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
    EXPECT_EQ(refusals, 6);
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

} // namespace
