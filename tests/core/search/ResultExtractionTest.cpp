#include "core/search/ResultExtraction.h"
#include "core/search/AnalysisListModel.h"
#include "ui/search/ResultPageReader.h"

#include "platform/WebBrowser.h"

#include "ResultPageFixture.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

TEST(AnalysisList, KeepsOrderRefusesDuplicateLinksAndPassesTheModelTester) {
    AnalysisListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_TRUE(list.加入LV1(QStringLiteral("A"), QStringLiteral("l1"), QStringLiteral("p1"),
                             QStringLiteral("pdf"), QStringLiteral("/f/")));
    EXPECT_TRUE(list.加入LV1(QStringLiteral("B"), QStringLiteral("l2"), QStringLiteral("p1"),
                             QStringLiteral("pdf"), QString()));
    list.setStatus(0, QStringLiteral("成功"));
    EXPECT_FALSE(list.加入LV1(QStringLiteral("A again"), QStringLiteral("l1"), QStringLiteral("p2"),
                              QStringLiteral("pdf"), QStringLiteral("/g/")));
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.record(0).status, QStringLiteral("成功"));
    EXPECT_EQ(list.record(0).folder, QStringLiteral("/f/"));
    EXPECT_EQ(list.record(0).pageUrl, QStringLiteral("p1"));
    EXPECT_EQ(list.headerData(2, Qt::Horizontal).toString(), QStringLiteral("分析状态"));
    EXPECT_EQ(list.rowCountText(), QStringLiteral("2"));
    EXPECT_FALSE(list.flags(list.index(0, 0)) & Qt::ItemIsEditable);
    list.clear();
    EXPECT_EQ(list.count(), 0);
}

namespace {

EntryLink L(const char* cls, const char* text, const char* href) {
    return EntryLink{QString::fromUtf8(cls), QString::fromUtf8(text), QString::fromUtf8(href)};
}

} // namespace

TEST(AddResultEntries, AppliesTheEntryRules) {
    struct Case {
        const char* what;
        QVector<EntryLink> links;
        const char* title; ///< nullptr: skipped
        const char* link;
    };
    const Case cases[] = {
        {"normal",
         {L("", " Title ", "t"), L("record-type pdf-ft", "PDF Full Text", " http://x/1 ")},
         "Title",
         "http://x/1"},
        {"other classes only",
         {L("", "T", "t"), L("record-type html-ft", "PDF", "http://x/2")},
         nullptr,
         nullptr},
        {"qualifying class with other text",
         {L("", "T", "t"), L("record-type pdf-ft", "HTML Full Text", "http://x/3")},
         nullptr,
         nullptr},
        {"spaces and capitals",
         {L("", "T", "t"), L("  Record-Type PDF-FT ", "  PDF Full", "http://x/4")},
         "T",
         "http://x/4"},
        {"a further class",
         {L("", "T", "t"), L("record-type pdf-ft extra", "PDF", "http://x/5")},
         nullptr,
         nullptr},
        {"the last qualifying link wins",
         {L("", "T", "t"), L("record-type pdf-ft", "PDF a", "http://x/6a"),
          L("record-type pdf-ft", "pdf b", "http://x/6b")},
         "T",
         "http://x/6b"},
        {"the first link never counts",
         {L("record-type pdf-ft", "PDF Title", "http://x/7")},
         nullptr,
         nullptr},
        {"no title",
         {L("", "   ", "t"), L("record-type pdf-ft", "PDF", "http://x/8")},
         nullptr,
         nullptr},
        {"entities",
         {L("", "T", "t"), L("record-type pdf-ft", "PDF", "http://x/9?a=1&amp;b=2&AMP;c=3")},
         "T",
         "http://x/9?a=1&b=2&c=3"},
    };
    for (const Case& c : cases) {
        AnalysisListModel list;
        ResultPageSnapshot page{
            true, {ResultEntry{c.links, {}}}, QStringLiteral("http://search/r")};
        const int found = AddResultEntries(page, QStringLiteral("/save/"), list);
        if (c.title == nullptr) {
            EXPECT_EQ(found, 0) << c.what;
            EXPECT_EQ(list.count(), 0) << c.what;
            continue;
        }
        ASSERT_EQ(list.count(), 1) << c.what;
        EXPECT_EQ(found, 1) << c.what;
        EXPECT_EQ(list.record(0).title, QString::fromUtf8(c.title)) << c.what;
        EXPECT_EQ(list.record(0).link, QString::fromUtf8(c.link)) << c.what;
        EXPECT_EQ(list.record(0).type, QStringLiteral("pdf"));
        EXPECT_EQ(list.record(0).pageUrl, QStringLiteral("http://search/r"));
        EXPECT_EQ(list.record(0).folder, QStringLiteral("/save/"));
        EXPECT_TRUE(list.record(0).status.isEmpty());
    }
    AnalysisListModel list;
    EXPECT_EQ(AddResultEntries(ResultPageSnapshot{false, {}, {}}, QString(), list), 0);
}

class ResultPageInBrowser : public ::testing::Test {
protected:
    bool load(const QByteArray& path) {
        QSignalSpy done(&browser, &WebBrowser::DocumentComplete);
        browser.Navigate(server.url(QString::fromLatin1(path)));
        return done.wait(20000) || !done.isEmpty();
    }
    TestHttpServer server;
    WebBrowser browser;
    AnalysisListModel list;
};

TEST_F(ResultPageInBrowser, ReadsEveryUsableEntryOfARealisticPage) {
    QVector<FixtureEntry> entries;
    for (int i = 1; i <= 10; ++i) {
        entries << NormalEntry(i);
    }
    FixtureEntry spaced = NormalEntry(11);
    spaced.links[3] = {"  record-type pdf-ft  ", "  PDF Full Text", "/pdf?id=11&amp;amp;x=1"};
    FixtureEntry extraClass = NormalEntry(12);
    extraClass.links[3].cssClass = "record-type pdf-ft hidden";
    FixtureEntry htmlOnly = NormalEntry(13);
    htmlOnly.links.removeLast();
    entries << spaced << extraClass << htmlOnly;
    server.route("/results", Serve(ResultPage(entries), "text/html; charset=utf-8"));
    ASSERT_TRUE(load("/results"));

    EXPECT_EQ(ExtractResultPage(browser.page(), list, QStringLiteral("/papers/")), 11);
    ASSERT_EQ(list.count(), 11);
    const QString pageUrl = server.url(QStringLiteral("/results"));
    EXPECT_EQ(list.record(0).title, QStringLiteral("Deep learning for citation analysis, part 1"));
    EXPECT_EQ(list.record(0).link,
              server.url(QStringLiteral("/ehost/pdfviewer/pdfviewer?vid=6&sid=ab12-1")));
    EXPECT_EQ(list.record(0).pageUrl, pageUrl);
    EXPECT_EQ(list.record(10).link, server.url(QStringLiteral("/pdf?id=11&x=1")));

    // The same page again: no new rows, the same count returned.
    EXPECT_EQ(ExtractResultPage(browser.page(), list, QStringLiteral("/other/")), 11);
    EXPECT_EQ(list.count(), 11);
    EXPECT_EQ(list.record(0).folder, QStringLiteral("/papers/"));
}

TEST_F(ResultPageInBrowser, OtherPagesGiveNothing) {
    server.route("/search", Serve(ResultPage({NormalEntry(1)}, false), "text/html"));
    Route empty = Serve("", "text/html");
    server.route("/empty", empty);
    ASSERT_TRUE(load("/search"));
    EXPECT_EQ(ExtractResultPage(browser.page(), list, QString()), 0);
    ASSERT_TRUE(load("/empty"));
    EXPECT_EQ(ExtractResultPage(browser.page(), list, QString()), 0);

    // A result page still on its way: nothing to read yet, and nothing breaks.
    Route slow = Serve(ResultPage({NormalEntry(1)}), "text/html");
    slow.delayHeadersMs = 1500;
    server.route("/slow", slow);
    browser.Navigate(server.url(QStringLiteral("/slow")));
    EXPECT_TRUE(browser.Busy());
    EXPECT_EQ(ExtractResultPage(browser.page(), list, QString()), 0);
    EXPECT_EQ(list.count(), 0);
}
