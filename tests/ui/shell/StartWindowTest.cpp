#include "ui/shell/fCover.h"

#include "core/settings/AppValues.h"
#include "core/settings/BrowserEmulation.h"
#include "core/settings/SettingsStore.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "ui/download/fFileDownload.h"
#include "ui/shell/UpdateNotice.h"

#include "ShellTestSupport.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using namespace quillax;
using namespace quillax::settings_keys;
using quillax::test::Route;
using quillax::test::TestHttpServer;

TEST(UpdateNoticeRules, AcceptedTextsAndTheVersionComparison) {
    struct Accepted {
        QString response;
        QString notice;
    };
    const Accepted accepted[] = {
        {QStringLiteral("1.1.120"), QStringLiteral("1.1.120")},
        {QStringLiteral("   1.1.120  "), QStringLiteral("1.1.120")},
        {QStringLiteral("1.1.120\r\n"), QStringLiteral("1.1.120")},
        {QStringLiteral("12345678901234567890"), QStringLiteral("12345678901234567890")},
        {QStringLiteral("123456789012345678901"), QString()}, // 21 characters
        {QStringLiteral("   "), QString()},
    };
    for (const Accepted& a : accepted) {
        EXPECT_EQ(AcceptedNoticeText(a.response), a.notice) << a.response.toStdString();
    }

    struct Newer {
        const char* notice;
        int major, minor, revision;
        bool newer;
    };
    const Newer cases[] = {
        {"1.1.120", 1, 1, 118, true},
        {"1.1.118", 1, 1, 118, false},
        {"1.1.117", 1, 1, 118, false},
        {"2.0.0", 1, 999, 999, true},
        {"1.2", 1, 0, 0, false},
        {"1.2.x", 1, 0, 0, false},
        {"1..2", 0, 0, 0, false},
        {"1.2.3.4", 0, 0, 0, false},
        {"1. 2.3", 1, 0, 0, true}, // a part with spaces around is still a number
        // Compared in single precision: above 2^24 neighbouring versions can compare equal.
        {"2.0.1", 2, 0, 0, false},
        {"2.0.2", 2, 0, 0, true},
    };
    for (const Newer& c : cases) {
        EXPECT_EQ(IsNewerVersion(QString::fromLatin1(c.notice), c.major, c.minor, c.revision),
                  c.newer)
            << c.notice;
    }
    EXPECT_EQ(UpdateNoticeCaption(QStringLiteral("1.1.120")),
              QStringLiteral("有最新版本：V1.1.120可以下载升级。"));
}

class StartWindow : public ::testing::Test {
protected:
    std::unique_ptr<fCover> open(int updateTimeoutMs = 30'000) {
        StartWindowTiming timing;
        timing.updateDelayMs = 1;
        timing.updateTimeoutMs = updateTimeoutMs;
        return std::make_unique<fCover>(*store, values, nullptr, timing);
    }
    static void load(fCover& cover) {
        cover.Form_Load();
        ASSERT_TRUE(QTest::qWaitFor([&] { return cover.isLoadFinished(); }, 20'000));
    }
    /// Loads and waits until the update check has ended.
    static void loadAndCheck(fCover& cover) {
        QSignalSpy done(&cover, &fCover::updateCheckDone);
        cover.Form_Load();
        ASSERT_TRUE(QTest::qWaitFor([&] { return done.count() > 0; }, 20'000));
        EXPECT_EQ(done.count(), 1);
    }
    template <typename T> static T* child(QWidget* w, const char* name) {
        return w->findChild<T*>(QString::fromLatin1(name));
    }
    static QLabel* label(fCover& cover, const char* name) { return child<QLabel>(&cover, name); }

    QTemporaryDir tmp;
    std::unique_ptr<SettingsStore> store =
        std::make_unique<SettingsStore>(tmp.path() + QStringLiteral("/Quillax.ini"));
    AppValues values;
    test::MakerEnvironment env;
    test::ScratchRegistry registry{SystemRegistryKeys(ReadOsRelease(), ReadKernelFacts())};
    test::RecordingMessageBoxes boxes;
    test::RecordingShell shell;
    test::RecordingSounds sounds;
};

TEST_F(StartWindow, ShowsItselfFirstThenDescribesTheSystemAndBecomesReady) {
    store->write(kSettings, kMaxFileSize, QStringLiteral("25"));
    TestHttpServer server; // would be asked if anything were configured
    auto cover = open();
    QSignalSpy done(cover.get(), &fCover::updateCheckDone);
    cover->Form_Load();

    // Painted while still loading.
    EXPECT_TRUE(cover->isVisible());
    EXPECT_EQ(cover->windowTitle(), QStringLiteral("Quillax"));
    EXPECT_EQ(label(*cover, "Label2")->text(), QStringLiteral("版本:1.0.0"));
    EXPECT_EQ(label(*cover, "Label4")->text(),
              QStringLiteral("(该软件仅用于科研人员辅助少量下载；请不要恶意下载和大量下载！)"));
    EXPECT_EQ(label(*cover, "Label5")->text(), QStringLiteral("正在加载组件，请稍候..."));
    EXPECT_FALSE(label(*cover, "Label5")->isHidden());
    EXPECT_TRUE(label(*cover, "Label3")->isHidden());
    auto* command1 = child<QPushButton>(cover.get(), "Command1");
    EXPECT_EQ(command1->text(), QStringLiteral("资料检索下载"));
    EXPECT_FALSE(command1->isEnabled());
    EXPECT_EQ(child<QPushButton>(cover.get(), "Command3")->text(), QStringLiteral("退出软件"));
    EXPECT_FALSE(cover->windowIcon().isNull());

    ASSERT_TRUE(QTest::qWaitFor([&] { return cover->isLoadFinished(); }, 20'000));
    EXPECT_TRUE(label(*cover, "Label5")->isHidden());
    EXPECT_TRUE(command1->isEnabled());
    EXPECT_EQ(SystemValues().OsBitness, QStringLiteral("64"));
    const QString product = ProductNameOf(ReadOsRelease());
    const QString description = SystemValues().SystemVersionText;
    EXPECT_TRUE(description.startsWith(product.isEmpty() ? QStringLiteral("Unknown System Version!")
                                                         : product + QStringLiteral(" 版本:")))
        << description.toStdString();
    EXPECT_TRUE(description.endsWith(QStringLiteral("[64位]"))) << description.toStdString();
    EXPECT_EQ(reg::RegReadDword(kBrowserEmulationKey, BrowserEmulationValueName()),
              QStringLiteral("10001"));
    EXPECT_EQ(values.MaxFileSizeMB, 25.0);
    cover->grab().save(QStringLiteral("/tmp/quillax-start-window.png"));

    // Without a configured maker's site nothing is asked and nothing is said.
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.count() > 0; }, 20'000));
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(shell.started.isEmpty());
}

TEST_F(StartWindow, UpdateNoticeFromTheMakersSite) {
    TestHttpServer server;
    env.set(config::kEnvMakerSite, server.url(QStringLiteral("/")));
    const QString productPage = server.url(QStringLiteral("/quillax/"));
    struct Case {
        QByteArray body;
        QString label; ///< empty: nothing shown, nothing opened
    };
    const Case cases[] = {
        {"1.1.120", QStringLiteral("有最新版本：V1.1.120可以下载升级。")},
        {"1.0.0", QString()},                          // the program's own version
        {"0.9.9", QString()},                          // older
        {"1.2", QString()},                            // two parts
        {"1.2.x", QString()},                          // a part that is no number
        {"1.1.120.1.1.120.1.1.120.1.1.12", QString()}, // 30 characters
        {"   2.0.0   ", QStringLiteral("有最新版本：V2.0.0可以下载升级。")}, // spaces around
        {"3.0.0\n", QStringLiteral("有最新版本：V3.0.0可以下载升级。")},     // a line end
        {QByteArray("\x00\xff\xfe\x01\x89PNG", 8), QString()},               // binary
    };
    int asked = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        server.route("/Quillax/newver.txt", test::Serve(c.body, "text/plain"));
        shell.started.clear();
        auto cover = open();
        loadAndCheck(*cover);
        EXPECT_EQ(server.requestCount("/Quillax/newver.txt"), ++asked);
        QLabel* notice = label(*cover, "Label3");
        EXPECT_EQ(notice->isHidden(), c.label.isEmpty());
        if (c.label.isEmpty()) {
            EXPECT_TRUE(shell.started.isEmpty());
        } else {
            EXPECT_EQ(notice->text(), c.label);
            EXPECT_EQ(shell.started, QStringList{QStringLiteral("xdg-open ") + productPage});
            // Clicking the notice opens the product page again.
            QTest::mouseClick(notice, Qt::LeftButton);
            EXPECT_EQ(shell.started.size(), 2);
        }
        EXPECT_TRUE(boxes.shown.isEmpty());
    }
}

TEST_F(StartWindow, AFailedCheckSaysSoOnceAndTheWindowStaysUsable) {
    TestHttpServer server;
    Route silent;
    silent.delayHeadersMs = -1; // never answers
    Route huge;
    huge.generatedBytes = 20 * 1024 * 1024;
    server.route("/missing/newver.txt", test::Serve("gone", "text/plain"));
    Route notFound = test::Serve("gone", "text/plain");
    notFound.status = 404;
    notFound.reason = "Not Found";
    server.route("/missing/Quillax/newver.txt", notFound);
    server.route("/silent/Quillax/newver.txt", silent);
    server.route("/huge/Quillax/newver.txt", huge);
    QString refused;
    {
        TestHttpServer gone;
        refused = gone.url(QStringLiteral("/"));
    }
    struct Case {
        QString site;
        int timeoutMs;
        bool reported;
    };
    const Case cases[] = {
        {server.url(QStringLiteral("/missing/")), 20'000, true},
        {refused, 20'000, true},
        {server.url(QStringLiteral("/silent/")), 300, true},
        // Cut off at the request's limit: no notice, and no network failure either.
        {server.url(QStringLiteral("/huge/")), 20'000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.site.toStdString());
        env.set(config::kEnvMakerSite, c.site);
        boxes.shown.clear();
        auto cover = open(c.timeoutMs);
        load(*cover);
        EXPECT_TRUE(child<QPushButton>(cover.get(), "Command1")->isEnabled());
        QSignalSpy done(cover.get(), &fCover::updateCheckDone);
        ASSERT_TRUE(QTest::qWaitFor([&] { return done.count() > 0; }, 20'000));
        QTest::qWait(50); // a second report would come from the same event queue
        if (c.reported) {
            ASSERT_EQ(boxes.shown.size(), 1);
            EXPECT_EQ(boxes.shown[0].text, QStringLiteral("请保持网络畅通！"));
            EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Error);
        } else {
            EXPECT_TRUE(boxes.shown.isEmpty());
        }
        EXPECT_TRUE(label(*cover, "Label3")->isHidden());
        EXPECT_TRUE(shell.started.isEmpty());
    }
}

TEST_F(StartWindow, HiddenWhileAWorkWindowIsOpenShownWhenAllHaveClosed) {
    auto cover = open();
    load(*cover);
    QPointer<fFileDownload> downloads;
    cover->setSearchWindowOpener([&]() -> QWidget* {
        if (downloads.isNull()) {
            downloads = new fFileDownload(*store, values);
        }
        downloads->show();
        return downloads;
    });
    child<QPushButton>(cover.get(), "Command1")->click();
    ASSERT_FALSE(downloads.isNull());
    EXPECT_TRUE(downloads->isVisible());
    EXPECT_FALSE(cover->isVisible());

    // The search window registers itself the same way.
    auto* search = new QMainWindow;
    search->setObjectName(QStringLiteral("fWebSearch"));
    RegisterWorkWindow(search);
    search->show();

    // The search window closes while the download window is open: still hidden.
    EXPECT_TRUE(search->close());
    QTest::qWait(20);
    EXPECT_FALSE(cover->isVisible());

    // A close the download window refuses changes nothing.
    downloads->list().addItem(QStringLiteral("https://a.test/1.pdf"), QStringLiteral("T"),
                              QStringLiteral("pdf"), tmp.path(), QString());
    boxes.answer = MsgResult::No;
    EXPECT_FALSE(downloads->close());
    QTest::qWait(20);
    EXPECT_TRUE(downloads->isVisible());
    EXPECT_FALSE(cover->isVisible());

    // Once it really closes, the start window is back as it was left.
    boxes.answer = MsgResult::Yes;
    EXPECT_TRUE(downloads->close());
    ASSERT_TRUE(QTest::qWaitFor([&] { return cover->isVisible(); }, 5'000));
    EXPECT_FALSE(cover->hasOpenWorkWindow());
    EXPECT_TRUE(label(*cover, "Label5")->isHidden());
    EXPECT_TRUE(child<QPushButton>(cover.get(), "Command1")->isEnabled());

    // Again, with a download window that is destroyed when it closes.
    child<QPushButton>(cover.get(), "Command1")->click();
    EXPECT_FALSE(cover->isVisible());
    downloads->setAttribute(Qt::WA_DeleteOnClose);
    EXPECT_TRUE(downloads->close());
    ASSERT_TRUE(QTest::qWaitFor([&] { return downloads.isNull() && cover->isVisible(); }, 5'000));

    // Closing the start window ends the program; the windows still alive go with it.
    QPointer<QMainWindow> leftover = search;
    QSignalSpy closed(cover.get(), &fCover::closed);
    EXPECT_TRUE(cover->close());
    EXPECT_EQ(closed.count(), 1);
    cover.reset();
    EXPECT_TRUE(leftover.isNull());
}
