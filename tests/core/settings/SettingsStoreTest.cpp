#include "core/settings/SettingsStore.h"

#include "core/settings/AppValues.h"
#include "core/settings/WindowPlacement.h"

#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillax;
using namespace quillax::settings_keys;

class SettingsStoreTest : public ::testing::Test {
protected:
    QString iniPath() const { return tmp.path() + QStringLiteral("/Quillax.ini"); }
    QTemporaryDir tmp;
};

TEST_F(SettingsStoreTest, FirstRunReadsEveryDefault) {
    SettingsStore store(iniPath());
    AppValues values;
    ReadStartupSettings(store, values);
    EXPECT_EQ(values.MaxFileSizeMB, 10.0);
    EXPECT_EQ(values.DownloadMethod, 2);
    EXPECT_EQ(values.ProxyEnabled, 0);
    EXPECT_TRUE(values.ProxyAddress.isEmpty());
    EXPECT_TRUE(values.ProxyPort.isEmpty());
    EXPECT_EQ(values.PromptSavePath, 1);
    EXPECT_TRUE(values.SaveFolder.isEmpty());

    int threads = -1;
    EXPECT_TRUE(store.readSmallInt(kDownload, kThreads, kThreadsDefault, threads));
    EXPECT_EQ(threads, 2);
    EXPECT_EQ(store.read(kPatentDownload, kDuplicatePolicy, kDuplicatePolicyDefault),
              QStringLiteral("重命名"));
    int delay = -1;
    EXPECT_TRUE(store.readSmallInt(kWebSearch, kSearchDelay, kSearchDelayDefault, delay));
    EXPECT_EQ(delay, 10);
    int copyOption = -1;
    EXPECT_TRUE(store.readSmallInt(kCopyMove, kCopyOption, kCopyOptionDefault, copyOption));
    EXPECT_EQ(copyOption, 4);
    EXPECT_FALSE(ReadPlacement(store, kFileDownload, ResolutionText(1920, 1080)).has_value());
    EXPECT_EQ(DefaultSaveFolder(), QDir::homePath() + QStringLiteral("/12345/"));
}

TEST_F(SettingsStoreTest, WritesGoToDiskAtOnce) {
    SettingsStore writer(iniPath());
    writer.write(kSettings, kProxyAddress, QStringLiteral(" proxy.test "));
    writer.writeNumber(kSettings, kMaxFileSize, 12.5);
    writer.writeNumber(kSettings, kDownloadMethod, 1);
    writer.write(kSettings, kProxyPort, QStringLiteral("8080,8081")); // commas survive

    SettingsStore reader(iniPath()); // a second store sees the file, not a cache
    EXPECT_EQ(reader.read(kSettings, kMaxFileSize, QString()), QStringLiteral("12.5"));
    EXPECT_EQ(reader.read(kSettings, kDownloadMethod, QString()), QStringLiteral("1"));
    AppValues values;
    ReadStartupSettings(reader, values);
    EXPECT_EQ(values.ProxyAddress, QStringLiteral("proxy.test"));
    EXPECT_EQ(values.ProxyPort, QStringLiteral("8080,8081"));
    EXPECT_EQ(values.MaxFileSizeMB, 12.5);
    EXPECT_EQ(values.DownloadMethod, 1);
}

TEST_F(SettingsStoreTest, TextsThatDoNotConvertKeepThePreviousValue) {
    struct Case {
        QString stored;
        bool converts;
        int expected;
    };
    const Case cases[] = {
        {QStringLiteral("3"), true, 3},       {QStringLiteral(" 4 "), true, 4},
        {QStringLiteral("2.5"), true, 2},     {QStringLiteral("3.5"), true, 4},
        {QStringLiteral("abc"), false, 77},   {QString(), false, 77},
        {QStringLiteral("40000"), false, 77}, {QStringLiteral("1e3"), true, 1000},
        {QStringLiteral("nan"), false, 77},   {QStringLiteral("inf"), false, 77},
    };
    SettingsStore store(iniPath());
    for (const Case& c : cases) {
        store.write(kDownload, kThreads, c.stored);
        int value = 77;
        EXPECT_EQ(store.readSmallInt(kDownload, kThreads, kThreadsDefault, value), c.converts)
            << c.stored.toStdString();
        EXPECT_EQ(value, c.expected) << c.stored.toStdString();
    }
    store.write(kSettings, kDownloadMethod, QStringLiteral("7")); // outside 1..2
    store.write(kSettings, kMaxFileSize, QStringLiteral("ten"));
    AppValues values;
    values.DownloadMethod = 1;
    values.MaxFileSizeMB = 3;
    ReadStartupSettings(store, values);
    EXPECT_EQ(values.DownloadMethod, 1);
    EXPECT_EQ(values.MaxFileSizeMB, 3.0);
}

TEST_F(SettingsStoreTest, AGarbageFileReadsAsDefaults) {
    QByteArray garbage = QByteArrayLiteral("\x00\xff\xfe[[[\n=\n[设置\n文件最大值===\x01\x02\n");
    garbage.append(QByteArray(4096, '\xc3'));
    ASSERT_TRUE(test::WriteFile(iniPath(), garbage));
    SettingsStore store(iniPath());
    AppValues values;
    ReadStartupSettings(store, values);
    EXPECT_EQ(values.MaxFileSizeMB, 10.0);
    EXPECT_EQ(values.DownloadMethod, 2);
    EXPECT_EQ(values.PromptSavePath, 1);
    EXPECT_FALSE(ReadPlacement(store, kFileDownload, ResolutionText(800, 600)).has_value());
}

TEST_F(SettingsStoreTest, PlacementIsReusedOnTheSameScreenOnlyAndClamped) {
    SettingsStore store(iniPath());
    const QString screen = ResolutionText(1920, 1080);
    EXPECT_EQ(screen, QStringLiteral("1920*1080"));

    WritePlacement(store, kFileDownload, screen, false, Placement{-300, 450, 2000, 1000});
    const auto restored = ReadPlacement(store, kFileDownload, screen);
    ASSERT_TRUE(restored.has_value());
    EXPECT_EQ(restored->top, 0);
    EXPECT_EQ(restored->left, 450);
    EXPECT_EQ(restored->width, kMinWindowWidthTwips);
    EXPECT_EQ(restored->height, kMinWindowHeightTwips);
    EXPECT_FALSE(ReadPlacement(store, kFileDownload, ResolutionText(1280, 1024)).has_value());

    WritePlacement(store, kFileDownload, screen, true, Placement{1, 2, 9000, 9000});
    EXPECT_EQ(store.read(kFileDownload, kResolution, QString()), QStringLiteral("0*0"));
    EXPECT_EQ(store.read(kFileDownload, kTop, QString()), QStringLiteral("-300")); // untouched
    EXPECT_FALSE(ReadPlacement(store, kFileDownload, screen).has_value());
}

TEST_F(SettingsStoreTest, NumbersAreWrittenWithoutExponents) {
    struct Case {
        double number;
        const char* text;
    };
    const Case cases[] = {
        {1, "1"},
        {10, "10"},
        {12.5, "12.5"},
        {100000, "100000"},
        {0.0001, "0.0001"},
        {-3, "-3"},
        {1e20, "100000000000000000000"},
        {0.0, "0"},
        {-0.0, "0"},
        {1e-7, "0.0000001"},
    };
    SettingsStore store(iniPath());
    for (const Case& c : cases) {
        EXPECT_EQ(ShortestDecimalText(c.number), QString::fromLatin1(c.text)) << c.text;
        EXPECT_TRUE(store.writeNumber(kDownload, kThreads, c.number));
        EXPECT_EQ(SettingsStore(iniPath()).read(kDownload, kThreads, QString()),
                  QString::fromLatin1(c.text));
        double back = -1;
        EXPECT_TRUE(store.readReal(kDownload, kThreads, QString(), back));
        EXPECT_EQ(back, c.number == 0 ? 0.0 : c.number);
    }
}

namespace {

/// Makes `folder` read-only for the test while `file` in it stays writable. As root, whom
/// permissions do not stop, file access is done as the user "nobody" for the time being.
class ReadOnlyFolder {
public:
    ReadOnlyFolder(const QString& folder, const QString& file)
        : folder_(folder.toLocal8Bit()), file_(file.toLocal8Bit()) {
        if (geteuid() == 0) {
            EXPECT_EQ(chown(folder_.constData(), kNobody, kNobody), 0);
            EXPECT_EQ(chown(file_.constData(), kNobody, kNobody), 0);
            setfsgid(kNobody);
            setfsuid(kNobody);
            asNobody_ = true;
        }
        EXPECT_EQ(chmod(file_.constData(), 0644), 0);
        EXPECT_EQ(chmod(folder_.constData(), 0555), 0);
    }
    ~ReadOnlyFolder() {
        chmod(folder_.constData(), 0755);
        chmod(file_.constData(), 0644);
        if (asNobody_) {
            setfsuid(0);
            setfsgid(0);
        }
    }
    void makeFileReadOnly() { EXPECT_EQ(chmod(file_.constData(), 0444), 0); }

private:
    static constexpr uid_t kNobody = 65534;
    QByteArray folder_;
    QByteArray file_;
    bool asNobody_ = false;
};

} // namespace

TEST_F(SettingsStoreTest, AReadOnlyFolderStillTakesWritesToTheFileAndFailuresAreSeen) {
    SettingsStore store(iniPath());
    ASSERT_TRUE(store.write(kSettings, kProxyPort, QStringLiteral("1")));
    {
        ReadOnlyFolder folder(tmp.path(), iniPath());
        // No temporary file can be made beside the store: the file is written in place.
        EXPECT_TRUE(store.write(kSettings, kProxyPort, QStringLiteral("2")));
        EXPECT_TRUE(store.writeNumber(kSettings, kMaxFileSize, 100000));
        EXPECT_EQ(SettingsStore(iniPath()).read(kSettings, kProxyPort, QString()),
                  QStringLiteral("2"));

        folder.makeFileReadOnly();
        EXPECT_FALSE(store.write(kSettings, kProxyPort, QStringLiteral("3")));
        const QByteArray onDisk = test::ReadFile(iniPath());
        EXPECT_TRUE(onDisk.contains("=2\n")) << onDisk.toStdString();
        EXPECT_FALSE(onDisk.contains("=3\n")) << onDisk.toStdString();
    }
    EXPECT_EQ(SettingsStore(iniPath()).read(kSettings, kMaxFileSize, QString()),
              QStringLiteral("100000"));
    // Where the safe way works again, it is used again, and writes succeed.
    EXPECT_TRUE(store.write(kSettings, kProxyPort, QStringLiteral("4")));
    EXPECT_EQ(SettingsStore(iniPath()).read(kSettings, kProxyPort, QString()), QStringLiteral("4"));
}
