#include "ui/shell/FolderListCombo.h"

#include "TestSupport.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

TEST(FolderList, ReadingSkipsEmptyAndSameFolderLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = QDir::homePath();
    const struct {
        const char* what;
        QByteArray bytes;
        QStringList expected;
    } cases[] = {
        {"same folder with and without slash, empty line",
         "/data/A/\r\n/data/A\r\n\r\n   \r\n/data/B/\r\n",
         {"/data/A/", "/data/B/"}},
        {"case matters", "/data/A\r\n/data/a\r\n", {"/data/A", "/data/a"}},
        {"home folder written two ways", "~/papers\n" + home.toUtf8() + "/papers/\n", {"~/papers"}},
        {"spaces trimmed, line feeds alone", "  /x/y  \n/x/./y\n/z", {"/x/y", "/z"}},
        {"UTF-8", "/数据/文献\r\n", {"/数据/文献"}},
        {"only an empty line", "\r\n", {}},
    };
    const QString path = dir.filePath(QStringLiteral("SaveList.dat"));
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFile(path, c.bytes));
        const auto folders = ReadFolderList(path);
        ASSERT_TRUE(folders.has_value()) << c.what;
        EXPECT_EQ(*folders, c.expected) << c.what;
    }
    EXPECT_FALSE(ReadFolderList(dir.filePath(QStringLiteral("missing.dat"))).has_value());
    EXPECT_FALSE(ReadFolderList(dir.path()).has_value());
}

TEST(FolderList, OnlyTheFirstHundredLinesCount) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("SaveList.dat"));
    QByteArray bytes;
    for (int i = 1; i <= 150; ++i) {
        bytes += "/f/" + QByteArray::number(i) + "\r\n";
    }
    ASSERT_TRUE(WriteFile(path, bytes));
    QStringList folders = *ReadFolderList(path);
    ASSERT_EQ(folders.size(), 100);
    EXPECT_EQ(folders.last(), QStringLiteral("/f/100"));

    // A folder added as line 101 is written but not offered the next time.
    folders = QStringList();
    for (int i = 1; i <= 150; ++i) {
        folders << QStringLiteral("/f/%1").arg(i);
    }
    folders << QStringLiteral("/new");
    ASSERT_TRUE(WriteFolderList(path, folders));
    EXPECT_FALSE(ReadFolderList(path)->contains(QStringLiteral("/new")));

    // Repeated lines count toward the hundred.
    bytes = QByteArray();
    for (int i = 0; i < 100; ++i) {
        bytes += "/same\r\n";
    }
    ASSERT_TRUE(WriteFile(path, bytes + "/late\r\n"));
    EXPECT_EQ(*ReadFolderList(path), QStringList{"/same"});
}

TEST(FolderList, WritingReplacesTheWholeFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("new/folder/SaveList.dat"));
    ASSERT_TRUE(WriteFolderList(path, {QStringLiteral("/a"), QStringLiteral("/数据")}));
    EXPECT_EQ(ReadFile(path), QByteArray("/a\r\n/数据\r\n"));
    ASSERT_TRUE(WriteFolderList(path, {}));
    EXPECT_EQ(ReadFile(path), QByteArray("\r\n"));
    EXPECT_FALSE(WriteFolderList(dir.filePath(QStringLiteral("new")), {QStringLiteral("/a")}));

    EXPECT_TRUE(SameFolder(QStringLiteral("~/x/"), QDir::homePath() + QStringLiteral("/x")));
    EXPECT_FALSE(SameFolder(QStringLiteral("/x"), QStringLiteral("/X")));
    EXPECT_FALSE(SameFolder(QString(), QString()));
}

TEST(FolderList, ComboBoxLoadsSavesAndWidensItsList) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("SaveList.dat"));
    QComboBox combo;
    combo.setEditable(true);
    combo.addItem(QStringLiteral("/kept"));
    combo.setEditText(QStringLiteral("/typed"));
    LoadFolderList(&combo, path); // no file: unchanged
    EXPECT_EQ(combo.count(), 1);

    const QString longest = QStringLiteral("/a/rather/long/folder/name/that/needs/room");
    ASSERT_TRUE(WriteFile(path, "/a\r\n" + longest.toUtf8() + "\r\n/A\r\n/a/\r\n"));
    LoadFolderList(&combo, path);
    ASSERT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.itemText(1), longest);
    EXPECT_EQ(combo.currentText(), QStringLiteral("/typed"));

    combo.resize(80, combo.height());
    FitComboDropWidth(&combo);
    EXPECT_EQ(combo.width(), 80);
    EXPECT_GE(combo.view()->minimumWidth(),
              std::min(QFontMetrics(combo.font()).horizontalAdvance(longest) + 7,
                       combo.screen()->availableGeometry().width() -
                           combo.mapToGlobal(QPoint(0, 0)).x()));

    combo.addItem(QStringLiteral("/b"));
    ASSERT_TRUE(SaveFolderList(&combo, path));
    EXPECT_EQ(ReadFile(path), "/a\r\n" + longest.toUtf8() + "\r\n/A\r\n/b\r\n");
}

// Past a hundred remembered folders a new destination is still remembered: the list keeps the
// most recent hundred, newest first, and a folder used again moves to the top.
TEST(FolderList, TheMostRecentHundredAreKeptNewestFirst) {
    QStringList folders;
    for (int i = 0; i < kMaxFolderListLines; ++i) {
        folders << QStringLiteral("/data/f%1").arg(i);
    }
    QStringList after = RememberFolder(folders, QStringLiteral("/data/new"));
    ASSERT_EQ(after.size(), kMaxFolderListLines);
    EXPECT_EQ(after.first(), QStringLiteral("/data/new"));
    EXPECT_EQ(after.last(), QStringLiteral("/data/f98")); // the oldest one went
    after = RememberFolder(after, QStringLiteral("/data/f50/"));
    EXPECT_EQ(after.first(), QStringLiteral("/data/f50/"));
    EXPECT_EQ(after.count(QStringLiteral("/data/f50")), 0); // the same folder, not repeated
    EXPECT_EQ(after.size(), kMaxFolderListLines);

    // Through the box and the file: the new folder survives a write and a read.
    QTemporaryDir tmp;
    const QString file = tmp.path() + QStringLiteral("/SaveList.dat");
    ASSERT_TRUE(WriteFolderList(file, folders));
    QComboBox box;
    box.setEditable(true);
    LoadFolderList(&box, file);
    box.setEditText(QStringLiteral("typed"));
    RememberFolder(&box, QStringLiteral("/data/new"));
    EXPECT_EQ(box.currentText(), QStringLiteral("typed"));
    ASSERT_TRUE(SaveFolderList(&box, file));
    EXPECT_EQ(ReadFolderList(file)->first(), QStringLiteral("/data/new"));
}
