#include "shell/WindowHelpers.h"

#include "shell/ShellHelpers.h"

#include "TestSupport.h"

#include <QFile>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWidget>
#include <gtest/gtest.h>

using namespace quillax;
using quillax::test::ReadFile;
using quillax::test::RecordingShell;
using quillax::test::RecordingSounds;

TEST(IsWindowLoaded, FindsHiddenWindowsIgnoringCase) {
    EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fFileDownload")));
    {
        QWidget window;
        window.setObjectName(QStringLiteral("fFileDownload"));
        EXPECT_TRUE(IsWindowLoaded(QStringLiteral("FFILEDOWNLOAD")));
        EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fWebSearch")));
    }
    EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fFileDownload")));
}

TEST(SetListColumnWidth, SetsOnlyExistingColumnsAndFitsToHeaderOrContents) {
    QStandardItemModel model(1, 3);
    model.setHorizontalHeaderLabels({QStringLiteral("a very long header caption here"),
                                     QStringLiteral("b"), QStringLiteral("c")});
    model.setItem(0, 0, new QStandardItem(QStringLiteral("x")));
    model.setItem(0, 1, new QStandardItem(QString(60, QLatin1Char('w'))));
    QTreeView view;
    view.setModel(&model);
    view.header()->setStretchLastSection(false);
    for (int c = 0; c < 3; ++c) {
        view.setColumnWidth(c, 33);
    }

    SetListColumnWidth(&view, 0, 80);
    SetListColumnWidth(&view, 4, 80);
    EXPECT_EQ(view.columnWidth(0), 33);
    EXPECT_EQ(view.columnWidth(2), 33);

    SetListColumnWidth(&view, 3, 90);
    EXPECT_EQ(view.columnWidth(2), 90);

    SetAllListColumnWidths(&view, kFitContentsAndHeader);
    // Column 1 is as wide as its header, column 2 as its contents: both exceed the other part.
    const QAbstractItemView& asView = view;
    EXPECT_GE(view.columnWidth(0), view.header()->sectionSizeHint(0));
    EXPECT_GT(view.columnWidth(0), asView.sizeHintForColumn(0));
    EXPECT_GE(view.columnWidth(1), asView.sizeHintForColumn(1));
    EXPECT_GT(view.columnWidth(1), view.header()->sectionSizeHint(1));
}

TEST(PaintListStripes, RowsAlternateLightGreenThenWhite) {
    QTreeView view;
    PaintListStripes(&view);
    EXPECT_TRUE(view.alternatingRowColors());
    EXPECT_EQ(view.palette().color(QPalette::Base), QColor(231, 248, 237));
    EXPECT_EQ(view.palette().color(QPalette::AlternateBase), QColor(Qt::white));
}

TEST(PlaySoundResource, WritesEachSoundOnceAndPlaysIt) {
    QTemporaryDir tmp;
    RecordingSounds sounds;
    const QString path = tmp.path() + QStringLiteral("/102.wav");

    PlaySoundResource(102, tmp.path());
    ASSERT_TRUE(QFile::exists(path));
    const QByteArray written = ReadFile(path);
    EXPECT_TRUE(written.startsWith("RIFF"));
    EXPECT_EQ(sounds.played, QStringList{path});

    // A file already there is played as it is, not written again.
    ASSERT_TRUE(test::WriteFile(path, "changed"));
    PlaySoundResource(102, tmp.path());
    EXPECT_EQ(ReadFile(path), QByteArray("changed"));
    EXPECT_EQ(sounds.played.size(), 2);

    PlaySoundResource(101, tmp.path());
    PlaySoundResource(103, tmp.path());
    const QByteArray s101 = ReadFile(tmp.path() + QStringLiteral("/101.wav"));
    const QByteArray s103 = ReadFile(tmp.path() + QStringLiteral("/103.wav"));
    EXPECT_NE(s101, s103);
    EXPECT_NE(s101, written);

    PlaySoundResource(104, tmp.path());
    EXPECT_FALSE(QFile::exists(tmp.path() + QStringLiteral("/104.wav")));
    EXPECT_EQ(sounds.played.size(), 4);
}

TEST(PlaySoundResource, AFolderThatCannotBeWrittenIsSilent) {
    QTemporaryDir tmp;
    RecordingSounds sounds;
    ASSERT_TRUE(test::WriteFile(tmp.path() + QStringLiteral("/file"), "x"));
    PlaySoundResource(101, tmp.path() + QStringLiteral("/file/sub"));
    EXPECT_TRUE(sounds.played.isEmpty());
}

TEST(OpenInBrowser, FallsBackFromTheDefaultHandlerToTheBrowsers) {
    const QString address = QStringLiteral("https://www.quillax.example/help/");
    {
        RecordingShell shell;
        OpenInBrowser(address, false);
        EXPECT_EQ(shell.opened, QList<QUrl>{QUrl(address)});
        EXPECT_TRUE(shell.started.isEmpty());
    }
    {
        RecordingShell shell;
        shell.openSucceeds = false;
        OpenInBrowser(address, false);
        EXPECT_EQ(shell.started, QStringList{QStringLiteral("xdg-open ") + address});
    }
    {
        RecordingShell shell;
        shell.failingPrograms = {QStringLiteral("xdg-open")};
        OpenInBrowser(address, true); // a new browser window skips the default handler
        EXPECT_TRUE(shell.opened.isEmpty());
        EXPECT_EQ(shell.started, (QStringList{QStringLiteral("xdg-open ") + address,
                                              QStringLiteral("x-www-browser ") + address}));
    }
}
