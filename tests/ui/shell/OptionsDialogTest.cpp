// The options dialog and the save-folder chooser, driven through their controls.

#include "ui/shell/fOption.h"
#include "ui/shell/fSeleFileSavePath.h"

#include "TestSupport.h"

#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/shell/FolderListCombo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace quillax;
using namespace quillax::test;

class OptionsDialogTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (fFileDownload* w = LoadedDownloadWindow()) {
            w->close();
        }
    }
    QTemporaryDir tmp;
    SettingsStore settings{tmp.path() + QStringLiteral("/s.ini")};
    AppValues values;
    RecordingMessageBoxes boxes;
};

TEST_F(OptionsDialogTest, WritesEveryFieldAndPushesTheMethodIntoTheDownloadWindow) {
    fFileDownload* downloads = EnsureDownloadWindow();
    auto* threads = downloads->findChild<QComboBox*>("Combo1");
    auto* methodLabel = downloads->findChild<QLabel*>("Label7");

    values.DownloadMethod = 2;
    values.MaxFileSizeMB = 12.5;
    {
        fOption dialog(settings, values);
        EXPECT_TRUE(dialog.findChild<QRadioButton*>("Option2")->isChecked());
        EXPECT_EQ(dialog.findChild<QLineEdit*>("Text1")->text(), QStringLiteral("12.5"));
        dialog.findChild<QRadioButton*>("Option1")->setChecked(true);
        dialog.findChild<QCheckBox*>("Check1")->setChecked(true);
        dialog.findChild<QLineEdit*>("Text6")->setText(QStringLiteral(" 10.0.0.1 "));
        dialog.findChild<QLineEdit*>("Text8")->setText(QStringLiteral("8o80"));
        dialog.findChild<QLineEdit*>("Text1")->setText(QStringLiteral("many"));
        dialog.确定();
    }
    // A port that is no number is reported, and still stored as typed.
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("代理服务器网址或者端口格式不对！")});
    EXPECT_EQ(settings.read(QStringLiteral("设置"), QStringLiteral("代理服务器端口"), QString()),
              QStringLiteral("8o80"));
    EXPECT_EQ(settings.read(QStringLiteral("设置"), QStringLiteral("代理服务器网址"), QString()),
              QStringLiteral("10.0.0.1"));
    EXPECT_EQ(settings.read(QStringLiteral("设置"), QStringLiteral("下载方式"), QString()),
              QStringLiteral("1"));
    // A size that is no number keeps the previous one.
    EXPECT_EQ(values.MaxFileSizeMB, 12.5);
    EXPECT_EQ(settings.read(QStringLiteral("设置"), QStringLiteral("文件最大值"), QString()),
              QStringLiteral("12.5"));
    EXPECT_EQ(methodLabel->text(), QStringLiteral("下载方式：1"));
    EXPECT_FALSE(threads->isEnabled());
    EXPECT_EQ(downloads->options().method, 1);

    threads->setCurrentIndex(3);
    {
        fOption dialog(settings, values);
        dialog.findChild<QRadioButton*>("Option2")->setChecked(true);
        dialog.确定();
    }
    EXPECT_EQ(methodLabel->text(), QStringLiteral("下载方式：2"));
    EXPECT_TRUE(threads->isEnabled());
    EXPECT_EQ(threads->currentText(), QStringLiteral("1"));
}

TEST_F(OptionsDialogTest, TheChooserMakesTheFolderAndRemembersIt) {
    const QString home = QDir::homePath();
    QFile::remove(SaveListPath());
    struct Case {
        QString typed;
        QString stored; ///< empty: refused
    };
    const Case cases[] = {
        {tmp.path() + QStringLiteral("/Papers"), tmp.path() + QStringLiteral("/Papers/")},
        {QStringLiteral("~/Downloads/quillax-a"), home + QStringLiteral("/Downloads/quillax-a/")},
        {QStringLiteral("relative-b"), home + QStringLiteral("/relative-b/")},
        {QStringLiteral("/proc/quillax-cannot"), QString()},
        {QString(), QString()},
        {tmp.path() + QStringLiteral("/a-file/sub"), QString()},
    };
    ASSERT_TRUE(WriteFile(tmp.path() + QStringLiteral("/a-file"), "in the way"));
    // What the user typed stays, and the message says why.
    const std::map<QString, QString> why = {
        {QStringLiteral("/proc/quillax-cannot"),
         QStringLiteral("文件夹设置错误！\n没有权限在此创建文件夹：/proc")},
        {QString(), QStringLiteral("文件夹设置错误！\n没有填写文件夹")},
        {tmp.path() + QStringLiteral("/a-file/sub"),
         QStringLiteral("文件夹设置错误！\n不是文件夹：") + tmp.path() + QStringLiteral("/a-file")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        boxes.shown.clear();
        values.SaveFolderCancelled = true;
        fSeleFileSavePath chooser(settings, values);
        chooser.folderBox()->setEditText(c.typed);
        const bool ok = chooser.确定();
        EXPECT_EQ(ok, !c.stored.isEmpty());
        if (c.stored.isEmpty()) {
            EXPECT_EQ(boxes.texts().value(0), why.at(c.typed));
            EXPECT_EQ(chooser.folderBox()->currentText(), c.typed);
            EXPECT_TRUE(values.SaveFolderCancelled);
            continue;
        }
        EXPECT_EQ(values.SaveFolder, c.stored);
        EXPECT_TRUE(QFileInfo(c.stored).isDir());
        EXPECT_FALSE(values.SaveFolderCancelled);
        EXPECT_EQ(settings.read(QStringLiteral("设置"), QStringLiteral("下载文件保存路径"), {}),
                  c.stored);
    }
    // The remembered folders come back, and the last stored folder is the box's text.
    fSeleFileSavePath again(settings, values);
    EXPECT_EQ(again.folderBox()->count(), 3);
    EXPECT_EQ(again.folderBox()->currentText(), home + QStringLiteral("/relative-b/"));
    again.取消();
    EXPECT_TRUE(values.SaveFolderCancelled);
    QDir(home + QStringLiteral("/relative-b")).removeRecursively();
    QDir(home + QStringLiteral("/Downloads/quillax-a")).removeRecursively();
}
