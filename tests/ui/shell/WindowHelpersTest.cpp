#include "ui/shell/WindowHelpers.h"

#include "core/files/FileTools.h"
#include "core/settings/ShellHelpers.h"
#include "platform/DesktopShell.h"
#include "platform/SoundPlayer.h"
#include "platform/UserDialogs.h"

#include "TestSupport.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QWidget>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace quillax;
using quillax::test::ReadFile;
using quillax::test::RecordingShell;
using quillax::test::RecordingSounds;

TEST(IsWindowLoaded, FindsHiddenWindowsIgnoringCase) {
    EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fFileDownload")));
    {
        QWidget window;
        window.setObjectName(QStringLiteral("fFileDownload"));
        EXPECT_TRUE(IsWindowLoaded(QStringLiteral("FFILEDOWNLOAD")));
        EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fWebSearch")));
    }
    EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fFileDownload")));
}

TEST(SetListColumnWidth, SetsOnlyExistingColumnsAndFitsToHeaderOrContents) {
    QStandardItemModel model(1, 3);
    model.setHorizontalHeaderLabels({QStringLiteral("a very long header caption here"),
                                     QStringLiteral("b"), QStringLiteral("c")});
    model.setItem(0, 0, new QStandardItem(QStringLiteral("x")));
    model.setItem(0, 1, new QStandardItem(QString(60, QLatin1Char('w'))));
    QTreeView view;
    view.setModel(&model);
    view.header()->setStretchLastSection(false);
    for (int c = 0; c < 3; ++c) {
        view.setColumnWidth(c, 33);
    }

    SetListColumnWidth(&view, 0, 80);
    SetListColumnWidth(&view, 4, 80);
    EXPECT_EQ(view.columnWidth(0), 33);
    EXPECT_EQ(view.columnWidth(2), 33);

    SetListColumnWidth(&view, 3, 90);
    EXPECT_EQ(view.columnWidth(2), 90);

    SetAllListColumnWidths(&view, kFitContentsAndHeader);
    // Column 1 is as wide as its header, column 2 as its contents: both exceed the other part.
    const QAbstractItemView& asView = view;
    EXPECT_GE(view.columnWidth(0), view.header()->sectionSizeHint(0));
    EXPECT_GT(view.columnWidth(0), asView.sizeHintForColumn(0));
    EXPECT_GE(view.columnWidth(1), asView.sizeHintForColumn(1));
    EXPECT_GT(view.columnWidth(1), view.header()->sectionSizeHint(1));
}

TEST(PaintListStripes, RowsAlternateLightGreenThenWhite) {
    QTreeView view;
    PaintListStripes(&view);
    EXPECT_TRUE(view.alternatingRowColors());
    EXPECT_EQ(view.palette().color(QPalette::Base), QColor(231, 248, 237));
    EXPECT_EQ(view.palette().color(QPalette::AlternateBase), QColor(Qt::white));
}

TEST(PlaySoundResource, WritesEachSoundOnceAndPlaysIt) {
    QTemporaryDir tmp;
    RecordingSounds sounds;
    const QString path = tmp.path() + QStringLiteral("/102.wav");

    PlaySoundResource(102, tmp.path());
    ASSERT_TRUE(QFile::exists(path));
    const QByteArray written = ReadFile(path);
    EXPECT_TRUE(written.startsWith("RIFF"));
    EXPECT_EQ(sounds.played, QStringList{path});

    // A file already there is played as it is, not written again.
    ASSERT_TRUE(test::WriteFile(path, "changed"));
    PlaySoundResource(102, tmp.path());
    EXPECT_EQ(ReadFile(path), QByteArray("changed"));
    EXPECT_EQ(sounds.played.size(), 2);

    PlaySoundResource(101, tmp.path());
    PlaySoundResource(103, tmp.path());
    const QByteArray s101 = ReadFile(tmp.path() + QStringLiteral("/101.wav"));
    const QByteArray s103 = ReadFile(tmp.path() + QStringLiteral("/103.wav"));
    EXPECT_NE(s101, s103);
    EXPECT_NE(s101, written);

    PlaySoundResource(104, tmp.path());
    EXPECT_FALSE(QFile::exists(tmp.path() + QStringLiteral("/104.wav")));
    EXPECT_EQ(sounds.played.size(), 4);
}

TEST(PlaySoundResource, AFolderThatCannotBeWrittenIsSilent) {
    QTemporaryDir tmp;
    RecordingSounds sounds;
    ASSERT_TRUE(test::WriteFile(tmp.path() + QStringLiteral("/file"), "x"));
    PlaySoundResource(101, tmp.path() + QStringLiteral("/file/sub"));
    EXPECT_TRUE(sounds.played.isEmpty());
}

TEST(OpenInBrowser, FallsBackWhenTheOpenerFailsAndPassesTheEncodedAddress) {
    const QString address = QStringLiteral("https://www.quillax.example/a%20b?q=%E4%B8%AD");
    {
        // The desktop's opener handles it: nothing else is started.
        RecordingShell shell;
        OpenInBrowser(address, false);
        EXPECT_EQ(shell.started, QStringList{QStringLiteral("xdg-open ") + address});
        QTest::qWait(20);
        EXPECT_EQ(shell.started.size(), 1);
    }
    {
        // The opener runs but ends in failure (no handler): the web browser takes over, once
        // the exit status has come back.
        RecordingShell shell;
        shell.failingPrograms = {QStringLiteral("xdg-open")};
        OpenInBrowser(address, false);
        EXPECT_EQ(shell.started.size(), 1); // the status is not waited for
        ASSERT_TRUE(QTest::qWaitFor([&] { return shell.started.size() == 2; }, 5000));
        EXPECT_EQ(shell.started[1], QStringLiteral("x-www-browser ") + address);
    }
    {
        // A new browser window skips the opener; without x-www-browser, the sensible one.
        RecordingShell shell;
        shell.failingPrograms = {QStringLiteral("x-www-browser")};
        OpenInBrowser(address, true);
        EXPECT_EQ(shell.started, (QStringList{QStringLiteral("x-www-browser ") + address,
                                              QStringLiteral("sensible-browser ") + address}));
    }
    {
        // What is no URL starts nothing.
        RecordingShell shell;
        for (const char* text : {"", "   ", "not a url", "http://", "https:///path only"}) {
            OpenInBrowser(QString::fromLatin1(text), false);
            OpenInBrowser(QString::fromLatin1(text), true);
        }
        QTest::qWait(20);
        EXPECT_TRUE(shell.started.isEmpty());
    }
    EXPECT_EQ(BrowserAddress(QStringLiteral("www.quillax.example/help")),
              QStringLiteral("http://www.quillax.example/help"));
    EXPECT_EQ(BrowserAddress(QStringLiteral("https://a.test/中文 b")),
              QStringLiteral("https://a.test/%E4%B8%AD%E6%96%87%20b"));
}

TEST(DesktopShell, ReportsAProgramsExitStatusLater) {
    // The real shell, with harmless programs in place of the opener.
    struct Case {
        QString program;
        QStringList arguments;
        bool succeeded;
    };
    const Case cases[] = {
        {QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")}, true},
        {QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exit 3")}, false},
        {QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("kill -9 $$")}, false},
        {QStringLiteral("quillax-no-such-program"), {}, false},
    };
    for (const Case& c : cases) {
        std::optional<bool> answer;
        Shell().run(c.program, c.arguments, [&answer](bool succeeded) { answer = succeeded; });
        EXPECT_FALSE(answer.has_value()); // never answered before returning
        ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10000))
            << c.arguments.join(' ').toStdString();
        EXPECT_EQ(*answer, c.succeeded) << c.arguments.join(' ').toStdString();
    }
}

TEST(EffectPlayer, NeverWaitsForTheSoundOutputAndPlaysOnceItIsKnown) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto answered = std::make_shared<std::atomic<bool>>(false);
    QStringList played;
    // A hung sound server: the search for the output does not return until released (or,
    // should playing ever wait for it, after a while, which the check below then sees).
    EffectPlayer player(
        [released, answered] {
            released.wait_for(std::chrono::seconds(10));
            *answered = true;
            return true;
        },
        [&played](const QString& path) { played << path; });
    player.play(QStringLiteral("/sounds/101.wav"));
    EXPECT_FALSE(*answered);
    EXPECT_EQ(player.output(), EffectPlayer::Output::Asking);
    EXPECT_TRUE(played.isEmpty()); // nothing plays until the output is known

    release.set_value();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player.output() == EffectPlayer::Output::Present; }, 10000));
    player.play(QStringLiteral("/sounds/102.wav"));
    EXPECT_EQ(played, QStringList{QStringLiteral("/sounds/102.wav")});

    // A machine without a sound output plays nothing, ever.
    EffectPlayer silent([] { return false; }, [&played](const QString& path) { played << path; });
    silent.prepare();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return silent.output() == EffectPlayer::Output::Absent; }, 10000));
    silent.play(QStringLiteral("/sounds/103.wav"));
    EXPECT_EQ(played.size(), 1);
}

// The text editor is chosen from the whole [Desktop Entry] group: a terminal program there
// (Terminal=true after Exec=, as in Debian's vim entry) would start with nothing to show.
TEST(CommandFromDesktopEntry, DecidesOnTheWholeEntryGroup) {
    const QString file = QStringLiteral("/tmp/a b.txt");
    const std::optional<QStringList> refused;
    struct Case {
        const char* what;
        QString entry;
        std::optional<QStringList> command;
    };
    const Case cases[] = {
        {"plain editor",
         QStringLiteral("[Desktop Entry]\nName=Ed\nExec=ed-gui %F\nType=Application\n"),
         QStringList{QStringLiteral("ed-gui"), file}},
        {"Terminal=true after Exec=",
         QStringLiteral(
             "[Desktop Entry]\nName=Vim\nExec=vim %F\nTerminal=true\nType=Application\n"),
         refused},
        {"Terminal=true before Exec=",
         QStringLiteral("[Desktop Entry]\nTerminal=true\nExec=vim %F\n"), refused},
        {"spaces around the equals sign",
         QStringLiteral("[Desktop Entry]\nExec = ed-gui %f\nTerminal = true\n"), refused},
        {"Hidden=true after Exec=",
         QStringLiteral("[Desktop Entry]\nExec=ed-gui %f\nHidden=true\n"), refused},
        {"Terminal=false", QStringLiteral("[Desktop Entry]\nExec=ed-gui\nTerminal=false\n"),
         QStringList{QStringLiteral("ed-gui"), file}},
        // Keys of an action group are not the entry's own.
        {"action group with Terminal=true",
         QStringLiteral("[Desktop Entry]\nExec=ed-gui --new %U\n\n[Desktop Action shell]\n"
                        "Exec=ed-gui --shell\nTerminal=true\n"),
         QStringList{QStringLiteral("ed-gui"), QStringLiteral("--new"), file}},
        {"Exec only in an action group",
         QStringLiteral("[Desktop Entry]\nName=Ed\n[Desktop Action new]\nExec=ed-gui %f\n"),
         refused},
        {"keys before any group", QStringLiteral("Exec=ed-gui %f\n[Desktop Entry]\nName=Ed\n"),
         refused},
        {"a second entry group does not count",
         QStringLiteral("[Desktop Entry]\nExec=ed-gui %f\n[Desktop Entry]\nTerminal=true\n"),
         QStringList{QStringLiteral("ed-gui"), file}},
        {"comment lines and CRLF",
         QStringLiteral("# Terminal=true\r\n[Desktop Entry]\r\n#Terminal=true\r\nExec=\"my ed\" %k "
                        "%f\r\n"),
         QStringList{QStringLiteral("my ed"), file}},
        {"empty Exec", QStringLiteral("[Desktop Entry]\nExec=\n"), refused},
        {"only field codes", QStringLiteral("[Desktop Entry]\nExec=%i %c\n"), refused},
        {"no Exec", QStringLiteral("[Desktop Entry]\nName=Ed\n"), refused},
        {"empty text", QString(), refused},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandFromDesktopEntry(c.entry, file), c.command) << c.what;
    }
}

// Qt's own buttons speak the program's language, and the open and save dialogs start in the
// download folder, never in the folder the program was started from.
TEST(ChineseDesktop, QtButtonsAreChineseAndDialogsStartInTheDownloadFolder) {
    ASSERT_TRUE(InstallChineseTranslations());
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    EXPECT_EQ(box.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    EXPECT_FALSE(box.button(QDialogButtonBox::Save)->text().contains(QLatin1String("Save")));

    QTemporaryDir downloads;
    QString folder = downloads.path();
    SetDialogStartFolder([&folder] { return folder; });
    EXPECT_EQ(DialogStartFolder(), downloads.path());
    folder = downloads.path() + QStringLiteral("/not-made-yet");
    EXPECT_EQ(DialogStartFolder(), QDir::homePath());
    SetDialogStartFolder({});
    EXPECT_EQ(DialogStartFolder(), QDir::homePath());
}
