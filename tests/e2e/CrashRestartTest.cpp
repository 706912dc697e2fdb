// The real program, killed outright in the middle of a method-2 run, comes back with its queue:
// started again it restores the list, finishes it, and leaves every PDF whole and no part file
// or placeholder behind.

#include "TestHttpServer.h"
#include "TestSupport.h"
#include "core/download/BodyWriter.h"
#include "core/store/ListStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>

using namespace quillax;
using namespace quillax::test;

namespace {

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QProcessEnvironment programEnvironment(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QUILLAX_MAKER_SITE", "QUILLAX_MAKER_SECOND_SITE",
                             "QUILLAX_UPDATE_NOTICE", "QUILLAX_LOGIN_PAGE"}) {
        env.remove(QString::fromLatin1(name));
    }
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
               QStringLiteral("--disable-gpu --disable-background-networking"));
    // Restored and started without a question: nobody is there to answer it.
    env.insert(QStringLiteral("QUILLAX_RESTORE_QUEUE"), QStringLiteral("start"));
    return env;
}

QStringList debris(const QString& folder) {
    QStringList found = QDir(folder).entryList({QStringLiteral("*") + QLatin1String(kPartSuffix)},
                                               QDir::Files | QDir::Hidden);
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        if (QFileInfo(folder + name).size() == 2) {
            found << name; // a placeholder
        }
    }
    return found;
}

TEST(CrashRestart, AKilledRunComesBackAndFinishesWithEveryPdfWhole) {
    const QString program = QStringLiteral(QUILLAX_PROGRAM);
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    constexpr int kPdfs = 8;
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/papers/");
    ASSERT_TRUE(QDir().mkpath(folder));

    TestHttpServer server;
    QList<QByteArray> bodies;
    QRandomGenerator random(11);
    for (int i = 0; i < kPdfs; ++i) {
        QByteArray body = "%PDF-1.4\n";
        while (body.size() < 300'000) {
            body.append(static_cast<char>(random.bounded(256)));
        }
        body.append("\n%%EOF\n");
        bodies.append(body);
        // Slow at first, so that the kill comes in the middle of the transfers.
        Route slow = Serve(body, "application/pdf");
        slow.dripBytes = 4096;
        slow.dripIntervalMs = 40;
        server.route("/p" + QByteArray::number(i), slow);
    }

    // The queue as an earlier session left it: eight waiting items.
    {
        ListStore store;
        const QString path =
            home.path() + QStringLiteral("/.local/share/Quillax/Quillax/queue.sqlite");
        ASSERT_NE(store.open(path).status, StoreOpen::Failed);
        QList<QPair<int, DownloadItem>> rows;
        for (int i = 0; i < kPdfs; ++i) {
            DownloadItem item;
            item.key = server.url(QStringLiteral("/p%1").arg(i));
            item.name = QStringLiteral("Paper %1").arg(i);
            item.type = QStringLiteral("pdf");
            item.folder = folder;
            rows.append({i, item});
        }
        ASSERT_TRUE(store.writeDownloads(rows, true, kPdfs));
    }

    QProcess first;
    first.setProcessEnvironment(programEnvironment(home.path()));
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted(10'000));
    // In the middle of the run: three transfers going, their rows kept as downloading.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            int asked = 0;
            for (int i = 0; i < kPdfs; ++i) {
                asked += server.requestCount("/p" + QByteArray::number(i));
            }
            return asked >= 3;
        },
        60'000));
    QTest::qWait(2'000); // the keeper writes at most a second behind
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10'000));
    const QStringList left = debris(folder);
    EXPECT_FALSE(left.isEmpty()) << "the kill left nothing to clean: it came too late";

    // The server is fast now; the program starts again on the kept queue.
    for (int i = 0; i < kPdfs; ++i) {
        server.route("/p" + QByteArray::number(i), Serve(bodies[i], "application/pdf"));
    }
    QProcess second;
    second.setProcessEnvironment(programEnvironment(home.path()));
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(program, {});
    ASSERT_TRUE(second.waitForStarted(10'000));
    const auto allWhole = [&] {
        for (int i = 0; i < kPdfs; ++i) {
            const QString file = folder + QStringLiteral("Paper %1.pdf").arg(i);
            if (!QFileInfo::exists(file) || sha256(ReadFile(file)) != sha256(bodies[i])) {
                return false;
            }
        }
        return debris(folder).isEmpty();
    };
    const bool done = QTest::qWaitFor(allWhole, 90'000);
    second.kill();
    second.waitForFinished(10'000);
    ASSERT_TRUE(done)
        << QDir(folder).entryList(QDir::Files | QDir::Hidden).join(u',').toStdString();
    // Nothing else in the folder: no numbered second copy, no part file, no placeholder.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), kPdfs);
}

} // namespace
