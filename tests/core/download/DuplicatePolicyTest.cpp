#include "core/files/DuplicatePolicy.h"
#include "core/download/DownloadNeeded.h"

#include "core/download/DownloadListModel.h"
#include "core/files/FileNaming.h"

#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillax;
using quillax::test::WriteFile;

class MustDownload : public ::testing::Test {
protected:
    void SetUp() override {
        folder = tmp.path() + QLatin1Char('/'); // the item's folder ends with a separator
        list.addItem(QStringLiteral("https://a.test/1.pdf"), QStringLiteral("Paper"),
                     QStringLiteral("pdf"), folder, QString());
        list.addItem(QStringLiteral("https://a.test/2.pdf"), QStringLiteral("Other"),
                     QStringLiteral("pdf"), tmp.path(), QString()); // and without one
    }
    QTemporaryDir tmp;
    QString folder;
    DownloadListModel list;
};

TEST_F(MustDownload, AMissingFileIsDownloadedUnderEveryPolicy) {
    for (auto p :
         {DuplicateNamePolicy::Skip, DuplicateNamePolicy::Overwrite, DuplicateNamePolicy::Rename}) {
        EXPECT_TRUE(确定是需要下载(list, 0, p));
        EXPECT_TRUE(确定是需要下载(list, 1, p));
    }
    EXPECT_EQ(list.item(0).status, ItemStatus::Waiting);
}

TEST_F(MustDownload, SkipMarksAnExistingFileFinishedWithItsLength) {
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Other.pdf"), QByteArray(1234, 'x')));
    EXPECT_TRUE(确定是需要下载(list, 1, DuplicateNamePolicy::Overwrite));
    EXPECT_TRUE(确定是需要下载(list, 1, DuplicateNamePolicy::Rename));
    EXPECT_EQ(list.item(1).status, ItemStatus::Waiting);

    EXPECT_FALSE(确定是需要下载(list, 1, DuplicateNamePolicy::Skip));
    const DownloadItem& it = list.item(1);
    EXPECT_EQ(it.status, ItemStatus::Finished);
    EXPECT_EQ(it.size, QStringLiteral("1234"));
    EXPECT_EQ(it.received, QStringLiteral("1234"));
    EXPECT_EQ(it.percent, QStringLiteral("已存在，跳过"));
    EXPECT_EQ(list.item(0).status, ItemStatus::Waiting);
    EXPECT_FALSE(确定是需要下载(list, 7, DuplicateNamePolicy::Skip)); // no such row
}

struct RenameCase {
    const char* what;
    std::vector<const char*> existing;
    const char* name;
    const char* type;
    DuplicateNamePolicy policy;
    const char* expectedFile;
    const char* expectedName;
};

// Names the case in the test's name instead of its bytes.
void PrintTo(const RenameCase& c, std::ostream* os) {
    *os << c.what;
}

class RenamePath : public ::testing::TestWithParam<RenameCase> {};

TEST_P(RenamePath, GivesTheFileToWrite) {
    const RenameCase& c = GetParam();
    QTemporaryDir tmp;
    const QString d = tmp.path() + QLatin1Char('/');
    for (const char* f : c.existing) {
        ASSERT_TRUE(WriteFile(d + QString::fromUtf8(f), "old"));
    }
    QString newName;
    const QString path = 重命名保存路径(tmp.path(), QString::fromUtf8(c.name),
                                        QString::fromUtf8(c.type), c.policy, &newName);
    EXPECT_EQ(path, d + QString::fromUtf8(c.expectedFile)) << c.what;
    EXPECT_EQ(newName, QString::fromUtf8(c.expectedName)) << c.what;
    if (c.policy != DuplicateNamePolicy::Overwrite) {
        EXPECT_FALSE(PathOccupied(path)) << c.what;
    }
}

constexpr auto kSkip = DuplicateNamePolicy::Skip;
constexpr auto kOverwrite = DuplicateNamePolicy::Overwrite;
constexpr auto kRename = DuplicateNamePolicy::Rename;

INSTANTIATE_TEST_SUITE_P(
    Table, RenamePath,
    ::testing::Values(RenameCase{"free", {}, "Report", "pdf", kRename, "Report.pdf", "Report"},
                      RenameCase{"overwrite keeps the plain path",
                                 {"Report.pdf"},
                                 "Report",
                                 "pdf",
                                 kOverwrite,
                                 "Report.pdf",
                                 "Report"},
                      RenameCase{"first number",
                                 {"Report.pdf"},
                                 "Report",
                                 "pdf",
                                 kRename,
                                 "Report[001].pdf",
                                 "Report[001]"},
                      RenameCase{"next number",
                                 {"Report.pdf", "Report[001].pdf"},
                                 "Report",
                                 "pdf",
                                 kRename,
                                 "Report[002].pdf",
                                 "Report[002]"},
                      RenameCase{"skip also avoids an existing file",
                                 {"Report.pdf"},
                                 "Report",
                                 "pdf",
                                 kSkip,
                                 "Report[001].pdf",
                                 "Report[001]"},
                      RenameCase{"an existing counter goes on",
                                 {"Report[007].pdf"},
                                 "Report[007]",
                                 "pdf",
                                 kRename,
                                 "Report[008].pdf",
                                 "Report[008]"},
                      RenameCase{"other brackets become corner brackets",
                                 {"A [notes] B.pdf"},
                                 "A [notes] B",
                                 "pdf",
                                 kRename,
                                 "A 『notes』 B.pdf",
                                 "A 『notes』 B"},
                      RenameCase{"text after a numeric bracket is dropped",
                                 {"Smith [2003] review.pdf"},
                                 "Smith [2003] review",
                                 "pdf",
                                 kRename,
                                 "Smith [2003].pdf",
                                 "Smith [2003]"},
                      RenameCase{"and the number goes on when taken",
                                 {"Smith [2003] review.pdf", "Smith [2003].pdf"},
                                 "Smith [2003] review",
                                 "pdf",
                                 kRename,
                                 "Smith [2004].pdf",
                                 "Smith [2004]"},
                      RenameCase{"an empty type gives no trailing dot",
                                 {"Readme"},
                                 "Readme",
                                 "",
                                 kRename,
                                 "Readme[001]",
                                 "Readme[001]"}));

TEST(RenamePath, AFolderInTheWayIsNotReturned) {
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkdir(QStringLiteral("dir.pdf")));
    QString newName;
    EXPECT_EQ(重命名保存路径(tmp.path(), QStringLiteral("dir"), QStringLiteral("pdf"),
                             DuplicateNamePolicy::Rename, &newName),
              tmp.path() + QStringLiteral("/dir[001].pdf"));
}
