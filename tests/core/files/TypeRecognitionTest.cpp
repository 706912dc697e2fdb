#include "core/files/TypeRecognition.h"
#include "core/download/StoredTypeCorrection.h"

#include "core/download/DownloadListModel.h"
#include "core/download/ListOperations.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace quillax;
using quillax::test::WriteFile;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values) {
        out.append(static_cast<char>(v));
    }
    return out;
}

// `head` followed by filler up to `length` bytes.
QByteArray sized(const QByteArray& head, int length, char filler = 'x') {
    QByteArray out = head;
    out.append(QByteArray(std::max(0, length - static_cast<int>(head.size())), filler));
    return out.left(length);
}

QByteArray compound(int length, int at512 = -1, std::initializer_list<int> marker = {}) {
    QByteArray out = sized(bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}), length, '\0');
    if (at512 >= 0) {
        int i = at512;
        for (int v : marker) {
            out[i++] = static_cast<char>(v);
        }
    }
    return out;
}

QByteArray htmlPage(int length) {
    const QByteArray page = "<!DOCTYPE html>\n<HTML>\n<HEAD><TITLE>Login</TITLE></HEAD>\n<BODY>";
    return sized(page, length, ' ');
}

QByteArray caaMarkers() {
    return "[TARGET]\nA1=1\nA2=2\nB1=3\nB2=4\nC1=5\nC2=6\nD1=7\nD2=8\nDOCTYPE=9\n";
}

QByteArray withTail(int length) {
    QByteArray out(length, 'z');
    out.replace(length - 128, 3, "TAG");
    return out;
}

struct Fixture {
    const char* what;
    QByteArray content;
    const char* expected;
};

} // namespace

TEST(打开文件判断文件类型, RecognisesSignaturesAndMarkersAtTheirBoundaries) {
    const Fixture fixtures[] = {
        {"pdf", sized("%PDF-1.7\n", 400), "pdf"},
        {"pdf larger than the head block", sized("%PDF-1.4", 50000), "pdf"},
        {"caj", sized(bytes({0xC8, 0, 0, 0}), 64), "caj"},
        {"CAJ and a zero byte is kdh", sized(bytes({'C', 'A', 'J', 0}), 64), "kdh"},
        {"KDH and a space", sized("KDH ", 64), "kdh"},
        {"nh", sized(bytes({'H', 'N', 0, 0}), 64), "nh"},
        {"tif", sized(bytes({'I', 'I', '*', 0}), 64), "tif"},
        {"rtf", sized("{\\rtf1\\ansi", 64), "rtf"},
        {"exe", sized("MZ\x90", 64), "exe"},
        {"rar", sized("Rar!\x1a\x07", 64), "rar"},
        {"zip flags", sized(bytes({0x50, 0x4B, 3, 4, 0x14, 0, 0, 0, 8}), 64), "zip"},
        {"docx flags", sized(bytes({0x50, 0x4B, 3, 4, 0x14, 0, 6, 0, 8, 0}), 64), "docx"},
        {"other zip flags", sized(bytes({0x50, 0x4B, 3, 4, 0x0A, 0, 0, 0, 0, 0}), 64), ""},
        {"swf 6", sized("CWS\x06", 64), "swf"},
        {"swf 9 is not", sized("CWS\x09", 64), ""},
        {"rm", sized(".RMF", 64), "rm"},
        {"wma", sized(bytes({0x30, 0x26, 0xB2, 0x75, 0x8E}), 64), "wma"},
        {"mp3 ID3 2.3", sized("ID3\x03", 64), "mp3"},
        {"mp3 ID3 2.4 is not", sized("ID3\x04", 64), ""},
        {"png", sized(bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), 64), "png"},
        {"GIF891 and 0x04", sized("GIF891\x04", 64), "gif"},
        {"an ordinary GIF89a is not", sized("GIF89a", 64), ""},
        {"big-endian Exif",
         sized(bytes({0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A}),
               64),
         "jpg"},
        {"little-endian Exif is not",
         sized(bytes({0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0}),
               64),
         ""},
        {"JFIF", sized(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'}), 64), "jpg"},
        {"Word 97", compound(1024, 512, {0xEC, 0xA5, 0xC1, 0}), "doc"},
        {"Excel 97", compound(1024, 512, {0x09, 0x08, 0x10, 0}), "xls"},
        {"PowerPoint", compound(1024, 515, {0xF0}), "ppt"},
        {"another compound document goes on to the text tests",
         compound(600).append("<html ><body>"), "htm"},
        {"a compound document shorter than 515 bytes", compound(514), ""},
        {"empty", QByteArray(), ""},
        {"a 3-byte file reads its fourth byte as zero", bytes({0xC8, 0, 0}), "caj"},
        {"a 14-byte page ends before the text tests", sized("<html><body>", 14, '!'), ""},
        {"a 15-byte page reaches them", sized("<html><body>", 15, '!'), "htm"},
        {"html markers need a second marker", sized("<html>plain", 400), ""},
        {"a 100 KB page in capitals", htmlPage(100 * 1024), "htm"},
        {"a page just under 200 KB", htmlPage(200 * 1024 - 1), "htm"},
        {"a page of exactly 200 KB", htmlPage(200 * 1024), ""},
        {"a 300 KB page", htmlPage(300 * 1024), ""},
        {"caa markers at 3071 bytes", sized(caaMarkers(), 3071, ' '), "caa"},
        {"caa markers at 3072 bytes", sized(caaMarkers(), 3072, ' '), ""},
        {"caa markers at 4 KB", sized(caaMarkers(), 4096, ' '), ""},
        {"caa needs every marker", sized("[TARGET]\nA1=\nA2=\n", 500, ' '), ""},
        {"TAG trailer at 129 bytes", withTail(129), "mp3"},
        {"TAG at exactly 128 bytes gets no trailer test", withTail(128), ""},
        {"TAG trailer of a large file", withTail(64 * 1024), "mp3"},
    };
    QTemporaryDir tmp;
    int n = 0;
    for (const Fixture& f : fixtures) {
        const QString path = tmp.path() + QStringLiteral("/f%1.bin").arg(n++);
        ASSERT_TRUE(WriteFile(path, f.content)) << f.what;
        EXPECT_EQ(打开文件判断文件类型(path), QString::fromLatin1(f.expected)) << f.what;
    }
}

TEST(打开文件判断文件类型, MissingFoldersAndUnreadableFilesHaveNoType) {
    QTemporaryDir tmp;
    EXPECT_EQ(打开文件判断文件类型(tmp.path() + QStringLiteral("/missing.pdf")), QString());
    EXPECT_EQ(打开文件判断文件类型(tmp.path()), QString());
    EXPECT_EQ(打开文件判断文件类型(QString()), QString());
    // Read as an ordinary user, so that the lock holds when the tests run as root.
    const QString locked = tmp.path() + QStringLiteral("/locked.pdf");
    ASSERT_TRUE(WriteFile(locked, "%PDF-1.4 locked"));
    test::AsUnprivileged user({tmp.path(), locked});
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::Permissions()));
    EXPECT_EQ(打开文件判断文件类型(locked), QString());
    // The same file readable again is a PDF: the lock was what hid its type.
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    EXPECT_EQ(打开文件判断文件类型(locked), QStringLiteral("pdf"));
}

class CorrectType : public ::testing::Test {
protected:
    void SetUp() override {
        folder = tmp.path() + QLatin1Char('/');
        list.addItem(QStringLiteral("https://a.test/1"), QStringLiteral("Title"),
                     QStringLiteral("pdf"), folder, QString());
    }
    QString file(const char* name) const { return folder + QString::fromUtf8(name); }

    QTemporaryDir tmp;
    QString folder;
    DownloadListModel list;
};

TEST_F(CorrectType, ALoginPageSavedAsPdfBecomesHtm) {
    ASSERT_TRUE(WriteFile(file("Title.pdf"), htmlPage(5000)));
    EXPECT_TRUE(纠正下载项类型(list, 0));
    EXPECT_FALSE(QFile::exists(file("Title.pdf")));
    EXPECT_TRUE(QFile::exists(file("Title.htm")));
    EXPECT_EQ(list.item(0).type, QStringLiteral("htm"));
    EXPECT_EQ(list.item(0).name, QStringLiteral("Title"));
}

TEST_F(CorrectType, AnExistingTargetIsNeverOverwritten) {
    ASSERT_TRUE(WriteFile(file("Title.pdf"), htmlPage(5000)));
    ASSERT_TRUE(WriteFile(file("Title.htm"), "keep me"));
    EXPECT_TRUE(纠正下载项类型(list, 0));
    EXPECT_EQ(test::ReadFile(file("Title.htm")), QByteArray("keep me"));
    EXPECT_TRUE(QFile::exists(file("Title[0001].htm")));
    EXPECT_EQ(list.item(0).name, QStringLiteral("Title[0001]"));
    EXPECT_EQ(list.item(0).type, QStringLiteral("htm"));
}

TEST_F(CorrectType, TheSameTypeInAnotherCaseOrNoTypeChangesNothing) {
    list.setText(0, DownloadListModel::ColType, QStringLiteral("PDF"));
    ASSERT_TRUE(WriteFile(file("Title.PDF"), sized("%PDF-1.5", 300)));
    EXPECT_FALSE(纠正下载项类型(list, 0));
    EXPECT_TRUE(QFile::exists(file("Title.PDF")));
    EXPECT_EQ(list.item(0).type, QStringLiteral("PDF"));

    list.setText(0, DownloadListModel::ColType, QStringLiteral("dat"));
    ASSERT_TRUE(WriteFile(file("Title.dat"), sized("unknown", 300)));
    EXPECT_FALSE(纠正下载项类型(list, 0));
    EXPECT_EQ(list.item(0).type, QStringLiteral("dat"));

    list.setText(0, DownloadListModel::ColType, QStringLiteral("gone"));
    EXPECT_FALSE(纠正下载项类型(list, 0));
    EXPECT_FALSE(纠正下载项类型(list, 5));
}

TEST_F(CorrectType, AnEmptyTypeGetsTheRecognisedOne) {
    list.setText(0, DownloadListModel::ColType, QString());
    ASSERT_TRUE(WriteFile(file("Title"), sized("%PDF-1.5", 300)));
    EXPECT_TRUE(纠正下载项类型(list, 0));
    EXPECT_TRUE(QFile::exists(file("Title.pdf")));
    EXPECT_EQ(list.item(0).type, QStringLiteral("pdf"));
}

TEST_F(CorrectType, AFailedRenameLeavesFileAndItem) {
    ASSERT_TRUE(WriteFile(file("Title.pdf"), htmlPage(5000)));
    list.setStatus(0, ItemStatus::Finished);
    list.setCreatedFile(0, true);
    // A read-only folder, for root too: the files are handled as an ordinary user.
    test::AsUnprivileged user({tmp.path(), file("Title.pdf")});
    ASSERT_TRUE(QFile::setPermissions(tmp.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    EXPECT_FALSE(纠正下载项类型(list, 0));
    ASSERT_TRUE(QFile::setPermissions(tmp.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner));
    EXPECT_EQ(test::ReadFile(file("Title.pdf")), htmlPage(5000));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Title.pdf")});
    EXPECT_EQ(list.item(0).name, QStringLiteral("Title"));
    EXPECT_EQ(list.item(0).type, QStringLiteral("pdf"));
    EXPECT_TRUE(list.item(0).createdFile);
    // Writable again, the same correction goes through: the folder was what stopped it.
    EXPECT_TRUE(纠正下载项类型(list, 0));
    EXPECT_EQ(list.item(0).type, QStringLiteral("htm"));
}

// A corrected file is still the row's own at its new name: an explicit re-download marks that
// file as the one its new body replaces, and deleting the row's files removes it.
TEST_F(CorrectType, ACorrectedFileStaysTheRowsOwn) {
    struct Case {
        const char* what;
        std::function<void(DownloadListModel&)> act;
        bool fileStays;
        QString replaces; ///< name of the file the row is to replace, relative to the folder
    };
    const Case cases[] = {
        {"downloaded again",
         [](DownloadListModel& l) {
             l.setSelected(0, true);
             EXPECT_EQ(menu重新下载选中项(l), 1);
         },
         true, QStringLiteral("Title.htm")},
        {"its web page deleted",
         [](DownloadListModel& l) { EXPECT_EQ(DeleteItemFiles(l, true), 1); }, false, QString()},
        {"failed, files of failed rows deleted",
         [](DownloadListModel& l) {
             l.setStatus(0, ItemStatus::Failed);
             EXPECT_EQ(DeleteItemFiles(l, false), 1);
         },
         false, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        list.clear();
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
        list.addItem(QStringLiteral("https://a.test/1"), QStringLiteral("Title"),
                     QStringLiteral("pdf"), folder, QString());
        ASSERT_TRUE(WriteFile(file("Title.pdf"), htmlPage(5000))); // a login page, not the paper
        list.setStatus(0, ItemStatus::Finished);
        list.setCreatedFile(0, true);
        ASSERT_TRUE(纠正下载项类型(list, 0));
        ASSERT_EQ(list.item(0).type, QStringLiteral("htm"));
        EXPECT_TRUE(list.item(0).createdFile);

        c.act(list);
        EXPECT_EQ(list.item(0).replacesPath,
                  c.replaces.isEmpty() ? QString() : folder + c.replaces);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                  c.fileStays ? QStringList{QStringLiteral("Title.htm")} : QStringList());
        if (c.fileStays) { // kept whole until a new body replaces it
            EXPECT_EQ(test::ReadFile(file("Title.htm")), htmlPage(5000));
        }
    }
}

// The correction over the whole list renames only files the list stored: the user's own
// notes.pdf beside a waiting row, or the file a row skipped as already there, keep their names.
TEST_F(CorrectType, TheListCorrectionRenamesOnlyFilesTheListStored) {
    list.addItem(QStringLiteral("https://a.test/2"), QStringLiteral("notes"), QStringLiteral("pdf"),
                 folder, QString());
    list.addItem(QStringLiteral("https://a.test/3"), QStringLiteral("Skipped"),
                 QStringLiteral("pdf"), folder, QString());
    list.addItem(QStringLiteral("https://a.test/4"), QStringLiteral("Failed"),
                 QStringLiteral("pdf"), folder, QString());
    for (const char* name : {"Title.pdf", "notes.pdf", "Skipped.pdf", "Failed.pdf"}) {
        ASSERT_TRUE(WriteFile(file(name), htmlPage(5000)));
    }
    list.setStatus(0, ItemStatus::Finished);
    list.setCreatedFile(0, true);
    list.setStatus(2, ItemStatus::Finished); // 已存在，跳过: found there, not stored
    list.setAdoptedFile(2, true);
    list.setStatus(3, ItemStatus::Failed);
    list.setCreatedFile(3, true);

    EXPECT_EQ(CorrectStoredFileTypes(list), 1);
    EXPECT_TRUE(QFile::exists(file("Title.htm")));
    EXPECT_TRUE(list.item(0).createdFile); // still the row's own file, at its new name
    for (const char* name : {"notes.pdf", "Skipped.pdf", "Failed.pdf"}) {
        EXPECT_EQ(test::ReadFile(file(name)), htmlPage(5000)) << name;
    }
    EXPECT_EQ(list.item(1).type, QStringLiteral("pdf"));
    EXPECT_EQ(list.item(2).type, QStringLiteral("pdf"));
}
