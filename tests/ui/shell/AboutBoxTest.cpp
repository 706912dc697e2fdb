#include "ui/shell/frmAbout.h"

#include "core/settings/AppConfig.h"
#include "platform/SystemInfo.h"
#include "ui/shell/AboutBoxActions.h"

#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace quillax;

namespace {

void moveOver(QWidget* widget) {
    const QPointF at(2, 2);
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

} // namespace

TEST(SuggestionMail, SubjectBodyAndAddressForAGivenTitleAndDate) {
    const QLocale china(QLocale::Chinese, QLocale::China);
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    EXPECT_EQ(SuggestionMailSubject(QStringLiteral("Quillax")),
              QStringLiteral("我要对[Quillax]提建议"));
    const QString date = china.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                         china.toString(when.time(), QLocale::LongFormat);
    const QString body = QStringLiteral("软件名称：Quillax 姓名：") + QString(10, ' ') +
                         QStringLiteral(" Email：") + QString(11, ' ') +
                         QStringLiteral(" 联系地址：") + QString(11, ' ') +
                         QStringLiteral(" 邮编：") + QString(14, ' ') + QStringLiteral(" 电话：") +
                         QString(20, ' ') + QStringLiteral(" 日期：") + date;
    EXPECT_EQ(SuggestionMailBody(QStringLiteral("Quillax"), when, china), body);
    EXPECT_TRUE(date.contains(QStringLiteral("14:07:09"))) << date.toStdString();

    // A title with the characters that would break the address travels encoded.
    const QUrl url = SuggestionMailUrl(QStringLiteral("help@maker.test"),
                                       QStringLiteral("Q&A = 100%"), when, china);
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(url.path(), QStringLiteral("help@maker.test"));
    const QByteArray encoded = url.toEncoded();
    EXPECT_TRUE(encoded.startsWith(
        "mailto:help@maker.test?subject=%E6%88%91%E8%A6%81%E5%AF%B9%5BQ%26A%20%3D%20100%25%5D"))
        << encoded.toStdString();
    EXPECT_FALSE(encoded.contains(' '));
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("我要对[Q&A = 100%]提建议"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              SuggestionMailBody(QStringLiteral("Q&A = 100%"), when, china));
}

TEST(SuggestionMail, OpensThroughTheDesktopOnlyWhenConfigured) {
    test::MakerEnvironment env;
    test::RecordingShell shell;
    EXPECT_FALSE(IsSuggestionMailConfigured());
    ComposeSuggestionMail(nullptr);
    EXPECT_TRUE(shell.opened.isEmpty());

    env.set(config::kEnvMailAddress, QStringLiteral("help@maker.test"));
    ComposeSuggestionMail(nullptr);
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_TRUE(shell.opened[0].toEncoded().startsWith("mailto:help@maker.test?subject="));
}

TEST(MakerPages, NotConfiguredMeansNothingToOpen) {
    test::MakerEnvironment env;
    test::RecordingShell shell;
    for (MakerPage page : {MakerPage::Site, MakerPage::SecondSite, MakerPage::Product,
                           MakerPage::Help, MakerPage::Customise, MakerPage::Shop}) {
        EXPECT_FALSE(IsMakerPageConfigured(page));
        OpenMakerPage(page);
    }
    EXPECT_TRUE(config::updateNoticeAddress().isEmpty());
    QTest::qWait(20);
    EXPECT_TRUE(shell.started.isEmpty());

    env.set(config::kEnvMakerSite, QStringLiteral("https://maker.test"));
    env.set(config::kEnvMakerSecondSite, QStringLiteral("https://second.test/"));
    EXPECT_EQ(config::updateNoticeAddress(),
              QStringLiteral("https://maker.test/Quillax/newver.txt"));
    struct Case {
        MakerPage page;
        const char* started;
    };
    const Case cases[] = {
        {MakerPage::Product, "xdg-open https://maker.test/quillax/"},
        {MakerPage::Site, "x-www-browser https://maker.test/"},
        {MakerPage::SecondSite, "x-www-browser https://second.test/"},
        {MakerPage::Help, "x-www-browser https://second.test/askanswer.asp"},
        {MakerPage::Customise, "x-www-browser https://second.test/softmake.htm"},
    };
    for (const Case& c : cases) {
        shell.started.clear();
        OpenMakerPage(c.page);
        EXPECT_EQ(shell.started, QStringList{QString::fromLatin1(c.started)});
    }
    EXPECT_FALSE(IsMakerPageConfigured(MakerPage::Shop)); // a variable of its own
}

TEST(StartSysInfo, StartsTheFirstToolThatStartsOrSaysItIsUnavailable) {
    test::RecordingMessageBoxes boxes;
    const QList<QStringList> tools = SystemInformationTools();
    ASSERT_GE(tools.size(), 2);
    {
        test::RecordingShell shell;
        shell.failingPrograms = {tools[0].first()};
        StartSysInfo();
        EXPECT_EQ(shell.started, (QStringList{tools[0].join(' '), tools[1].join(' ')}));
        EXPECT_TRUE(boxes.shown.isEmpty());
    }
    {
        test::RecordingShell shell;
        for (const QStringList& tool : tools) {
            shell.failingPrograms << tool.first();
        }
        StartSysInfo();
        ASSERT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(boxes.shown[0].text, QStringLiteral("此时系统信息不可用"));
        EXPECT_EQ(boxes.shown[0].icon, MsgIcon::None);
        EXPECT_EQ(boxes.shown[0].buttons, MsgButtons::Ok);
    }
}

TEST(AboutBox, CaptionsLinksAndTheUnderlineThatFollowsTheMouse) {
    test::MakerEnvironment env;
    env.set(config::kEnvMakerSite, QStringLiteral("https://maker.test/"));
    env.set(config::kEnvMakerSecondSite, QStringLiteral("https://second.test/"));
    env.set(config::kEnvMailAddress, QStringLiteral("help@maker.test"));
    SystemValues().SystemVersionText =
        QStringLiteral("Debian GNU/Linux 12 (bookworm) 版本:12 (内部版本:6.1.0-18-amd64)[64位]");
    test::RecordingShell shell;

    frmAbout box;
    box.show();
    const auto label = [&box](const char* name) {
        return box.findChild<QLabel*>(QString::fromLatin1(name));
    };
    EXPECT_EQ(box.windowTitle(), QStringLiteral("关于『Quillax』 "));
    EXPECT_EQ(label("lsoftname")->text(), QStringLiteral("Quillax"));
    EXPECT_EQ(label("lblVersion")->text(), QStringLiteral("版本 1.0.0"));
    EXPECT_EQ(label("lblSystem")->text(), SystemValues().SystemVersionText);
    EXPECT_EQ(label("Label1")->text(), QStringLiteral("软件制作：岚舟软件"));
    EXPECT_EQ(label("Label2")->text(), QStringLiteral("岚舟软件：https://maker.test/"));
    EXPECT_EQ(label("Label7")->text(), QStringLiteral("青禾软件：https://second.test/"));
    EXPECT_EQ(label("Label4")->text(), QStringLiteral("Email：help@maker.test"));
    EXPECT_EQ(box.findChild<QPushButton*>(QStringLiteral("cmdOK"))->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.findChild<QPushButton*>(QStringLiteral("cmdSysInfo"))->text(),
              QStringLiteral("系统信息(&S)..."));
    box.grab().save(QStringLiteral("/tmp/quillax-about-box.png"));

    auto* line = box.findChild<QFrame*>(QStringLiteral("Line2"));
    EXPECT_TRUE(line->isHidden());
    moveOver(label("Label4"));
    EXPECT_FALSE(line->isHidden());
    const QRect mail = label("Label4")->geometry();
    EXPECT_EQ(line->geometry().left(), mail.left());
    EXPECT_EQ(line->geometry().right(), mail.right());
    EXPECT_EQ(line->geometry().top(), mail.bottom() + 1);
    moveOver(&box); // the window's background
    EXPECT_TRUE(line->isHidden());
    moveOver(label("Label2"));
    EXPECT_FALSE(line->isHidden());
    EXPECT_EQ(line->geometry().top(), label("Label2")->geometry().bottom() + 1);

    QTest::mouseClick(label("Label2"), Qt::LeftButton);
    QTest::mouseClick(label("Label7"), Qt::LeftButton);
    EXPECT_EQ(shell.started, (QStringList{QStringLiteral("x-www-browser https://maker.test/"),
                                          QStringLiteral("x-www-browser https://second.test/")}));
    QTest::mouseClick(label("Label4"), Qt::LeftButton);
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0].scheme(), QStringLiteral("mailto"));
}

TEST(AboutBox, LinksToPagesThatAreNotConfiguredAreDisabled) {
    test::MakerEnvironment env;
    test::RecordingShell shell;
    frmAbout box;
    box.show();
    for (const char* name : {"Label2", "Label7", "Label4"}) {
        QLabel* link = box.findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_FALSE(link->isEnabled()) << name;
        QTest::mouseClick(link, Qt::LeftButton);
        moveOver(link);
    }
    EXPECT_TRUE(box.findChild<QFrame*>(QStringLiteral("Line2"))->isHidden());
    QTest::qWait(20);
    EXPECT_TRUE(shell.started.isEmpty());
    EXPECT_TRUE(shell.opened.isEmpty());
}

TEST(AboutBox, MenuEntriesForTheMakersPagesFollowTheConfiguration) {
    test::MakerEnvironment env;
    test::RecordingShell shell;
    env.set(config::kEnvMakerSecondSite, QStringLiteral("https://second.test/"));
    QMenu menu;
    QAction* product = AddMakerPageEntry(&menu, QStringLiteral("最新版本"), MakerPage::Product);
    QAction* help = AddMakerPageEntry(&menu, QStringLiteral("软件教程和问答"), MakerPage::Help);
    QAction* mail = AddSuggestionMailEntry(&menu, nullptr);
    EXPECT_FALSE(product->isEnabled());
    EXPECT_TRUE(help->isEnabled());
    EXPECT_FALSE(mail->isEnabled());
    EXPECT_EQ(mail->text(), QStringLiteral("给软件作者建议"));
    help->trigger();
    EXPECT_EQ(shell.started,
              QStringList{QStringLiteral("x-www-browser https://second.test/askanswer.asp")});
}
