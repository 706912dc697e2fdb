// What a run that ended abruptly leaves beside the papers goes at the next start: part files of
// ended processes and our placeholders at the targets of unfinished rows. Part files of a process
// that still runs, and every file that is not exactly ours, stay byte for byte.

#include "core/store/CrashDebris.h"

#include "core/download/BodyWriter.h"
#include "core/files/FileNaming.h"
#include "core/store/ListStore.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

const QByteArray kPlaceholderBytes("\x01\x00", 2);

// A process number no process can have: one above the system's highest.
qint64 deadPid() {
    bool ok = false;
    const qint64 highest =
        ReadFile(QStringLiteral("/proc/sys/kernel/pid_max")).trimmed().toLongLong(&ok);
    return ok ? highest + 1 : 4'194'305;
}

QString partName(const QString& target, qint64 pid, int n = 1) {
    return QStringLiteral("%1.%2-%3").arg(target).arg(pid).arg(n) + QLatin1String(kPartSuffix);
}

DownloadItem row(const QString& folder, const QString& name, ItemStatus status,
                 bool createdFile = false) {
    DownloadItem item;
    item.key = QStringLiteral("http://a/") + name;
    item.name = name;
    item.type = QStringLiteral("pdf");
    item.folder = folder;
    item.status = status;
    item.createdFile = createdFile;
    return item;
}

TEST(CrashDebris, TheStartRemovesPartFilesOfEndedRunsOnly) {
    QTemporaryDir tmp;
    const QString kept = tmp.path() + QStringLiteral("/kept/");
    const QString saves = tmp.path() + QStringLiteral("/saves/");
    const QString other = tmp.path() + QStringLiteral("/other/");
    for (const QString& folder : {kept, saves, other}) {
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    const qint64 dead = deadPid();
    const qint64 alive = QCoreApplication::applicationPid();
    struct File {
        QString path;
        QByteArray bytes;
        bool removed;
    };
    const QList<File> files = {
        {kept + partName(QStringLiteral("Paper.pdf"), dead), "half a body", true},
        {kept + partName(QStringLiteral("Gone.pdf"), dead, 7), "a removed row's body", true},
        {kept + partName(QStringLiteral("download"), dead, 3), "a long title's body", true},
        {saves + partName(QStringLiteral("X.pdf"), dead, 2), "a row never kept", true},
        {kept + QStringLiteral("Waiting.pdf"), kPlaceholderBytes, true},
        {kept + QStringLiteral("Failed.pdf"), kPlaceholderBytes, true},
        {kept + partName(QStringLiteral("Paper.pdf"), alive), "this run's body", false},
        {kept + partName(QStringLiteral("Paper.pdf"), 1), "a running process's body", false},
        {kept + QStringLiteral("Paper.pdf") + QLatin1String(kPartSuffix), "no process", false},
        {kept + partName(QStringLiteral("Paper.pdf"), dead) + QStringLiteral(".txt"), "notes",
         false},
        {kept + QStringLiteral("Paper.pdf.%1-x").arg(dead) + QLatin1String(kPartSuffix), "x",
         false},
        {other + partName(QStringLiteral("Y.pdf"), dead), "a folder no row uses", false},
        {kept + QStringLiteral("Done.pdf"), kPlaceholderBytes, false},
        {kept + QStringLiteral("User.pdf"), QByteArray("ok"), false},
    };
    for (const File& f : files) {
        ASSERT_TRUE(WriteFile(f.path, f.bytes)) << f.path.toStdString();
    }
    KeptQueue queue;
    queue.downloads = {row(kept, QStringLiteral("Paper"), ItemStatus::Downloading, true),
                       row(kept, QStringLiteral("Waiting"), ItemStatus::Waiting),
                       row(kept, QStringLiteral("Failed"), ItemStatus::Failed),
                       row(kept, QStringLiteral("Done"), ItemStatus::Finished, true),
                       row(kept, QStringLiteral("User"), ItemStatus::Waiting, true)};
    int removed = 0;
    for (const File& f : files) {
        removed += f.removed ? 1 : 0;
    }
    EXPECT_EQ(RemoveCrashDebris(queue, {saves}), removed);
    for (const File& f : files) {
        SCOPED_TRACE(f.path.toStdString());
        EXPECT_EQ(!QFileInfo::exists(f.path), f.removed);
        if (!f.removed) {
            EXPECT_EQ(ReadFile(f.path), f.bytes);
        }
    }
}

// Restored, a row that was not finished finds no placeholder of ours at its name, whether or
// not its kept flags say it made one, and owns no file that is not there. A finished row's file
// and anything else than our two bytes stay.
TEST(CrashDebris, RestoringRemovesOurPlaceholderWhateverTheRowSays) {
    struct Case {
        const char* what;
        ItemStatus status;
        bool createdFile;
        QByteArray bytes;
        bool removed;
    };
    const Case cases[] = {
        {"downloading, kept as not made", ItemStatus::Downloading, false, kPlaceholderBytes, true},
        {"waiting, kept a second behind", ItemStatus::Waiting, false, kPlaceholderBytes, true},
        {"failed", ItemStatus::Failed, true, kPlaceholderBytes, true},
        {"finished", ItemStatus::Finished, true, kPlaceholderBytes, false},
        {"two other bytes", ItemStatus::Downloading, true, QByteArray("ok"), false},
    };
    QTemporaryDir tmp;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = tmp.path() + QStringLiteral("/%1/").arg(++n);
        ASSERT_TRUE(QDir().mkpath(folder));
        const DownloadItem item = row(folder, QStringLiteral("论文"), c.status, c.createdFile);
        const QString target = ItemFilePath(folder, item.name, item.type);
        ASSERT_TRUE(WriteFile(target, c.bytes));
        KeptQueue kept;
        kept.downloads = {item};
        DownloadListModel list;
        ASSERT_EQ(RestoreKeptQueue(kept, &list, nullptr), 1);
        EXPECT_EQ(!QFileInfo::exists(target), c.removed);
        if (c.removed) {
            EXPECT_FALSE(list.item(0).createdFile);
        } else {
            EXPECT_EQ(ReadFile(target), c.bytes);
        }
    }
}

// The part file of a row being restored goes only when its process has ended.
TEST(CrashDebris, RestoringKeepsThePartFileOfARunningProcess) {
    QTemporaryDir tmp;
    const QString folder = tmp.path() + QLatin1Char('/');
    const DownloadItem item = row(folder, QStringLiteral("Paper"), ItemStatus::Downloading);
    const QString ended = folder + partName(QStringLiteral("Paper.pdf"), deadPid());
    const QString running = folder + partName(QStringLiteral("Paper.pdf"), 1);
    ASSERT_TRUE(WriteFile(ended, "a body of an ended run"));
    ASSERT_TRUE(WriteFile(running, "a body being written"));
    KeptQueue kept;
    kept.downloads = {item};
    DownloadListModel list;
    ASSERT_EQ(RestoreKeptQueue(kept, &list, nullptr), 1);
    EXPECT_FALSE(QFileInfo::exists(ended));
    EXPECT_EQ(ReadFile(running), QByteArray("a body being written"));
}

} // namespace
