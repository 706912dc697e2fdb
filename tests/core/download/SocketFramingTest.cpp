// Answers whose framing lies or breaks, read by both engines from the socket: a row ends stored
// only with the body its framing delivers whole, and fails otherwise with no file left; a good
// paper already there is never replaced by bytes that are no paper.

#include "EngineRunTest.h"

using namespace quillax;
using namespace quillax::test;

namespace {

QByteArray paperOf(qsizetype size, char seed) {
    QByteArray b("%PDF-1.4\n");
    while (b.size() < size - 7) {
        b.append(static_cast<char>(seed + (b.size() % 7) * 13));
    }
    return b + "\n%%EOF\n";
}

QByteArray chunked(const QByteArray& body, qsizetype piece) {
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += piece) {
        const QByteArray part = body.mid(at, piece);
        out += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
    }
    return out;
}

} // namespace

using SocketFramingTest = EngineRunTest;

TEST_F(SocketFramingTest, OnlyWhatTheFramingDeliversWholeIsStored) {
    const QByteArray paper = paperOf(50016, 'p');
    const QByteArray big = paperOf(6 * 1024 * 1024, 'b');
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n";
    struct Case {
        const char* what;
        QByteArray raw;
        QByteArray stored; ///< the file's bytes, or empty: the row fails and nothing stays
    };
    const Case cases[] = {
        {"chunked with a Content-Length too small: the chunks decide",
         head + "Content-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(paper, 4096) +
             "0\r\n\r\n",
         paper},
        {"chunked with a Content-Length too large: the chunks decide",
         head + "Content-Length: 100032\r\nTransfer-Encoding: chunked\r\n\r\n" +
             chunked(paper, 4096) + "0\r\n\r\n",
         paper},
        {"6 MB chunked under a status line without OK (the whole-body path)",
         "HTTP/1.1 200 Success\r\nContent-Type: application/pdf\r\nTransfer-Encoding: "
         "chunked\r\n\r\n" +
             chunked(big, 65536) + "0\r\n\r\n",
         big},
        {"trailers after the last chunk",
         head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(paper, 9999) +
             "0\r\nX-Sum: 1\r\n\r\n",
         paper},
        {"a trailer line that never ends",
         head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(paper, 4096) +
             "0\r\nX-T: " + QByteArray(200 * 1024, 'X'),
         {}},
        {"a chunk size written as 0x10",
         head + "Transfer-Encoding: chunked\r\n\r\n0x10\r\n" + paper.left(16) + "\r\n0\r\n\r\n",
         {}},
        // A length that is no plain number counts as none, in both engines alike.
        {"a length that is no number", head + "Content-Length: 5e4\r\n\r\n" + paper.left(30000),
         paper.left(30000)},
        {"a negative length", head + "Content-Length: -1\r\n\r\n" + paper.left(30000),
         paper.left(30000)},
        {"a head larger than 64 KB",
         head + "X-Pad: " + QByteArray(100 * 1024, 'p') + "\r\nContent-Length: 50016\r\n\r\n" +
             paper,
         {}},
    };
    int n = 0;
    for (const int method : {1, 2}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << "method " << method << ": " << c.what);
            fresh(method, DuplicateNamePolicy::Overwrite);
            Route route;
            route.raw = c.raw;
            const QByteArray path = "/f" + QByteArray::number(++n);
            server.route(path, route);
            list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Title"),
                          QStringLiteral("pdf"), folder, QString());
            ASSERT_TRUE(runToEnd());
            if (c.stored.isEmpty()) {
                EXPECT_EQ(list->item(0).status, ItemStatus::Failed);
                EXPECT_EQ(files(), QStringList{});
            } else {
                EXPECT_EQ(list->item(0).status, ItemStatus::Finished);
                EXPECT_EQ(files(), QStringList{QStringLiteral("Title.pdf")});
                EXPECT_EQ(FileSha256(folder + QStringLiteral("Title.pdf")), Sha256(c.stored));
            }
        }
    }
}

// Two lengths fail the row at once with their reason, under both methods; an address with a
// query and no path asks for "/?…"; bytes of no known type never replace a good paper.
TEST_F(SocketFramingTest, LyingLengthsOddAddressesAndUnknownBytes) {
    const QByteArray paper = paperOf(50016, 'g');
    for (const int method : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << "method " << method);
        fresh(method, DuplicateNamePolicy::Overwrite);
        Route two;
        two.raw = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nContent-Length: 9\r\n\r\n%PDF-xyz1";
        const QByteArray path = "/two" + QByteArray::number(method);
        server.route(path, two);
        list->addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Two"),
                      QStringLiteral("pdf"), folder, QString());
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(list->item(0).status, ItemStatus::Failed);
        EXPECT_EQ(list->item(0).reason, reasons::kConflictingLengths);
        EXPECT_EQ(server.requestCount(path), 1);

        fresh(method, DuplicateNamePolicy::Overwrite);
        const int before = static_cast<int>(server.requests().size());
        list->addItem(QStringLiteral("http://127.0.0.1:%1?id=%2").arg(server.port()).arg(method),
                      QStringLiteral("Query"), QStringLiteral("pdf"), folder, QString());
        ASSERT_TRUE(runToEnd());
        ASSERT_GT(server.requests().size(), before);
        EXPECT_EQ(server.requests().at(before).path, "/?id=" + QByteArray::number(method));

        fresh(method, DuplicateNamePolicy::Overwrite);
        ASSERT_TRUE(WriteFile(folder + QStringLiteral("Title.pdf"), paper));
        const QByteArray junk = QByteArray("\x00\x01\x02ZZ", 5) + QByteArray(30000, 'z');
        const QByteArray junkPath = "/junk" + QByteArray::number(method);
        server.route(junkPath, Serve(junk, "application/pdf"));
        list->addItem(server.url(QString::fromLatin1(junkPath)), QStringLiteral("Title"),
                      QStringLiteral("pdf"), folder, QString());
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(FileSha256(folder + QStringLiteral("Title.pdf")), Sha256(paper));
    }
}
