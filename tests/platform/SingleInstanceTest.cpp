// One running program per data folder: a second start hands over to the first and ends, a lock
// left by a killed run is taken over, and each data folder has an instance of its own. The other
// starts are processes of their own: this test program run as the helper below.

#include "platform/SingleInstance.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

using namespace quillax;
using namespace quillax::test;

namespace {

constexpr char kHelperFolder[] = "QUILLAX_TEST_INSTANCE_FOLDER";
constexpr char kHelperHolds[] = "QUILLAX_TEST_INSTANCE_HOLDS";

// Another start for `folder`. With `holds`, a start that gets the folder keeps it until killed.
std::unique_ptr<QProcess> startAnother(const QString& folder, bool holds) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kHelperFolder), folder);
    if (holds) {
        env.insert(QString::fromLatin1(kHelperHolds), QStringLiteral("1"));
    }
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(QCoreApplication::applicationFilePath(),
                   {QStringLiteral("--gtest_filter=SingleInstanceHelper.ClaimsTheFolder")});
    return process;
}

// How the other start's claim went, once it has said; -1 before.
int claimOf(const QByteArray& output) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("claim=(\\d)")).match(QString::fromLatin1(output));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Not a test of its own: the other start that the tests below run.
TEST(SingleInstanceHelper, ClaimsTheFolder) {
    const QString folder = qEnvironmentVariable(kHelperFolder);
    if (folder.isEmpty()) {
        GTEST_SKIP() << "the tests of SingleInstance run this as another start";
    }
    SingleInstance instance(folder);
    const InstanceClaim claim = instance.claim();
    std::printf("claim=%d\n", static_cast<int>(claim));
    std::fflush(stdout);
    if (claim == InstanceClaim::Ours && qEnvironmentVariableIsSet(kHelperHolds)) {
        QEventLoop().exec(); // answers later starts until it is killed
    }
}

TEST(SingleInstance, ASecondStartHandsOverToTheFirstAndEnds) {
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    ASSERT_EQ(first.claim(), InstanceClaim::Ours);
    QSignalSpy forward(&first, &SingleInstance::comeForwardRequested);
    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE(start);
        std::unique_ptr<QProcess> second = startAnother(folder.path(), false);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return second->state() == QProcess::NotRunning; }, 30'000));
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_EQ(claimOf(second->readAllStandardOutput()),
                  static_cast<int>(InstanceClaim::HandedOver));
        EXPECT_EQ(forward.count(), start);
    }
}

TEST(SingleInstance, TheLockOfAKilledRunIsTakenOver) {
    QTemporaryDir folder;
    std::unique_ptr<QProcess> running = startAnother(folder.path(), true);
    QByteArray said;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            said += running->readAllStandardOutput();
            return claimOf(said) >= 0;
        },
        30'000));
    ASSERT_EQ(claimOf(said), static_cast<int>(InstanceClaim::Ours));
    {
        SingleInstance later(folder.path());
        EXPECT_EQ(later.claim(), InstanceClaim::HandedOver);
    }
    ::kill(static_cast<pid_t>(running->processId()), SIGKILL);
    ASSERT_TRUE(running->waitForFinished(10'000));
    ASSERT_TRUE(QFile::exists(SingleInstance(folder.path()).lockPath()));

    SingleInstance next(folder.path());
    ASSERT_EQ(next.claim(), InstanceClaim::Ours);
    // Its socket is the one later starts reach, not the killed run's.
    QSignalSpy forward(&next, &SingleInstance::comeForwardRequested);
    std::unique_ptr<QProcess> third = startAnother(folder.path(), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return third->state() == QProcess::NotRunning; }, 30'000));
    EXPECT_EQ(claimOf(third->readAllStandardOutput()), static_cast<int>(InstanceClaim::HandedOver));
    EXPECT_EQ(forward.count(), 1);
}

TEST(SingleInstance, EachDataFolderHasItsOwn) {
    QTemporaryDir one;
    QTemporaryDir two;
    SingleInstance first(one.path());
    SingleInstance second(two.path());
    EXPECT_EQ(first.claim(), InstanceClaim::Ours);
    EXPECT_EQ(second.claim(), InstanceClaim::Ours);
    EXPECT_NE(first.serverName(), second.serverName());
    // Within this process nobody answers while the claim waits: the folder is still not taken.
    SingleInstance again(one.path());
    EXPECT_EQ(again.claim(200), InstanceClaim::Running);
    EXPECT_EQ(again.serverName(), first.serverName());
}

// A lock file that names no holder (empty, as a power cut between its creation and its write
// leaves it, or garbled) belongs to no run: the next start takes it over instead of saying
// forever that the program runs.
TEST(SingleInstance, ALockThatNamesNoHolderIsTakenOver) {
    for (const QByteArray& bytes : {QByteArray(), QByteArray("\x01garbage\n\n")}) {
        SCOPED_TRACE(bytes.isEmpty() ? "empty" : "garbled");
        QTemporaryDir tmp;
        SingleInstance probe(tmp.path());
        ASSERT_TRUE(WriteFile(probe.lockPath(), bytes));
        SingleInstance instance(tmp.path());
        EXPECT_EQ(instance.claim(200), InstanceClaim::Ours);
    }
}

// A folder where no lock can be made belongs to nobody: the start goes on without the queue.
TEST(SingleInstance, AFolderThatTakesNoLockIsUnavailable) {
    QTemporaryDir tmp;
    const QString folder = tmp.path() + QStringLiteral("/data");
    ASSERT_TRUE(QDir().mkpath(folder));
    AsUnprivileged user({tmp.path(), folder});
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    SingleInstance instance(folder);
    EXPECT_EQ(instance.claim(), InstanceClaim::Unavailable);
    EXPECT_FALSE(QFile::exists(instance.lockPath()));
}

} // namespace
