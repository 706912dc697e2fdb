#pragma once
// A small library site on 127.0.0.1 that behaves as far as Quillax can tell like the real one:
// a search page, result pages with paging, record pages that carry the PDF address, generated
// PDFs, a login gate in front of the full texts, faults on chosen records and an update notice.
// Everything it serves is generated and deterministic: the same record number always gives the
// same title, page and PDF bytes.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QHttpServer;
class QHttpServerRequest;
class QFile;

namespace quillax::demo {

class FullTextServer;

/// The request log keeps the most recent this many requests ...
inline constexpr int kMaxLogEntries = 2000;
/// ... each with at most this many characters of its path and query.
inline constexpr int kMaxLoggedPathChars = 300;

struct DemoOptions {
    int records = 60;
    int perPage = 10;
    bool loginGate = true;
    QString account = QStringLiteral("demo");
    QString password = QStringLiteral("quillax");
    /// Empty: no log; "-": standard output; otherwise a folder for "requests.log".
    QString logTarget;
    int slowRecordMs = 3000;  ///< how long the slow record page takes to answer
    int dripBytes = 2048;     ///< the slow PDF comes in pieces of this size ...
    int dripIntervalMs = 100; ///< ... with this pause between them
    /// The version in /Quillax/newver.txt; empty: no notice (404), so a demo start announces no
    /// update unless asked to.
    QString notice;

    // Pushing back, as library databases do, deterministically: the flaky answers follow `seed`.
    /// At most this many PDFs a minute per client on each of the two servers (each host keeps its
    /// own turns, as a library's hosts do), evenly spaced, without a burst; beyond it a
    /// 429 whose Retry-After says exactly when the next one is let through. 0: no limit.
    int throttlePerMinute = 0;
    /// A login lasts this many minutes; then PDFs get the login page again. 0: for ever.
    int sessionMinutes = 0;
    /// This fraction of PDF requests is answered 503 with Retry-After: 1; such an answer does not
    /// use up the client's turn under the throttle.
    double flaky = 0;
    quint32 seed = 1;
    /// Milliseconds on a monotonic clock for the throttle and the sessions; empty: the real one.
    std::function<qint64()> nowMs;
};

/// One answered request, as the log keeps it.
struct LoggedRequest {
    qint64 atMs = 0; ///< on the site's clock (`DemoOptions::nowMs`)
    QByteArray method;
    QString path;
    int status = 0;
    int retryAfter = -1; ///< seconds sent with a 429 or 503; -1: none
};

/// How a record's PDF is delivered.
enum class Delivery {
    Length,            ///< with Content-Length
    LengthDisposition, ///< with Content-Length and a Content-Disposition file name
    Chunked,           ///< chunked, without a length
    NotFound,          ///< 404
    Truncated,         ///< the connection closes before the announced length
    Drip,              ///< slowly, a few bytes at a time
};

/// What a result entry and its record page offer.
enum class FullText { Pdf, Html, None };

/// What a record's PDF holds.
enum class PdfContent {
    Own,          ///< the record's paper, its title in the text and the metadata
    AnotherPaper, ///< another record's paper under this record's address
    DamagedFirst, ///< the first delivery starts like a PDF and is cut short; later ones are whole
    Scan,         ///< a page without a text layer
};

/// Where a reference manager's facts of a record can be read.
enum class CitationSource {
    MetaTags,       ///< the record page's citation_* meta tags, and the result entry's line
    DublinCore,     ///< the record page's DC.* meta tags only, and the result entry's line
    ResultLineOnly, ///< the result entry's line; the record page has no meta tags
    Nothing,        ///< neither: only the title, and the authors in the PDF's metadata
};

struct DemoRecord {
    int number = 0;
    QString title; ///< as the result page shows it (may need cleaning)
    FullText fullText = FullText::Pdf;
    bool hasPdfUrl = true; ///< the record page carries id="pdfUrl"
    int pdfNumber = 0;     ///< whose PDF the record page points at (a shared PDF is another's)
    Delivery delivery = Delivery::Length;
    bool slowRecordPage = false;
    PdfContent content = PdfContent::Own;

    // What a reference manager wants of the paper.
    CitationSource citationSource = CitationSource::MetaTags;
    QStringList authors; ///< "Family, Given", or a CJK name as one piece
    QString journal;
    int year = 0;
    QString month; ///< "Mar", as the result line writes it before the year
    QString volume;
    QString issue;
    int firstPage = 0;
    int lastPage = 0;
    QString doi;
    QString issn;
};

/// "Given Family" for "Family, Given"; a name of one piece stays as it is.
QString GivenFirst(const QString& familyFirst);

/// The record with 1-based number `n` (any number gives a record; the site serves 1 to its
/// record count only).
DemoRecord RecordAt(int n);
/// The record number in `text` when it is one of the site's records (1 to `records`, decimal
/// digits only); 0 otherwise.
int RecordNumber(const QString& text, int records);
/// The PDF of record `n`: a valid one-page PDF showing the title, 20 KB to about 3 MB.
QByteArray PdfBytes(int n);
/// A well-formed PDF of A4 pages with the given content streams; font /F1 is Helvetica.
QByteArray PdfOfPages(const QList<QByteArray>& pageContents);
/// A well-formed one-page PDF whose page draws a grey box and no text, as a scan without a
/// text layer.
QByteArray PdfWithoutText();
/// What a damaged delivery of record `n`'s PDF sends: its signature and first bytes only.
QByteArray DamagedPdfBytes(int n);
/// Numbers of the records listed on result page `page` (1-based) for `records` in pages of
/// `perPage`; page 2 repeats the last record of page 1, as real result lists sometimes do.
QVector<int> RecordsOnPage(int page, int records, int perPage);
int PageCount(int records, int perPage);

class DemoSite : public QObject {
    Q_OBJECT
public:
    explicit DemoSite(const DemoOptions& options, QObject* parent = nullptr);
    ~DemoSite() override;

    /// Listens on 127.0.0.1 (`port` 0: a free port) with the site, and on a free port with the
    /// full-text server for the answers that need socket control. False when it cannot listen.
    bool start(quint16 port = 0);
    /// "http://127.0.0.1:PORT/".
    QString baseUrl() const;
    /// The address of the full-text server, "http://127.0.0.1:PORT2/".
    QString fullTextBaseUrl() const;
    /// The PDF address that record `n`'s page carries (with "&", not "&amp;").
    QString pdfAddress(int n) const;
    /// The address of the login page.
    QString loginUrl() const { return baseUrl() + QStringLiteral("login"); }
    const DemoOptions& options() const { return options_; }
    /// The most recent requests answered (at most kMaxLogEntries), as "METHOD path status"
    /// lines; a longer path is cut to kMaxLoggedPathChars and marked with "…".
    const QStringList& requestLog() const { return log_; }
    /// The same requests with their times and Retry-After values.
    const QList<LoggedRequest>& requests() const { return requests_; }

private:
    /// Record `n`'s PDF as this delivery sends it (damaged the first time where the record says).
    QByteArray pdfBody(int n);
    QByteArray homePage() const;
    QByteArray resultPage(const QString& query, int page) const;
    QByteArray recordPage(int n) const;
    QByteArray detailPage(int n) const;
    QByteArray loginPage(const QString& error) const;
    QByteArray loggedInPage() const;
    bool hasSession(const QList<QPair<QByteArray, QByteArray>>& headers) const;
    QByteArray newSession();
    void logRequest(const QByteArray& method, const QString& path, int status, int retryAfter = -1);
    qint64 now() const;
    /// A "come back later" answer for a PDF request of `client` (status and Retry-After
    /// seconds), or nothing when the request goes through; a request let through is counted.
    std::optional<std::pair<int, int>> pushBack(const QString& serverAndClient);

    DemoOptions options_;
    std::unique_ptr<QHttpServer> site_;
    std::unique_ptr<FullTextServer> fullText_;
    std::unique_ptr<QFile> logFile_;
    quint16 port_ = 0;
    QHash<QByteArray, qint64> sessions_; ///< token → when it was made
    QList<QByteArray> sessionOrder_;     ///< oldest first
    static constexpr int kMaxSessions = 1000;
    QStringList log_;
    QList<LoggedRequest> requests_;
    QHash<QString, qint64> nextPdfMs_; ///< per server and client: when the next PDF goes through
    QSet<int> damagedSent_;            ///< records whose damaged first delivery has gone out
    QRandomGenerator flakyDice_;
};

/// Name of the session cookie that a login sets.
inline constexpr char kSessionCookie[] = "QXDEMOSESSION";

} // namespace quillax::demo
