// The program driven as a researcher uses it, through its real windows, against the demo site:
// from the start window to stored PDFs under both download methods, behind the login gate,
// through the site's faults, and out again through the windows' closing questions.

#include "E2eSupport.h"

#include "core/download/DownloadScheduler.h"
#include "platform/DomDocument.h"
#include "platform/UserDialogs.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/fCover.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::e2e;

namespace {

constexpr int kDownloadLimitMs = 120'000;

demo::DemoOptions SmallSite(bool loginGate) {
    demo::DemoOptions options;
    options.records = 24; // every fault of the site, and no 3 MB record
    options.perPage = 8;
    options.loginGate = loginGate;
    options.slowRecordMs = 1500;
    options.dripIntervalMs = 20;
    return options;
}

QVector<int> Range(int from, int to) {
    QVector<int> out;
    for (int n = from; n <= to; ++n) {
        out << n;
    }
    return out;
}

/// Records of `numbers` that a result page lists with a PDF full text: the analysis list.
QVector<int> WithPdfFullText(const QVector<int>& numbers) {
    QVector<int> out;
    for (int n : numbers) {
        if (demo::RecordAt(n).fullText == demo::FullText::Pdf) {
            out << n;
        }
    }
    return out;
}

int RecordOf(const QString& link) {
    return QUrlQuery(QUrl(link)).queryItemValue(QStringLiteral("rec")).toInt();
}

/// The analysis list after 分析下载: 成功 for every record page with a PDF address, 失败 for
/// the one without.
void CheckAnalysis(fWebSearch& search, const QVector<int>& records) {
    const AnalysisListModel& list = search.list();
    ASSERT_EQ(list.count(), records.size());
    for (int row = 0; row < list.count(); ++row) {
        const int n = RecordOf(list.record(row).link);
        SCOPED_TRACE(n);
        EXPECT_TRUE(records.contains(n));
        EXPECT_EQ(list.record(row).status,
                  demo::RecordAt(n).hasPdfUrl ? QStringLiteral("成功") : QStringLiteral("失败"));
    }
}

/// Picks an entry of a choice box by keyboard, as a user does.
void ChooseByKeys(QComboBox* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < box->count() && box->currentText() != text; ++i) {
        QTest::keyClick(box, Qt::Key_Down);
    }
    ASSERT_EQ(box->currentText(), text);
}

/// Makes `method` the download method with the window's 切换 button.
void ChooseMethod(fFileDownload* window, int method) {
    auto* label = window->findChild<QLabel*>(QStringLiteral("Label7"));
    const QString wanted = QStringLiteral("下载方式：%1").arg(method);
    if (label->text() != wanted) {
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command26")),
                          Qt::LeftButton);
    }
    ASSERT_EQ(label->text(), wanted);
    ASSERT_EQ(window->options().method, method);
}

/// The download list's menu as a right click on the list shows it: the entry of each text and
/// whether it may be used. The menu is closed again.
QHash<QString, bool> ListMenuByRightClick(fFileDownload* window) {
    QTreeView* view = window->listView();
    const QPoint at = view->viewport()->rect().center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &click);
    QHash<QString, bool> entries;
    QMenu* menu = window->listMenu();
    EXPECT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 3000))
        << "no menu on a right click";
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            entries.insert(action->text(), action->isEnabled());
        }
    }
    menu->hide();
    return entries;
}

} // namespace

// Start → 资料检索下载 → search → 加入全部到列表 → 分析下载 → 开始下载 under method 1; then the
// list cleared, analysed again into a second folder and downloaded under method 2, 3 threads.
TEST(EndToEnd, SearchToStoredPdfsUnderBothMethods) {
    ProgramRun run(SmallSite(false));
    ASSERT_TRUE(run.startAndOpenSearch());
    EXPECT_FALSE(run.cover().isVisible()); // the start window gives way to the work window
    ASSERT_TRUE(run.search());
    fWebSearch* search = run.searchWindow();

    const QString first = run.folder(QStringLiteral("method1"));
    run.chooserFolder = first;
    ChooseByKeys(search->findChild<QComboBox*>(QStringLiteral("Combo2")), QStringLiteral("0"));
    QTest::mouseClick(run.searchButton("Command4"), Qt::LeftButton); // returns after the run
    EXPECT_GE(run.choosersAnswered, 1);
    EXPECT_EQ(run.searchButton("Command4")->text(), QStringLiteral("加入全部到列表"));
    EXPECT_TRUE(search->browser()->url().toString().endsWith(QStringLiteral("page=3")));
    const QVector<int> analysed = WithPdfFullText(Range(1, 24));
    ASSERT_EQ(search->list().count(), analysed.size()); // record 8 once, though on two pages
    EXPECT_EQ(search->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QString::number(analysed.size()));

    fFileDownload* downloads = run.analyse();
    ASSERT_NE(downloads, nullptr);
    CheckAnalysis(*search, analysed);
    EXPECT_TRUE(downloads->isVisible());
    const QVector<int> items = ItemRecords(analysed);
    ASSERT_EQ(downloads->list().count(), items.size());
    for (int row = 0; row < downloads->list().count(); ++row) {
        EXPECT_EQ(downloads->list().item(row).status, ItemStatus::Waiting);
    }
    EXPECT_EQ(downloads->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("%1条").arg(items.size()));

    QTest::mouseClick(downloads->findChild<QRadioButton*>(QStringLiteral("Option3")),
                      Qt::LeftButton); // 重命名
    ASSERT_EQ(downloads->duplicatePolicy(), DuplicateNamePolicy::Rename);
    ChooseMethod(downloads, 1);
    ASSERT_TRUE(run.downloadAll(downloads, kDownloadLimitMs)) << "method 1 did not end";
    {
        SCOPED_TRACE("method 1");
        CheckStoredRun(*downloads, run.site(), first, analysed);
    }

    // The same again: 清空 through the list menu's action, then analysed into a new folder.
    run.boxes.answer = MsgResult::Yes;
    QAction* clearAll = nullptr;
    for (QAction* action : downloads->listMenu()->actions()) {
        if (action->text() == QStringLiteral("清空")) {
            clearAll = action;
        }
    }
    ASSERT_NE(clearAll, nullptr);
    downloads->prepareListMenu();
    ASSERT_TRUE(clearAll->isEnabled());
    clearAll->trigger();
    ASSERT_EQ(downloads->list().count(), 0);
    // The records carry their folder from the moment they are taken: taken again for the new one.
    const QString second = run.folder(QStringLiteral("method2"));
    run.chooserFolder = second;
    search->clearRows(ClearKind::All);
    ASSERT_EQ(search->list().count(), 0);
    ASSERT_TRUE(run.followResultLink(QStringLiteral("page=1")));
    QTest::mouseClick(run.searchButton("Command4"), Qt::LeftButton);
    ASSERT_EQ(search->list().count(), analysed.size());
    ASSERT_EQ(run.analyse(), downloads);
    ASSERT_EQ(downloads->list().count(), items.size());
    ChooseMethod(downloads, 2);
    ChooseByKeys(downloads->findChild<QComboBox*>(QStringLiteral("Combo1")), QStringLiteral("3"));
    ASSERT_EQ(downloads->options().threadCount, 3);
    ASSERT_TRUE(run.downloadAll(downloads, kDownloadLimitMs)) << "method 2 did not end";
    {
        SCOPED_TRACE("method 2, 3 threads");
        CheckStoredRun(*downloads, run.site(), second, analysed);
    }
    // Each PDF was asked for once per run, with or without a length, dripping or not: nothing
    // fetched twice, nothing left out. (A connection cut off may be asked again by Qt itself.)
    for (int n : items) {
        const QString path = QStringLiteral("GET /pdf/%1.pdf?").arg(n);
        int asked = 0;
        for (const QString& line : run.site().requestLog()) {
            asked += line.startsWith(path) ? 1 : 0;
        }
        if (demo::RecordAt(n).delivery == demo::Delivery::Truncated) {
            EXPECT_GE(asked, 2) << "record " << n;
        } else {
            EXPECT_EQ(asked, 2) << "record " << n;
        }
    }
}

// The login gate on: the first downloads bring the site's login page, the login panel logs in
// by itself, automatic re-download fetches the pages again and they end as PDFs.
TEST(EndToEnd, LoginGateAutomaticLoginAndRedownload) {
    ProgramRun run(SmallSite(true));
    ASSERT_TRUE(run.startAndOpenSearch());
    ASSERT_TRUE(run.search());
    const QString folder = run.folder(QStringLiteral("gate"));
    run.chooserFolder = folder;
    QTest::mouseClick(run.searchButton("Command9"), Qt::LeftButton); // 加入本页到列表
    const QVector<int> analysed = WithPdfFullText(Range(1, 8));
    ASSERT_EQ(run.searchWindow()->list().count(), analysed.size());
    fFileDownload* downloads = run.analyse();
    ASSERT_NE(downloads, nullptr);
    CheckAnalysis(*run.searchWindow(), analysed);

    // 网页登录 shows the panel; the user fills it in and turns on 自动登录.
    LoginPanel* panel = downloads->loginPanel();
    QTest::mouseClick(run.downloadButton(downloads, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(panel->isVisible());
    QTest::keyClicks(panel->findChild<QLineEdit*>(QStringLiteral("Text1")), run.site().loginUrl());
    QTest::mouseClick(panel->findChild<QRadioButton*>(QStringLiteral("Option4")), Qt::LeftButton);
    QTest::keyClicks(panel->findChild<QLineEdit*>(QStringLiteral("Text2")),
                     run.site().options().account);
    QTest::keyClicks(panel->findChild<QLineEdit*>(QStringLiteral("Text3")),
                     run.site().options().password);
    auto* autoLogin = panel->findChild<QCheckBox*>(QStringLiteral("Check2"));
    QTest::mouseClick(autoLogin, Qt::LeftButton);
    ASSERT_TRUE(autoLogin->isChecked()) << run.boxes.texts().join(u'\n').toStdString();
    ASSERT_TRUE(downloads->options().autoLogin);
    QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("Command3")), Qt::LeftButton);
    EXPECT_FALSE(panel->isVisible());

    QTest::mouseClick(downloads->findChild<QCheckBox*>(QStringLiteral("Check3")), Qt::LeftButton);
    ChooseByKeys(downloads->findChild<QComboBox*>(QStringLiteral("Combo4")),
                 QStringLiteral("文件类型为HTM和HTML项"));
    ASSERT_TRUE(downloads->options().autoRedownload);
    QTest::mouseClick(downloads->findChild<QRadioButton*>(QStringLiteral("Option3")),
                      Qt::LeftButton);
    ChooseMethod(downloads, 2);

    // Watch the rows on the way: each must first come back as a page.
    QSet<int> seenAsPage;
    QObject::connect(&downloads->list(), &QAbstractItemModel::dataChanged, downloads, [&] {
        for (int row = 0; row < downloads->list().count(); ++row) {
            if (IsWebPageType(downloads->list().item(row).type) &&
                downloads->list().item(row).status == ItemStatus::Finished) {
                seenAsPage.insert(row);
            }
        }
    });
    const QVector<int> items = ItemRecords(analysed);
    QTest::mouseClick(run.downloadButton(downloads, "Command4"), Qt::LeftButton);
    const bool allPdf = QTest::qWaitFor(
        [&] {
            const DownloadListModel& list = downloads->list();
            for (int row = 0; row < list.count(); ++row) {
                if (list.item(row).status != ItemStatus::Finished ||
                    list.item(row).type != QLatin1String("pdf")) {
                    return false;
                }
            }
            return list.count() == items.size();
        },
        kDownloadLimitMs);
    QStringList rows;
    for (int row = 0; row < downloads->list().count(); ++row) {
        const DownloadItem& item = downloads->list().item(row);
        rows << QStringLiteral("%1.%2 [%3|%4|%5] status %6")
                    .arg(item.name, item.type, item.size, item.received, item.percent)
                    .arg(static_cast<int>(item.status));
    }
    ASSERT_TRUE(allPdf) << "not every row ended as a PDF:\n"
                        << rows.join(u'\n').toStdString() << "\nrequests:\n"
                        << run.site().requestLog().join(u'\n').toStdString();
    // Rows turn over between two looks; at least one is seen as the login page it brought.
    EXPECT_GE(seenAsPage.size(), 1) << "no row came back as a login page";
    EXPECT_TRUE(run.site().requestLog().filter(QStringLiteral("POST /login")).size() >= 1)
        << "no automatic login reached the site";

    // Automatic re-download stays on: turned off before the final look, as a user would.
    QTest::mouseClick(run.downloadButton(downloads, "Command31"), Qt::LeftButton);
    EXPECT_FALSE(downloads->findChild<QCheckBox*>(QStringLiteral("Check3"))->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !downloads->downloadRunning(); }, 10'000));
    CheckStoredRun(*downloads, run.site(), folder, analysed);
}

// The site's faults as the user meets them: the record without a PDF address is 失败 in the
// analysis list, the slow record page still gives its item, the 404 and the cut-off PDF fail
// and leave no file, the dripping one ends whole; a double-click retries a failed row, which
// fails the same way again; 导出名称/未完成项 lists exactly the failed rows.
TEST(EndToEnd, SiteFaultsShowAsTheUserSeesThem) {
    ProgramRun run(SmallSite(false));
    SaveDialogs dialogs;
    ASSERT_TRUE(run.startAndOpenSearch());
    ASSERT_TRUE(run.search());
    const QString folder = run.folder(QStringLiteral("faults"));
    run.chooserFolder = folder;
    ASSERT_TRUE(run.followResultLink(QStringLiteral("page=2")));
    QTest::mouseClick(run.searchButton("Command9"), Qt::LeftButton);
    ASSERT_TRUE(run.followResultLink(QStringLiteral("page=3")));
    QTest::mouseClick(run.searchButton("Command9"), Qt::LeftButton);
    const QVector<int> analysed = WithPdfFullText(Range(8, 24));
    ASSERT_EQ(run.searchWindow()->list().count(), analysed.size());

    fFileDownload* downloads = run.analyse();
    ASSERT_NE(downloads, nullptr);
    CheckAnalysis(*run.searchWindow(), analysed);

    // 导出数据... writes the analysis list: title-【type】status, one record a line.
    fWebSearch* search = run.searchWindow();
    dialogs.savePath = run.folder(QStringLiteral("analysis.txt"));
    QTest::mouseClick(run.searchButton("Command7"), Qt::LeftButton);
    QByteArray analysisText;
    for (int row = 0; row < search->list().count(); ++row) {
        const AnalysisRecord& r = search->list().record(row);
        analysisText += (r.title + QStringLiteral("-【") + r.type + QStringLiteral("】") +
                         r.status + QStringLiteral("\r\n"))
                            .toUtf8();
    }
    EXPECT_EQ(FileHash(dialogs.savePath),
              QCryptographicHash::hash(analysisText, QCryptographicHash::Sha256).toHex());
    EXPECT_TRUE(analysisText.contains(QStringLiteral("】失败\r\n").toUtf8())); // record 8
    ASSERT_FALSE(run.boxes.shown.isEmpty());
    EXPECT_EQ(run.boxes.shown.last().text,
              QStringLiteral("保存文件完毕：%1KB")
                  .arg(QLocale(QLocale::English)
                           .toString(static_cast<double>(analysisText.size()) / 1024.0, 'f', 1)));

    // 工具 → 网页另存为 stores the page on display as the browser holds it, in UTF-8.
    dialogs.savePath = run.folder(QStringLiteral("page.htm"));
    QAction* savePage =
        MenuEntry(search, {QStringLiteral("工具(&T)"), QStringLiteral("网页另存为")});
    ASSERT_NE(savePage, nullptr);
    const QByteArray pageSource = search->browser()->Document().outerHTML().toUtf8();
    ASSERT_TRUE(pageSource.contains("resultListControl"));
    savePage->trigger();
    EXPECT_EQ(FileHash(dialogs.savePath),
              QCryptographicHash::hash(pageSource, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(run.boxes.shown.last().text, QStringLiteral("已经保存！"));

    QTest::mouseClick(downloads->findChild<QRadioButton*>(QStringLiteral("Option3")),
                      Qt::LeftButton);
    ChooseMethod(downloads, 2);
    ChooseByKeys(downloads->findChild<QComboBox*>(QStringLiteral("Combo1")), QStringLiteral("6"));

    // The list's menu on a right click: clearing and selecting while nothing runs, stopping
    // while downloads run.
    const QString clearEntry = QStringLiteral("清除");
    const QString emptyEntry = QStringLiteral("清空");
    const QString allEntry = QStringLiteral("全选");
    const QString stopEntry = QStringLiteral("停止下载");
    {
        SCOPED_TRACE("idle");
        const QHash<QString, bool> idle = ListMenuByRightClick(downloads);
        EXPECT_EQ(idle.value(clearEntry, false), true);
        EXPECT_EQ(idle.value(emptyEntry, false), true);
        EXPECT_EQ(idle.value(allEntry, false), true);
        EXPECT_EQ(idle.value(stopEntry, true), false);
    }
    QTest::mouseClick(run.downloadButton(downloads, "Command4"), Qt::LeftButton);
    {
        SCOPED_TRACE("downloading"); // the first tick is a second away: it runs from the click
        const QHash<QString, bool> busy = ListMenuByRightClick(downloads);
        EXPECT_EQ(busy.value(clearEntry, true), false);
        EXPECT_EQ(busy.value(emptyEntry, true), false);
        EXPECT_EQ(busy.value(allEntry, true), false);
        EXPECT_EQ(busy.value(stopEntry, false), true);
    }
    ASSERT_TRUE(ProgramRun::waitForDownloads(downloads, kDownloadLimitMs));
    CheckStoredRun(*downloads, run.site(), folder, analysed);

    // A double-click on a failed row puts it back in the queue.
    DownloadListModel& list = downloads->list();
    QTreeView* view = downloads->listView();
    for (int n : {15, 16}) {
        const QModelIndex index = list.index(list.rowOfKey(run.site().pdfAddress(n)), 0);
        view->scrollTo(index);
        // A real double click begins with a press, which the view needs to see.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        EXPECT_EQ(list.item(index.row()).status, ItemStatus::Waiting) << "record " << n;
    }
    ASSERT_TRUE(run.downloadAll(downloads, kDownloadLimitMs));
    CheckStoredRun(*downloads, run.site(), folder, analysed);

    // 导出名称 → 未完成项: the names of the two failed rows, nothing else; → 全部: every row's.
    const QString listMenu = QStringLiteral("列表操作(&D)");
    const QString exportMenu = QStringLiteral("导出名称");
    dialogs.savePath = run.folder(QStringLiteral("unfinished.txt"));
    QAction* unfinished = MenuEntry(downloads, {listMenu, exportMenu, QStringLiteral("未完成项")});
    ASSERT_NE(unfinished, nullptr);
    unfinished->trigger();
    EXPECT_EQ(test::ReadFile(dialogs.savePath),
              (StoredName(15) + QStringLiteral("\r\n") + StoredName(16) + QStringLiteral("\r\n"))
                  .toUtf8());
    dialogs.savePath = run.folder(QStringLiteral("all.txt"));
    QAction* everyName = MenuEntry(downloads, {listMenu, exportMenu, QStringLiteral("全部")});
    ASSERT_NE(everyName, nullptr);
    everyName->trigger();
    QString names;
    for (int n : ItemRecords(analysed)) {
        // The second "Book Review" was stored under a numbered name.
        names +=
            (n == 10 ? QStringLiteral("Book Review[001]") : StoredName(n)) + QStringLiteral("\r\n");
    }
    EXPECT_EQ(test::ReadFile(dialogs.savePath), names.toUtf8());

    // 清除 → 全部出错项, then → 完成项: the rows go, the stored files stay. The menu is usable
    // again once the downloads have ended.
    {
        SCOPED_TRACE("ended");
        const QHash<QString, bool> ended = ListMenuByRightClick(downloads);
        EXPECT_EQ(ended.value(clearEntry, false), true);
        EXPECT_EQ(ended.value(stopEntry, true), false);
    }
    const int rows = list.count();
    QAction* clearFailed =
        MenuEntry(downloads, {listMenu, QStringLiteral("清除"), QStringLiteral("全部出错项")});
    ASSERT_NE(clearFailed, nullptr);
    ASSERT_TRUE(clearFailed->isEnabled());
    clearFailed->trigger();
    EXPECT_EQ(list.count(), rows - 2);
    EXPECT_EQ(list.rowOfKey(run.site().pdfAddress(15)), -1);
    EXPECT_EQ(list.rowOfKey(run.site().pdfAddress(16)), -1);
    EXPECT_EQ(downloads->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("%1条").arg(rows - 2));
    QAction* clearFinished =
        MenuEntry(downloads, {listMenu, QStringLiteral("清除"), QStringLiteral("完成项")});
    ASSERT_NE(clearFinished, nullptr);
    clearFinished->trigger();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(downloads->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("0条"));
    EXPECT_EQ(FileHash(folder + QStringLiteral("/") + StoredName(11) + QStringLiteral(".pdf")),
              QCryptographicHash::hash(demo::PdfBytes(11), QCryptographicHash::Sha256).toHex());
}

// Closing: the download window asks while items wait and stays when told no; the start window
// stays hidden while either work window is open and comes back when both have closed; closing
// it ends the run.
TEST(EndToEnd, ClosingAsksWhileItemsWaitAndTheStartWindowComesBack) {
    ProgramRun run(SmallSite(false));
    ASSERT_TRUE(run.startAndOpenSearch());
    ASSERT_TRUE(run.search());
    run.chooserFolder = run.folder(QStringLiteral("close"));
    QTest::mouseClick(run.searchButton("Command9"), Qt::LeftButton);
    QPointer<fFileDownload> downloads = run.analyse();
    ASSERT_NE(downloads, nullptr);
    ASSERT_GT(downloads->list().count(), 0);
    EXPECT_FALSE(run.cover().isVisible());

    QAction* closeAction = nullptr;
    for (QAction* action : downloads->listMenu()->actions()) {
        if (action->text() == QStringLiteral("关闭本下载窗口")) {
            closeAction = action;
        }
    }
    ASSERT_NE(closeAction, nullptr);
    const QString question = QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？");
    run.boxes.answer = MsgResult::No;
    closeAction->trigger();
    ASSERT_FALSE(run.boxes.shown.isEmpty());
    EXPECT_EQ(run.boxes.shown.last().text, question);
    EXPECT_EQ(run.boxes.shown.last().buttons, MsgButtons::YesNo);
    EXPECT_EQ(LoadedDownloadWindow(), downloads.data());
    EXPECT_TRUE(downloads->isVisible());

    // The search window closes; the download window still holds the start window back.
    QPointer<fWebSearch> search = run.searchWindow();
    search->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return search.isNull(); }, 5000));
    QTest::qWait(200);
    EXPECT_FALSE(run.cover().isVisible());

    run.boxes.answer = MsgResult::Yes;
    const qsizetype asked = run.boxes.shown.size();
    closeAction->trigger();
    EXPECT_EQ(run.boxes.shown.size(), asked + 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return downloads.isNull(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.cover().isVisible(); }, 5000));
    // Nothing was downloaded: the waiting items left no files behind.
    EXPECT_TRUE(QDir(run.folder(QStringLiteral("close"))).entryList(QDir::Files).isEmpty());

    QSignalSpy closed(&run.cover(), &fCover::closed);
    run.cover().close();
    EXPECT_EQ(closed.size(), 1);
}
