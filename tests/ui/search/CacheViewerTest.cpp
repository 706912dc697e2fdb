#include "core/search/BrowserCache.h"
#include "ui/search/fIEcache.h"

#include "platform/WebBrowser.h"
#include "ui/shell/Form_Copy_Move.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWebEngineProfile>
#include <QtEndian>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillax;
using namespace quillax::test;

namespace {

QByteArray le64(quint64 v) {
    QByteArray b(8, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray le32(quint32 v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

constexpr quint64 kEntryMagic = 0xfcfb6d1ba7725c30ULL;
constexpr quint64 kEndMagic = 0xf4fa6f45970d41d8ULL;

QByteArray endRecord(quint32 flags, quint32 streamSize) {
    return le64(kEndMagic) + le32(flags) + le32(0) + le32(streamSize) + le32(0);
}

/// An entry file as the browser writes it: header, key, body, end record, response info
/// (NUL-separated header lines), key digest, last end record.
/// Response header lines as the browser stores them: NUL after each, an empty one at the end.
QByteArray headersOf(std::initializer_list<const char*> lines) {
    QByteArray out;
    for (const char* line : lines) {
        out += QByteArray(line) + '\0';
    }
    return out + '\0';
}

QByteArray
entryBytes(const QByteArray& key, const QByteArray& body,
           const QByteArray& headerLines = headersOf({"HTTP/1.1 200 OK", "Content-Type: x"}),
           bool withDigest = true) {
    QByteArray info = le32(0) + le32(0) + QByteArray(16, '\0') + le32(headerLines.size()) +
                      headerLines + QByteArray(4, '\0');
    QByteArray bytes = le64(kEntryMagic) + le32(5) + le32(key.size()) + le32(0) + le32(0);
    bytes += key + body + endRecord(1, body.size()) + info;
    if (withDigest) {
        bytes += QByteArray(32, 'd');
    }
    bytes += endRecord(withDigest ? 3 : 1, info.size());
    return bytes;
}

QByteArray hashOf(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray fileHash(const QString& path) {
    return hashOf(ReadFile(path));
}

bool mkdirs(const QString& path) {
    return QDir().mkpath(path);
}

QStringList addresses(const CacheListModel& list) {
    QStringList out;
    for (int i = 0; i < list.count(); ++i) {
        out << list.row(i).address;
    }
    return out;
}

/// Every path below `folder` (links not followed), files with the hash of their bytes.
QStringList treeOf(const QString& folder) {
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        out << (info.isFile() && !info.isSymLink()
                    ? path + QLatin1Char(' ') + QString::fromLatin1(fileHash(path).toHex())
                    : path);
    }
    out.sort();
    return out;
}

int rowOf(const CacheListModel& list, const QString& address) {
    for (int i = 0; i < list.count(); ++i) {
        if (list.row(i).address == address) {
            return i;
        }
    }
    return -1;
}

struct CopyOut {
    QStringList paths;
    QString refusal;
    bool delivered = false;
};

/// Starts the viewer's copy of `rows` and waits for its result, which must come later.
CopyOut copyOut(BrowserCacheViewer& viewer, const QList<int>& rows) {
    CopyOut out;
    const QMetaObject::Connection c =
        QObject::connect(&viewer, &BrowserCacheViewer::copyFinished,
                         [&](const QStringList& paths, const QString& refusal) {
                             out = {paths, refusal, true};
                         });
    EXPECT_TRUE(viewer.复制选中(rows));
    EXPECT_FALSE(out.delivered); // by signal, once the worker is done
    EXPECT_TRUE(QTest::qWaitFor([&] { return out.delivered; }, 30000));
    QObject::disconnect(c);
    return out;
}

QStringList filesBelow(const QString& folder) {
    QStringList files;
    ListFilesRecursive(folder, files, true);
    return files;
}

const QByteArray kGzipBody("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xb3\xc9\x28\xc9\xcd\xb1\x2b"
                           "\xc8\x49\xcc\xcc\x53\x48\xca\x4f\xa9\x54\x48\x4c\x2b\x49\x2d\x52\x48"
                           "\xaf\xca\x2c\xb0\xd1\x07\xcb\x01\x00\xd8\x0e\x24\x93\x22\x00\x00\x00",
                           51);
const QByteArray kGzipPlain("<html>plain body after gzip</html>");

} // namespace

TEST(FileTypeFromAddress, TakesTheTypeFromTheLastSegment) {
    const struct {
        const char* text;
        const char* type;
    } cases[] = {
        {"http://h/a/paper.pdf?id=1&x=2", "pdf"},
        {"http://h/a/readme", ""},
        {"http://h/go?u=http://x/y.pdf", ""}, // only the part before the second "://" counts
        {"http://h/a.b/c.html#top", "html"},
        {"http://h/x.tar.gz", "gz"},
        {"http://h/x.PDF", "PDF"},
        {"http://h/x.longext", ""},
        {"http://h/x.sixsix", "sixsix"},
        {"http://h:8080/", ""},
        {"/home/u/cache/dir/notes.txt", "txt"},
        {"C:\\dir\\file.doc", "doc"},
        {"http://h/a.php?name=b.pdf", "php"},
        {"http://h/a. pdf ", "pdf"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileTypeFromAddress(QString::fromUtf8(c.text)), QString::fromUtf8(c.type))
            << c.text;
    }
}

TEST(CacheEntries, AddressFromKeyDropsPrefixesAndSiteParts) {
    const struct {
        const char* key;
        const char* address;
    } cases[] = {
        {"1/0/http://127.0.0.1:8/a.pdf", "http://127.0.0.1:8/a.pdf"},
        {"http://x/y", "http://x/y"},
        {"0/12/http://x/y?q=1", "http://x/y?q=1"},
        {"1/0/_dk_http://a.com http://a.com http://b.com/c.js", "http://b.com/c.js"},
        {"1/0/_dk_s_http://a.com http://a.com http://b.com/d", "http://b.com/d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddressFromCacheKey(c.key), QString::fromUtf8(c.address)) << c.key;
    }
}

TEST(CacheEntries, ReadsWellFormedEntriesAndToleratesBrokenOnes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray body("%PDF-1.4 body bytes");
    const QByteArray good = entryBytes("1/0/http://h/a.pdf", body);
    const QByteArray key(200, 'k');
    const struct {
        const char* what;
        QByteArray bytes;
        bool keyRead;
        bool framed;
        qint64 bodySize;
    } cases[] = {
        {"well formed", good, true, true, body.size()},
        {"no key digest",
         entryBytes("1/0/http://h/a.pdf", body, headersOf({"HTTP/1.1 200 OK"}), false), true, true,
         body.size()},
        {"empty body", entryBytes("1/0/http://h/a.pdf", QByteArray()), true, true, 0},
        {"cut short", good.left(good.size() - 10), true, false, -1},
        {"last record damaged", good.left(good.size() - 24) + QByteArray(24, 'x'), true, false, -1},
        {"body end record damaged",
         [&] {
             QByteArray b = good;
             b[24 + 18 + body.size()] = 'x';
             return b;
         }(),
         true, false, -1},
        {"not an entry", QByteArray(300, 'g'), false, false, -1},
        {"key longer than the file",
         le64(kEntryMagic) + le32(5) + le32(100000) + le32(0) + le32(0) + key, false, false, -1},
        {"empty file", QByteArray(), false, false, -1},
        {"other version",
         [&] {
             QByteArray b = good;
             b[8] = 9;
             return b;
         }(),
         true, false, -1},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString path =
            dir.filePath(QStringLiteral("%1_0").arg(++n, 16, 10, QLatin1Char('0')));
        ASSERT_TRUE(WriteFile(path, c.bytes));
        const CacheEntryRecord r = ReadCacheEntry(path);
        EXPECT_EQ(r.keyRead, c.keyRead) << c.what;
        EXPECT_EQ(r.framed, c.framed) << c.what;
        EXPECT_EQ(r.bodySize, c.bodySize) << c.what;
        EXPECT_EQ(r.address, c.keyRead ? QStringLiteral("http://h/a.pdf") : path) << c.what;
        if (c.framed) {
            EXPECT_EQ(c.bytes.mid(r.bodyOffset, r.bodySize), body.left(c.bodySize)) << c.what;
        }
    }
}

TEST(CacheEntries, WritesOutThePlainBodyAndReusesItWhileTheEntryIsUnchanged) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString cache = dir.filePath(QStringLiteral("cache"));
    const QString extract = dir.filePath(QStringLiteral("extracted"));
    ASSERT_TRUE(mkdirs(cache));
    const QByteArray pdf = QByteArray("%PDF-1.7\n") + QByteArray(200000, '\x01') + "%%EOF";
    struct Case {
        const char* what;
        QByteArray key;
        QByteArray body;
        QByteArray headers;
        QByteArray expected; ///< empty: no file
        const char* name;
    };
    const Case cases[] = {
        {"plain", "1/0/http://h/dir/paper.pdf?x=1", pdf, headersOf({"HTTP/1.1 200 OK"}), pdf,
         "paper.pdf"},
        {"gzip", "1/0/http://h/page.html", kGzipBody,
         headersOf({"HTTP/1.1 200 OK", "content-encoding: gzip"}), kGzipPlain, "page.html"},
        {"unknown encoding", "1/0/http://h/x.js", "??",
         headersOf({"HTTP/1.1 200 OK", "Content-Encoding: br"}), QByteArray(), nullptr},
        {"broken gzip", "1/0/http://h/y.js", kGzipBody.left(20),
         headersOf({"HTTP/1.1 200 OK", "Content-Encoding: gzip"}), QByteArray(), nullptr},
        {"folder address", "1/0/http://h/", "<p>", headersOf({"HTTP/1.1 200 OK"}), "<p>", "index"},
        {"encoded name", "1/0/http://h/%E6%96%87%E7%8C%AE.pdf", "x", headersOf({"HTTP/1.1 200 OK"}),
         "x", "文献.pdf"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString hash = QStringLiteral("%1").arg(++n, 16, 16, QLatin1Char('0'));
        const QString entry = cache + QLatin1Char('/') + hash + QStringLiteral("_0");
        ASSERT_TRUE(WriteFile(entry, entryBytes(c.key, c.body, c.headers)));
        const QString path = ExtractEntryBody(ReadCacheEntry(entry), extract);
        if (c.expected.isEmpty()) {
            EXPECT_TRUE(path.isEmpty()) << c.what;
            continue;
        }
        EXPECT_EQ(QFileInfo(path).fileName(), QString::fromUtf8(c.name)) << c.what;
        EXPECT_EQ(fileHash(path), hashOf(c.expected)) << c.what;
    }

    // Unchanged entry: the same file is given again; a rewritten entry is written out afresh.
    const QString entry = cache + QStringLiteral("/0000000000000001_0");
    const QString first = ExtractEntryBody(ReadCacheEntry(entry), extract);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(first).constData(), &before), 0);
    EXPECT_EQ(ExtractEntryBody(ReadCacheEntry(entry), extract), first);
    struct stat again {};
    ASSERT_EQ(::stat(QFile::encodeName(first).constData(), &again), 0);
    EXPECT_EQ(before.st_ino, again.st_ino);
    const QByteArray changed("%PDF-1.7 changed");
    ASSERT_TRUE(WriteFile(entry, entryBytes("1/0/http://h/dir/paper.pdf", changed)));
    struct timespec later[2] = {{0, UTIME_OMIT}, {before.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(entry).constData(), later, 0), 0);
    EXPECT_EQ(fileHash(ExtractEntryBody(ReadCacheEntry(entry), extract)), hashOf(changed));

    // Bodies of entries that are gone are removed.
    PruneExtractedBodies(extract, {entry});
    QStringList left;
    ListFilesRecursive(QFileInfo(extract).canonicalFilePath(), left, true);
    ASSERT_EQ(left.size(), 1);
    EXPECT_TRUE(left.first().contains(QStringLiteral("0000000000000001")));
}

TEST(FolderWalks, ListAbsoluteFoldersWithoutFollowingLinks) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = QFileInfo(dir.path()).canonicalFilePath();
    const QString outside = root + QStringLiteral("/outside");
    const QString top = root + QStringLiteral("/top");
    ASSERT_TRUE(mkdirs(top + QStringLiteral("/a/deep")));
    ASSERT_TRUE(mkdirs(top + QStringLiteral("/.hidden")));
    ASSERT_TRUE(mkdirs(outside + QStringLiteral("/inner")));
    ASSERT_TRUE(WriteFile(outside + QStringLiteral("/secret"), "s"));
    ASSERT_TRUE(WriteFile(top + QStringLiteral("/f1"), "1"));
    ASSERT_TRUE(WriteFile(top + QStringLiteral("/PageFile.sys"), "p"));
    ASSERT_TRUE(WriteFile(top + QStringLiteral("/a/deep/f2.txt"), "2"));
    ASSERT_TRUE(WriteFile(top + QStringLiteral("/.hidden/f3"), "3"));
    ASSERT_TRUE(QFile::link(outside, top + QStringLiteral("/dirlink")));
    ASSERT_TRUE(
        QFile::link(outside + QStringLiteral("/secret"), top + QStringLiteral("/filelink")));
    ASSERT_TRUE(QFile::link(root + QStringLiteral("/nowhere"), top + QStringLiteral("/dangling")));

    QStringList folders;
    ListSubfolders(top, folders, true);
    EXPECT_EQ(folders, (QStringList{top + "/.hidden", top + "/a", top + "/a/deep"}));
    QStringList flat;
    ListSubfolders(top + QLatin1Char('/'), flat, false);
    EXPECT_EQ(flat, (QStringList{top + "/.hidden", top + "/a"}));

    QStringList files;
    ListFilesRecursive(top, files, true);
    files.sort();
    EXPECT_EQ(files, (QStringList{top + "/.hidden/f3", top + "/a/deep/f2.txt", top + "/dangling",
                                  top + "/dirlink", top + "/f1", top + "/filelink"}));
    QStringList shallow;
    ListFilesRecursive(top, shallow, false);
    EXPECT_EQ(shallow.size(), 4);

    // Only absolute folder texts are walked.
    const QString saved = QDir::currentPath();
    QDir::setCurrent(root);
    QStringList relative;
    ListSubfolders(QStringLiteral("top"), relative, true);
    ListFilesRecursive(QStringLiteral("top"), relative, true);
    QDir::setCurrent(saved);
    EXPECT_TRUE(relative.isEmpty());
}

TEST(CacheDeleting, DeletesOnlyInsideItsRootsAndNeverThroughLinks) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString base = QFileInfo(dir.path()).canonicalFilePath();
    const QString root = base + QStringLiteral("/root");
    const QString outside = base + QStringLiteral("/outside");
    ASSERT_TRUE(mkdirs(root + QStringLiteral("/sub")));
    ASSERT_TRUE(mkdirs(outside));
    ASSERT_TRUE(WriteFile(outside + QStringLiteral("/victim"), "v"));
    ASSERT_TRUE(WriteFile(root + QStringLiteral("/sub/mine"), "m"));
    ASSERT_TRUE(QFile::link(outside, root + QStringLiteral("/jump")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/victim"), root + QStringLiteral("/link")));

    EXPECT_FALSE(强制删除(outside + QStringLiteral("/victim"), {root}));
    EXPECT_FALSE(强制删除(root + QStringLiteral("/jump/victim"), {root}));
    EXPECT_FALSE(强制删除(root + QStringLiteral("/sub/../../outside/victim"), {root}));
    EXPECT_FALSE(强制删除(QStringLiteral("sub/mine"), {root}));
    EXPECT_FALSE(RemoveEmptyFolder(root, {root}));
    EXPECT_FALSE(RemoveEmptyFolder(root + QStringLiteral("/jump"), {root}));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/victim")));

    // A link is removed itself; what it points to stays.
    EXPECT_TRUE(强制删除(root + QStringLiteral("/link"), {root}));
    EXPECT_FALSE(QFileInfo(root + QStringLiteral("/link")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/victim")));

    EXPECT_FALSE(RemoveEmptyFolder(root + QStringLiteral("/sub"), {root})); // not empty
    EXPECT_TRUE(强制删除(root + QStringLiteral("/sub/mine"), {root}));
    EXPECT_TRUE(RemoveEmptyFolder(root + QStringLiteral("/sub"), {root}));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/sub")));
}

TEST(CacheDeleting, AFolderSwappedForALinkWhileDeletingSendsNothingOutside) {
    // The hook runs between finding the path and removing it: the moment an attacker who owns
    // a folder on the way would swap it for a link to somewhere else.
    const struct {
        const char* what;
        const char* target;  ///< below the root
        const char* swapped; ///< the folder on the way that becomes a link
        bool folder;         ///< the target is an empty folder (RemoveEmptyFolder)
    } cases[] = {
        {"file, its folder swapped", "sub/victim", "sub", false},
        {"file, a folder higher up swapped", "a/b/victim", "a", false},
        {"empty folder, its parent swapped", "sub/victim", "sub", true},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString base = QFileInfo(dir.path()).canonicalFilePath();
        const QString root = base + QStringLiteral("/root");
        const QString outside = base + QStringLiteral("/outside");
        const QString target = root + QLatin1Char('/') + QString::fromUtf8(c.target);
        const QString swapped = root + QLatin1Char('/') + QString::fromUtf8(c.swapped);
        // The outside tree mirrors the inside one, so the same names lead to its files.
        const QString mirrored = outside + target.mid(swapped.size());
        const QByteArray outsideBytes("outside file, must survive");
        if (c.folder) {
            ASSERT_TRUE(mkdirs(target));
            ASSERT_TRUE(mkdirs(mirrored));
        } else {
            ASSERT_TRUE(mkdirs(QFileInfo(target).path()));
            ASSERT_TRUE(mkdirs(QFileInfo(mirrored).path()));
            ASSERT_TRUE(WriteFile(target, "inside"));
            ASSERT_TRUE(WriteFile(mirrored, outsideBytes));
        }
        int calls = 0;
        const RemoveHook previous = SetRemoveHook([&](const QString&) {
            ++calls;
            ASSERT_TRUE(QDir().rename(swapped, swapped + QStringLiteral("-moved")));
            ASSERT_TRUE(QFile::link(outside, swapped));
        });
        if (c.folder) {
            RemoveEmptyFolder(target, {root});
        } else {
            强制删除(target, {root});
        }
        SetRemoveHook(previous);
        EXPECT_EQ(calls, 1) << c.what;
        if (c.folder) {
            EXPECT_TRUE(QFileInfo(mirrored).isDir()) << c.what;
        } else {
            EXPECT_EQ(fileHash(mirrored), hashOf(outsideBytes)) << c.what;
            // The file went from the folder that was opened on the way, wherever it is now.
            EXPECT_FALSE(
                QFileInfo::exists(swapped + QStringLiteral("-moved") + target.mid(swapped.size())))
                << c.what;
        }
    }
}

namespace {

/// A profile cache folder with entries, for the viewer's current-user view.
class SyntheticCache : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        base_ = QFileInfo(dir_.path()).canonicalFilePath();
        where_.home = base_ + QStringLiteral("/home/me");
        where_.cacheFolder = where_.home + QStringLiteral("/prof/cache/Cache/Cache_Data");
        where_.extractFolder = where_.home + QStringLiteral("/prof/cache/ExtractedFiles");
        where_.homesRoot = base_ + QStringLiteral("/home");
        ASSERT_TRUE(mkdirs(where_.cacheFolder + QStringLiteral("/index-dir")));
        ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/index"),
                              le64(kEntryMagic) + le32(5) + QByteArray(12, '\0')));
    }

    QString addEntry(const QString& hash, const QByteArray& key, const QByteArray& body,
                     bool withStream2 = false) {
        const QString path = where_.cacheFolder + QLatin1Char('/') + hash + QStringLiteral("_0");
        EXPECT_TRUE(WriteFile(path, entryBytes(key, body)));
        if (withStream2) {
            EXPECT_TRUE(WriteFile(
                where_.cacheFolder + QLatin1Char('/') + hash + QStringLiteral("_1"), "side data"));
        }
        return path;
    }

    QTemporaryDir dir_;
    QString base_;
    CacheLocations where_;
};

} // namespace

TEST_F(SyntheticCache, DeletesExactlyTheSelectedEntriesAndNeverACookieOne) {
    const QString a = addEntry(QStringLiteral("00000000000000a1"), "1/0/http://h/a.pdf", "AAAA");
    const QString b =
        addEntry(QStringLiteral("00000000000000b2"), "1/0/http://h/b.html", "BB", true);
    const QString c =
        addEntry(QStringLiteral("00000000000000c3"), "1/0/http://h/SetCookie.js", "CCC");
    const QString d = addEntry(QStringLiteral("00000000000000d4"), "1/0/http://h/d", "D");
    const QString e = QString(where_.cacheFolder + QStringLiteral("/00000000000000e5_0"));
    const QByteArray whole = entryBytes("1/0/http://h/e.png", "EEEEE");
    ASSERT_TRUE(WriteFile(e, whole.left(whole.size() - 30))); // cut short: key only

    BrowserCacheViewer viewer(where_);
    QAbstractItemModelTester tester(viewer.cacheList(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_TRUE(viewer.查看我的缓存());
    const CacheListModel& list = *viewer.cacheList();
    EXPECT_EQ(viewer.tag(), QStringLiteral("我的缓存"));
    EXPECT_EQ(viewer.label(), QStringLiteral("共有5 个文件"));
    ASSERT_EQ(addresses(list),
              (QStringList{"http://h/a.pdf", "http://h/b.html", "http://h/SetCookie.js",
                           "http://h/d", "http://h/e.png"}));
    EXPECT_EQ(list.row(0).type, QStringLiteral("pdf"));
    EXPECT_EQ(list.row(3).type, QString());
    EXPECT_EQ(list.row(0).size, 4);
    EXPECT_EQ(list.row(0).filePath, a);
    EXPECT_EQ(list.row(3).filePath, d);
    // The entry whose body cannot be read: no size and no path.
    EXPECT_EQ(list.row(4).size, -1);
    EXPECT_TRUE(list.row(4).filePath.isEmpty());
    EXPECT_EQ(list.data(list.index(4, CacheListModel::ColSize)).toString(), QString());
    EXPECT_EQ(list.headerData(2, Qt::Horizontal).toString(), QStringLiteral("SIZE(Byte)"));
    EXPECT_EQ(viewer.filePaths({3, 0, 4}),
              (QStringList{list.row(0).filePath, list.row(3).filePath}));

    // Two selected rows of five: exactly those entries, with all their files and bodies.
    viewer.删除所选文件({1, 4});
    EXPECT_FALSE(QFileInfo::exists(b));
    EXPECT_FALSE(QFileInfo::exists(where_.cacheFolder + QStringLiteral("/00000000000000b2_1")));
    EXPECT_FALSE(QFileInfo::exists(e));
    for (const QString& kept : {a, c, d}) {
        EXPECT_TRUE(QFileInfo::exists(kept)) << kept.toStdString();
    }
    EXPECT_EQ(addresses(list),
              (QStringList{"http://h/a.pdf", "http://h/SetCookie.js", "http://h/d"}));
    EXPECT_EQ(viewer.label(), QStringLiteral("共有3 个文件"));

    // The cookie row is left alone by 删除所选文件 and by 全部删除.
    viewer.删除所选文件({1});
    EXPECT_TRUE(QFileInfo::exists(c));
    viewer.全部删除();
    EXPECT_EQ(addresses(list), QStringList{"http://h/SetCookie.js"});
    EXPECT_TRUE(QFileInfo::exists(c));
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_FALSE(QFileInfo::exists(d));
    EXPECT_TRUE(QFileInfo::exists(where_.cacheFolder + QStringLiteral("/index")));
}

TEST_F(SyntheticCache, ListingAndClearingWriteNoFileAndClearingAsksFirst) {
    const QString a = addEntry(QStringLiteral("00000000000000a1"), "1/0/http://h/a.pdf", "AAAA");
    // A small compressed body that grows a thousandfold when decoded.
    const QByteArray bomb = qCompress(QByteArray(4 * 1024 * 1024, 'z')).mid(4);
    const QString g = where_.cacheFolder + QStringLiteral("/00000000000000b2_0");
    ASSERT_TRUE(
        WriteFile(g, entryBytes("1/0/http://h/big.html", bomb,
                                headersOf({"HTTP/1.1 200 OK", "Content-Encoding: deflate"}))));
    const QStringList before = treeOf(base_);

    BrowserCacheViewer viewer(where_);
    ASSERT_TRUE(viewer.查看我的缓存());
    const CacheListModel& list = *viewer.cacheList();
    ASSERT_EQ(list.count(), 2);
    // The sizes are the stored ones.
    EXPECT_EQ(list.row(0).size, 4);
    EXPECT_EQ(list.row(1).size, bomb.size());
    EXPECT_EQ(list.row(1).filePath, g);
    viewer.查看所有用户缓存();
    EXPECT_EQ(treeOf(base_), before);

    RecordingMessageBoxes boxes;
    boxes.answer = MsgResult::No;
    EXPECT_FALSE(ClearBrowserCache(true, where_));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown.first().text, QStringLiteral("确定要清空浏览器缓存吗？"));
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Question);
    EXPECT_EQ(boxes.shown.first().buttons, MsgButtons::YesNo);
    EXPECT_EQ(treeOf(base_), before);

    boxes.answer = MsgResult::Yes;
    EXPECT_TRUE(ClearBrowserCache(true, where_));
    EXPECT_EQ(boxes.texts().mid(1), (QStringList{"确定要清空浏览器缓存吗？", "IE缓存清空完毕！"}));
    const QStringList after = treeOf(base_);
    for (const QString& entry : after) {
        EXPECT_TRUE(before.contains(entry)) << entry.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_FALSE(QFileInfo::exists(g));
}

TEST_F(SyntheticCache, CopyWritesOutTheSelectedBodiesWithinTheBudget) {
    addEntry(QStringLiteral("00000000000000a1"), "1/0/http://h/a.pdf", "AAAA");
    ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/00000000000000b2_0"),
                          entryBytes("1/0/http://h/page.html", kGzipBody,
                                     headersOf({"HTTP/1.1 200 OK", "Content-Encoding: gzip"}))));
    const QByteArray bomb = qCompress(QByteArray(4 * 1024 * 1024, 'z')).mid(4);
    ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/00000000000000c3_0"),
                          entryBytes("1/0/http://h/big.html", bomb,
                                     headersOf({"HTTP/1.1 200 OK", "Content-Encoding: deflate"}))));
    const QByteArray whole = entryBytes("1/0/http://h/e.png", "EEEEE");
    ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/00000000000000e5_0"),
                          whole.left(whole.size() - 30)));
    BrowserCacheViewer viewer(where_);
    ASSERT_TRUE(viewer.查看我的缓存());
    ASSERT_EQ(addresses(*viewer.cacheList()), (QStringList{"http://h/a.pdf", "http://h/page.html",
                                                           "http://h/big.html", "http://h/e.png"}));

    // In list order, decoded, and nothing for a row without a body.
    const CopyOut all = copyOut(viewer, {3, 1, 0});
    EXPECT_TRUE(all.refusal.isEmpty());
    ASSERT_EQ(all.paths.size(), 2);
    EXPECT_EQ(QFileInfo(all.paths.at(0)).fileName(), QStringLiteral("a.pdf"));
    EXPECT_EQ(fileHash(all.paths.at(0)), hashOf("AAAA"));
    EXPECT_EQ(QFileInfo(all.paths.at(1)).fileName(), QStringLiteral("page.html"));
    EXPECT_EQ(fileHash(all.paths.at(1)), hashOf(kGzipPlain));
    viewer.discardCopiedBodies();
    EXPECT_EQ(filesBelow(where_.extractFolder), QStringList());

    const qint64 both = 4 + kGzipPlain.size();
    const struct {
        const char* what;
        QList<int> rows;
        qint64 budget;
        bool refused;
    } cases[] = {
        {"plain body exactly at the budget", {0}, 4, false},
        {"plain body over the budget", {0}, 3, true},
        {"decoded bodies exactly at the budget", {0, 1}, both, false},
        {"decoded bodies one byte over", {0, 1}, both - 1, true},
        {"small stored body that decodes past the budget", {2}, 1024 * 1024, true},
        {"the same within the budget", {2}, 4 * 1024 * 1024, false},
    };
    for (const auto& c : cases) {
        viewer.setCopyBudget(c.budget);
        const CopyOut out = copyOut(viewer, c.rows);
        if (c.refused) {
            EXPECT_TRUE(out.refusal.startsWith(QStringLiteral("选中的文件总大小超过"))) << c.what;
            EXPECT_TRUE(out.paths.isEmpty()) << c.what;
            // Nothing of a refused copy is left behind.
            EXPECT_EQ(filesBelow(where_.extractFolder), QStringList()) << c.what;
        } else {
            EXPECT_TRUE(out.refusal.isEmpty()) << c.what;
            EXPECT_EQ(out.paths.size(), c.rows.size()) << c.what;
        }
        viewer.discardCopiedBodies();
    }
    EXPECT_EQ(CopyBudgetRefusal(kCopyOutBudgetBytes),
              QStringLiteral("选中的文件总大小超过256MB，请少选一些再复制！"));
}

TEST_F(SyntheticCache, TheWindowStaysFreeWhileCopyingAndShowsTheRefusal) {
    addEntry(QStringLiteral("00000000000000a1"), "1/0/http://h/a.pdf", "AAAA");
    RecordingMessageBoxes boxes;
    fIEcache window(nullptr, where_);
    window.Command1_Click();
    window.viewer()->setCopyBudget(3);
    window.cacheView()->selectionModel()->select(window.viewer()->cacheList()->index(0, 0),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    window.Command6_Click();
    // The handler returned before the work was done; the button waits for it.
    EXPECT_FALSE(window.copyButton()->isEnabled());
    EXPECT_TRUE(boxes.shown.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.isEmpty(); }, 30000));
    EXPECT_TRUE(boxes.shown.first().text.startsWith(QStringLiteral("选中的文件总大小超过")));
    EXPECT_EQ(boxes.shown.first().icon, MsgIcon::Error);
    EXPECT_TRUE(window.copyButton()->isEnabled());
}

TEST_F(SyntheticCache, ClosingDuringACopyLeavesNoBodyBehind) {
    const QByteArray bomb = qCompress(QByteArray(64 * 1024 * 1024, 'z')).mid(4);
    ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/00000000000000c3_0"),
                          entryBytes("1/0/http://h/big.html", bomb,
                                     headersOf({"HTTP/1.1 200 OK", "Content-Encoding: deflate"}))));
    {
        BrowserCacheViewer viewer(where_);
        ASSERT_TRUE(viewer.查看我的缓存());
        EXPECT_TRUE(viewer.复制选中({0}));
        EXPECT_FALSE(viewer.复制选中({0})); // one copy at a time
    }
    EXPECT_EQ(filesBelow(where_.extractFolder), QStringList());
}

TEST_F(SyntheticCache, ListsTheFilesOfACacheInAnUnknownForm) {
    QFile::remove(where_.cacheFolder + QStringLiteral("/index"));
    ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/data_1"), "12345"));
    ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/index-dir/f_000001.pdf"), "x"));
    BrowserCacheViewer viewer(where_);
    ASSERT_TRUE(viewer.查看我的缓存());
    const CacheListModel& list = *viewer.cacheList();
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.row(0).address, list.row(0).filePath);
    EXPECT_EQ(list.row(0).size, 5);
    EXPECT_EQ(list.row(1).type, QStringLiteral("pdf"));
    viewer.全部删除();
    EXPECT_EQ(list.count(), 0);
    EXPECT_FALSE(QFileInfo::exists(where_.cacheFolder + QStringLiteral("/data_1")));
}

TEST_F(SyntheticCache, AnUnreadableCacheShowsTheErrorAndIsNotReportedCleared) {
    where_.cacheFolder = base_ + QStringLiteral("/not-a-folder");
    ASSERT_TRUE(WriteFile(where_.cacheFolder, "x"));
    BrowserCacheViewer viewer(where_);
    EXPECT_FALSE(viewer.查看我的缓存());
    EXPECT_EQ(viewer.label(), QStringLiteral("出错!!!共有0 个文件"));

    RecordingMessageBoxes boxes;
    EXPECT_FALSE(ClearBrowserCache(true, where_));
    EXPECT_EQ(boxes.texts(), QStringList{"确定要清空浏览器缓存吗？"}); // the question only
    EXPECT_TRUE(QFileInfo::exists(where_.cacheFolder));
}

TEST(CacheList, SortsSizesAsNumbersAndTurnsAtEachClick) {
    CacheListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QVector<CacheRow> rows;
    for (const auto& [address, size] :
         {std::pair{"b", 10}, std::pair{"A", 9}, std::pair{"c", -1}, std::pair{"d", 100}}) {
        CacheRow row;
        row.address = QString::fromUtf8(address);
        row.size = size;
        rows.append(row);
    }
    list.setRows(rows);
    QPersistentModelIndex tracked = list.index(1, 0); // "A"
    auto sizes = [&] {
        QStringList out;
        for (int i = 0; i < list.count(); ++i) {
            out << list.data(list.index(i, CacheListModel::ColSize)).toString();
        }
        return out;
    };
    list.sortByHeaderClick(CacheListModel::ColSize);
    EXPECT_EQ(list.lastSortOrder(), Qt::DescendingOrder);
    EXPECT_EQ(sizes(), (QStringList{"100", "10", "9", ""}));
    list.sortByHeaderClick(CacheListModel::ColSize);
    EXPECT_EQ(sizes(), (QStringList{"", "9", "10", "100"}));
    EXPECT_EQ(tracked.row(), 1);
    EXPECT_EQ(tracked.data().toString(), QStringLiteral("A"));
    // Another column goes on from the last order: descending again.
    list.sortByHeaderClick(CacheListModel::ColUrl);
    EXPECT_EQ(addresses(list), (QStringList{"d", "c", "b", "A"}));
    EXPECT_EQ(tracked.row(), 3);
}

namespace {

/// Home folders of several users below one root, each perhaps with this program's cache.
class SyntheticHomes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        base_ = QFileInfo(dir_.path()).canonicalFilePath();
        where_.homesRoot = base_ + QStringLiteral("/home");
        where_.rootHome = base_ + QStringLiteral("/roothome");
        where_.home = where_.homesRoot + QStringLiteral("/alice");
        where_.cacheFolder = cacheOf(where_.home);
        where_.extractFolder = where_.home + QStringLiteral("/.prof/cache/ExtractedFiles");
        ASSERT_TRUE(mkdirs(where_.cacheFolder));
        ASSERT_TRUE(WriteFile(where_.cacheFolder + QStringLiteral("/0000000000000001_0"), "a"));
        const QString bob = cacheOf(where_.homesRoot + QStringLiteral("/bob"));
        ASSERT_TRUE(mkdirs(bob + QStringLiteral("/sub/deeper")));
        ASSERT_TRUE(mkdirs(bob + QStringLiteral("/x/y/z")));
        ASSERT_TRUE(WriteFile(bob + QStringLiteral("/f_1"), "1234"));
        ASSERT_TRUE(WriteFile(bob + QStringLiteral("/sub/page.html"), "h"));
        ASSERT_TRUE(WriteFile(bob + QStringLiteral("/sub/deeper/notes.TXT"), "t"));
        ASSERT_TRUE(mkdirs(base_ + QStringLiteral("/outside")));
        ASSERT_TRUE(WriteFile(base_ + QStringLiteral("/outside/victim"), "v"));
        ASSERT_TRUE(
            QFile::link(base_ + QStringLiteral("/outside/victim"), bob + QStringLiteral("/link")));
        ASSERT_TRUE(mkdirs(where_.homesRoot + QStringLiteral("/carol")));
        // Mallory's cache is a link to a folder outside her home.
        const QString mallory = cacheOf(where_.homesRoot + QStringLiteral("/mallory"));
        ASSERT_TRUE(mkdirs(QFileInfo(mallory).path()));
        ASSERT_TRUE(QFile::link(base_ + QStringLiteral("/outside"), mallory));
        ASSERT_TRUE(mkdirs(cacheOf(where_.rootHome)));
        ASSERT_TRUE(WriteFile(cacheOf(where_.rootHome) + QStringLiteral("/r.bin"), "r"));
    }

    static QString cacheOf(const QString& home) {
        return home + QStringLiteral("/.prof/cache/Cache/Cache_Data");
    }

    QTemporaryDir dir_;
    QString base_;
    CacheLocations where_;
};

} // namespace

TEST_F(SyntheticHomes, FindsEachUsersCacheButNoneThatLeadsOutOfItsHome) {
    QStringList users;
    for (const ProfileCache& p : FindProfileCaches(where_)) {
        users << p.user + QLatin1Char('=') + p.folder;
    }
    EXPECT_EQ(users, (QStringList{"alice=" + where_.cacheFolder,
                                  "bob=" + cacheOf(where_.homesRoot + "/bob"),
                                  "roothome=" + cacheOf(where_.rootHome)}));

    // A running profile outside the homes root sees only its own cache.
    CacheLocations elsewhere = where_;
    elsewhere.home = base_ + QStringLiteral("/elsewhere/me");
    elsewhere.cacheFolder = cacheOf(elsewhere.home);
    ASSERT_TRUE(mkdirs(elsewhere.cacheFolder));
    const QVector<ProfileCache> own = FindProfileCaches(elsewhere);
    ASSERT_EQ(own.size(), 1);
    EXPECT_EQ(own.first().user, QStringLiteral("me"));
    EXPECT_EQ(own.first().folder, elsewhere.cacheFolder);
}

TEST_F(SyntheticHomes, AllUsersViewDeletesAllButTextFilesAndRemovesEmptyFoldersDeepestFirst) {
    BrowserCacheViewer viewer(where_);
    QAbstractItemModelTester t1(viewer.cacheList(),
                                QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester t2(viewer.userList(),
                                QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester t3(viewer.folderList(),
                                QAbstractItemModelTester::FailureReportingMode::Fatal);
    viewer.查看所有用户缓存();
    const QString bob = cacheOf(where_.homesRoot + QStringLiteral("/bob"));
    EXPECT_EQ(viewer.tag(), QStringLiteral("所有缓存"));
    EXPECT_EQ(viewer.userList()->count(), 3);
    EXPECT_EQ(viewer.userList()->text(1, CacheUserListModel::ColUser), QStringLiteral("bob"));
    EXPECT_EQ(viewer.userList()->headerData(0, Qt::Horizontal).toString(),
              QStringLiteral("用户名"));
    QStringList folders;
    for (int i = 0; i < viewer.folderList()->count(); ++i) {
        folders << viewer.folderList()->text(i, 0);
    }
    EXPECT_EQ(folders, (QStringList{bob + "/sub", bob + "/x", bob + "/sub/deeper", bob + "/x/y",
                                    bob + "/x/y/z"}));
    const CacheListModel& list = *viewer.cacheList();
    EXPECT_EQ(list.count(), 6);
    EXPECT_EQ(viewer.label(), QStringLiteral("共有6 个文件"));
    const int f1 = [&] {
        for (int i = 0; i < list.count(); ++i) {
            if (list.row(i).filePath == bob + QStringLiteral("/f_1")) {
                return i;
            }
        }
        return -1;
    }();
    ASSERT_GE(f1, 0);
    EXPECT_EQ(list.row(f1).address, QStringLiteral("用户:bob"));
    EXPECT_EQ(list.row(f1).size, 4);

    viewer.全部删除();
    EXPECT_TRUE(QFileInfo::exists(bob + QStringLiteral("/sub/deeper/notes.TXT")));
    EXPECT_FALSE(QFileInfo::exists(bob + QStringLiteral("/f_1")));
    EXPECT_FALSE(QFileInfo::exists(bob + QStringLiteral("/sub/page.html")));
    EXPECT_FALSE(QFileInfo(bob + QStringLiteral("/link")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(base_ + QStringLiteral("/outside/victim")));
    EXPECT_FALSE(QFileInfo::exists(bob + QStringLiteral("/x")));
    EXPECT_TRUE(QFileInfo::exists(bob + QStringLiteral("/sub/deeper")));
    EXPECT_TRUE(QFileInfo::exists(bob)); // the cache folder itself stays
    EXPECT_FALSE(QFileInfo::exists(cacheOf(where_.rootHome) + QStringLiteral("/r.bin")));
    // Shown again: only the text file is left.
    EXPECT_EQ(list.count(), 1);
    EXPECT_EQ(list.row(0).type, QStringLiteral("TXT"));
}

TEST(CacheLocationsTest, TheHomesRootComesFromTheEnvironmentWhenSet) {
    const QByteArray saved = qgetenv(kEnvUserHomesRoot);
    qputenv(kEnvUserHomesRoot, "/srv/test-homes");
    const CacheLocations set = DefaultCacheLocations(QStringLiteral("/x/prof/cache/"));
    EXPECT_EQ(set.homesRoot, QStringLiteral("/srv/test-homes"));
    EXPECT_TRUE(set.rootHome.isEmpty());
    EXPECT_EQ(set.cacheFolder, QStringLiteral("/x/prof/cache/Cache/Cache_Data"));
    EXPECT_EQ(set.extractFolder, QStringLiteral("/x/prof/cache/ExtractedFiles"));
    qunsetenv(kEnvUserHomesRoot);
    const CacheLocations unset = DefaultCacheLocations(QStringLiteral("/x/prof/cache"));
    EXPECT_EQ(unset.homesRoot, QStringLiteral("/home"));
    EXPECT_EQ(unset.rootHome, QStringLiteral("/root"));
    if (!saved.isEmpty()) {
        qputenv(kEnvUserHomesRoot, saved);
    }
}

namespace {

/// The embedded browser's own profile, filled by loading pages from a local server.
class RealProfileCache : public ::testing::Test {
protected:
    void SetUp() override {
        // Other users' caches stay out of reach whatever the machine holds.
        ASSERT_TRUE(homes_.isValid());
        qputenv(kEnvUserHomesRoot, homes_.path().toUtf8());
        Route page;
        page.headers = {{"Content-Type", "text/html"}, {"Cache-Control", "max-age=3600"}};
        page.body = "<html><body><h1>缓存页</h1><script src='/SetCookie.js'></script>"
                    "</body></html>";
        server_.route("/page.html", page);
        Route script;
        script.headers = {{"Content-Type", "application/javascript"},
                          {"Cache-Control", "max-age=3600"}};
        script.body = "document.title = 'cached';";
        server_.route("/SetCookie.js", script);
    }
    void TearDown() override { qunsetenv(kEnvUserHomesRoot); }

    void browse() {
        WebBrowser browser;
        bool done = false;
        QObject::connect(&browser, &WebBrowser::DocumentComplete,
                         [&](const QString&, bool) { done = true; });
        browser.Navigate(server_.url(QStringLiteral("/page.html")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 30000));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return browser.title() == QLatin1String("cached"); }, 30000));
    }

    /// Lists the cache until both addresses show with their bodies (the browser writes its
    /// entries in the background).
    void listUntilCached(BrowserCacheViewer* viewer) {
        const QString pageUrl = server_.url(QStringLiteral("/page.html"));
        const QString scriptUrl = server_.url(QStringLiteral("/SetCookie.js"));
        auto ready = [&] {
            viewer->查看我的缓存();
            const CacheListModel& list = *viewer->cacheList();
            const int p = rowOf(list, pageUrl);
            const int s = rowOf(list, scriptUrl);
            return p >= 0 && s >= 0 && !list.row(p).filePath.isEmpty() &&
                   !list.row(s).filePath.isEmpty();
        };
        ASSERT_TRUE(QTest::qWaitFor(ready, 30000));
    }

    QTemporaryDir homes_;
    TestHttpServer server_;
};

} // namespace

TEST_F(RealProfileCache, ViewerListsCopiesOutAndDeletesWhatTheBrowserCached) {
    ASSERT_NO_FATAL_FAILURE(browse());
    fIEcache window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("IE浏览器Cookie 缓存和历史列表-Quillax"));
    EXPECT_EQ(window.countLabel()->text(), QStringLiteral("000"));
    BrowserCacheViewer* viewer = window.viewer();
    EXPECT_EQ(viewer->locations().cacheFolder,
              BrowserProfile()->cachePath() + QStringLiteral("/Cache/Cache_Data"));
    ASSERT_NO_FATAL_FAILURE(listUntilCached(viewer));
    const CacheListModel& list = *viewer->cacheList();
    const QString pageUrl = server_.url(QStringLiteral("/page.html"));
    const QString scriptUrl = server_.url(QStringLiteral("/SetCookie.js"));
    const int p = rowOf(list, pageUrl);
    EXPECT_EQ(list.row(p).type, QStringLiteral("html"));
    const QByteArray pageBody("<html><body><h1>缓存页</h1><script src='/SetCookie.js'></script>"
                              "</body></html>");
    EXPECT_EQ(list.row(p).size, pageBody.size());
    // 复制选中... hands the written-out body to the copy dialog, and removes it afterwards.
    window.cacheView()->selectionModel()->select(
        list.index(p, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QStringList handed;
    QByteArray handedHash;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = window.findChild<Form_Copy_Move*>();
        if (dialog != nullptr && dialog->isVisible()) {
            handed = dialog->FileList;
            handedHash = handed.size() == 1 ? fileHash(handed.first()) : QByteArray();
            answer.stop();
            dialog->reject();
        }
    });
    answer.start(10);
    window.Command6_Click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !answer.isActive() && window.copyButton()->isEnabled(); }, 30000));
    ASSERT_EQ(handed.size(), 1);
    EXPECT_EQ(QFileInfo(handed.first()).fileName(), QStringLiteral("page.html"));
    EXPECT_EQ(handedHash, hashOf(pageBody));
    EXPECT_FALSE(QFileInfo::exists(handed.first()));
    EXPECT_TRUE(window.countLabel()->text().startsWith(QStringLiteral("共有")));

    // Select the page's row in the list and delete it through the button's handler.
    window.cacheView()->selectionModel()->select(
        list.index(p, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    window.Command2_Click();
    EXPECT_EQ(rowOf(list, pageUrl), -1);
    ASSERT_GE(rowOf(list, scriptUrl), 0);

    // 全部删除 leaves the entry whose address mentions cookies.
    window.Command3_Click();
    EXPECT_EQ(addresses(list), QStringList{scriptUrl});
}

TEST_F(RealProfileCache, ClearBrowserCacheEmptiesTheProfilesCacheAndSaysSo) {
    ASSERT_NO_FATAL_FAILURE(browse());
    BrowserCacheViewer viewer(CurrentCacheLocations());
    ASSERT_NO_FATAL_FAILURE(listUntilCached(&viewer));
    const QString cookies = BrowserProfile()->persistentStoragePath() + QStringLiteral("/Cookies");
    const QByteArray cookiesBefore = ReadFile(cookies);
    RecordingMessageBoxes boxes;
    EXPECT_TRUE(ClearBrowserCache(true));
    ASSERT_EQ(boxes.shown.size(), 2); // the question, then the completion
    EXPECT_EQ(boxes.shown.last().text, QStringLiteral("IE缓存清空完毕！"));
    EXPECT_EQ(boxes.shown.last().icon, MsgIcon::Information);
    viewer.查看我的缓存();
    EXPECT_EQ(rowOf(*viewer.cacheList(), server_.url(QStringLiteral("/page.html"))), -1);
    // The cookie store lives apart from the cache and is untouched.
    EXPECT_TRUE(QFileInfo::exists(cookies));
    EXPECT_EQ(ReadFile(cookies), cookiesBefore);
    // Without being asked, nothing is said beyond the question.
    EXPECT_TRUE(ClearBrowserCache(false));
    EXPECT_EQ(boxes.texts().mid(2), QStringList{"确定要清空浏览器缓存吗？"});
}
