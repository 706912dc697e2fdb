#include "core/files/FileNaming.h"
#include "core/settings/TextUtil.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillax;
using quillax::test::RecordingMessageBoxes;
using quillax::test::RecordingShell;
using quillax::test::WriteFile;

namespace {
const QString kBadFolder = QStringLiteral("文件夹名称有误！不能创建文件夹！");
}

struct TextCase {
    QString input;
    QString expected;
};

// Names the case in the test's name instead of its bytes.
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.input.toStdString();
}

class CleanFileNameCases : public ::testing::TestWithParam<TextCase> {};

TEST_P(CleanFileNameCases, Cleans) {
    EXPECT_EQ(CleanFileName(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CleanFileNameCases,
    ::testing::Values(TextCase{QStringLiteral("a:b*c?.pdf"), QStringLiteral("abc.pdf")},
                      TextCase{QStringLiteral("..Title.."), QStringLiteral("Title")},
                      TextCase{QStringLiteral("a\\b/c\"d<e>f|g"), QStringLiteral("abcdefg")},
                      TextCase{QStringLiteral("line\r\nbreak\nand\rnul") + QChar(u'\0'),
                               QStringLiteral("linebreakandnul")},
                      TextCase{QStringLiteral("tab\tstays"), QStringLiteral("tab\tstays")},
                      TextCase{QStringLiteral("  spaces stay  "),
                               QStringLiteral("  spaces stay  ")},
                      TextCase{QStringLiteral("./..:*?/."), QString()},
                      TextCase{QStringLiteral("...."), QString()},
                      TextCase{QStringLiteral("中文：标题？"), QStringLiteral("中文：标题？")}));

TEST(CleanFileName, CutsLongNamesToTwoHundredUtf8Bytes) {
    const QString chinese(150, QChar(u'文'));
    const QString cut = CleanFileName(chinese);
    EXPECT_EQ(cut, QString(66, QChar(u'文'))); // 66 × 3 bytes = 198
    EXPECT_EQ(CleanFileName(QString(250, QLatin1Char('a'))), QString(200, QLatin1Char('a')));
    // Room stays for a counter and an extension under the 255-byte file-name limit.
    EXPECT_LE((cut + QStringLiteral("[0001].pdf")).toUtf8().size(), 255);
}

TEST(TruncateAnsiBytes, NeverLeavesABrokenCharacter) {
    const QString emoji = QStringLiteral("ab\U0001F600c"); // the emoji is 4 UTF-8 bytes
    EXPECT_EQ(TruncateAnsiBytes(emoji, 5), QStringLiteral("ab"));
    EXPECT_EQ(TruncateAnsiBytes(emoji, 6), QStringLiteral("ab\U0001F600"));
    EXPECT_EQ(TruncateAnsiBytes(QStringLiteral("中文字"), 8), QStringLiteral("中文"));
    EXPECT_EQ(TruncateAnsiBytes(QStringLiteral("abc"), 0), QString());
    EXPECT_EQ(TruncateAnsiBytes(QStringLiteral("short"), 200), QStringLiteral("short"));
    const QString lone = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b");
    EXPECT_EQ(TruncateAnsiBytes(lone, 200), QStringLiteral("a\uFFFDb"));
}

TEST(FileNameFromPath, TakesTheLastSegment) {
    struct Case {
        QString path;
        bool strip;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("https://a.test/dir/paper.pdf"), false, QStringLiteral("paper.pdf")},
        {QStringLiteral("https://a.test/dir/paper.pdf"), true, QStringLiteral("paper")},
        {QStringLiteral("C:\\x\\y\\report.v2.doc "), true, QStringLiteral("report.v2")},
        {QStringLiteral("/home/u/noext"), true, QStringLiteral("noext")},
        {QStringLiteral("https://a.test/dir/"), false, QString()},
        {QStringLiteral(" plain name . pdf"), true, QStringLiteral("plain name")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileNameFromPath(c.path, c.strip), c.expected) << c.path.toStdString();
    }
}

TEST(SplitNameAndExtension, SplitsAtTheLastDotWithShortExtensionsOnly) {
    struct Case {
        QString path;
        QString extension;
        QString base;
    };
    const Case cases[] = {
        {QStringLiteral("/x/file.version1"), QString(), QStringLiteral("file.version1")},
        {QStringLiteral("/x/file.pdf"), QStringLiteral("pdf"), QStringLiteral("file")},
        {QStringLiteral("/x/archive.tar.gz"), QStringLiteral("gz"), QStringLiteral("archive.tar")},
        {QStringLiteral("/x/abc.sixsix"), QStringLiteral("sixsix"), QStringLiteral("abc")},
        {QStringLiteral("  /x/name  "), QString(), QStringLiteral("name")},
        {QStringLiteral("/x.d/name"), QString(), QStringLiteral("name")},
        {QStringLiteral("/x/A b .htm"), QStringLiteral("htm"), QStringLiteral("A b")},
    };
    for (const Case& c : cases) {
        QString base;
        EXPECT_EQ(SplitNameAndExtension(c.path, &base), c.extension) << c.path.toStdString();
        EXPECT_EQ(base, c.base) << c.path.toStdString();
    }
}

TEST(EnsureFolderPath, CreatesEveryLevelCleaned) {
    QTemporaryDir tmp;
    RecordingMessageBoxes boxes;
    const QString root = tmp.path();
    EXPECT_EQ(EnsureFolderPath(root + QStringLiteral("/Papers/2024/")),
              root + QStringLiteral("/Papers/2024"));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/Papers/2024")).isDir());
    EXPECT_EQ(EnsureFolderPath(root + QStringLiteral("/Pa:pers")),
              root + QStringLiteral("/Papers"));
    EXPECT_EQ(EnsureFolderPath(root), root); // an existing folder comes back as it is
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST(EnsureFolderPath, ALevelThatCleansToEmptyStopsWithTheMessage) {
    QTemporaryDir tmp;
    RecordingMessageBoxes boxes;
    const QString result = EnsureFolderPath(tmp.path() + QStringLiteral("/ok/:?*/deeper"));
    EXPECT_EQ(result, tmp.path() + QStringLiteral("/ok"));
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + QStringLiteral("/ok/deeper")));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, kBadFolder);
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Error);
    // ".." cleans to empty: a folder text cannot climb out of where it points.
    EXPECT_EQ(EnsureFolderPath(tmp.path() + QStringLiteral("/ok/../escape")),
              tmp.path() + QStringLiteral("/ok"));
}

TEST(EnsureFolderPath, BadPathsGiveEmptyTextNeverACrash) {
    QTemporaryDir tmp;
    RecordingMessageBoxes boxes;
    EXPECT_EQ(EnsureFolderPath(QStringLiteral("///share/x")), QString());
    EXPECT_EQ(boxes.texts(), QStringList{kBadFolder});
    EXPECT_EQ(EnsureFolderPath(QString()), QString());

    // A file where a level should be: nothing can be created below it.
    ASSERT_TRUE(WriteFile(tmp.path() + QStringLiteral("/blocker"), "x"));
    EXPECT_EQ(EnsureFolderPath(tmp.path() + QStringLiteral("/blocker/sub")), QString());
    EXPECT_TRUE(QFileInfo(tmp.path() + QStringLiteral("/blocker")).isFile());
}

TEST(EnsureFolderPath, TildeMeansTheHomeFolder) {
    EXPECT_EQ(ExpandHomePath(QStringLiteral("~/12345/")),
              QDir::homePath() + QStringLiteral("/12345/"));
    EXPECT_EQ(ExpandHomePath(QStringLiteral("/abs/~/x")), QStringLiteral("/abs/~/x"));
}

TEST(UniqueFilePath, NumbersOccupiedNamesAndNeverReturnsAnExistingPath) {
    QTemporaryDir tmp;
    const QString d = tmp.path() + QLatin1Char('/');
    const QString free = d + QString(120, QLatin1Char('L')) + QStringLiteral(".pdf");
    EXPECT_EQ(UniqueFilePath(free), free); // a free path comes back unchanged, however long

    ASSERT_TRUE(WriteFile(d + QStringLiteral("Paper.pdf"), "1"));
    EXPECT_EQ(UniqueFilePath(d + QStringLiteral("Paper.pdf")),
              d + QStringLiteral("Paper[0001].pdf"));
    ASSERT_TRUE(WriteFile(d + QStringLiteral("Paper[0001].pdf"), "1"));
    EXPECT_EQ(UniqueFilePath(d + QStringLiteral("Paper.pdf")),
              d + QStringLiteral("Paper[0002].pdf"));

    // An existing counter is not continued: the plain name is tried first.
    ASSERT_TRUE(WriteFile(d + QStringLiteral("Note[0003].txt"), "1"));
    EXPECT_EQ(UniqueFilePath(d + QStringLiteral("Note[0003].txt")), d + QStringLiteral("Note.txt"));

    // A long occupied base is cut to 100 characters.
    const QString longBase(120, QLatin1Char('B'));
    ASSERT_TRUE(WriteFile(d + longBase + QStringLiteral(".pdf"), "1"));
    const QString cut = QString(100, QLatin1Char('B'));
    EXPECT_EQ(UniqueFilePath(d + longBase + QStringLiteral(".pdf")),
              d + cut + QStringLiteral(".pdf"));
    ASSERT_TRUE(WriteFile(d + cut + QStringLiteral(".pdf"), "1"));
    EXPECT_EQ(UniqueFilePath(d + longBase + QStringLiteral(".pdf")),
              d + cut + QStringLiteral("[0001].pdf"));

    // Without an extension, and with a folder or a dangling link in the way.
    ASSERT_TRUE(WriteFile(d + QStringLiteral("plain"), "1"));
    EXPECT_EQ(UniqueFilePath(d + QStringLiteral("plain")), d + QStringLiteral("plain[0001]"));
    ASSERT_TRUE(QDir(d).mkdir(QStringLiteral("dir.pdf")));
    EXPECT_EQ(UniqueFilePath(d + QStringLiteral("dir.pdf")), d + QStringLiteral("dir[0001].pdf"));
    ASSERT_TRUE(QFile::link(d + QStringLiteral("nowhere"), d + QStringLiteral("link.pdf")));
    EXPECT_EQ(UniqueFilePath(d + QStringLiteral("link.pdf")), d + QStringLiteral("link[0001].pdf"));
}

TEST(UniqueFilePath, ABareNameIsNumberedInTheCurrentFolder) {
    QTemporaryDir tmp;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    ASSERT_TRUE(WriteFile(QStringLiteral("bare.pdf"), "1"));
    EXPECT_EQ(UniqueFilePath(QStringLiteral("bare.pdf")), QStringLiteral("bare[0001].pdf"));
    QDir::setCurrent(previous);
}

TEST(UniqueFilePath, ALongChineseBaseStaysACreatableName) {
    QTemporaryDir tmp;
    const QString d = tmp.path() + QLatin1Char('/');
    const QString base(66, QChar(u'文'));
    ASSERT_TRUE(WriteFile(d + base + QStringLiteral(".pdf"), "1"));
    const QString unique = UniqueFilePath(d + base + QStringLiteral(".pdf"));
    EXPECT_EQ(unique, d + base + QStringLiteral("[0001].pdf"));
    EXPECT_TRUE(WriteFile(unique, "2"));
}

TEST(FileTests, FilesAndFoldersAreToldApart) {
    QTemporaryDir tmp;
    const QString file = tmp.path() + QStringLiteral("/f.txt");
    ASSERT_TRUE(WriteFile(file, "x"));
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner)); // read-only still counts
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FolderExists(file));
    EXPECT_TRUE(FolderExists(tmp.path()));
    EXPECT_FALSE(FileExists(tmp.path()));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(tmp.path() + QStringLiteral("/missing")));
}

TEST(ShellRoutines, OpenAndShowOnlyExistingFiles) {
    QTemporaryDir tmp;
    RecordingMessageBoxes boxes;
    RecordingShell shell;
    const QString file = tmp.path() + QStringLiteral("/a.pdf");

    OpenWithDefaultProgram(file);
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("文件不存在！")});
    EXPECT_FALSE(ShowFileInFolder(file));
    EXPECT_TRUE(shell.opened.isEmpty());

    ASSERT_TRUE(WriteFile(file, "%PDF"));
    EXPECT_TRUE(ShowFileInFolder(QStringLiteral("  ") + file + QStringLiteral(" ")));
    EXPECT_EQ(shell.shownInFolder, QStringList{file});
    shell.openSucceeds = false; // no default program: the desktop's opener is tried next
    OpenWithDefaultProgram(file);
    EXPECT_EQ(shell.opened, QList<QUrl>{QUrl::fromLocalFile(file)});
    EXPECT_EQ(shell.started, QStringList{QStringLiteral("xdg-open ") + file});
}
