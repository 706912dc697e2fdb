// The search window driven as a user would, against the demo library site: taking every result
// page, stopping, analysing records into download items; and the rules it applies on the way.

#include "search/RecordAnalysis.h"
#include "search/fWebSearch.h"

#include "DemoSite.h"
#include "ResultPageFixture.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include "download/DownloadWindowHost.h"
#include "download/fFileDownload.h"
#include "platform/UserDialogs.h"
#include "platform/WebBrowser.h"
#include "shell/AppValues.h"
#include "shell/SettingsStore.h"
#include "shell/WindowHelpers.h"
#include "shell/fSeleFileSavePath.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrlQuery>
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

/// Answers the next save-folder chooser that opens.
void AnswerChooser(bool confirm, const QString& folder = {}) {
    QTimer::singleShot(50, [confirm, folder] {
        auto* chooser = qobject_cast<fSeleFileSavePath*>(QApplication::activeModalWidget());
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
    QTimer::singleShot(600, [this] {
        EXPECT_EQ(button("Command4")->text(), QStringLiteral("停止加入全部"));
        QTest::mouseClick(button("Command4"), Qt::LeftButton);
    });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 3500); // ended before the slow page came
    EXPECT_EQ(button("Command4")->text(), QStringLiteral("加入全部到列表"));
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
