// The search window driven as a user would, against the demo library site: taking every result
// page, stopping, analysing records into download items; and the rules it applies on the way.

#include "core/search/AddressInput.h"
#include "core/search/RecordAnalysis.h"
#include "ui/search/fWebSearch.h"

#include "DemoSite.h"
#include "ResultPageFixture.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "platform/UserDialogs.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/shell/WindowHelpers.h"
#include "ui/shell/fSeleFileSavePath.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrlQuery>
#include <QWebEngineView>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

/// Answers the dialogs as a test says.
class ScriptedDialogs final : public UserDialogs {
public:
    ScriptedDialogs() { previous_ = SetDialogs(this); }
    ~ScriptedDialogs() override { SetDialogs(previous_); }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return savePath; }
    QString openFileName(QWidget*, const QString&) override { return {}; }
    QString folder(QWidget*, const QString&, const QString& start) override {
        starts << start;
        return folderAnswer;
    }
    std::optional<QString> text(QWidget*, const QString& prompt, const QString&) override {
        prompts << prompt;
        return textAnswer;
    }
    QString savePath;
    QString folderAnswer;
    QStringList starts;
    std::optional<QString> textAnswer;
    QStringList prompts;

private:
    UserDialogs* previous_ = nullptr;
};

/// Answers the next save-folder chooser that opens. It is looked for until it shows: on a busy
/// machine the window may yield for a while before it opens the chooser.
void AnswerChooser(bool confirm, const QString& folder = {}, int triesLeft = 500) {
    QTimer::singleShot(20, [confirm, folder, triesLeft] {
        auto* chooser = qobject_cast<fSeleFileSavePath*>(QApplication::activeModalWidget());
        if (chooser == nullptr && triesLeft > 0) {
            AnswerChooser(confirm, folder, triesLeft - 1);
            return;
        }
        ASSERT_NE(chooser, nullptr);
        if (!confirm) {
            chooser->取消();
            return;
        }
        chooser->folderBox()->setEditText(folder);
        chooser->确定();
    });
}

} // namespace

class SearchWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        demo::DemoOptions options;
        options.records = 23;
        options.perPage = 5;
        options.slowRecordMs = 200;
        site = std::make_unique<demo::DemoSite>(options);
        ASSERT_TRUE(site->start());
        qputenv("QUILLAX_SEARCH_HOME", site->baseUrl().toUtf8());
        saved = Values();
        // The window reads this when it loads; tests that want the chooser set "1".
        settings.write(QStringLiteral("设置"), QStringLiteral("提取网页信息时提示下载保存路径"),
                       QStringLiteral("0"));
        Values().SaveFolder = folder.path() + QLatin1Char('/');
        timeouts.pageLoadMs = 20'000;
        timeouts.pauseExtraMs = 20;
    }
    void TearDown() override {
        boxes.answer = MsgResult::Yes; // a list not analysed yet asks before the window closes
        if (window) {
            window->close();
        }
        if (fFileDownload* downloads = LoadedDownloadWindow()) {
            boxes.answer = MsgResult::Yes;
            downloads->close();
        }
        QTest::qWait(20);
        Values() = saved;
        qunsetenv("QUILLAX_SEARCH_HOME");
    }
    fWebSearch& w() {
        if (!window) {
            window = new fWebSearch(settings, Values(), nullptr, timeouts);
            window->resize(1000, 700);
            window->show();
        }
        return *window;
    }
    bool loadPage(const QString& url) {
        QSignalSpy done(w().browser(), &WebBrowser::DocumentComplete);
        w().browser()->Navigate(url);
        return done.wait(20000) || !done.isEmpty();
    }
    QPushButton* button(const char* name) { return w().findChild<QPushButton*>(name); }

    std::unique_ptr<demo::DemoSite> site;
    QTemporaryDir folder;
    SettingsStore settings{folder.path() + QStringLiteral("/settings.ini")};
    SearchTimeouts timeouts;
    AppValues saved;
    QPointer<fWebSearch> window;
    RecordingMessageBoxes boxes;
    ScriptedDialogs dialogs;
};

TEST_F(SearchWindowTest, AddAllWalksEveryPageOnceAndEndsOnTheLast) {
    QAbstractItemModelTester tester(&w().list(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=citation&page=1")));
    w().findChild<QComboBox*>("Combo2")->setCurrentIndex(0);
    QTest::mouseClick(button("Command4"), Qt::LeftButton); // returns when the run is over
    EXPECT_EQ(button("Command4")->text(), QStringLiteral("加入全部到列表"));
    EXPECT_FALSE(w().addAllRunning());
    EXPECT_TRUE(w().browser()->url().toString().endsWith(QStringLiteral("page=5")));
    // 23 records less the one with HTML full text only and the one without full text; record 5
    // shows on pages 1 and 2 but is one row.
    ASSERT_EQ(w().list().count(), 21);
    QSet<QString> links;
    for (int row = 0; row < w().list().count(); ++row) {
        links.insert(w().list().record(row).link);
    }
    EXPECT_EQ(links.size(), 21);
    EXPECT_EQ(w().findChild<QLabel*>("Label1")->text(), QStringLiteral("21"));
    // The history holds each address once.
    auto* history = w().findChild<QComboBox*>("Combo1");
    QStringList seen;
    for (int i = 0; i < history->count(); ++i) {
        seen << history->itemText(i).toLower();
    }
    EXPECT_EQ(seen.removeDuplicates(), 0);
    EXPECT_GE(seen.size(), 5);
}

TEST_F(SearchWindowTest, StopDuringAPageLoadEndsTheRunWithTheButtonIdle) {
    TestHttpServer server;
    server.route("/ehost/results?page=1",
                 Serve(ResultPage({NormalEntry(1), NormalEntry(2)}), "text/html; charset=utf-8"));
    Route slow = Serve(ResultPage({NormalEntry(3)}), "text/html; charset=utf-8");
    slow.delayHeadersMs = 4000;
    server.route("/ehost/results?page=2", slow);
    ASSERT_TRUE(loadPage(server.url(QStringLiteral("/ehost/results?page=1"))));
    bool stopClicked = false;
    QTimer::singleShot(600, [this, &stopClicked] {
        EXPECT_EQ(button("Command4")->text(), QStringLiteral("停止加入全部"));
        QTest::mouseClick(button("Command4"), Qt::LeftButton);
        stopClicked = true;
    });
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_TRUE(stopClicked); // the run ended because of the stop, not by itself
    EXPECT_EQ(button("Command4")->text(), QStringLiteral("加入全部到列表"));
    // Ended before the slow page came: its record was not taken.
    EXPECT_EQ(w().list().count(), 2);
}

TEST_F(SearchWindowTest, AnalysingGivesDownloadItemsForEveryRecordWithAPdf) {
    settings.write(QStringLiteral("设置"), QStringLiteral("提取网页信息时提示下载保存路径"),
                   QStringLiteral("1"));
    const QString papers = folder.path() + QStringLiteral("/papers");
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    w().findChild<QComboBox*>("Combo2")->setCurrentIndex(0);
    AnswerChooser(true, papers);
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    ASSERT_EQ(w().list().count(), 21);
    EXPECT_EQ(w().list().record(0).folder, papers + QLatin1Char('/'));

    QTest::mouseClick(button("Command2"), Qt::LeftButton); // nothing selected: 分析全部
    EXPECT_FALSE(w().analysing());
    fFileDownload* downloads = LoadedDownloadWindow();
    ASSERT_NE(downloads, nullptr);
    EXPECT_TRUE(downloads->isVisible());
    const DownloadListModel& items = downloads->list();
    int failed = 0;
    for (int row = 0; row < w().list().count(); ++row) {
        const AnalysisRecord& r = w().list().record(row);
        const int number = QUrlQuery(QUrl(r.link)).queryItemValue(QStringLiteral("rec")).toInt();
        SCOPED_TRACE(number);
        if (!demo::RecordAt(number).hasPdfUrl) {
            EXPECT_EQ(r.status, QStringLiteral("失败"));
            ++failed;
            continue;
        }
        EXPECT_EQ(r.status, QStringLiteral("成功"));
        const int item = items.rowOfKey(site->pdfAddress(number));
        ASSERT_GE(item, 0);
        if (number == 21) {
            continue; // shares record 20's PDF: one item, named after record 20
        }
        EXPECT_EQ(items.item(item).referrer, r.link);
        EXPECT_EQ(items.item(item).folder, papers + QLatin1Char('/'));
        EXPECT_EQ(items.item(item).type, QStringLiteral("pdf"));
        EXPECT_FALSE(items.item(item).name.contains(QLatin1Char('\n')));
        EXPECT_FALSE(items.item(item).name.contains(QLatin1Char('/')));
    }
    EXPECT_EQ(failed, 1);                 // record 8
    EXPECT_EQ(items.count(), 21 - 1 - 1); // less record 8 and the shared PDF
    EXPECT_EQ(items.item(items.rowOfKey(site->pdfAddress(7))).name,
              QStringLiteral("Editorial notes on open citation data"));
}

TEST_F(SearchWindowTest, ACancelledChooserAnalysesNothing) {
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    ASSERT_EQ(w().list().count(), 4);
    AnswerChooser(false);
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    for (int row = 0; row < w().list().count(); ++row) {
        EXPECT_TRUE(w().list().record(row).status.isEmpty());
    }
    EXPECT_EQ(LoadedDownloadWindow(), nullptr);
    EXPECT_TRUE(Values().SaveFolderCancelled);
    // With nothing in the list there is a message instead.
    w().list().clear();
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    EXPECT_EQ(boxes.texts().last(), QStringLiteral("列表没有数据哦！"));
}

TEST_F(SearchWindowTest, ClosingDuringARunStopsItAndDeletesTheWindowAfterwards) {
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    w().findChild<QComboBox*>("Combo2")->setCurrentIndex(5); // a long pause to close in
    QSignalSpy closed(&w(), &fWebSearch::closed);
    QTimer::singleShot(300, [this] {
        window->close();
        EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fWebSearch")));
        EXPECT_NE(window, nullptr); // still alive while its loop runs
    });
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_EQ(closed.size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 3000));
    EXPECT_EQ(settings.read(QStringLiteral("fWebSearch"), QStringLiteral("combo2"), QString()),
              QStringLiteral("5"));
}

TEST_F(SearchWindowTest, ClearExportAndSaveThePage) {
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    AnalysisListModel& list = w().list();
    ASSERT_EQ(list.count(), 4); // records 1, 2, 3, 5
    list.setStatus(0, QStringLiteral("成功"));
    list.setStatus(1, QStringLiteral("失败"));

    // Export: one line per row, whatever the status.
    dialogs.savePath = folder.path() + QStringLiteral("/list.txt");
    ASSERT_TRUE(WriteFile(dialogs.savePath, "old"));
    boxes.answer = MsgResult::No; // keep the existing file
    w().导出数据();
    EXPECT_EQ(ReadFile(dialogs.savePath), QByteArray("old"));
    boxes.answer = MsgResult::Yes;
    w().导出数据();
    const QString text = QString::fromUtf8(ReadFile(dialogs.savePath));
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("-【pdf】成功")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("-【pdf】失败")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("-【pdf】")));
    EXPECT_TRUE(boxes.texts().last().startsWith(QStringLiteral("保存文件完毕：")));

    // 网页另存为 writes the document's source.
    dialogs.savePath = folder.path() + QStringLiteral("/page.htm");
    w().网页另存为();
    EXPECT_TRUE(ReadFile(dialogs.savePath).contains("resultListControl"));
    EXPECT_EQ(boxes.texts().last(), QStringLiteral("已经保存！"));

    // Clearing by title text ignores case; an empty answer clears nothing.
    dialogs.textAnswer = QString();
    w().clearRows(ClearKind::TitleContains);
    EXPECT_EQ(list.count(), 4);
    dialogs.textAnswer = QStringLiteral("RISK");
    w().clearRows(ClearKind::TitleContains);
    EXPECT_EQ(list.count(), 3);
    w().clearRows(ClearKind::Succeeded);
    EXPECT_EQ(list.count(), 2);
    boxes.answer = MsgResult::No;
    w().clearRows(ClearKind::All);
    EXPECT_EQ(list.count(), 2);
    boxes.answer = MsgResult::Yes;
    w().clearRows(ClearKind::All);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(w().findChild<QLabel*>("Label1")->text(), QStringLiteral("0"));
}

TEST(RecordAnalysisRules, PdfAddressOnARecordPage) {
    struct Case {
        const char* page;
        const char* address;
    };
    const Case cases[] = {
        {R"(<input id="pdfUrl" value="http://x/a.pdf?s=1&amp;t=2">)", "http://x/a.pdf?s=1&t=2"},
        {R"(<input ID="PDFURL" value="HTTPS://x/b.pdf">)", "HTTPS://x/b.pdf"},
        {R"(<input id="pdfUrl" value="https://x/c.pdf"> <a href="http://later/">)",
         "https://x/c.pdf"},
        {R"(<a href="http://before/"></a><input id="pdfUrl" value="ftp://x">)", ""},
        {R"(<input id="pdfUrl" value="http://x/unclosed)", ""},
        {R"(<input id="pdfUrl" value="http://x/d.pdf?a=1|2">)", "http://x/d.pdf?a=1%7C2"},
        {R"(<input id="pdfUrl" value='http://x/e.pdf'> "tail)", "http://x/e.pdf"},
        {R"(<input id="pdfUrl" value="http://x/f.pdf ><a id="x">)", "http://x/f.pdf"},
        {R"(<input id="pdf" value="http://x/g.pdf">)", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindPdfAddress(QString::fromUtf8(c.page)), QString::fromUtf8(c.address))
            << c.page;
    }
}

// The marker element's own value decides, never a later link of the page: a help page or an
// advert stored under the article's title would be reported as the paper.
TEST(RecordAnalysisRules, PdfAddressIsTheMarkerElementsOwnValue) {
    const QString record = QStringLiteral("https://lib.example/ehost/detail?rec=7&db=a");
    struct Case {
        const char* page;
        const char* address;
    };
    const Case cases[] = {
        // Relative values resolve against the record page, never jump to the next link.
        {R"(<input id="pdfUrl" value="/pdf/7.pdf"><a href="http://help/">)",
         "https://lib.example/pdf/7.pdf"},
        {R"(<input id="pdfUrl" value="get?f=7.pdf&amp;s=1"> <a href="http://ad/">)",
         "https://lib.example/ehost/get?f=7.pdf&s=1"},
        {R"(<input id="pdfUrl" value="//cdn.example/7.pdf">)", "https://cdn.example/7.pdf"},
        // Other schemes fail the record.
        {R"x(<a id="pdfUrl" href="javascript:void(0)">PDF</a> <a href="http://terms/">)x", ""},
        {R"(<input id="pdfUrl" value="file:///etc/passwd">)", ""},
        {R"(<input id="pdfUrl" value=" data:text/html,x">)", ""},
        // href and src, either quotes, spaces around "=", unquoted values.
        {R"(<a class="x" id = 'pdfUrl' href = 'http://x/h.pdf'>PDF</a>)", "http://x/h.pdf"},
        {R"(<iframe src="http://x/s.pdf" id="pdfUrl"></iframe>)", "http://x/s.pdf"},
        {R"(<input id=pdfUrl value=http://x/u.pdf>)", "http://x/u.pdf"},
        {R"(<input type="hidden" value="http://x/v.pdf" ID="PdfUrl">)", "http://x/v.pdf"},
        // The marker in text or in another attribute's value is not the element.
        {R"(<p>id="pdfUrl" http://x/text.pdf</p>)", ""},
        {R"(<a title='id="pdfUrl"' href="http://x/title.pdf">)", ""},
        {R"(<!-- <input id="pdfUrl" value="http://old/"> --><input id="pdfUrl" value="http://x/n.pdf">)",
         "http://x/n.pdf"},
        // A line break inside the value is removed, not the address's end.
        {"<input id=\"pdfUrl\" value=\"http://x/long/\r\npart.pdf\">", "http://x/long/part.pdf"},
        {"<input id=\"pdfUrl\" value=\"\n  http://x/w.pdf  \n\">", "http://x/w.pdf"},
        // Control characters and bidirectional overrides are removed.
        {"<input id=\"pdfUrl\" value=\"http://x/a\x01"
         "b\u202Efdp.exe\">",
         "http://x/abfdp.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindPdfAddress(QString::fromUtf8(c.page), record), QString::fromUtf8(c.address))
            << c.page;
    }
    // Longer than 8 KiB: refused, not cut to a different address.
    const QString longAddress = QStringLiteral("http://x/") + QString(kMaxPdfAddressChars, u'a');
    EXPECT_EQ(FindPdfAddress(QStringLiteral("<input id=\"pdfUrl\" value=\"%1\">").arg(longAddress),
                             record),
              QString());
    const QString fits = longAddress.left(kMaxPdfAddressChars);
    EXPECT_EQ(
        FindPdfAddress(QStringLiteral("<input id=\"pdfUrl\" value=\"%1\">").arg(fits), record),
        fits);
    // Without the record page's address a relative value cannot be resolved.
    EXPECT_EQ(FindPdfAddress(QStringLiteral("<input id=\"pdfUrl\" value=\"/p.pdf\">")), QString());
    EXPECT_EQ(RemoveUnsafeCharacters(QStringLiteral("a\u202Bb\u2066c\u200Fd\te")),
              QStringLiteral("abcde"));
}

TEST(RecordAnalysisRules, LineBreaksExportAndClearing) {
    EXPECT_EQ(RemoveLineBreaks(QStringLiteral("a\r\nb\rc\nd") + QChar(u'\0') + QStringLiteral("e")),
              QStringLiteral("abcde"));
    EXPECT_EQ(RemoveLineBreaks(QStringLiteral("\n\r")), QString());
    EXPECT_EQ(ExportDoneMessage(1264435), QStringLiteral("保存文件完毕：1,234.8KB"));
    EXPECT_EQ(ExportDoneMessage(0), QStringLiteral("保存文件完毕：0.0KB"));

    AnalysisListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (const char* title : {"Alpha risk", "beta RISK", "gamma", "delta"}) {
        list.加入LV1(QString::fromUtf8(title), QString::fromUtf8(title) + QStringLiteral("-link"),
                     QStringLiteral("p"), QStringLiteral("pdf"), QString());
    }
    // Two adjacent selected rows both go.
    list.selectionModel()->select(list.index(1, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list.selectionModel()->select(list.index(2, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(ClearAnalysisRows(list, ClearKind::Selected), 2);
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(ClearAnalysisRows(list, ClearKind::TitleLacks, QStringLiteral("A")), 0);
    // The key index stays true after a removal: a removed link can come back, a kept one not.
    EXPECT_TRUE(list.加入LV1(QStringLiteral("g"), QStringLiteral("gamma-link"), {}, {}, {}));
    EXPECT_FALSE(list.加入LV1(QStringLiteral("d"), QStringLiteral("delta-link"), {}, {}, {}));
    EXPECT_EQ(ClearAnalysisRows(list, ClearKind::TitleLacks, QStringLiteral("ALPHA")), 2);
    EXPECT_EQ(list.record(0).title, QStringLiteral("Alpha risk"));
}

TEST(SaveFolderChooser, BrowseStartsOnTheParentFolder) {
    QTemporaryDir tmp;
    QDir(tmp.path()).mkpath(QStringLiteral("Papers/2023"));
    const QString start = tmp.path() + QStringLiteral("/Papers/2023/");
    EXPECT_EQ(BrowseStartFolder(start), tmp.path() + QStringLiteral("/Papers/"));
    EXPECT_EQ(BrowseStartFolder(QString()), QDir::homePath() + QLatin1Char('/'));
    EXPECT_EQ(BrowseStartFolder(tmp.path() + QStringLiteral("/gone/x/")),
              QDir::homePath() + QLatin1Char('/'));
    ScriptedDialogs dialogs;
    EXPECT_EQ(BrowseForFolder(nullptr, start, QStringLiteral("t"), false), start); // cancelled
    EXPECT_EQ(dialogs.starts.last(), tmp.path() + QStringLiteral("/Papers/"));
    dialogs.folderAnswer = tmp.path();
    EXPECT_EQ(BrowseForFolder(nullptr, start, QStringLiteral("t"), false),
              tmp.path() + QLatin1Char('/'));
}

// 分析下载 with a selection pops up the menu 加入: the button stays off until the chosen run ends
// (or the menu closes without a choice), and a run never starts inside another one, which would
// hide the panel and stop the first when it ended.
TEST_F(SearchWindowTest, AnalyseStaysOffUntilTheChosenRunEnds) {
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    ASSERT_GE(w().list().count(), 2);
    w().list().selectionModel()->select(w().list().index(0, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    auto* menu = w().findChild<QMenu*>(QStringLiteral("menu加入"));
    ASSERT_NE(menu, nullptr);

    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 3000));
    EXPECT_FALSE(button("Command2")->isEnabled());
    menu->hide(); // dismissed
    EXPECT_TRUE(QTest::qWaitFor([this] { return button("Command2")->isEnabled(); }, 3000));

    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 3000));
    QAction* all = menu->actions().at(3);
    ASSERT_EQ(all->text(), QStringLiteral("分析全部"));
    bool checked = false;
    bool offDuringRun = false;
    bool nestedRefused = false;
    // Checked when the first record has its status: the run goes on.
    const QMetaObject::Connection during =
        QObject::connect(&w().list(), &QAbstractItemModel::dataChanged, [&] {
            if (checked) {
                return;
            }
            checked = true;
            offDuringRun = !button("Command2")->isEnabled() && w().analysing();
            all->trigger(); // a second run asked for while the first goes on
            nestedRefused =
                w().analysing() && w().findChild<QWidget*>("PicPanPrograss")->isVisible();
        });
    menu->hide();
    AnswerChooser(true, folder.path() + QStringLiteral("/papers"));
    all->trigger(); // returns when the run is over
    QObject::disconnect(during);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(offDuringRun);
    EXPECT_TRUE(nestedRefused);
    EXPECT_FALSE(w().analysing());
    EXPECT_TRUE(button("Command2")->isEnabled());
    for (int row = 0; row < w().list().count(); ++row) {
        EXPECT_FALSE(w().list().record(row).status.isEmpty()) << row;
    }
}

// A cancelled address box answers with the empty text: 禁止浏览器弹出脚本提示 is checked and
// nothing opens. A failed export says so.
TEST_F(SearchWindowTest, CancelledAddressBoxAndAFailedExport) {
    auto* check2 = w().findChild<QCheckBox*>(QStringLiteral("Check2"));
    ASSERT_NE(check2, nullptr);
    check2->setChecked(false);
    QAction* open = nullptr;
    for (QAction* action : w().findChildren<QAction*>()) {
        if (action->text() == QStringLiteral("打开指定网址...")) {
            open = action;
        }
    }
    ASSERT_NE(open, nullptr);
    const QUrl before = w().browser()->url();
    dialogs.textAnswer = std::nullopt;
    open->trigger();
    EXPECT_TRUE(check2->isChecked());
    EXPECT_EQ(w().browser()->url(), before);

    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    ASSERT_GT(w().list().count(), 0);
    // A folder that does not exist cannot take the file.
    dialogs.savePath = folder.path() + QStringLiteral("/missing/list.txt");
    const qsizetype shown = boxes.texts().size();
    QTest::mouseClick(button("Command7"), Qt::LeftButton);
    ASSERT_EQ(boxes.texts().size(), shown + 1);
    EXPECT_TRUE(
        boxes.texts().last().startsWith(QStringLiteral("保存文件失败：") + dialogs.savePath))
        << boxes.texts().last().toStdString();
    EXPECT_FALSE(QFile::exists(dialogs.savePath));
}

TEST(RecordAnalysisRules, SavedPagesDeclareTheCharsetTheyAreWrittenIn) {
    const std::pair<const char*, const char*> cases[] = {
        {R"(<html><head><meta charset="gb2312"><title>t</title></head></html>)",
         R"(<html><head><meta charset="utf-8"><title>t</title></head></html>)"},
        {R"(<html><HEAD><META http-equiv="Content-Type" content="text/html; charset=GBK"></HEAD></html>)",
         R"(<html><HEAD><META http-equiv="Content-Type" content="text/html; charset=utf-8"></HEAD></html>)"},
        {R"(<html><head lang="zh"><title>t</title></head></html>)",
         R"(<html><head lang="zh"><meta charset="utf-8"><title>t</title></head></html>)"},
        {"<p>no head</p>", R"(<meta charset="utf-8"><p>no head</p>)"},
    };
    for (const auto& [page, saved] : cases) {
        EXPECT_EQ(WithUtf8Charset(QString::fromUtf8(page)), QString::fromUtf8(saved)) << page;
    }
}

// The address box's rule: web pages only, https:// assumed without a scheme, "host:port" read
// as a host with a port.
TEST(AddressInputRule, TypedAddresses) {
    struct Case {
        const char* typed;
        TypedAddress::Kind kind;
        const char* url;
    };
    const Case cases[] = {
        {"", TypedAddress::Empty, ""},
        {"   ", TypedAddress::Empty, ""},
        {"127.0.0.1:8080/results?q=x", TypedAddress::Web, "https://127.0.0.1:8080/results?q=x"},
        {"  localhost:8080  ", TypedAddress::Web, "https://localhost:8080"},
        {"example.org/a b", TypedAddress::Web, "https://example.org/a%20b"},
        {"www.example.org", TypedAddress::Web, "https://www.example.org"},
        {"//cdn.example.org/x", TypedAddress::Web, "https://cdn.example.org/x"},
        {"http://127.0.0.1:81/p", TypedAddress::Web, "http://127.0.0.1:81/p"},
        {"HTTPS://Example.org/P", TypedAddress::Web, "https://example.org/P"},
        {"javascript:alert(1)", TypedAddress::NotWeb, ""},
        {"JavaScript:void(0)", TypedAddress::NotWeb, ""},
        {"file:///etc/passwd", TypedAddress::NotWeb, ""},
        {"about:blank", TypedAddress::NotWeb, ""},
        {"data:text/html,<b>x</b>", TypedAddress::NotWeb, ""},
        {"ftp://example.org/f", TypedAddress::NotWeb, ""},
        {"mailto:a@example.org", TypedAddress::NotWeb, ""},
        {"localhost:8080x", TypedAddress::NotWeb, ""}, // not a port: a scheme
        {"https://", TypedAddress::Invalid, ""},
        {"http:example.org", TypedAddress::Invalid, ""},
        {"https://exa mple.org/", TypedAddress::Invalid, ""},
        {"/etc/passwd", TypedAddress::Invalid, ""},
    };
    for (const Case& c : cases) {
        const TypedAddress typed = ReadTypedAddress(QString::fromUtf8(c.typed));
        EXPECT_EQ(typed.kind, c.kind) << c.typed;
        EXPECT_EQ(typed.url.toString(QUrl::FullyEncoded), QString::fromUtf8(c.url)) << c.typed;
        EXPECT_EQ(TypedAddressMessage(typed.kind).isEmpty(),
                  c.kind == TypedAddress::Empty || c.kind == TypedAddress::Web)
            << c.typed;
    }
    EXPECT_EQ(TypedAddressMessage(TypedAddress::NotWeb), QStringLiteral("只能打开http或https网址"));
}

// A title far wider than the list is cut short: the status column stays inside the viewport at
// any window width, and the whole title is the row's tool tip. The list starts with room for
// more than a handful of rows.
TEST_F(SearchWindowTest, LongTitlesLeaveTheStatusInView) {
    w().Open();
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    ASSERT_EQ(w().list().count(), 4);
    const int longRow = 3; // record 5
    const QString title = w().list().record(longRow).title;
    ASSERT_GT(title.size(), 200);
    QTreeView* view = w().listView();
    EXPECT_GE(view->viewport()->height(), 8 * view->sizeHintForRow(0))
        << "the list shows fewer than eight rows";
    for (const int width : {1000, 600}) {
        SCOPED_TRACE(width);
        w().resize(width, 700);
        QTest::mouseClick(button("Command9"), Qt::LeftButton); // fits the columns again
        QCoreApplication::processEvents();
        const QHeaderView* header = view->header();
        const int viewport = view->viewport()->width();
        for (const int column : {AnalysisListModel::ColType, AnalysisListModel::ColStatus}) {
            EXPECT_GE(header->sectionViewportPosition(column), 0) << column;
            EXPECT_LE(header->sectionViewportPosition(column) + header->sectionSize(column),
                      viewport)
                << column;
            EXPECT_GE(header->sectionSize(column),
                      header->fontMetrics().horizontalAdvance(
                          w().list().headerData(column, Qt::Horizontal).toString()))
                << column;
        }
        EXPECT_LT(header->sectionSize(AnalysisListModel::ColTitle), viewport);
    }
    EXPECT_EQ(w().list().index(longRow, AnalysisListModel::ColTitle).data(Qt::ToolTipRole),
              QVariant(title));
    EXPECT_EQ(w().list().index(longRow, AnalysisListModel::ColFolder).data(Qt::ToolTipRole),
              QVariant()); // no folder was asked for
    // The picture for the eye, with long titles in the list.
    view->setCurrentIndex(w().list().index(longRow, 0));
    w().resize(1000, 700);
    QTest::qWait(300); // the page lays itself out again
    w().grab().save(QStringLiteral("/tmp/quillax-search-long-titles.png"));
}

// The address box follows the page on display; Enter opens what is typed when it is a web
// address, and says why otherwise, opening nothing. A page that cannot be reached is told in
// the status bar.
TEST_F(SearchWindowTest, AddressBoxShowsThePageAndOpensTypedAddresses) {
    auto* box = w().findChild<QComboBox*>(QStringLiteral("Combo1"));
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->lineEdit(), nullptr);
    const QString first = site->baseUrl() + QStringLiteral("results?q=x&page=1");
    ASSERT_TRUE(loadPage(first));
    EXPECT_EQ(box->currentText(), w().browser()->url().toString());
    EXPECT_EQ(box->currentText(), first);

    const auto enter = [box](const QString& text) {
        // Typed into the box, as the keyboard focus sends them.
        box->lineEdit()->clear();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    };
    const QString second = site->baseUrl() + QStringLiteral("results?q=x&page=2");
    {
        QSignalSpy done(w().browser(), &WebBrowser::DocumentComplete);
        enter(second);
        ASSERT_TRUE(done.wait(20000));
    }
    EXPECT_EQ(w().browser()->url().toString(), second);
    EXPECT_EQ(box->currentText(), second);
    EXPECT_TRUE(boxes.shown.isEmpty());

    for (const QString& refused :
         {QStringLiteral("javascript:document.title='x'"), QStringLiteral("file:///etc/passwd")}) {
        SCOPED_TRACE(refused.toStdString());
        QSignalSpy navigations(w().browser(), &WebBrowser::BeforeNavigate2);
        const qsizetype shown = boxes.shown.size();
        enter(refused);
        QTest::qWait(200); // a navigation would have been asked for by now
        EXPECT_TRUE(navigations.isEmpty());
        EXPECT_EQ(w().browser()->url().toString(), second);
        ASSERT_EQ(boxes.shown.size(), shown + 1);
        EXPECT_EQ(boxes.texts().last(), QStringLiteral("只能打开http或https网址"));
        EXPECT_EQ(boxes.shown.last().icon, MsgIcon::Error);
        EXPECT_EQ(box->currentText(), refused); // left to be put right
    }

    // A port nothing listens on.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    // A long address is kept whole (the panel shows it cut short).
    const QString unreachable = QStringLiteral("http://127.0.0.1:%1/nothing?q=").arg(closedPort) +
                                QString(2000, QLatin1Char('a'));
    EXPECT_TRUE(w().statusPanelText(3).isEmpty());
    {
        QSignalSpy done(w().browser(), &WebBrowser::DocumentComplete);
        enter(unreachable);
        ASSERT_TRUE(done.wait(20000));
    }
    EXPECT_EQ(w().statusPanelText(3), QStringLiteral("网页无法打开：") + unreachable);
    // The next page that opens clears it.
    ASSERT_TRUE(loadPage(first));
    EXPECT_TRUE(w().statusPanelText(3).isEmpty());

    // A load that the user's next navigation cuts short is no failure.
    TestHttpServer server;
    Route slow = Serve(QByteArray("<p>slow</p>"), "text/html");
    slow.delayHeadersMs = 3000;
    server.route("/slow", slow);
    enter(server.url(QStringLiteral("/slow")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount("/slow") > 0; }, 5000));
    ASSERT_TRUE(loadPage(second));
    EXPECT_TRUE(w().statusPanelText(3).isEmpty()) << w().statusPanelText(3).toStdString();
    EXPECT_EQ(box->currentText(), second);
}

// After a take and after an analysis run the status bar says what happened: rows added and
// already listed; records found, failed, and sharing a PDF already in the download list.
TEST_F(SearchWindowTest, StatusBarSaysWhatATakeAndAnAnalysisDid) {
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    EXPECT_EQ(w().statusPanelText(3), QStringLiteral("加入4条"));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    EXPECT_EQ(w().statusPanelText(3), QStringLiteral("加入0条（重复4条）"));

    // Every page: each page is read more than once, and record 5 shows on two pages; the four
    // rows of page 1 were listed before.
    w().findChild<QComboBox*>("Combo2")->setCurrentIndex(0);
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    ASSERT_EQ(w().list().count(), 21);
    EXPECT_EQ(w().statusPanelText(3), QStringLiteral("加入17条（重复4条）"));

    // A page without a result list.
    ASSERT_TRUE(loadPage(site->baseUrl()));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    EXPECT_EQ(w().statusPanelText(3), QStringLiteral("没有找到可加入的记录"));

    // Record 8 has no PDF address; record 21 shares record 20's PDF.
    AnswerChooser(true, folder.path() + QStringLiteral("/papers"));
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    EXPECT_FALSE(w().analysing());
    EXPECT_EQ(w().statusPanelText(3),
              QStringLiteral("分析完成：成功20，失败1，其中1条为相同PDF合并"));
    QCoreApplication::processEvents();
    w().grab().save(QStringLiteral("/tmp/quillax-search-analysed.png"));
    // Again: every address is in the download list already.
    AnswerChooser(true, folder.path() + QStringLiteral("/papers"));
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    EXPECT_EQ(w().statusPanelText(3),
              QStringLiteral("分析完成：成功20，失败1，其中20条为相同PDF合并"));

    // 停止 after the first record.
    const QMetaObject::Connection stop =
        QObject::connect(&w().list(), &QAbstractItemModel::dataChanged, [this] {
            if (w().analysing()) {
                QTest::mouseClick(button("Command5"), Qt::LeftButton);
            }
        });
    AnswerChooser(true, folder.path() + QStringLiteral("/papers"));
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QObject::disconnect(stop);
    EXPECT_EQ(w().statusPanelText(3),
              QStringLiteral("分析已停止：成功1，失败0，其中1条为相同PDF合并"));
    // A chooser cancelled: nothing ran, nothing to tell.
    AnswerChooser(false);
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    EXPECT_EQ(w().statusPanelText(3),
              QStringLiteral("分析已停止：成功1，失败0，其中1条为相同PDF合并"));
}

// Closing asks only while rows wait for analysis; No keeps the window with its list.
TEST_F(SearchWindowTest, ClosingAsksOnlyWhileRowsAwaitAnalysis) {
    const QString question = QStringLiteral("分析列表中还有%1条未分析，确定要关闭吗？");
    const auto questions = [this] {
        int n = 0;
        for (const ShownMessage& m : boxes.shown) {
            n += m.text.startsWith(QStringLiteral("分析列表中还有")) ? 1 : 0;
        }
        return n;
    };
    // Rows, two of them analysed: No keeps everything, Yes closes.
    AnalysisListModel& list = w().list();
    for (int i = 0; i < 4; ++i) {
        list.加入LV1(QStringLiteral("t%1").arg(i), QStringLiteral("http://x/%1").arg(i), {},
                     QStringLiteral("pdf"), {});
    }
    list.setStatus(0, QStringLiteral("成功"));
    list.setStatus(1, QStringLiteral("失败"));
    boxes.answer = MsgResult::No;
    EXPECT_FALSE(window->close());
    ASSERT_EQ(questions(), 1);
    EXPECT_EQ(boxes.shown.last().text, question.arg(2));
    EXPECT_EQ(boxes.shown.last().buttons, MsgButtons::YesNo);
    QCoreApplication::processEvents();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(IsWindowLoaded(QStringLiteral("fWebSearch")));
    EXPECT_EQ(list.count(), 4);

    boxes.answer = MsgResult::Yes;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(questions(), 2);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 3000));

    // Every row analysed, and an empty list: no question.
    for (const bool empty : {false, true}) {
        SCOPED_TRACE(empty);
        fWebSearch& again = w();
        if (!empty) {
            again.list().加入LV1(QStringLiteral("t"), QStringLiteral("http://x/t"), {},
                                 QStringLiteral("pdf"), {});
            again.list().setStatus(0, QStringLiteral("失败"));
        }
        boxes.answer = MsgResult::No;
        EXPECT_TRUE(window->close());
        EXPECT_EQ(questions(), 2);
        ASSERT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 3000));
    }
}

// The address box that loses the focus after the page changed never loads the page again: a
// reload under a running take found no records.
TEST_F(SearchWindowTest, LeavingTheAddressBoxLoadsNothing) {
    ASSERT_TRUE(loadPage(site->baseUrl()));
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=1")));
    auto* box = w().findChild<QComboBox*>(QStringLiteral("Combo1"));
    ASSERT_NE(box, nullptr);
    w().activateWindow();
    box->lineEdit()->setFocus();
    ASSERT_TRUE(loadPage(site->baseUrl() + QStringLiteral("results?q=x&page=2")));
    QSignalSpy started(w().browser(), &QWebEngineView::loadStarted);
    button("Command9")->setFocus();
    QTest::qWait(300);
    EXPECT_TRUE(started.isEmpty());
    EXPECT_TRUE(w().browser()->url().toString().endsWith(QStringLiteral("page=2")));
    QTest::mouseClick(button("Command9"), Qt::LeftButton);
    EXPECT_GT(w().list().count(), 0);
}
