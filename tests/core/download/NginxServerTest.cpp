// The throttling nginx the download tests run against: the first request and the burst go
// through whole, the rest get 429 with Retry-After, the access log tells each one, and nginx is
// gone with the object. A missing, broken or silent program is reported, never waited on.

#include "NginxServer.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <signal.h>

using namespace quillax::test;

namespace {

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray randomBytes(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes) {
        b = static_cast<char>(random.bounded(256));
    }
    return bytes;
}

bool processGone(qint64 pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
}

struct Fetched {
    QString path;
    int status = 0;
    QByteArray body;
    QByteArray contentType;
    QByteArray retryAfter;
};

// All requests go out together, each on a connection of its own, as a downloader's threads do.
QList<Fetched> fetchAtOnce(const QString& baseUrl, const QStringList& paths) {
    QNetworkAccessManager manager;
    QList<QNetworkReply*> replies;
    for (const QString& path : paths) {
        replies.append(manager.get(QNetworkRequest(QUrl(baseUrl + path))));
    }
    const bool finished = QTest::qWaitFor(
        [&] {
            return std::all_of(replies.cbegin(), replies.cend(),
                               [](const QNetworkReply* r) { return r->isFinished(); });
        },
        30'000);
    if (!finished) {
        // A request still open shows as status 0 and fails the test, instead of hanging it.
        for (QNetworkReply* reply : replies) {
            reply->abort();
        }
    }
    QList<Fetched> fetched;
    for (int i = 0; i < replies.size(); ++i) {
        QNetworkReply* reply = replies.at(i);
        fetched.append(
            {paths.at(i), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
             reply->readAll(), reply->rawHeader("Content-Type"), reply->rawHeader("Retry-After")});
        delete reply;
    }
    return fetched;
}

TEST(NginxServer, LetsTheBurstThroughThenAnswers429WithRetryAfterAndLogsEachRequest) {
    if (!NginxServer::available()) {
        GTEST_SKIP() << "nginx is not installed";
    }
    QTemporaryDir site;
    ASSERT_TRUE(site.isValid());
    QHash<QString, QByteArray> hashes;
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("paper%1.pdf").arg(i);
        const QByteArray body = randomBytes(200 * 1024, 11 + i);
        ASSERT_TRUE(WriteFile(site.path() + QLatin1Char('/') + name, body));
        hashes.insert(name, sha256(body));
    }
    // One request a minute: however slowly the six leave, the rate itself lets none more
    // through, only the first and the burst of two.
    auto nginx = std::make_unique<NginxServer>(NginxOptions{site.path(), 1.0 / 60, 2, 5});
    QString why;
    ASSERT_TRUE(nginx->start(&why)) << why.toStdString();
    const qint64 pid = nginx->pid();
    ASSERT_GT(pid, 0);
    ASSERT_FALSE(processGone(pid));

    const QStringList paths = {QStringLiteral("paper0.pdf"), QStringLiteral("paper1.pdf"),
                               QStringLiteral("paper2.pdf"), QStringLiteral("paper0.pdf"),
                               QStringLiteral("paper1.pdf"), QStringLiteral("paper2.pdf")};
    const QList<Fetched> fetched = fetchAtOnce(nginx->baseUrl(), paths);
    int passed = 0;
    int refused = 0;
    QList<QPair<QString, int>> answered;
    for (const Fetched& f : fetched) {
        answered.append({QLatin1Char('/') + f.path, f.status});
        if (f.status == 200) {
            ++passed;
            EXPECT_EQ(sha256(f.body), hashes.value(f.path)) << f.path.toStdString();
            EXPECT_EQ(f.contentType, "application/pdf");
            EXPECT_TRUE(f.retryAfter.isEmpty());
        } else {
            ++refused;
            EXPECT_EQ(f.status, 429) << f.path.toStdString();
            EXPECT_EQ(f.retryAfter, "5");
        }
    }
    EXPECT_EQ(passed, 3);
    EXPECT_EQ(refused, 3);

    // One line a request, the readiness check not among them, each with what the client saw.
    const QList<NginxLogEntry> log = nginx->waitForLog(paths.size());
    ASSERT_EQ(log.size(), paths.size());
    QList<QPair<QString, int>> logged;
    for (const NginxLogEntry& e : log) {
        logged.append({e.uri, e.status});
        EXPECT_EQ(e.retryAfter, e.status == 429 ? QStringLiteral("5") : QStringLiteral("-"));
        EXPECT_GT(e.msec, 0);
        EXPECT_GE(e.requestTime, 0);
    }
    std::sort(answered.begin(), answered.end());
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(logged, answered);

    nginx.reset();
    EXPECT_TRUE(processGone(pid)) << "nginx " << pid << " outlived its server object";
}

TEST(NginxServer, ServesAFolderWhosePathNginxWouldReadAsSyntax) {
    if (!NginxServer::available()) {
        GTEST_SKIP() << "nginx is not installed";
    }
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/my papers $uri \"x\"; {a}");
    ASSERT_TRUE(QDir().mkpath(root));
    const QByteArray body = randomBytes(50 * 1024, 3);
    ASSERT_TRUE(WriteFile(root + QStringLiteral("/a.pdf"), body));
    NginxServer nginx({root, 0.5, 2, 5});
    QString why;
    ASSERT_TRUE(nginx.start(&why)) << why.toStdString();
    const QList<Fetched> fetched = fetchAtOnce(nginx.baseUrl(), {QStringLiteral("a.pdf")});
    ASSERT_EQ(fetched.size(), 1);
    EXPECT_EQ(fetched.at(0).status, 200);
    EXPECT_EQ(sha256(fetched.at(0).body), sha256(body));
}

TEST(NginxServer, AStartThatCannotWorkFailsWithTheReasonAndLeavesNoProcess) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString failing = dir.path() + QStringLiteral("/failing-nginx");
    const QString silent = dir.path() + QStringLiteral("/silent-nginx");
    ASSERT_TRUE(WriteFile(failing, "#!/bin/sh\necho 'nginx: [emerg] broken on purpose' >&2\n"
                                   "exit 1\n"));
    ASSERT_TRUE(WriteFile(silent, "#!/bin/sh\nexec sleep 600\n"));
    for (const QString& script : {failing, silent}) {
        ASSERT_TRUE(
            QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    struct Case {
        const char* name;
        NginxOptions options;
        QString reason; ///< what the error must say
    };
    const auto options = [&](auto change) {
        NginxOptions o{dir.path()};
        o.startTimeoutMs = 500;
        change(o);
        return o;
    };
    const Case cases[] = {
        {"missing program",
         options([&](NginxOptions& o) { o.program = dir.path() + QStringLiteral("/none"); }),
         QStringLiteral("no nginx")},
        {"missing folder",
         options([&](NginxOptions& o) { o.root = dir.path() + QStringLiteral("/absent"); }),
         QStringLiteral("does not exist")},
        {"no folder", options([](NginxOptions& o) { o.root.clear(); }),
         QStringLiteral("does not exist")},
        {"no rate", options([](NginxOptions& o) { o.ratePerSecond = 0; }),
         QStringLiteral("bad throttle")},
        {"negative burst", options([](NginxOptions& o) { o.burst = -1; }),
         QStringLiteral("bad throttle")},
        {"program that fails", options([&](NginxOptions& o) { o.program = failing; }),
         QStringLiteral("broken on purpose")},
        {"program that never answers", options([&](NginxOptions& o) { o.program = silent; }),
         QStringLiteral("did not answer")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NginxServer nginx(c.options);
        QString why;
        EXPECT_FALSE(nginx.start(&why));
        EXPECT_TRUE(why.contains(c.reason)) << why.toStdString();
        // Whatever ran was stopped and reaped before start() came back.
        if (nginx.pid() != 0) {
            EXPECT_TRUE(processGone(nginx.pid()));
        }
    }
}

} // namespace
