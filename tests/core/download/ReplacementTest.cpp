// A file the user has is never lost to a download of the same row or name that brings a web page
// (a lapsed session's login page) instead of the paper: every engine, every same-name policy,
// explicit and automatic re-downloads, adopted files. Files are compared by their SHA-256.

#include "core/download/ListOperations.h"

#include "EngineRunTest.h"

#include <QFile>

using namespace quillax;
using namespace quillax::test;

namespace {

QByteArray paper(char seed) {
    QByteArray b("%PDF-1.4\n");
    for (int i = 0; i < 40000; ++i) {
        b.append(static_cast<char>(seed + (i % 7) * 13));
    }
    return b + "\n%%EOF\n";
}

const QByteArray kLoginPage =
    "<!DOCTYPE html><html><head><title>Library login</title></head><body>"
    "<form method=\"post\" action=\"/login\"><input name=\"user\"><input type=\"password\" "
    "name=\"pass\"><input type=\"submit\" value=\"Log in\"></form></body></html>";

const char* policyName(DuplicateNamePolicy p) {
    return p == DuplicateNamePolicy::Skip        ? "skip"
           : p == DuplicateNamePolicy::Overwrite ? "overwrite"
                                                 : "rename";
}

} // namespace

using ReplacementTest = EngineRunTest;

// A finished row owns Title.pdf and is asked for again while the session has lapsed: the page
// that comes is kept as Title.htm, the paper stays byte for byte, and the next real PDF replaces
// it with nothing left beside it. Both engines, all three policies, an honest and a lying
// Content-Type for the page.
TEST_F(ReplacementTest, ALoginPageNeverTakesThePlaceOfTheStoredPaper) {
    int n = 0;
    for (const int method : {1, 2}) {
        for (const DuplicateNamePolicy policy :
             {DuplicateNamePolicy::Skip, DuplicateNamePolicy::Overwrite,
              DuplicateNamePolicy::Rename}) {
            for (const bool lying : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << "method " << method << ", " << policyName(policy)
                             << (lying ? ", page as application/pdf" : ""));
                fresh(method, policy);
                const QByteArray path = "/paper" + QByteArray::number(++n);
                const QByteArray first = paper('a');
                const QByteArray second = paper('q');
                server.routeSequence(path,
                                     {Serve(first, "application/pdf"),
                                      Serve(kLoginPage, lying ? "application/pdf" : "text/html"),
                                      Serve(second, "application/pdf")});
                list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Title"),
                              QStringLiteral("pdf"), folder, QString());
                ASSERT_TRUE(runToEnd());
                ASSERT_EQ(FileSha256(at(QStringLiteral("Title.pdf"))), Sha256(first));

                // 重新下载选中项 while the session has lapsed.
                list->setSelected(0, true);
                ASSERT_EQ(menu重新下载选中项(*list), 1);
                ASSERT_TRUE(runToEnd());
                EXPECT_EQ(FileSha256(at(QStringLiteral("Title.pdf"))), Sha256(first));
                EXPECT_EQ(list->item(0).type, QStringLiteral("htm"));
                EXPECT_EQ(FileSha256(rowPath(0)), Sha256(kLoginPage));
                EXPECT_EQ(files(),
                          (QStringList{QStringLiteral("Title.htm"), QStringLiteral("Title.pdf")}));

                // The session is back: the real paper replaces the old one, the page goes.
                list->setSelected(0, true);
                ASSERT_EQ(menu重新下载选中项(*list), 1);
                ASSERT_TRUE(runToEnd());
                EXPECT_EQ(list->item(0).status, ItemStatus::Finished);
                EXPECT_EQ(rowPath(0), at(QStringLiteral("Title.pdf")));
                EXPECT_EQ(FileSha256(at(QStringLiteral("Title.pdf"))), Sha256(second));
                EXPECT_EQ(files(), QStringList{QStringLiteral("Title.pdf")});
            }
        }
    }
}

// The same for a file the user had: one the row adopted (已存在，跳过) and asked for again, one a
// first download under 覆盖 meets, and a row the PDF check failed that the automatic re-download
// takes again.
TEST_F(ReplacementTest, TheUsersOwnFileAndAutomaticRetriesKeepTheirFile) {
    const QByteArray users = paper('u');
    int n = 0;
    for (const int method : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << "method " << method);
        {
            SCOPED_TRACE("adopted under skip, then asked for again");
            fresh(method, DuplicateNamePolicy::Skip);
            ASSERT_TRUE(WriteFile(at(QStringLiteral("Title.pdf")), users));
            const QByteArray path = "/adopted" + QByteArray::number(++n);
            server.route(path, Serve(kLoginPage, "application/pdf"));
            list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Title"),
                          QStringLiteral("pdf"), folder, QString());
            ASSERT_TRUE(runToEnd());
            ASSERT_TRUE(list->item(0).adoptedFile);
            list->setSelected(0, true);
            ASSERT_EQ(menu重新下载选中项(*list), 1);
            ASSERT_TRUE(runToEnd());
            EXPECT_EQ(FileSha256(at(QStringLiteral("Title.pdf"))), Sha256(users));
            EXPECT_EQ(list->item(0).type, QStringLiteral("htm"));
            EXPECT_EQ(files(),
                      (QStringList{QStringLiteral("Title.htm"), QStringLiteral("Title.pdf")}));
        }
        {
            SCOPED_TRACE("a first download under overwrite");
            fresh(method, DuplicateNamePolicy::Overwrite);
            ASSERT_TRUE(WriteFile(at(QStringLiteral("Title.pdf")), users));
            const QByteArray path = "/first" + QByteArray::number(++n);
            server.route(path, Serve(kLoginPage, "application/pdf"));
            list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Title"),
                          QStringLiteral("pdf"), folder, QString());
            ASSERT_TRUE(runToEnd());
            EXPECT_EQ(FileSha256(at(QStringLiteral("Title.pdf"))), Sha256(users));
            EXPECT_EQ(list->item(0).type, QStringLiteral("htm"));
        }
        {
            SCOPED_TRACE("a damaged PDF taken again by the automatic re-download");
            fresh(method, DuplicateNamePolicy::Rename);
            const QByteArray first = paper('d');
            const QByteArray path = "/damaged" + QByteArray::number(++n);
            server.routeSequence(path,
                                 {Serve(first, "application/pdf"), Serve(kLoginPage, "text/html")});
            list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Title"),
                          QStringLiteral("pdf"), folder, QString());
            ASSERT_TRUE(runToEnd());
            list->setStatus(0, ItemStatus::Failed); // as the PDF check marks a damaged file
            ASSERT_EQ(menu重新下载出错项(*list, ListRequest::Automatic), 1);
            list->setNotBefore(0, 0);
            ASSERT_TRUE(runToEnd());
            EXPECT_EQ(FileSha256(at(QStringLiteral("Title.pdf"))), Sha256(first));
            EXPECT_EQ(list->item(0).type, QStringLiteral("htm"));
            EXPECT_EQ(files(),
                      (QStringList{QStringLiteral("Title.htm"), QStringLiteral("Title.pdf")}));
        }
    }
}

// No web page is left under a document's name on a first download either, and a row whose last
// automatic attempt brought a page reads failed, saying so.
TEST_F(ReplacementTest, APageIsNeverStoredUnderADocumentsName) {
    int n = 0;
    for (const int method : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << "method " << method);
        fresh(method, DuplicateNamePolicy::Rename);
        const QByteArray path = "/page" + QByteArray::number(++n);
        server.route(path, Serve(kLoginPage, "application/pdf"));
        list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Title"),
                      QStringLiteral("pdf"), folder, QString());
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(files(), QStringList{QStringLiteral("Title.htm")});
        EXPECT_EQ(list->item(0).status, ItemStatus::Finished);

        list->setAutoAttempts(0, kMaxAutoAttempts - 1);
        ASSERT_EQ(menu重新下载文件类型为HTM和HTML项(*list, ListRequest::Automatic), 1);
        list->setNotBefore(0, 0);
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(list->item(0).status, ItemStatus::Failed);
        EXPECT_EQ(list->item(0).reason, reasons::kLoginPageInstead);
        EXPECT_EQ(files(), QStringList{}); // a failed row leaves no file of its own
    }
}

// A chunked body cut inside a chunk, after twenty whole 64 KB chunks: whatever the status (203
// sends method 1 down its whole-body path) and whatever the engine, the row fails and no file
// of it stays. Repeated, since whether the cut shows can depend on when the close is read.
TEST_F(ReplacementTest, AChunkedBodyCutInsideAChunkIsNeverStored) {
    QByteArray pdfBody = paper('c');
    pdfBody = pdfBody.repeated(40); // more than the 21 chunks sent
    QByteArray chunks;
    for (int i = 0; i < 20; ++i) {
        chunks += "10000\r\n" + pdfBody.mid(i * 0x10000, 0x10000) + "\r\n";
    }
    chunks += "10000\r\n" + pdfBody.mid(20 * 0x10000, 2); // the chunk announced, then the close
    int n = 0;
    for (const int method : {1, 2}) {
        for (const QByteArray& status :
             {QByteArray("203 Non-Authoritative Information"), QByteArray("200 OK")}) {
            SCOPED_TRACE(::testing::Message() << "method " << method << ", " << status.data());
            fresh(method, DuplicateNamePolicy::Rename);
            Route cut;
            cut.raw = "HTTP/1.1 " + status +
                      "\r\nContent-Type: application/pdf\r\nTransfer-Encoding: chunked\r\n\r\n" +
                      chunks;
            for (int i = 0; i < 20; ++i) {
                const QByteArray path = "/cut" + QByteArray::number(++n);
                server.route(path, cut);
                list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("F%1").arg(i),
                              QStringLiteral("pdf"), folder, QString());
            }
            ASSERT_TRUE(runToEnd());
            for (int row = 0; row < list->count(); ++row) {
                EXPECT_EQ(list->item(row).status, ItemStatus::Failed) << row;
            }
            EXPECT_EQ(files(), QStringList{});
        }
    }
}

// Two rows of one name under 跳过: the second is skipped behind the first's placeholder; when the
// first fails, the second fetches its own paper instead of reading 已存在，跳过 with no file.
TEST_F(ReplacementTest, ASkipBehindADownloadThatFailedFetchesItsOwnPaper) {
    fresh(2, DuplicateNamePolicy::Skip);
    Route missing;
    missing.status = 404;
    missing.reason = "Not Found";
    missing.body = "gone";
    missing.delayHeadersMs = 800;
    server.route("/first", missing);
    const QByteArray second = paper('s');
    server.route("/second", Serve(second, "application/pdf"));
    list->addItem(server.url(QStringLiteral("/first")), QStringLiteral("Same"),
                  QStringLiteral("pdf"), folder, QString());
    list->addItem(server.url(QStringLiteral("/second")), QStringLiteral("Same"),
                  QStringLiteral("pdf"), folder, QString());
    state.LastFinishMonotonicMs = MonotonicMs() - 1;
    scheduler->StartMonitor();
    scheduler->Start();
    // The run goes on while the monitor looks: the second row ends with its own file.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return list->item(0).status == ItemStatus::Failed &&
                   list->item(1).status == ItemStatus::Finished &&
                   list->item(1).percent != status_words::kExistsSkipped;
        },
        10000));
    scheduler->StopTimers();
    EXPECT_EQ(list->item(0).status, ItemStatus::Failed);
    EXPECT_EQ(list->item(1).status, ItemStatus::Finished);
    EXPECT_NE(list->item(1).percent, status_words::kExistsSkipped);
    EXPECT_EQ(FileSha256(at(QStringLiteral("Same.pdf"))), Sha256(second));
    EXPECT_EQ(server.requestCount("/second"), 1);
}
