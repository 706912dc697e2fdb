#include "core/files/CopyFiles.h"
#include "core/settings/SettingsStore.h"
#include "platform/UserDialogs.h"
#include "ui/shell/FolderListCombo.h"
#include "ui/shell/Form_Copy_Move.h"

#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace quillax;
using namespace quillax::test;

namespace {

QByteArray fileHash(const QString& path) {
    return QCryptographicHash::hash(ReadFile(path), QCryptographicHash::Sha256);
}

QByteArray hashOf(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

struct timespec mtimeOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool setMtime(const QString& path, const struct timespec& when) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, when};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class CopyFolders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        base_ = QFileInfo(dir_.path()).canonicalFilePath();
        src_ = base_ + QStringLiteral("/src/");
        dest_ = base_ + QStringLiteral("/dest/");
        ASSERT_TRUE(QDir().mkpath(src_));
        ASSERT_TRUE(QDir().mkpath(dest_));
    }
    QString source(const QString& name, const QByteArray& bytes) {
        const QString path = src_ + name;
        EXPECT_TRUE(WriteFile(path, bytes));
        // A fractional time shows whether the copy keeps it exactly.
        EXPECT_TRUE(setMtime(path, {1700000000, 123456789}));
        return path;
    }

    QTemporaryDir dir_;
    QString base_;
    QString src_;
    QString dest_;
};

} // namespace

TEST(CopyNames, SplitFilePathTakesFolderBaseAndShortExtension) {
    const struct {
        const char* path;
        const char* folder;
        const char* base;
        const char* extension;
    } cases[] = {
        {"/a/b/report.pdf", "/a/b/", "report", "pdf"},
        {"/a/readme", "/a/", "readme", ""},
        {"/a/data.backup2023", "/a/", "data.backup2023", ""},
        {"/a/x.tar.gz", "/a/", "x.tar", "gz"},
        {"  /a/x.sixsix  ", "/a/", "x", "sixsix"},
        {"/a/.bashrc", "/a/", ".bashrc", ""},
        {"/a/b.c/file", "/a/b.c/", "file", ""},
        {"/a/x .pdf", "/a/", "x", "pdf"},
        {"name.pdf", "", "name", "pdf"},
        {"/a/文献 1.pdf", "/a/", "文献 1", "pdf"},
    };
    for (const auto& c : cases) {
        QString extension;
        QString base;
        EXPECT_EQ(SplitFilePath(QString::fromUtf8(c.path), &extension, &base),
                  QString::fromUtf8(c.folder))
            << c.path;
        EXPECT_EQ(base, QString::fromUtf8(c.base)) << c.path;
        EXPECT_EQ(extension, QString::fromUtf8(c.extension)) << c.path;
    }
}

TEST(CopyNames, SplitCounterSuffixTakesANumberInFinalBrackets) {
    const struct {
        const char* name;
        const char* stem;
        const char* counter;
    } cases[] = {
        {"a[001]", "a", "001"}, {"a[ 7 ]", "a", "7"},     {"a[x]", "a[x]", ""},
        {"[001]", "[001]", ""}, {"a]", "a]", ""},         {"a[1][2]", "a[1]", "2"},
        {"a", "a", ""},         {"a[12]b", "a[12]b", ""}, {"a[]", "a[]", ""},
    };
    for (const auto& c : cases) {
        QString stem;
        EXPECT_EQ(SplitCounterSuffix(QString::fromUtf8(c.name), &stem),
                  QString::fromUtf8(c.counter))
            << c.name;
        EXPECT_EQ(stem, QString::fromUtf8(c.stem)) << c.name;
    }
}

TEST_F(CopyFolders, RenamingCopyTakesTheFirstFreeCounterName) {
    const struct {
        const char* source;
        QStringList present;
        const char* created;
    } cases[] = {
        {"a.pdf", {"a.pdf", "a[001].pdf"}, "a[002].pdf"},
        {"readme", {"readme"}, "readme[001]"},
        {"data.backup2023", {"data.backup2023"}, "data.backup2023[001]"},
        {"Report[002].pdf", {}, "Report.pdf"},
        {"Report[002].pdf", {"Report.pdf"}, "Report[001].pdf"},
        {"b.pdf", {"b.pdf", "b[001].pdf", "b[003].pdf"}, "b[002].pdf"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString folder = dest_ + QString::number(++n) + QLatin1Char('/');
        ASSERT_TRUE(QDir().mkpath(folder));
        for (const QString& name : c.present) {
            ASSERT_TRUE(WriteFile(folder + name, "old"));
        }
        const QByteArray bytes = "content of " + QByteArray(c.source);
        const QString path = source(QString::fromUtf8(c.source), bytes);
        ASSERT_TRUE(复制相同文件自动重命名(path, folder)) << c.source;
        const QString created = folder + QString::fromUtf8(c.created);
        EXPECT_EQ(fileHash(created), hashOf(bytes)) << c.source;
        EXPECT_TRUE(sameTime(mtimeOf(created), mtimeOf(path))) << c.source;
        EXPECT_EQ(namesIn(folder).size(), c.present.size() + 1) << c.source;
        for (const QString& name : c.present) {
            EXPECT_EQ(ReadFile(folder + name), QByteArray("old")) << c.source;
        }
    }
    EXPECT_FALSE(复制相同文件自动重命名(src_ + QStringLiteral("missing.pdf"), dest_));
}

TEST_F(CopyFolders, EachSameNameOptionActsOnSizeAndTime) {
    enum Existing { SameSizeSameTime, SameSizeOtherTime, OtherSize };
    const QByteArray sourceBytes("AAAA-source");
    const struct {
        int option;
        Existing existing;
        CopyOutcome outcome;
    } cases[] = {
        {1, SameSizeSameTime, CopyOutcome::Skipped},   {1, OtherSize, CopyOutcome::Skipped},
        {2, SameSizeSameTime, CopyOutcome::Replaced},  {2, OtherSize, CopyOutcome::Replaced},
        {3, SameSizeSameTime, CopyOutcome::Renamed},   {3, OtherSize, CopyOutcome::Renamed},
        {4, SameSizeSameTime, CopyOutcome::Replaced},  {4, SameSizeOtherTime, CopyOutcome::Renamed},
        {4, OtherSize, CopyOutcome::Renamed},          {5, SameSizeSameTime, CopyOutcome::Replaced},
        {5, SameSizeOtherTime, CopyOutcome::Replaced}, {5, OtherSize, CopyOutcome::Renamed},
    };
    const QString path = source(QStringLiteral("a.pdf"), sourceBytes);
    int n = 0;
    for (const auto& c : cases) {
        const QString folder = dest_ + QString::number(++n) + QLatin1Char('/');
        ASSERT_TRUE(QDir().mkpath(folder));
        const QByteArray old =
            c.existing == OtherSize ? QByteArray("old") : QByteArray("BBBB-target");
        ASSERT_EQ(old.size() == sourceBytes.size(), c.existing != OtherSize);
        ASSERT_TRUE(WriteFile(folder + QStringLiteral("a.pdf"), old));
        const struct timespec when =
            c.existing == SameSizeSameTime ? mtimeOf(path) : timespec{1600000000, 0};
        ASSERT_TRUE(setMtime(folder + QStringLiteral("a.pdf"), when));

        const CopyOutcome outcome =
            CopyIntoFolder(path, folder, static_cast<SameNameOption>(c.option));
        EXPECT_EQ(outcome, c.outcome) << "option " << c.option << " case " << c.existing;
        const QByteArray now = ReadFile(folder + QStringLiteral("a.pdf"));
        const bool renamed = QFileInfo::exists(folder + QStringLiteral("a[001].pdf"));
        switch (c.outcome) {
        case CopyOutcome::Skipped:
            EXPECT_EQ(now, old);
            EXPECT_FALSE(renamed);
            break;
        case CopyOutcome::Replaced:
            EXPECT_EQ(hashOf(now), hashOf(sourceBytes));
            EXPECT_TRUE(sameTime(mtimeOf(folder + QStringLiteral("a.pdf")), mtimeOf(path)));
            EXPECT_FALSE(renamed);
            break;
        default:
            EXPECT_EQ(now, old);
            EXPECT_EQ(fileHash(folder + QStringLiteral("a[001].pdf")), hashOf(sourceBytes));
            break;
        }
        // No temporary file is left behind.
        EXPECT_EQ(namesIn(folder).size(), renamed ? 2 : 1) << "option " << c.option;
    }
}

TEST_F(CopyFolders, CopyingAnUnchangedFileAgainUnderOptionFourOverwritesIt) {
    const QString path = source(QStringLiteral("paper"), "no extension here");
    ::chmod(QFile::encodeName(path).constData(), 0640);
    EXPECT_EQ(CopyIntoFolder(path, dest_, SameNameOption::OverwriteIfSameSizeAndTime),
              CopyOutcome::Copied);
    EXPECT_EQ(CopyIntoFolder(path, dest_, SameNameOption::OverwriteIfSameSizeAndTime),
              CopyOutcome::Replaced);
    EXPECT_EQ(namesIn(dest_), QStringList{"paper"});
    EXPECT_EQ(QFileInfo(dest_ + QStringLiteral("paper")).permissions(),
              QFileInfo(path).permissions());
}

TEST_F(CopyFolders, AFailedOverwriteKeepsTheExistingFile) {
    // A source that exists but cannot be read to the end.
    const QString unreadable = QStringLiteral("/proc/self/mem");
    if (!QFileInfo(unreadable).isFile()) {
        GTEST_SKIP() << "no /proc here";
    }
    ASSERT_TRUE(WriteFile(dest_ + QStringLiteral("mem"), "precious"));
    EXPECT_EQ(CopyIntoFolder(unreadable, dest_, SameNameOption::Overwrite), CopyOutcome::Failed);
    EXPECT_EQ(ReadFile(dest_ + QStringLiteral("mem")), QByteArray("precious"));
    EXPECT_EQ(namesIn(dest_), QStringList{"mem"});
}

TEST_F(CopyFolders, NeverWritesThroughALinkOrOverTheSource) {
    const QString outside = base_ + QStringLiteral("/outside/victim.pdf");
    ASSERT_TRUE(QDir().mkpath(base_ + QStringLiteral("/outside")));
    ASSERT_TRUE(WriteFile(outside, "victim"));
    ASSERT_TRUE(QFile::link(outside, dest_ + QStringLiteral("a.pdf")));
    const QString path = source(QStringLiteral("a.pdf"), "new");
    EXPECT_EQ(CopyIntoFolder(path, dest_, SameNameOption::Overwrite), CopyOutcome::Replaced);
    EXPECT_FALSE(QFileInfo(dest_ + QStringLiteral("a.pdf")).isSymLink());
    EXPECT_EQ(ReadFile(dest_ + QStringLiteral("a.pdf")), QByteArray("new"));
    EXPECT_EQ(ReadFile(outside), QByteArray("victim"));

    // Under option 4 a link to the source itself is not taken for an equal file.
    const QString b = source(QStringLiteral("b.pdf"), "bbb");
    ASSERT_TRUE(QFile::link(b, dest_ + QStringLiteral("b.pdf")));
    EXPECT_EQ(CopyIntoFolder(b, dest_, SameNameOption::OverwriteIfSameSizeAndTime),
              CopyOutcome::Renamed);
    EXPECT_EQ(ReadFile(b), QByteArray("bbb"));

    // The destination is the source's folder, by its own name or through a link to it.
    ASSERT_TRUE(QFile::link(QDir::cleanPath(src_), base_ + QStringLiteral("/srclink")));
    for (const QString& folder :
         {src_, base_ + QStringLiteral("/srclink/"), base_ + QStringLiteral("/dest/../src")}) {
        EXPECT_EQ(CopyIntoFolder(path, folder, SameNameOption::Rename), CopyOutcome::SameFolder)
            << folder.toStdString();
    }
    EXPECT_EQ(namesIn(src_), (QStringList{"a.pdf", "b.pdf"}));
}

namespace {

class CopyDialog : public CopyFolders {
protected:
    void SetUp() override {
        CopyFolders::SetUp();
        settings_ = std::make_unique<SettingsStore>(base_ + QStringLiteral("/settings.ini"));
        listPath_ = base_ + QStringLiteral("/data/SaveList.dat");
    }
    std::unique_ptr<Form_Copy_Move> dialog() {
        return std::make_unique<Form_Copy_Move>(nullptr, settings_.get(), listPath_);
    }
    QStringList fiveSources() {
        QStringList files;
        for (int i = 1; i <= 5; ++i) {
            files << source(QStringLiteral("f%1.bin").arg(i), QByteArray(1000 * i, char('0' + i)));
        }
        return files;
    }

    std::unique_ptr<SettingsStore> settings_;
    QString listPath_;
    RecordingMessageBoxes boxes_;
};

} // namespace

TEST_F(CopyDialog, LoadsTheDownloadFolderAndOptionFourByDefault) {
    const auto d = dialog();
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    EXPECT_EQ(d->destinationBox()->currentText(), downloads + QLatin1Char('/'));
    EXPECT_EQ(d->OpIndex, 4);
    EXPECT_TRUE(d->optionButton(4)->isChecked());
    EXPECT_EQ(d->startButton()->text(), QStringLiteral("开始"));
    d->optionButton(2)->click();
    EXPECT_EQ(d->OpIndex, 2);
}

TEST_F(CopyDialog, RunStoresTheFolderWithSlashAndRemembersItOnce) {
    ASSERT_TRUE(WriteFolderList(listPath_, {base_ + QStringLiteral("/other")}));
    const QString path = source(QStringLiteral("a.pdf"), "a");
    {
        const auto d = dialog();
        EXPECT_EQ(d->destinationBox()->count(), 1);
        d->destinationBox()->setEditText(dest_ + QStringLiteral("new"));
        d->optionButton(3)->click();
        d->FileList = QStringList{path, src_ + QStringLiteral("gone.pdf")};
        d->执行();
        EXPECT_EQ(d->DestFolder, dest_ + QStringLiteral("new/"));
        EXPECT_EQ(d->FileList, QStringList{path});
        EXPECT_EQ(d->progressBar()->value(), 0);
        EXPECT_TRUE(d->currentFileLabel()->text().isEmpty());
    }
    EXPECT_EQ(ReadFile(dest_ + QStringLiteral("new/a.pdf")), QByteArray("a"));
    EXPECT_EQ(settings_->read(QStringLiteral("Form_Copy_Move"), QStringLiteral("目的文件夹"), {}),
              dest_ + QStringLiteral("new/"));
    EXPECT_EQ(settings_->read(QStringLiteral("Form_Copy_Move"), QStringLiteral("OpIndex"), {}),
              QStringLiteral("3"));
    // Newest first: past a hundred folders the new one is still remembered.
    EXPECT_EQ(*ReadFolderList(listPath_),
              (QStringList{dest_ + QStringLiteral("new"), base_ + QStringLiteral("/other")}));
    EXPECT_EQ(boxes_.texts(), QStringList{"复制文件完成！"});

    // Opened again: the stored choices come back, and the same folder typed another way is not
    // remembered twice.
    const auto d = dialog();
    EXPECT_EQ(d->destinationBox()->currentText(), dest_ + QStringLiteral("new/"));
    EXPECT_TRUE(d->optionButton(3)->isChecked());
    d->FileList = QStringList{path};
    d->执行();
    EXPECT_EQ(ReadFolderList(listPath_)->size(), 2);
    EXPECT_TRUE(QFileInfo::exists(dest_ + QStringLiteral("new/a[001].pdf")));
}

TEST_F(CopyDialog, AFolderThatCannotBeCreatedIsReportedAndNothingRuns) {
    ASSERT_TRUE(WriteFile(base_ + QStringLiteral("/plainfile"), "x"));
    const auto d = dialog();
    d->destinationBox()->setEditText(base_ + QStringLiteral("/plainfile/sub"));
    d->FileList = QStringList{source(QStringLiteral("a.pdf"), "a")};
    d->执行();
    ASSERT_FALSE(boxes_.shown.isEmpty());
    EXPECT_EQ(boxes_.shown.last().text, QStringLiteral("创建文件夹出错！"));
    EXPECT_EQ(boxes_.shown.last().icon, MsgIcon::Error);
    EXPECT_FALSE(d->Copying);
    EXPECT_TRUE(
        settings_->read(QStringLiteral("Form_Copy_Move"), QStringLiteral("OpIndex"), {}).isEmpty());
}

TEST_F(CopyDialog, StopAfterTheSecondOfFiveFilesLeavesTheRestUncopied) {
    const QStringList files = fiveSources();
    const auto d = dialog();
    d->destinationBox()->setEditText(dest_);
    d->FileList = files;
    QStringList labels;
    const auto stopper = QObject::connect(d.get(), &Form_Copy_Move::fileShown, [&](int position) {
        labels << d->currentFileLabel()->text();
        EXPECT_EQ(d->progressBar()->value(), position);
        EXPECT_EQ(d->progressBar()->maximum(), 6);
        EXPECT_EQ(d->startButton()->text(), QStringLiteral("停止"));
        if (position == 2) {
            // The click waits in the queue, which the run lets through before copying file 2.
            QMetaObject::invokeMethod(d->startButton(), "click", Qt::QueuedConnection);
        }
    });
    d->执行();
    EXPECT_EQ(labels, (QStringList{"f1.bin", "f2.bin"}));
    EXPECT_EQ(namesIn(dest_), (QStringList{"f1.bin", "f2.bin"}));
    EXPECT_EQ(fileHash(dest_ + QStringLiteral("f2.bin")), fileHash(files.at(1)));
    // A stopped run is not reported as complete.
    EXPECT_EQ(boxes_.texts(), QStringList{"复制已停止：成功2个，失败0个，未复制3个"});
    EXPECT_EQ(boxes_.shown.last().icon, MsgIcon::Information);
    EXPECT_EQ(d->startButton()->text(), QStringLiteral("开始"));
    EXPECT_FALSE(d->Copying);
    EXPECT_EQ(d->FileList, files); // kept for another run

    // The next 开始 runs over the same files again.
    QObject::disconnect(stopper);
    d->执行();
    EXPECT_EQ(namesIn(dest_).size(), 5);
    EXPECT_EQ(boxes_.texts().last(), QStringLiteral("复制文件完成！"));
}

TEST_F(CopyDialog, ClosingDuringARunStopsItAndEmptiesTheList) {
    const QStringList files = fiveSources();
    const auto d = dialog();
    d->show();
    d->destinationBox()->setEditText(dest_);
    d->FileList = files;
    QObject::connect(d.get(), &Form_Copy_Move::fileShown, [&](int position) {
        if (position == 1) {
            QMetaObject::invokeMethod(d.get(), "close", Qt::QueuedConnection);
        }
    });
    d->执行();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(namesIn(dest_), QStringList{"f1.bin"});
    EXPECT_TRUE(d->FileList.isEmpty());
    EXPECT_FALSE(d->Copying);
}

TEST_F(CopyDialog, SourcesInTheDestinationFolderAreSkipped) {
    const QString path = source(QStringLiteral("a.pdf"), "a");
    const auto d = dialog();
    d->destinationBox()->setEditText(src_);
    d->optionButton(3)->click();
    d->FileList = QStringList{path};
    d->执行();
    EXPECT_EQ(namesIn(src_), QStringList{"a.pdf"});
    EXPECT_EQ(boxes_.texts(), QStringList{"复制文件完成！"});
}

// "复制文件完成！" only for a run that went through every file without a failure; otherwise the
// counts and the first failed names. Root can write anywhere, so failures come from a directory
// standing where a file or the destination folder should be.
TEST_F(CopyDialog, ClosingMessageCountsFailuresAndAStop) {
    const QStringList files = fiveSources();
    struct Case {
        const char* what;
        int option;
        QStringList directoriesInTheWay; ///< made in the destination before the run
        QStringList filesThere;          ///< copied there before the run
        int stopAt;                      ///< 停止 clicked when this file shows; 0 never
        bool destinationBecomesAFile;    ///< the folder is swapped for a file once the run began
        QString message;
        MsgIcon icon;
    };
    const Case cases[] = {
        {"all copied", 2, {}, {}, 0, false, QStringLiteral("复制文件完成！"), MsgIcon::Information},
        {"skipped by choice is no failure",
         1,
         {},
         {"f1.bin", "f4.bin"},
         0,
         false,
         QStringLiteral("复制文件完成！"),
         MsgIcon::Information},
        {"two cannot be replaced",
         2,
         {"f2.bin", "f3.bin"},
         {},
         0,
         false,
         QStringLiteral("复制完成：成功3个，失败2个：f2.bin、f3.bin"),
         MsgIcon::Error},
        {"every copy fails",
         2,
         {},
         {},
         0,
         true,
         QStringLiteral("复制完成：成功0个，失败5个：f1.bin、f2.bin、f3.bin 等"),
         MsgIcon::Error},
        {"stopped after a failure",
         2,
         {"f1.bin"},
         {},
         2,
         false,
         QStringLiteral("复制已停止：成功1个，失败1个，未复制3个：f1.bin"),
         MsgIcon::Error},
        {"stopped with skips",
         1,
         {},
         {"f1.bin"},
         3,
         false,
         QStringLiteral("复制已停止：成功2个，跳过1个，失败0个，未复制2个"),
         MsgIcon::Information},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = base_ + QStringLiteral("/run%1/").arg(++run);
        ASSERT_TRUE(QDir().mkpath(folder));
        for (const QString& name : c.directoriesInTheWay) {
            ASSERT_TRUE(QDir().mkpath(folder + name + QStringLiteral("/inside")));
        }
        for (const QString& name : c.filesThere) {
            ASSERT_TRUE(QFile::copy(src_ + name, folder + name));
        }
        const auto d = dialog();
        d->destinationBox()->setEditText(folder);
        d->optionButton(c.option)->click();
        d->FileList = files;
        QObject::connect(d.get(), &Form_Copy_Move::fileShown, [&](int position) {
            if (position == 1 && c.destinationBecomesAFile) {
                ASSERT_TRUE(QDir(folder).removeRecursively());
                ASSERT_TRUE(WriteFile(QDir::cleanPath(folder), "not a folder"));
            }
            if (position == c.stopAt) {
                QMetaObject::invokeMethod(d->startButton(), "click", Qt::QueuedConnection);
            }
        });
        boxes_.shown.clear();
        d->执行();
        ASSERT_EQ(boxes_.shown.size(), 1);
        EXPECT_EQ(boxes_.shown.first().text, c.message);
        EXPECT_EQ(boxes_.shown.first().icon, c.icon);
        if (c.destinationBecomesAFile) {
            EXPECT_EQ(ReadFile(QDir::cleanPath(folder)), QByteArray("not a folder"));
        }
        for (const QString& name : c.directoriesInTheWay) {
            EXPECT_TRUE(QFileInfo(folder + name).isDir());
        }
    }
}

namespace {

/// Answers the folder dialog instead of a person and records how it was asked.
class FolderAnswer final : public UserDialogs {
public:
    FolderAnswer() { previous_ = SetDialogs(this); }
    ~FolderAnswer() override { SetDialogs(previous_); }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString openFileName(QWidget*, const QString&) override { return {}; }
    QString folder(QWidget*, const QString& title, const QString& start) override {
        asked << title + QLatin1Char('|') + start;
        return answer;
    }
    std::optional<QString> text(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    QString answer;
    QStringList asked;

private:
    UserDialogs* previous_ = nullptr;
};

} // namespace

TEST_F(CopyDialog, BrowseAsksThroughTheSharedFolderChooser) {
    FolderAnswer dialogs;
    // Should a desktop dialog open instead, it is closed so that the test fails, not hangs.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* desktopDialog = qobject_cast<QFileDialog*>(window)) {
                desktopDialog->reject();
            }
        }
    });
    closer.start(100);
    const auto d = dialog();
    d->destinationBox()->setEditText(dest_ + QStringLiteral("sub"));

    d->browseButton()->click(); // cancelled: the typed folder stays, with its "/"
    EXPECT_EQ(d->destinationBox()->currentText(), dest_ + QStringLiteral("sub/"));
    dialogs.answer = src_ + QStringLiteral("chosen");
    d->browseButton()->click();
    EXPECT_EQ(d->destinationBox()->currentText(), src_ + QStringLiteral("chosen/"));
    // It opens on the parent of the typed folder.
    EXPECT_EQ(dialogs.asked, (QStringList{QStringLiteral("请选择要浏览的文件夹:|") + dest_,
                                          QStringLiteral("请选择要浏览的文件夹:|") + dest_}));
}
