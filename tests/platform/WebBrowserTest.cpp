#include "platform/WebBrowser.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineProfile>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

class BrowserTest : public ::testing::Test {
protected:
    bool load(const QByteArray& path) {
        QSignalSpy done(&browser, &WebBrowser::DocumentComplete);
        browser.Navigate(server.url(QString::fromLatin1(path)));
        return done.wait(20000);
    }
    TestHttpServer server;
    WebBrowser browser;
};

TEST_F(BrowserTest, DocumentOperationsWorkOnTheLivePage) {
    server.route("/form", Serve(R"(<!DOCTYPE html><html><head><title>登录</title>
<script>document.getElementById = function () { return null; };</script></head>
<body><div id="box" class=" panel main "> 欢迎 <b>用户</b> </div>
<a id="next" class="nav" href="/next?a=1&amp;b=2">下一个</a>
<form><input name="user" type="text" value="old"><input id="submitip" type="submit" value="登录"></form>
</body></html>)",
                                "text/html; charset=utf-8"));
    server.route("/next?a=1&b=2", Serve("<html><body>second</body></html>", "text/html"));
    ASSERT_TRUE(load("/form"));
    const DomDocument doc = browser.Document();

    // The page's own redefinition of getElementById does not reach the program's calls.
    const DomHandle box = doc.getElementById(QStringLiteral("box"));
    ASSERT_NE(box, kNoElement);
    EXPECT_EQ(doc.className(box), QStringLiteral(" panel main "));
    EXPECT_EQ(doc.innerText(box).trimmed(), QStringLiteral("欢迎 用户"));
    EXPECT_EQ(doc.getElementById(QStringLiteral("nothing")), kNoElement);
    EXPECT_EQ(doc.className(kNoElement), QString());

    const QList<DomHandle> inputs =
        doc.getElementsByTagName(kDocumentScope, QStringLiteral("INPUT"));
    ASSERT_EQ(inputs.size(), 2);
    EXPECT_EQ(doc.inputName(inputs[0]), QStringLiteral("user"));
    EXPECT_EQ(doc.inputType(inputs[1]), QStringLiteral("submit"));
    EXPECT_TRUE(doc.setInputValue(inputs[0], QStringLiteral("reader")));
    EXPECT_EQ(doc.inputValue(inputs[0]), QStringLiteral("reader"));
    EXPECT_EQ(doc.getElementsByClassName(kDocumentScope, QStringLiteral("nav")).size(), 1);
    EXPECT_EQ(doc.URL(), server.url(QStringLiteral("/form")));
    EXPECT_TRUE(doc.outerHTML().startsWith(QStringLiteral("<html>")));

    const DomHandle next = doc.getElementById(QStringLiteral("next"));
    EXPECT_EQ(doc.href(next), server.url(QStringLiteral("/next?a=1&b=2")));
    QSignalSpy done(&browser, &WebBrowser::DocumentComplete);
    EXPECT_TRUE(doc.click(next));
    ASSERT_TRUE(done.wait(20000));
    EXPECT_EQ(browser.Document().URL(), server.url(QStringLiteral("/next?a=1&b=2")));
    // Handles of the page that was replaced find nothing, also once the new page has handed
    // out handles of its own at the same positions.
    EXPECT_EQ(browser.Document().innerText(box), QString());
}

TEST_F(BrowserTest, AHandleKeptAcrossANavigationNamesNothingOnTheNextPage) {
    const auto page = [](const char* title, const char* next) {
        return Serve(QByteArray("<html><body><h1 id=\"title\">") + title +
                         "</h1><div class=\"content-footer\"><a href=\"" + next +
                         "\">上一个</a><a href=\"" + next + "\">下一个</a></div></body></html>",
                     "text/html; charset=utf-8");
    };
    server.route("/one", page("第一页", "/two"));
    server.route("/two", page("第二页", "/one"));
    ASSERT_TRUE(load("/one"));
    const DomHandle title = browser.Document().getElementById(QStringLiteral("title"));
    const QList<DomHandle> links =
        browser.Document().getElementsByTagName(kDocumentScope, QStringLiteral("A"));
    ASSERT_EQ(links.size(), 2);
    ASSERT_TRUE(load("/two"));
    // The new page registers elements at the same positions as the old one did.
    const DomHandle newTitle = browser.Document().getElementById(QStringLiteral("title"));
    EXPECT_EQ(browser.Document().getElementsByTagName(kDocumentScope, QStringLiteral("A")).size(),
              2);
    EXPECT_EQ(browser.Document().innerText(newTitle), QStringLiteral("第二页"));
    EXPECT_EQ(browser.Document().innerText(title), QString());
    EXPECT_EQ(browser.Document().innerText(links[0]), QString());
    EXPECT_FALSE(browser.Document().click(links[1]));
}

TEST_F(BrowserTest, PopupsLoadHereAndScriptsCannotCloseOrNag) {
    server.route("/start", Serve(R"(<html><body>start
<script>
  alert('a dialog nobody sees');
  setTimeout(function () { window.open('/popup', '_blank'); }, 50);
</script></body></html>)",
                                 "text/html"));
    server.route("/popup", Serve("<html><head><title>弹出</title></head><body>popup"
                                 "<script>window.close();</script></body></html>",
                                 "text/html"));
    browser.setSilent(true);
    QSignalSpy newWindow(&browser, &WebBrowser::NewWindow2);
    QSignalSpy navigations(&browser, &WebBrowser::BeforeNavigate2);
    ASSERT_TRUE(load("/start"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return browser.Document().URL() == server.url(QStringLiteral("/popup")); }, 20000));
    EXPECT_EQ(newWindow.size(), 1);
    EXPECT_FALSE(navigations.isEmpty());
    QTest::qWait(200);
    // No second window: the only top-level widget is the browser itself.
    EXPECT_EQ(QApplication::topLevelWidgets(), QWidgetList{&browser});
    EXPECT_EQ(browser.Document().URL(), server.url(QStringLiteral("/popup")));
    EXPECT_FALSE(browser.Busy());
}

// The profile ends while the application lives, after every view and page that uses it: its
// teardown must not run in the application's exit routines. A browser needed afterwards gets a
// profile again.
TEST(BrowserProfileEnd, PagesAndViewsGoFirstThenTheProfile) {
    auto* window = new QWidget;
    auto* inWindow = new WebBrowser(window);
    auto* topLevel = new WebBrowser;
    auto* loosePage = new BrowserPage;
    QPointer<QWidget> windowAlive(window);
    QPointer<WebBrowser> inWindowAlive(inWindow);
    QPointer<WebBrowser> topLevelAlive(topLevel);
    QPointer<BrowserPage> pageAlive(loosePage);
    QPointer<QWebEngineProfile> profile(BrowserProfile());
    ASSERT_FALSE(profile.isNull());

    // The profile's destruction is watched: every page must be gone by then.
    bool pagesGoneFirst = false;
    QObject::connect(profile.data(), &QObject::destroyed, [&] {
        pagesGoneFirst = inWindowAlive.isNull() && topLevelAlive.isNull() && pageAlive.isNull();
    });
    EndBrowserProfile();
    EXPECT_TRUE(profile.isNull());
    EXPECT_TRUE(pagesGoneFirst);
    EXPECT_FALSE(windowAlive.isNull()); // the window that held a browser stays
    delete window;

    WebBrowser again;
    EXPECT_NE(again.page()->profile(), nullptr);
    EXPECT_EQ(again.page()->profile(), BrowserProfile());
}
