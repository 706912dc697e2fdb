#include "core/download/DownloadListModel.h"
#include "core/download/ListOperations.h"

#include <QAbstractItemModelTester>
#include <QIcon>
#include <QImage>
#include <QLocale>
#include <QNetworkReply>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace quillax;
using Col = DownloadListModel::Column;

namespace {

struct RowCase {
    ItemStatus status;
    const char* type;
    const char* size;
    const char* received;
    const char* percent;
};

void fill(DownloadListModel& list, const std::vector<RowCase>& rows) {
    int n = 0;
    for (const RowCase& r : rows) {
        const QString key = QStringLiteral("https://x.test/%1.pdf").arg(n);
        ASSERT_TRUE(list.addItem(key, QStringLiteral("t%1").arg(n), QString::fromUtf8(r.type),
                                 QStringLiteral("/tmp/"), QString()));
        list.setStatus(n, r.status);
        list.setText(n, Col::ColSize, QString::fromUtf8(r.size));
        list.setText(n, Col::ColReceived, QString::fromUtf8(r.received));
        list.setText(n, Col::ColPercent, QString::fromUtf8(r.percent));
        ++n;
    }
}

constexpr auto W = ItemStatus::Waiting;
constexpr auto D = ItemStatus::Downloading;
constexpr auto F = ItemStatus::Finished;
constexpr auto X = ItemStatus::Failed;

} // namespace

TEST(DownloadListModel, PassesTheModelTesterThroughAddsEditsAndClear) {
    DownloadListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    fill(list, {{W, "pdf", "", "", ""}, {D, "htm", "100", "50", "50%"}, {F, "", "9", "9", "100%"}});
    list.setStatus(0, ItemStatus::Failed);
    list.setText(1, Col::ColName, QStringLiteral("renamed"));
    EXPECT_EQ(list.data(list.index(1, Col::ColName)).toString(), QStringLiteral("renamed"));
    EXPECT_EQ(list.data(list.index(1, Col::ColPercent)).toString(), QStringLiteral("50%"));
    EXPECT_EQ(list.data(list.index(0, 0), DownloadListModel::StatusRole).toInt(), 4);
    list.clear();
    EXPECT_EQ(list.rowCount(), 0);
}

TEST(DownloadListModel, HeadersAreTheSixCaptions) {
    DownloadListModel list;
    QStringList headers;
    for (int c = 0; c < list.columnCount(); ++c) {
        headers << list.headerData(c, Qt::Horizontal).toString();
    }
    EXPECT_EQ(headers, (QStringList{QStringLiteral("名称"), QStringLiteral("类型"),
                                    QStringLiteral("文件大小"), QStringLiteral("已下载数"),
                                    QStringLiteral("百分比"), QStringLiteral("保存路径")}));
}

TEST(DownloadListModel, AddSetsFieldsAndADuplicateKeyAddsNoRow) {
    DownloadListModel list;
    ASSERT_TRUE(list.addItem(QStringLiteral("https://a.test/1.pdf|https://b.test/1.pdf"),
                             QStringLiteral("Title"), QStringLiteral("pdf"),
                             QStringLiteral("/papers/"), QStringLiteral("https://a.test/rec")));
    const DownloadItem& it = list.item(0);
    EXPECT_EQ(it.status, ItemStatus::Waiting);
    EXPECT_TRUE(it.size.isEmpty() && it.received.isEmpty() && it.percent.isEmpty());
    EXPECT_EQ(it.referrer, QStringLiteral("https://a.test/rec"));

    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    EXPECT_FALSE(list.addItem(QStringLiteral("https://a.test/1.pdf|https://b.test/1.pdf"),
                              QStringLiteral("Other"), QStringLiteral("pdf"), QString(),
                              QString()));
    EXPECT_EQ(list.count(), 1);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(list.item(0).name, QStringLiteral("Title"));
}

TEST(DownloadListModel, KeyChangesKeepTheIndexAndRefuseAnotherRowsKey) {
    DownloadListModel list;
    list.addItem(QStringLiteral("a|b"), QStringLiteral("1"), QString(), QString(), QString());
    list.addItem(QStringLiteral("c"), QStringLiteral("2"), QString(), QString(), QString());
    EXPECT_TRUE(list.setKey(0, QStringLiteral("b|a")));
    EXPECT_EQ(list.rowOfKey(QStringLiteral("b|a")), 0);
    EXPECT_EQ(list.rowOfKey(QStringLiteral("a|b")), -1);
    EXPECT_FALSE(list.setKey(0, QStringLiteral("c")));
    EXPECT_TRUE(
        list.addItem(QStringLiteral("a|b"), QStringLiteral("3"), QString(), QString(), QString()));
}

TEST(DownloadListModel, NamesAreNotEditableAndSelectionLivesInTheModel) {
    DownloadListModel list;
    fill(list, {{W, "pdf", "", "", ""}, {W, "pdf", "", "", ""}, {W, "pdf", "", "", ""}});
    EXPECT_FALSE(list.flags(list.index(0, Col::ColName)) & Qt::ItemIsEditable);
    list.setSelected(0, true);
    list.setSelected(2, true);
    EXPECT_TRUE(list.isSelected(0));
    EXPECT_FALSE(list.isSelected(1));
    EXPECT_TRUE(list.isSelected(2));
    list.setSelected(0, false);
    EXPECT_FALSE(list.isSelected(0));
}

// A tick means the document arrived: finished rows that hold a web page or stored nothing get
// marks of their own, with a tool tip saying what happened; a failed row's tip says why.
TEST(DownloadListModel, FinishedRowsWithoutADocumentHaveMarksOfTheirOwn) {
    DownloadListModel list;
    fill(list, {{F, "pdf", "9", "9", "100%"},
                {F, "htm", "9", "9", "100%"},
                {F, "pdf", "9", "9", "已存在，跳过"},
                {F, "pdf", "", "", "大文件，跳过"},
                {X, "pdf", "下载失败", "", ""},
                {X, "htm", "下载失败", "", ""}});
    list.setReason(4, reasons::HttpStatus(404));
    const auto image = [&](int row) {
        return list.data(list.index(row, 0), Qt::DecorationRole)
            .value<QIcon>()
            .pixmap(16, 16)
            .toImage();
    };
    const auto tip = [&](int row) {
        return list.data(list.index(row, Col::ColPercent), Qt::ToolTipRole).toString();
    };
    const QImage tick = image(0);
    EXPECT_NE(image(1), tick);
    EXPECT_NE(image(2), tick);
    EXPECT_NE(image(1), image(2));
    EXPECT_EQ(image(3), image(2)); // both skipped
    EXPECT_EQ(image(5), image(4)); // a failed web page is a failure first
    EXPECT_TRUE(tip(0).isEmpty());
    EXPECT_EQ(tip(1), QStringLiteral("收到的是网页，不是文档（常见于需要登录的网站）"));
    EXPECT_EQ(tip(2), QStringLiteral("同名文件已存在，已跳过，没有下载"));
    EXPECT_EQ(tip(3), QStringLiteral("文件超过大小限制，已跳过，没有保存"));
    EXPECT_EQ(tip(4), QStringLiteral("服务器返回404"));
    EXPECT_EQ(list.item(0).status, ItemStatus::Finished); // statuses stay as they are
    EXPECT_EQ(list.item(1).status, ItemStatus::Finished);
    const StatusCounts c = list.statusCounts();
    EXPECT_EQ(c.finished, 4);
    EXPECT_EQ(c.webPages, 1);
    EXPECT_EQ(c.skipped, 2);
    // Starting the row again clears the old reason.
    list.startRow(4);
    EXPECT_TRUE(list.item(4).reason.isEmpty());
}

TEST(DownloadListModel, FailureReasonsInWords) {
    const std::pair<QString, const char*> cases[] = {
        {reasons::HttpStatus(404), "服务器返回404"},
        {reasons::HttpStatus(503), "服务器返回503，要求暂停下载"},
        {reasons::HttpStatus(429), "服务器返回429，要求暂停下载"},
        {reasons::CutShort(210 * 1024, 390 * 1024), "连接中断（已收到210KB，共390KB）"},
        {reasons::CutShort(1, 0), "连接中断（已收到1KB）"},
        {reasons::NetworkError(QNetworkReply::ConnectionRefusedError), "服务器拒绝连接"},
        {reasons::NetworkError(QNetworkReply::HostNotFoundError), "找不到服务器"},
        {reasons::NetworkError(QNetworkReply::UnknownNetworkError), "网络错误"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(text, QString::fromUtf8(expected));
    }
}

TEST(DownloadListModel, StatusPicturesAreFourDistinctSixteenPixelImages) {
    DownloadListModel list;
    fill(list,
         {{W, "", "", "", ""}, {D, "", "", "", ""}, {F, "", "", "", ""}, {X, "", "", "", ""}});
    std::vector<QImage> images;
    for (int row = 0; row < 4; ++row) {
        const auto icon = list.data(list.index(row, 0), Qt::DecorationRole).value<QIcon>();
        ASSERT_FALSE(icon.isNull());
        images.push_back(icon.pixmap(16, 16).toImage());
        EXPECT_EQ(images.back().size(), QSize(16, 16));
    }
    for (std::size_t a = 0; a < images.size(); ++a) {
        for (std::size_t b = a + 1; b < images.size(); ++b) {
            EXPECT_NE(images[a], images[b]) << a << " and " << b;
        }
    }
    EXPECT_FALSE(list.data(list.index(0, 1), Qt::DecorationRole).isValid());
}

struct CountCase {
    const char* what;
    std::vector<RowCase> rows;
    int notAttempted;
    bool finished;
    int failuresAndPages;
    const char* summary;
};

// Names the case in the test's name instead of its bytes.
void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.what;
}

class DownloadListCounts : public ::testing::TestWithParam<CountCase> {};

TEST_P(DownloadListCounts, WalkTheWholeList) {
    const CountCase& c = GetParam();
    DownloadListModel list;
    fill(list, c.rows);
    EXPECT_EQ(list.统计未下载项数目(), c.notAttempted);
    EXPECT_EQ(list.检测是否下载列表完毕(), c.finished);
    EXPECT_EQ(list.统计出错和网页项数目(), c.failuresAndPages);
    EXPECT_EQ(list.summaryText(), QString::fromUtf8(c.summary));
    EXPECT_EQ(list.rowCountText(), QString::number(c.rows.size()) + QStringLiteral("条"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadListCounts,
    ::testing::Values(
        CountCase{"empty", {}, 0, true, 0, "总数:0 正在下载:0 等待:0 已完成:0 失败:0"},
        CountCase{"cancelled waiting row still not attempted",
                  {{X, "pdf", "", "", ""}},
                  1,
                  true,
                  1,
                  "总数:1 正在下载:0 等待:0 已完成:0 失败:1"},
        CountCase{"HTM counts once whether or not it failed; xml only when failed",
                  {{F, "HTM", "5", "5", "100%"},
                   {X, "htm", "下载失败", "", ""},
                   {F, "xml", "5", "5", "100%"},
                   {X, "xml", "下载失败", "", ""},
                   {F, "html", "1", "1", "100%"}},
                  0,
                  true,
                  4,
                  "总数:5 正在下载:0 等待:0 已完成:3 失败:2（其中网页:3 跳过:0）"},
        CountCase{"big file skipped counts as finished",
                  {{F, "pdf", "", "", "大文件，跳过"}},
                  0,
                  true,
                  0,
                  "总数:1 正在下载:0 等待:0 已完成:1 失败:0（其中网页:0 跳过:1）"},
        CountCase{"a waiting row stops the finished walk",
                  {{F, "pdf", "1", "1", "100%"}, {W, "pdf", "", "", ""}, {X, "pdf", "", "", ""}},
                  2,
                  false,
                  1,
                  "总数:3 正在下载:0 等待:1 已完成:1 失败:1"},
        CountCase{"the twelve-row example",
                  {{D, "pdf", "9", "1", "1%"},
                   {D, "pdf", "9", "1", "1%"},
                   {D, "pdf", "9", "1", "1%"},
                   {W, "pdf", "", "", ""},
                   {W, "pdf", "", "", ""},
                   {W, "pdf", "", "", ""},
                   {W, "pdf", "", "", ""},
                   {W, "pdf", "等待重新下载", "", ""},
                   {F, "pdf", "9", "9", "100%"},
                   {F, "pdf", "9", "9", "100%"},
                   {F, "pdf", "9", "9", "100%"},
                   {X, "pdf", "下载取消", "", ""}},
                  4,
                  false,
                  1,
                  "总数:12 正在下载:3 等待:5 已完成:3 失败:1"}));

// Chinese titles sort in pinyin order under a Chinese locale, not by character code.
TEST(DownloadListSorting, TitlesSortInTheUsersLanguageOrder) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    DownloadListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    // 中 (zhong), 北 (bei), 安 (an), 长 (chang): code-point order would be 中 北 安 长.
    for (const char* name : {"中国文学", "北京研究", "安全评论", "长江论丛", "beta", "Alpha"}) {
        list.addItem(QString::fromUtf8(name), QString::fromUtf8(name), QStringLiteral("pdf"),
                     QStringLiteral("/tmp/"), QString());
    }
    SortDownloadList(list, DownloadListModel::ColName, false);
    QStringList names;
    for (int row = 0; row < list.count(); ++row) {
        names << list.item(row).name;
    }
    QLocale::setDefault(before);
    const QStringList pinyin = {QStringLiteral("安全评论"), QStringLiteral("北京研究"),
                                QStringLiteral("长江论丛"), QStringLiteral("中国文学")};
    QStringList chinese;
    for (const QString& n : names) {
        if (n.at(0).unicode() > 0x2000) {
            chinese << n;
        }
    }
    EXPECT_EQ(chinese, pinyin);
    EXPECT_LT(names.indexOf(QStringLiteral("Alpha")), names.indexOf(QStringLiteral("beta")));
    for (int row = 0; row < list.count(); ++row) {
        EXPECT_EQ(list.rowOfKey(list.item(row).key), row);
    }
}
