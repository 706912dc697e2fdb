#include "ui/download/fFileDownload.h"

#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "ui/shell/WindowHelpers.h"

#include "core/download/DownloadScheduler.h"
#include "core/download/ListOperations.h"
#include "core/files/FileNaming.h"
#include "core/store/ListStore.h"
#include "core/store/QueueKeeper.h"
#include "platform/WebBrowser.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/PdfPreview.h"
#include "ui/shell/QueueKeeping.h"

#include "DemoSite.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>

using namespace quillax;
using namespace quillax::settings_keys;

class DownloadWindow : public ::testing::Test {
protected:
    std::unique_ptr<fFileDownload> open() {
        return std::make_unique<fFileDownload>(*store, values);
    }
    template <typename T> static T* child(QWidget* w, const char* name) {
        return w->findChild<T*>(QString::fromLatin1(name));
    }

    QTemporaryDir tmp;
    std::unique_ptr<SettingsStore> store =
        std::make_unique<SettingsStore>(tmp.path() + QStringLiteral("/Quillax.ini"));
    AppValues values;
    test::RecordingMessageBoxes boxes;
};

TEST_F(DownloadWindow, OpensWithEmptyListCaptionAndStatusBar) {
    auto w = open();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("文件下载-Quillax"));
    EXPECT_TRUE(IsWindowLoaded(QStringLiteral("ffiledownload")));
    EXPECT_EQ(w->listView()->model()->columnCount(), 6);
    EXPECT_EQ(child<QLabel>(w.get(), "Label1")->text(), QStringLiteral("0条"));
    EXPECT_EQ(w->statusPanelText(4), QStringLiteral("总数:0 正在下载:0 等待:0 已完成:0 失败:0"));
    EXPECT_FALSE(w->statusPanelText(1).isEmpty());
    EXPECT_EQ(child<QLabel>(w.get(), "Label7")->text(), QStringLiteral("下载方式：2"));
    EXPECT_EQ(child<QComboBox>(w.get(), "Combo1")->currentText(), QStringLiteral("3"));
    EXPECT_TRUE(child<QRadioButton>(w.get(), "Option3")->isChecked());
    EXPECT_TRUE(w->isMaximized() || w->windowState().testFlag(Qt::WindowMaximized));

    w->list().addItem(QStringLiteral("https://a.test/1.pdf"), QStringLiteral("T"),
                      QStringLiteral("pdf"), tmp.path(), QString());
    w->显示下载统计();
    w->refreshRowCount();
    EXPECT_EQ(w->statusPanelText(4), QStringLiteral("总数:1 正在下载:0 等待:1 已完成:0 失败:0"));
    EXPECT_EQ(child<QLabel>(w.get(), "Label1")->text(), QStringLiteral("1条"));
}

TEST_F(DownloadWindow, StoredChoicesSelectTheControls) {
    store->write(kPatentDownload, kDuplicatePolicy, QStringLiteral("跳过"));
    store->write(kDownload, kThreads, QStringLiteral("4"));
    {
        auto w = open();
        EXPECT_EQ(w->duplicatePolicy(), DuplicateNamePolicy::Skip);
        EXPECT_EQ(child<QComboBox>(w.get(), "Combo1")->currentText(), QStringLiteral("5"));
    }
    store->write(kPatentDownload, kDuplicatePolicy, QStringLiteral("anything"));
    store->write(kSettings, kDownloadMethod, QStringLiteral("1"));
    {
        auto w = open();
        EXPECT_EQ(w->duplicatePolicy(), DuplicateNamePolicy::Rename);
        auto* combo = child<QComboBox>(w.get(), "Combo1");
        EXPECT_EQ(combo->currentText(), QStringLiteral("1"));
        EXPECT_FALSE(combo->isEnabled());
        EXPECT_EQ(child<QLabel>(w.get(), "Label7")->text(), QStringLiteral("下载方式：1"));
        // Switching back enables the thread box.
        child<QPushButton>(w.get(), "Command26")->click();
        EXPECT_TRUE(combo->isEnabled());
        EXPECT_EQ(values.DownloadMethod, 2);
    }
}

TEST_F(DownloadWindow, CloseAsksWhileTheListIsUnfinishedButStoresChoicesFirst) {
    auto w = open();
    w->show();
    w->setDuplicatePolicy(DuplicateNamePolicy::Overwrite);
    w->list().addItem(QStringLiteral("https://a.test/1.pdf"), QStringLiteral("T"),
                      QStringLiteral("pdf"), tmp.path(), QString());
    boxes.answer = MsgResult::No;
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"));
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(store->read(kPatentDownload, kDuplicatePolicy, QString()), QStringLiteral("覆盖"));
    EXPECT_EQ(store->read(kSettings, kDownloadMethod, QString()), QStringLiteral("2"));

    w->list().setStatus(0, ItemStatus::Failed); // a finished list closes without asking
    EXPECT_TRUE(w->close());
    EXPECT_EQ(boxes.shown.size(), 1);
}

TEST_F(DownloadWindow, PlacementComesBackOnTheSameScreenAndMaximisedOtherwise) {
    {
        auto w = open();
        w->showNormal();
        w->setWindowState(Qt::WindowNoState);
        w->move(40, 30);
        w->resize(700, 500);
        QTest::qWait(20);
        ASSERT_TRUE(w->close());
    }
    EXPECT_EQ(store->read(kFileDownload, kWidth, QString()), QStringLiteral("10500"));
    {
        auto w = open();
        EXPECT_FALSE(w->windowState().testFlag(Qt::WindowMaximized));
        EXPECT_EQ(w->size(), QSize(700, 500));
        w->showMaximized();
        QTest::qWait(20);
        ASSERT_TRUE(w->close());
    }
    EXPECT_EQ(store->read(kFileDownload, kResolution, QString()), QStringLiteral("0*0"));
    auto w = open();
    EXPECT_TRUE(w->windowState().testFlag(Qt::WindowMaximized));
}

TEST_F(DownloadWindow, StartDownloadsTheListAndTheStatusBarFollows) {
    test::TestHttpServer server;
    const QByteArray pdf = "%PDF-1.5\n" + QByteArray(4000, 'z');
    DownloadTimeouts fast;
    fast.tickMs = 20;
    fFileDownload w(*store, values, nullptr, fast);
    w.scheduler().pdfChecks().setAutomatic(false); // the bodies are a signature over filler
    const QString folder = tmp.path() + QStringLiteral("/out/");
    for (int i = 0; i < 4; ++i) {
        const QByteArray path = "/p" + QByteArray::number(i);
        server.route(path, test::Serve(pdf, "application/pdf"));
        w.list().addItem(server.url(QString::fromLatin1(path)), QStringLiteral("论文%1").arg(i),
                         QStringLiteral("pdf"), folder, QString());
    }
    w.state().LastFinishMonotonicMs = MonotonicMs() - 1;
    child<QPushButton>(&w, "Command4")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.scheduler().isRunning(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return w.statusPanelText(4) ==
                   QStringLiteral("总数:4 正在下载:0 等待:0 已完成:4 失败:0");
        },
        2000));
    EXPECT_TRUE(w.statusPanelText(2).startsWith(QStringLiteral("完成下载:论文")));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 4);
    EXPECT_TRUE(w.close()); // a finished list closes without asking
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(DownloadWindow, StopButtonClearsTheAutomaticOptions) {
    auto w = open();
    auto* autoStart = child<QCheckBox>(w.get(), "Check4");
    autoStart->setChecked(true);
    EXPECT_TRUE(w->options().autoStart);
    child<QPushButton>(w.get(), "Command31")->click();
    EXPECT_FALSE(autoStart->isChecked());
    EXPECT_FALSE(w->options().autoStart);
}

// Long status texts never widen the window past its screen: the panels elide, and the whole
// text is the panel's tool tip.
TEST_F(DownloadWindow, LongStatusTextsNeverWidenTheWindowPastTheScreen) {
    auto w = open();
    w->showNormal();
    const int available = w->screen()->availableGeometry().width();
    const int start = available * 3 / 4;
    w->resize(start, 500);
    QTest::qWait(20);
    const QString longText =
        QStringLiteral("正在下载:") + QString(400, QChar(u'长')) + QStringLiteral("的标题");
    for (int panel = 1; panel <= 4; ++panel) {
        w->setStatusPanelText(panel, longText);
    }
    QTest::qWait(50);
    EXPECT_LE(w->frameGeometry().width(), available);
    EXPECT_LE(w->width(), start);
    EXPECT_LE(w->minimumSizeHint().width(), available);
    EXPECT_EQ(w->statusPanelText(2), longText); // the text itself is kept whole
    auto* panel2 = child<QLabel>(w.get(), "panel2");
    ASSERT_NE(panel2, nullptr);
    EXPECT_EQ(panel2->toolTip(), longText);
    EXPECT_LT(panel2->fontMetrics().horizontalAdvance(panel2->text()), w->width());
}

// Everything re-queued, then the window closed while the retries run: every file the rows had
// is still there with its bytes, under both methods.
TEST_F(DownloadWindow, ClosingDuringReDownloadsKeepsEveryOldFile) {
    for (const int method : {1, 2}) {
        SCOPED_TRACE(method);
        test::TestHttpServer server;
        DownloadTimeouts fast;
        fast.tickMs = 20;
        values.DownloadMethod = method;
        store->write(kSettings, kDownloadMethod, QString::number(method));
        // The window deletes itself once its loops have returned.
        QPointer<fFileDownload> w = new fFileDownload(*store, values, nullptr, fast);
        w->show();
        const QString folder = tmp.path() + QStringLiteral("/m%1/").arg(method);
        QDir().mkpath(folder);
        QList<QByteArray> old;
        for (int i = 0; i < 3; ++i) {
            const QByteArray path = "/slow" + QByteArray::number(method) + QByteArray::number(i);
            test::Route slow =
                test::Serve("%PDF-1.5\n" + QByteArray(600 * 1024, 'n'), "application/pdf");
            slow.dripBytes = 16 * 1024;
            slow.dripIntervalMs = 50; // about two seconds: still running when the window closes
            server.route(path, slow);
            w->list().addItem(server.url(QString::fromLatin1(path)), QStringLiteral("P%1").arg(i),
                              QStringLiteral("pdf"), folder, QString());
            old << "%PDF-1.5 the paper the user already has " + QByteArray::number(i);
            ASSERT_TRUE(test::WriteFile(folder + QStringLiteral("P%1.pdf").arg(i), old.last()));
            w->list().setStatus(i, ItemStatus::Finished);
            w->list().setCreatedFile(i, true);
            w->list().setSelected(i, true);
        }
        EXPECT_EQ(menu重新下载选中项(w->list()), 3);
        w->state().LastFinishMonotonicMs = MonotonicMs() - 1;
        bool sawDownloading = false;
        QTimer::singleShot(400, [&] {
            sawDownloading = w->list().statusCounts().downloading > 0;
            boxes.answer = MsgResult::Yes;
            w->close(); // under method 1 from inside the transfer loop, as a click would
        });
        child<QPushButton>(w.data(), "Command4")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.isNull(); }, 15000));
        EXPECT_TRUE(sawDownloading);
        QTest::qWait(100);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(test::ReadFile(folder + QStringLiteral("P%1.pdf").arg(i)), old.at(i)) << i;
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }
}

// With the program's keeper set, the window's list is kept on disk as it changes, and what is
// pending is written when the window closes.
TEST_F(DownloadWindow, ItsListIsKeptAndWrittenWhenItCloses) {
    ListStore kept;
    ASSERT_NE(kept.open(tmp.path() + QStringLiteral("/queue.sqlite")).status, StoreOpen::Failed);
    QueueKeeper keeper(kept, 60'000); // nothing written by the timer during the test
    SetActiveQueueKeeper(&keeper);
    auto w = open();
    w->list().addItem(QStringLiteral("http://a/1.pdf"), QStringLiteral("One"),
                      QStringLiteral("pdf"), tmp.path() + QLatin1Char('/'), QString());
    w->list().addItem(QStringLiteral("http://a/2.pdf"), QStringLiteral("Two"),
                      QStringLiteral("pdf"), tmp.path() + QLatin1Char('/'), QString());
    EXPECT_TRUE(kept.load().downloads.isEmpty());
    boxes.answer = MsgResult::Yes; // waiting rows: the close question
    EXPECT_TRUE(w->close());
    keeper.flushAndWait(); // the close handed the rows over; the writer thread stores them
    const KeptQueue stored = kept.load();
    SetActiveQueueKeeper(nullptr);
    ASSERT_EQ(stored.downloads.size(), 2);
    EXPECT_EQ(stored.downloads[1].name, QStringLiteral("Two"));
    EXPECT_EQ(stored.unfinished(), 2);
}

// The login panel's browser view is made when the panel is first shown: until then the window
// holds no browser view, whose composing costs every repaint on machines without a graphics card.
TEST_F(DownloadWindow, TheLoginPanelsBrowserComesWhenThePanelIsShown) {
    auto w = open();
    w->show();
    EXPECT_EQ(w->findChild<WebBrowser*>(), nullptr);
    EXPECT_FALSE(w->loginPanel()->hasBrowser());
    QTest::mouseClick(child<QPushButton>(w.get(), "Command1"), Qt::LeftButton); // 网页登录
    ASSERT_TRUE(w->loginPanel()->isVisible());
    EXPECT_TRUE(w->loginPanel()->hasBrowser());
    EXPECT_NE(w->findChild<WebBrowser*>(), nullptr);
}

// The checked PDFs in the window: the doubtful row is marked, counted in the status bar and
// selected by its menu entry; the space key opens a preview that draws the first page of the
// current PDF with its facts, and closes it again.
TEST_F(DownloadWindow, DoubtfulPdfsAreMarkedSelectedAndPreviewed) {
    test::TestHttpServer server;
    DownloadTimeouts fast;
    fast.tickMs = 20;
    fFileDownload w(*store, values, nullptr, fast);
    w.resize(1100, 700);
    w.show();
    const QString folder = tmp.path() + QStringLiteral("/out/");
    server.route("/own", test::Serve(demo::PdfBytes(1), "application/pdf"));
    server.route("/other", test::Serve(demo::PdfBytes(1), "application/pdf"));
    w.list().addItem(server.url(QStringLiteral("/own")), CleanFileName(demo::RecordAt(1).title),
                     QStringLiteral("pdf"), folder, QString());
    w.list().addItem(server.url(QStringLiteral("/other")), CleanFileName(demo::RecordAt(17).title),
                     QStringLiteral("pdf"), folder, QString());
    w.state().LastFinishMonotonicMs = MonotonicMs() - 1;
    child<QPushButton>(&w, "Command4")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !w.scheduler().isRunning() && w.scheduler().pdfChecks().running() == 0 &&
                   w.list().item(1).contentCheck == ContentCheck::Mismatch;
        },
        10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.statusPanelText(4).endsWith(QStringLiteral(" 内容可疑:1")); }, 3000))
        << w.statusPanelText(4).toStdString();
    EXPECT_EQ(w.list().item(0).contentCheck, ContentCheck::Matches);
    EXPECT_EQ(w.list().item(1).status, ItemStatus::Finished);

    w.选择内容可疑项();
    EXPECT_FALSE(w.list().isSelected(0));
    EXPECT_TRUE(w.list().isSelected(1));
    w.检查PDF内容();
    EXPECT_EQ(w.statusPanelText(2), QStringLiteral("正在检查1个PDF文件"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.scheduler().pdfChecks().running() == 0; }, 5000));

    // Closed, the pane draws nothing; the space key on the list opens it.
    EXPECT_FALSE(w.preview()->isVisible());
    w.listView()->setFocus();
    w.listView()->setCurrentIndex(w.list().index(0, 0));
    EXPECT_FALSE(w.preview()->hasPage());
    QTest::keyClick(w.listView(), Qt::Key_Space);
    ASSERT_TRUE(w.preview()->isVisible());
    ASSERT_TRUE(w.preview()->hasPage());
    EXPECT_TRUE(w.preview()->infoText().contains(QStringLiteral("页数：1")));
    EXPECT_TRUE(w.preview()->infoText().contains(QStringLiteral("内容与标题相符")));
    const QImage shot = w.preview()->grab().toImage();
    int dark = 0;
    for (int y = 0; y < shot.height(); y += 2) {
        for (int x = 0; x < shot.width(); x += 2) {
            dark += qGray(shot.pixel(x, y)) < 128 ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 20) << "the first page is drawn, with its text";
    if (qEnvironmentVariableIsSet("QUILLAX_SHOT_DIR")) { // the guide's picture
        QTest::qWait(50);
        w.grab().save(qEnvironmentVariable("QUILLAX_SHOT_DIR") + QStringLiteral("/preview.png"));
    }
    w.listView()->setCurrentIndex(w.list().index(1, 0));
    EXPECT_TRUE(w.preview()->infoText().contains(QStringLiteral("内容可能与标题不符")));
    QTest::keyClick(w.listView(), Qt::Key_Space);
    EXPECT_FALSE(w.preview()->isVisible());
}
