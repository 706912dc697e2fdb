#include "DemoSite.h"

#include <QDateTime>
#include <QElapsedTimer>

#include "BoundedHttp.h"

#include <QDir>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QRandomGenerator>
#include <QTextStream>
#include <QUrlQuery>
#include <cstdio>

namespace quillax::demo {

namespace {

// Records with something special about them (only those within the record count exist).
constexpr int kForbiddenCharsTitle = 3;
constexpr int kHtmlOnly[] = {4, 33};
constexpr int kLongTitle = 5;
constexpr int kNoFullText[] = {6, 47};
constexpr int kSpacedTitle = 7;
constexpr int kNoPdfUrl[] = {8, 25, 42};
constexpr int kSameTitleA = 9;
constexpr int kSameTitleB = 10;
constexpr int kChineseMarksTitle = 12;
constexpr int kPdf404 = 15;
constexpr int kPdfTruncated = 16;
constexpr int kPdfDrip = 17;
constexpr int kSlowRecordPage = 18;
constexpr int kSharedPdfOwner = 20;
constexpr int kSharedPdfUser = 21;
constexpr int kBigPdf = 30;
constexpr int kAnotherPaper = 58; ///< serves record 1's paper
constexpr int kDamagedFirst = 59;
constexpr int kScan = 60;
// Citations: most record pages carry citation meta tags; these do not.
constexpr int kCitationResultLineOnly[] = {11, 22};
constexpr int kCitationNothing = 13;
constexpr int kCitationDublinCore = 14;

template <std::size_t N> bool in(const int (&set)[N], int n) {
    for (int v : set) {
        if (v == n) {
            return true;
        }
    }
    return false;
}

const char* const kTopicsEn[] = {
    "Citation networks",       "Open access publishing",    "Peer review",
    "Research data sharing",   "Bibliometric indicators",   "Scholarly communication",
    "Reading behaviour",       "Library discovery systems", "Altmetrics",
    "Academic search engines", "Preprint servers"};
const char* const kFieldsEn[] = {"medicine",  "economics",        "materials science", "psychology",
                                 "education", "computer science", "linguistics"};
const char* const kKindsEn[] = {"a longitudinal study", "a systematic review",
                                "evidence from "
                                "survey data",
                                "a case study", "a comparative analysis"};
const char* const kTopicsZh[] = {"开放获取",     "引文网络",     "同行评议",     "科研数据共享",
                                 "文献计量指标", "学术交流模式", "数字阅读行为", "图书馆发现系统"};
const char* const kFieldsZh[] = {"医学研究", "经济学",   "材料科学",
                                 "心理学",   "高等教育", "计算机科学"};

const char* const kFamilies[] = {"Smith",     "Chen",     "Müller",   "García-López",
                                 "O'Brien",   "Nakamura", "Kowalski", "Okafor",
                                 "Johansson", "Rossi",    "Dubois",   "Kim"};
const char* const kGivens[] = {"John", "Wei",   "Jürgen", "María",  "Seán",   "Yuki",
                               "Anna", "Chidi", "Erik",   "Giulia", "Claire", "Min-jun"};
const char* const kJournals[] = {"Journal of Scholarly Metrics", "Library Hi Tech & Practice",
                                 "Research Evaluation Letters", "Scientometrics Review",
                                 "Learned Publishing Quarterly"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The authors, journal, issue and pages of record `n`, generated like its title.
void fillCitation(DemoRecord& r) {
    const int n = r.number;
    const auto at = [](const auto& table, qint64 i) {
        const qint64 size = static_cast<qint64>(std::size(table));
        return QString::fromUtf8(table[((i % size) + size) % size]);
    };
    if (n == kChineseMarksTitle) {
        r.authors = {QStringLiteral("王芳"), QStringLiteral("李明")};
        r.journal = QStringLiteral("图书情报工作");
    } else {
        for (int i = 0; i < 1 + ((n % 3) + 3) % 3; ++i) {
            r.authors << at(kFamilies, n * 5 + i * 7) + QStringLiteral(", ") +
                             at(kGivens, n * 3 + i * 5);
        }
        r.journal = n == kForbiddenCharsTitle ? QStringLiteral("Research & Practice: 100% Open")
                                              : at(kJournals, n);
    }
    r.year = 2000 + ((n % 25) + 25) % 25;
    r.month = at(kMonths, n);
    r.volume = QString::number(r.year - 1990);
    r.issue = QString::number(1 + ((n % 4) + 4) % 4);
    r.firstPage = 1 + ((n * 37 % 300) + 300) % 300;
    r.lastPage = r.firstPage + 5 + ((n % 20) + 20) % 20;
    r.doi = QStringLiteral("10.5555/qxdemo.%1").arg(n);
    r.issn = QStringLiteral("2049-%1").arg(1000 + static_cast<int>(r.journal.size()) * 37 % 9000);
    r.citationSource = in(kCitationResultLineOnly, n) ? CitationSource::ResultLineOnly
                       : n == kCitationNothing        ? CitationSource::Nothing
                       : n == kCitationDublinCore     ? CitationSource::DublinCore
                                                      : CitationSource::MetaTags;
}

QString generatedTitle(int n) {
    const auto pick = [n](const auto& table, int salt) {
        const qint64 size = static_cast<qint64>(std::size(table));
        const qint64 mixed = static_cast<qint64>(n) * 7 + salt * 3 + n / size;
        return QString::fromUtf8(table[((mixed % size) + size) % size]); // within the table
    };
    if (n % 2 == 0) {
        return pick(kTopicsZh, 1) + QStringLiteral("对") + pick(kFieldsZh, 2) +
               QStringLiteral("的影响研究（第%1号）").arg(n);
    }
    return pick(kTopicsEn, 1) + QStringLiteral(" in ") + pick(kFieldsEn, 2) + QStringLiteral(": ") +
           pick(kKindsEn, 3) + QStringLiteral(" (no. %1)").arg(n);
}

QString escapeHtml(const QString& text) {
    return text.toHtmlEscaped();
}

// Text for a PDF string in the page: printable ASCII only (the base font has no other
// glyphs), with the string's own delimiters escaped.
QByteArray pdfText(const QString& text) {
    QByteArray out;
    for (QChar c : text) {
        const ushort u = c.unicode();
        char ch = (u >= 32 && u < 127) ? static_cast<char>(u) : '?';
        if (ch == '(' || ch == ')' || ch == '\\') {
            out += '\\';
        }
        out += ch;
    }
    return out;
}

QByteArray utf16Hex(const QString& text) {
    QByteArray out = "FEFF";
    for (QChar c : text) {
        out += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
    }
    return out;
}

// The result entry's line: authors (each a link, as result lists make them), source, date,
// volume, issue and pages; a record without a citation shows only the kind of source.
QString resultLine(const DemoRecord& r) {
    if (r.citationSource == CitationSource::Nothing) {
        return QStringLiteral("学术期刊");
    }
    QStringList authors;
    for (const QString& a : r.authors) {
        authors << QStringLiteral("<a href=\"/results?q=%1\">%2</a>")
                       .arg(QString::fromLatin1(QUrl::toPercentEncoding(a)), escapeHtml(a));
    }
    return QStringLiteral("作者: %1. 来源: %2. %3%4, Vol. %5 Issue %6, p%7-%8.")
        .arg(authors.join(QStringLiteral("; ")), escapeHtml(r.journal), r.month,
             QString::number(r.year), r.volume, r.issue, QString::number(r.firstPage),
             QString::number(r.lastPage));
}

// The record page's citation meta tags, as reference managers read them. Even records write
// their authors "Given Family", odd ones "Family, Given": sites do both.
QString citationMeta(const DemoRecord& r) {
    QString out;
    const auto tag = [&out](const QString& name, const QString& content) {
        out += QStringLiteral("<meta name=\"%1\" content=\"%2\">\n").arg(name, escapeHtml(content));
    };
    if (r.citationSource == CitationSource::MetaTags) {
        tag(QStringLiteral("citation_title"), r.title.simplified());
        for (const QString& a : r.authors) {
            tag(QStringLiteral("citation_author"), r.number % 2 == 0 ? GivenFirst(a) : a);
        }
        tag(QStringLiteral("citation_publication_date"),
            QStringLiteral("%1/%2/15").arg(r.year).arg(1 + r.number % 12, 2, 10, QLatin1Char('0')));
        tag(QStringLiteral("citation_journal_title"), r.journal);
        tag(QStringLiteral("citation_volume"), r.volume);
        tag(QStringLiteral("citation_issue"), r.issue);
        tag(QStringLiteral("citation_firstpage"), QString::number(r.firstPage));
        tag(QStringLiteral("citation_lastpage"), QString::number(r.lastPage));
        tag(QStringLiteral("citation_doi"), r.doi);
        tag(QStringLiteral("citation_issn"), r.issn);
    } else if (r.citationSource == CitationSource::DublinCore) {
        tag(QStringLiteral("DC.title"), r.title.simplified());
        for (const QString& a : r.authors) {
            tag(QStringLiteral("DC.creator"), a);
        }
        tag(QStringLiteral("DC.date"), QString::number(r.year));
        tag(QStringLiteral("DC.source"), r.journal);
        tag(QStringLiteral("DC.identifier"), QStringLiteral("doi:") + r.doi);
    }
    return out;
}

QString pageHead(const QString& title, const QString& extraHead = {}) {
    return QStringLiteral(R"HTML(<!DOCTYPE html>
<html lang="zh-cn"><head><meta charset="utf-8">
<title>%1</title>
%2<link rel="stylesheet" type="text/css" href="/css/site.css">
<style>body{font-family:sans-serif;margin:0} #header{background:#1d4f91;color:#fff;padding:8px}
#header a{color:#fff;margin-right:12px} .result-list-li{margin:10px 0;list-style:none}
.content-footer a{margin:0 4px} .record-type{font-size:small;margin-left:8px}</style>
<script type="text/javascript">
  var ep = { clientData: { site: "demo", pageSize: 10 } };
  function trackClick(name) { ep.lastClick = name; return true; }
</script>
</head>
<body class="ehost">
<div id="header"><b>演示文献库</b> <a href="/">新检索</a> <a href="/publications">出版物</a>
  <a href="/login">登录</a> <a href="javascript:void(0)" onclick="trackClick('help')">帮助</a></div>
)HTML")
        .arg(escapeHtml(title), extraHead);
}

const QString kPageTail =
    QStringLiteral(R"HTML(<div id="footer">© 演示文献库 · 仅供 Quillax 演示</div>
<script>document.body.setAttribute("data-ready", "1");</script>
</body></html>
)HTML");

QByteArray html(const QString& text) {
    return text.toUtf8();
}

QHttpServerResponse
htmlResponse(const QByteArray& body,
             QHttpServerResponse::StatusCode status = QHttpServerResponse::StatusCode::Ok) {
    return QHttpServerResponse("text/html; charset=utf-8", body, status);
}

} // namespace

QString GivenFirst(const QString& familyFirst) {
    const qsizetype comma = familyFirst.indexOf(QLatin1Char(','));
    if (comma < 0) {
        return familyFirst;
    }
    return familyFirst.mid(comma + 1).trimmed() + QLatin1Char(' ') + familyFirst.left(comma);
}

DemoRecord RecordAt(int n) {
    DemoRecord r;
    r.number = n;
    r.pdfNumber = n;
    switch (n) {
    case kForbiddenCharsTitle:
        r.title =
            QStringLiteral(R"T(Risk: A/B testing \ "why?" <draft> | *final* in citation studies)T");
        break;
    case kLongTitle:
        r.title = QStringLiteral(
            "A very long title about the measurement of research impact across disciplines, "
            "countries and decades, with notes on data quality, coverage of the indexes, "
            "field normalisation and the limits of every single indicator that is used today");
        break;
    case kSpacedTitle:
        r.title = QStringLiteral("  \r\n  Editorial:\r\n notes on open citation data  \n ");
        break;
    case kSameTitleA:
    case kSameTitleB:
        r.title = QStringLiteral("Book Review");
        break;
    case kChineseMarksTitle:
        r.title = QStringLiteral("数字图书馆：读者行为分析/调查？“问卷”与*访谈*");
        break;
    default:
        r.title = generatedTitle(n);
        break;
    }
    if (in(kHtmlOnly, n)) {
        r.fullText = FullText::Html;
    } else if (in(kNoFullText, n)) {
        r.fullText = FullText::None;
    }
    r.hasPdfUrl = !in(kNoPdfUrl, n);
    if (n == kSharedPdfUser) {
        r.pdfNumber = kSharedPdfOwner;
    }
    r.slowRecordPage = n == kSlowRecordPage;
    fillCitation(r);
    r.content = n == kAnotherPaper   ? PdfContent::AnotherPaper
                : n == kDamagedFirst ? PdfContent::DamagedFirst
                : n == kScan         ? PdfContent::Scan
                                     : PdfContent::Own;
    const int pdf = r.pdfNumber;
    if (pdf == kPdf404) {
        r.delivery = Delivery::NotFound;
    } else if (pdf == kPdfTruncated) {
        r.delivery = Delivery::Truncated;
    } else if (pdf == kPdfDrip) {
        r.delivery = Delivery::Drip;
    } else if (pdf % 3 == 0) {
        r.delivery = Delivery::Chunked;
    } else if (pdf % 4 == 1) {
        r.delivery = Delivery::LengthDisposition;
    } else {
        r.delivery = Delivery::Length;
    }
    return r;
}

QByteArray PdfOfPages(const QList<QByteArray>& pageContents) {
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    const auto object = [&](const QByteArray& body) {
        offsets << out.size();
        out += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    QByteArray kids;
    for (qsizetype p = 0; p < pageContents.size(); ++p) {
        kids += QByteArray::number(4 + 2 * p) + " 0 R ";
    }
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [" + kids + "] /Count " +
           QByteArray::number(pageContents.size()) + " >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (qsizetype p = 0; p < pageContents.size(); ++p) {
        object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << "
               "/F1 3 0 R >> >> /Contents " +
               QByteArray::number(5 + 2 * p) + " 0 R >>");
        object("<< /Length " + QByteArray::number(pageContents[p].size()) + " >>\nstream\n" +
               pageContents[p] + "endstream");
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype at : offsets) {
        out += QByteArray::number(at).rightJustified(10, '0') + " 00000 n \n";
    }
    out += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

QByteArray PdfWithoutText() {
    return PdfOfPages({"0.5 g 50 50 400 600 re f\n"});
}

QByteArray DamagedPdfBytes(int n) {
    return PdfBytes(n).left(300);
}

QByteArray PdfBytes(int n) {
    const DemoRecord record = RecordAt(n);
    if (record.content == PdfContent::AnotherPaper) {
        return PdfBytes(1);
    }
    if (record.content == PdfContent::Scan) {
        return PdfWithoutText();
    }
    // The page: the title in lines of at most 70 characters.
    QByteArray content = "BT /F1 16 Tf 50 790 Td (Quillax demo library, record " +
                         QByteArray::number(n) + ") Tj 0 -28 Td /F1 11 Tf\n";
    const QString title = record.title.simplified();
    for (int from = 0; from < title.size(); from += 70) {
        content += "(" + pdfText(title.mid(from, 70)) + ") Tj 0 -15 Td\n";
    }
    content += "ET\n";
    // Filler that makes the sizes realistic: a stream no page uses, from a generator seeded by
    // the record number.
    qint64 fillerSize = 20 * 1024 + (((static_cast<qint64>(n) * 7919 % 37) + 37) % 37) * 40 * 1024;
    if (n == kBigPdf) {
        fillerSize = 3 * 1024 * 1024;
    } else if (n == kPdfDrip) {
        fillerSize = 24 * 1024;
    }
    QByteArray filler(fillerSize, Qt::Uninitialized);
    quint32 state = 2463534242U ^ static_cast<quint32>(n) * 2654435761U;
    for (qint64 i = 0; i < fillerSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        filler[i] = static_cast<char>(state & 0xFF);
    }

    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QVector<qint64> offsets;
    const auto object = [&](const QByteArray& body) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 "
           "0 R >> >> /Contents 5 0 R >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    object("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
           "\nendstream");
    object("<< /Length " + QByteArray::number(filler.size()) + " >>\nstream\n" + filler +
           "\nendstream");
    object("<< /Title <" + utf16Hex(title) + "> /Author <" +
           utf16Hex(record.authors.join(QStringLiteral("; "))) +
           "> /Producer (Quillax demo site) >>");
    const qint64 xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (qint64 offset : offsets) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) +
           " /Root 1 0 R /Info 7 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

int PageCount(int records, int perPage) {
    if (records <= 0 || perPage <= 0) {
        return 1;
    }
    return (records + perPage - 1) / perPage;
}

QVector<int> RecordsOnPage(int page, int records, int perPage) {
    QVector<int> out;
    if (perPage <= 0 || page < 1 || page > PageCount(records, perPage)) {
        return out;
    }
    if (page == 2) {
        out.append(perPage); // the last record of page 1 again
    }
    for (int n = (page - 1) * perPage + 1; n <= std::min(records, page * perPage); ++n) {
        out.append(n);
    }
    return out;
}

int RecordNumber(const QString& text, int records) {
    if (text.isEmpty() || text.size() > 9) {
        return 0;
    }
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return 0; // no sign, space or other digits: "-100", " 5", "5abc"
        }
    }
    const int n = text.toInt();
    return n >= 1 && n <= records ? n : 0;
}

DemoSite::DemoSite(const DemoOptions& options, QObject* parent)
    : QObject(parent), options_(options), flakyDice_(options.seed) {}

qint64 DemoSite::now() const {
    if (options_.nowMs) {
        return options_.nowMs();
    }
    static QElapsedTimer clock;
    if (!clock.isValid()) {
        clock.start();
    }
    return clock.elapsed();
}

std::optional<std::pair<int, int>> DemoSite::pushBack(const QString& serverAndClient) {
    const qint64 t = now();
    if (options_.throttlePerMinute > 0) {
        const qint64 next = nextPdfMs_.value(serverAndClient, t);
        if (t < next) {
            // Rounded up: a client that waits exactly this long is let through.
            return std::make_pair(429, static_cast<int>((next - t + 999) / 1000));
        }
    }
    // A failed answer delivers nothing, so it leaves the client's turn unused: obeying its
    // Retry-After must not run into the throttle.
    if (options_.flaky > 0 && flakyDice_.generateDouble() < options_.flaky) {
        return std::make_pair(503, 1);
    }
    if (options_.throttlePerMinute > 0) {
        // Evenly spaced, no burst; the spacing is rounded up so a minute never holds more.
        const qint64 spacing =
            (60'000 + options_.throttlePerMinute - 1) / options_.throttlePerMinute;
        nextPdfMs_.insert(serverAndClient, t + spacing);
    }
    return std::nullopt;
}

DemoSite::~DemoSite() = default;

QString DemoSite::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(port_);
}

QString DemoSite::fullTextBaseUrl() const {
    return fullText_ ? QStringLiteral("http://127.0.0.1:%1/").arg(fullText_->port()) : QString();
}

QString DemoSite::pdfAddress(int n) const {
    const DemoRecord r = RecordAt(n);
    const bool socketControl = r.delivery == Delivery::Chunked ||
                               r.delivery == Delivery::Truncated || r.delivery == Delivery::Drip;
    return (socketControl ? fullTextBaseUrl() : baseUrl()) +
           QStringLiteral("pdf/%1.pdf?sid=demo-%1&an=QX%1").arg(r.pdfNumber);
}

void DemoSite::logRequest(const QByteArray& method, const QString& path, int status,
                          int retryAfter) {
    // A long query is kept only in part: the log must not grow with what clients send.
    const QString shown = path.size() > kMaxLoggedPathChars
                              ? path.left(kMaxLoggedPathChars) + QStringLiteral("…")
                              : path;
    const QString line = QString::fromLatin1(method.left(16)) + QLatin1Char(' ') + shown +
                         QLatin1Char(' ') + QString::number(status);
    log_.append(line);
    requests_.append(LoggedRequest{now(), method.left(16), shown, status, retryAfter});
    while (log_.size() > kMaxLogEntries) {
        log_.removeFirst();
        requests_.removeFirst();
    }
    // The written log also says when, to the millisecond and with the date (the file is appended
    // to run after run), and how long the site asked the client to wait.
    const QString written =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz ")) + line +
        (retryAfter >= 0 ? QStringLiteral(" retry-after=%1").arg(retryAfter) : QString());
    if (options_.logTarget == QLatin1String("-")) {
        std::fprintf(stdout, "%s\n", written.toUtf8().constData());
        std::fflush(stdout);
    } else if (logFile_) {
        logFile_->write(written.toUtf8() + '\n');
        logFile_->flush();
    }
}

bool DemoSite::hasSession(const QList<QPair<QByteArray, QByteArray>>& headers) const {
    for (const auto& [name, value] : headers) {
        if (name.compare("cookie", Qt::CaseInsensitive) != 0) {
            continue;
        }
        const QList<QByteArray> parts = value.split(';');
        for (const QByteArray& part : parts) {
            const QByteArray p = part.trimmed();
            const qsizetype eq = p.indexOf('=');
            if (eq > 0 && p.left(eq) == kSessionCookie) {
                const auto session = sessions_.constFind(p.mid(eq + 1));
                // A session lapses after its minutes, as a real one does in a long run.
                if (session != sessions_.constEnd() &&
                    (options_.sessionMinutes <= 0 ||
                     now() - *session < static_cast<qint64>(options_.sessionMinutes) * 60'000)) {
                    return true;
                }
            }
        }
    }
    return false;
}

QByteArray DemoSite::newSession() {
    const QByteArray token =
        QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
    sessions_.insert(token, now());
    sessionOrder_.append(token);
    // The oldest logins lapse, so repeated logins cannot fill the memory.
    while (sessionOrder_.size() > kMaxSessions) {
        sessions_.remove(sessionOrder_.takeFirst());
    }
    return token;
}

QByteArray DemoSite::homePage() const {
    return html(pageHead(QStringLiteral("演示文献库: 基本检索")) +
                QStringLiteral(R"HTML(
<div id="content"><h2>基本检索</h2>
<form id="searchForm" name="searchForm" method="get" action="/results">
  <input type="text" id="SearchTerm1" name="q" size="50" value="citation">
  <input type="submit" id="SearchButton" value="检索">
</form>
<p>检索任意词语即可看到 %1 条演示记录。</p>
<ul class="search-tips"><li><a href="/help/tips">检索技巧</a></li>
<li><a href="/publications">浏览出版物</a></li></ul>
</div>
)HTML")
                    .arg(options_.records) +
                kPageTail);
}

QByteArray DemoSite::resultPage(const QString& query, int page) const {
    const int pages = PageCount(options_.records, options_.perPage);
    QString body = pageHead(QStringLiteral("演示文献库: 结果: ") + query);
    const QString q = QString::fromLatin1(QUrl::toPercentEncoding(query));
    body += QStringLiteral(R"HTML(<form name="aspnetForm" method="post" action="/results">
<div id="content">
  <div class="result-list-facets"><h3>精确检索结果</h3>
    <a class="facet" href="/results?q=%1&amp;limiter=FT">全文</a>
    <a class="record-type pdf-ft" href="/facet/pdf">PDF 全文</a></div>
  <p class="page-title">第 %2 页，共 %3 页（%4 条结果）</p>
  <div id="resultListControl" class="result-list-wrapper"><ul class="result-list">
)HTML")
                .arg(q)
                .arg(page)
                .arg(pages)
                .arg(options_.records);
    const QVector<int> numbers = RecordsOnPage(page, options_.records, options_.perPage);
    for (int n : numbers) {
        const DemoRecord r = RecordAt(n);
        const QString recordHref =
            (r.slowRecordPage ? fullTextBaseUrl() : QStringLiteral("/")) +
            QStringLiteral("record?rec=%1&amp;db=demo&amp;from=results").arg(n);
        body +=
            QStringLiteral(
                R"HTML(    <li class="result-list-li"><span class="record-index">%1.</span><div class="result-list-record">
      <a class="title-link color-p4" href="/detail?rec=%1&amp;db=demo">%2</a>
      <div class="display-info">%3</div>
)HTML")
                .arg(n)
                .arg(escapeHtml(r.title))
                .arg(resultLine(r));
        if (r.fullText == FullText::Pdf) {
            body +=
                QStringLiteral(
                    R"HTML(      <a class="record-type html-ft" href="/detail?rec=%1&amp;view=html">HTML 全文</a>
      <a class="record-type pdf-ft" href="%2">PDF 全文</a>
)HTML")
                    .arg(n)
                    .arg(recordHref);
        } else if (r.fullText == FullText::Html) {
            body +=
                QStringLiteral(
                    R"HTML(      <a class="record-type html-ft" href="/detail?rec=%1&amp;view=html">HTML 全文</a>
)HTML")
                    .arg(n);
        } else {
            body += QStringLiteral("      <span class=\"no-fulltext\">无全文</span>\n");
        }
        body += QStringLiteral("    </div></li>\n");
    }
    body += QStringLiteral("  </ul></div>\n  <div class=\"content-footer\">");
    const auto link = [&q](int p, const QString& text) {
        return QStringLiteral("<a href=\"/results?q=%1&amp;page=%2\">%3</a> ")
            .arg(q)
            .arg(p)
            .arg(text);
    };
    if (page > 1) {
        body += link(page - 1, QStringLiteral("上一个"));
    }
    for (int p = 1; p <= pages; ++p) {
        body += p == page ? QStringLiteral("<b>%1</b> ").arg(p) : link(p, QString::number(p));
    }
    if (page < pages) {
        body += link(page + 1, QStringLiteral("下一个"));
    }
    body += QStringLiteral("</div>\n</div></form>\n") + kPageTail;
    return html(body);
}

QByteArray DemoSite::recordPage(int n) const {
    const DemoRecord r = RecordAt(n);
    QString body =
        pageHead(QStringLiteral("演示文献库: 全文: ") + r.title.simplified(), citationMeta(r));
    body += QStringLiteral(R"HTML(<div id="content" class="pdf-viewer">
  <h2>%1</h2>
  <form id="viewerForm" method="post" action="/record?rec=%2">
    <input type="hidden" id="__VIEWSTATE" value="dDwtMTA4NzA0NjQ3Mjs7Pg==">
)HTML")
                .arg(escapeHtml(r.title.simplified()))
                .arg(n);
    if (r.hasPdfUrl) {
        QString address = pdfAddress(n);
        address.replace(QLatin1String("&"), QLatin1String("&amp;"));
        body +=
            QStringLiteral("    <input type=\"hidden\" id=\"pdfUrl\" value=\"%1\">\n").arg(address);
    }
    body += QStringLiteral(R"HTML(  </form>
  <div id="pdfContainer"><p>正在载入 PDF 全文…</p><a href="/detail?rec=%1">返回记录</a></div>
</div>
)HTML")
                .arg(n);
    return html(body + kPageTail);
}

QByteArray DemoSite::detailPage(int n) const {
    const DemoRecord r = RecordAt(n);
    return html(pageHead(QStringLiteral("演示文献库: 详细记录")) +
                QStringLiteral("<div id=\"content\"><h2>%1</h2><p>记录号 QX%2</p></div>\n")
                    .arg(escapeHtml(r.title.simplified()))
                    .arg(n) +
                kPageTail);
}

QByteArray DemoSite::loginPage(const QString& error) const {
    QString body = pageHead(QStringLiteral("演示文献库: 登录"));
    body += QStringLiteral(R"HTML(<div id="content" class="login">
  <h2>机构用户登录</h2>
)HTML");
    if (!error.isEmpty()) {
        body += QStringLiteral("  <p class=\"error\" id=\"loginError\">%1</p>\n").arg(error);
    }
    body +=
        QStringLiteral(R"HTML(  <form id="loginForm" name="loginForm" method="post" action="/login">
    <label for="userid">账号</label> <input type="text" id="userid" name="userid">
    <label for="password">密码</label> <input type="password" id="password" name="password">
    <input type="submit" id="login" name="login" value="登录">
  </form>
  <form id="ipForm" method="post" action="/login/ip">
    <input type="submit" id="submitip" name="submitip" value="IP 登录">
  </form>
</div>
)HTML");
    return html(body + kPageTail);
}

QByteArray DemoSite::loggedInPage() const {
    return html(pageHead(QStringLiteral("演示文献库: 登录成功")) +
                QStringLiteral("<div id=\"content\"><h2 id=\"loggedIn\">登录成功</h2>"
                               "<p><a href=\"/\">返回检索</a></p></div>\n") +
                kPageTail);
}

bool DemoSite::start(quint16 port) {
    if (!options_.logTarget.isEmpty() && options_.logTarget != QLatin1String("-")) {
        QDir().mkpath(options_.logTarget);
        logFile_ = std::make_unique<QFile>(options_.logTarget + QStringLiteral("/requests.log"));
        if (!logFile_->open(QIODevice::WriteOnly | QIODevice::Append)) {
            logFile_.reset();
        }
    }
    // The full-text server: PDFs that need control of the socket, and the slow record page.
    fullText_ = std::make_unique<FullTextServer>([this](const RequestHead& request) {
        const QString path = QString::fromLatin1(request.target);
        const QUrl url(path);
        const QUrlQuery query(url);
        Reply reply;
        reply.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        const auto notFound = [&reply] {
            reply.status = 404;
            reply.reason = "Not Found";
            reply.body = "<html><body>404</body></html>";
        };
        if (url.path() == QLatin1String("/record")) {
            const int n =
                RecordNumber(query.queryItemValue(QStringLiteral("rec")), options_.records);
            if (n == 0) {
                notFound();
            } else {
                reply.body = recordPage(n);
                reply.delayHeadersMs = options_.slowRecordMs;
            }
        } else if (url.path().startsWith(QLatin1String("/pdf/"))) {
            const int n =
                RecordNumber(url.path().mid(5).section(QLatin1Char('.'), 0, 0), options_.records);
            const bool exists = n != 0 && RecordAt(n).delivery != Delivery::NotFound;
            const auto refusal =
                exists ? pushBack(QStringLiteral("full-text ") + request.peer) : std::nullopt;
            if (!exists) {
                notFound();
            } else if (refusal) {
                reply.status = refusal->first;
                reply.reason = refusal->first == 429 ? "Too Many Requests" : "Service Unavailable";
                reply.headers.append({"Retry-After", QByteArray::number(refusal->second)});
                reply.body = "<html><body>请稍后再试</body></html>";
                logRequest(request.method, path, reply.status, refusal->second);
                return reply;
            } else if (options_.loginGate && !hasSession(request.headers)) {
                reply.body = loginPage(QString());
            } else {
                const DemoRecord r = RecordAt(n);
                reply.body = pdfBody(n);
                reply.headers = {{"Content-Type", "application/pdf"}};
                if (r.delivery == Delivery::Chunked) {
                    reply.chunked = true;
                } else if (r.delivery == Delivery::Truncated) {
                    reply.closeAfterBytes = reply.body.size() / 2;
                } else if (r.delivery == Delivery::Drip) {
                    reply.dripBytes = options_.dripBytes;
                    reply.dripIntervalMs = options_.dripIntervalMs;
                }
            }
        } else {
            notFound();
        }
        logRequest(request.method, path, reply.status);
        return reply;
    });
    if (!fullText_->listen()) {
        return false;
    }

    site_ = std::make_unique<QHttpServer>();
    using Request = QHttpServerRequest;
    using Status = QHttpServerResponse::StatusCode;
    const auto pathOf = [](const Request& r) {
        return r.url().path() +
               (r.url().hasQuery() ? QLatin1Char('?') + r.url().query() : QString());
    };
    const auto methodOf = [](const Request& r) {
        return r.method() == Request::Method::Post ? QByteArray("POST") : QByteArray("GET");
    };
    site_->route(QStringLiteral("/"), [this, pathOf, methodOf](const Request& r) {
        logRequest(methodOf(r), pathOf(r), 200);
        return htmlResponse(homePage());
    });
    site_->route(QStringLiteral("/results"), [this, pathOf, methodOf](const Request& r) {
        const QUrlQuery query(r.url());
        bool ok = false;
        int page = query.queryItemValue(QStringLiteral("page")).toInt(&ok);
        if (!ok || page < 1) {
            page = 1;
        }
        page = std::min(page, PageCount(options_.records, options_.perPage));
        logRequest(methodOf(r), pathOf(r), 200);
        return htmlResponse(resultPage(
            query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded).replace(u'+', u' '),
            page));
    });
    const auto recordOf = [this](const Request& r) {
        return RecordNumber(QUrlQuery(r.url()).queryItemValue(QStringLiteral("rec")),
                            options_.records);
    };
    const auto noRecord = [this, pathOf, methodOf](const Request& r) {
        logRequest(methodOf(r), pathOf(r), 404);
        return htmlResponse("<html><body>记录不存在</body></html>", Status::NotFound);
    };
    site_->route(QStringLiteral("/record"),
                 [this, pathOf, methodOf, recordOf, noRecord](const Request& r) {
                     const int n = recordOf(r);
                     if (n == 0) {
                         return noRecord(r);
                     }
                     logRequest(methodOf(r), pathOf(r), 200);
                     return htmlResponse(recordPage(n));
                 });
    site_->route(QStringLiteral("/detail"),
                 [this, pathOf, methodOf, recordOf, noRecord](const Request& r) {
                     const int n = recordOf(r);
                     if (n == 0) {
                         return noRecord(r);
                     }
                     logRequest(methodOf(r), pathOf(r), 200);
                     return htmlResponse(detailPage(n));
                 });
    site_->route(QStringLiteral("/login"), [this, pathOf, methodOf](const Request& r) {
        if (r.method() != Request::Method::Post) {
            logRequest(methodOf(r), pathOf(r), 200);
            return htmlResponse(loginPage(QString()));
        }
        QByteArray form = r.body();
        form.replace('+', ' ');
        const QUrlQuery fields(QString::fromUtf8(form));
        const QString user = fields.queryItemValue(QStringLiteral("userid"), QUrl::FullyDecoded);
        const QString password =
            fields.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
        if (user != options_.account || password != options_.password) {
            logRequest(methodOf(r), pathOf(r), 200);
            return htmlResponse(loginPage(QStringLiteral("账号或密码错误，请重新输入。")));
        }
        QHttpServerResponse response = htmlResponse(loggedInPage());
        response.setHeader("Set-Cookie",
                           QByteArray(kSessionCookie) + '=' + newSession() + "; Path=/; HttpOnly");
        logRequest(methodOf(r), pathOf(r), 200);
        return response;
    });
    site_->route(QStringLiteral("/login/ip"), [this, pathOf, methodOf](const Request& r) {
        // Every visitor on this machine is inside the demo institution's address range.
        QHttpServerResponse response = htmlResponse(loggedInPage());
        response.setHeader("Set-Cookie",
                           QByteArray(kSessionCookie) + '=' + newSession() + "; Path=/; HttpOnly");
        logRequest(methodOf(r), pathOf(r), 200);
        return response;
    });
    site_->route(QStringLiteral("/pdf/<arg>"), [this, pathOf, methodOf](const QString& file,
                                                                        const Request& r) {
        const int n = RecordNumber(file.section(QLatin1Char('.'), 0, 0), options_.records);
        if (n == 0 || RecordAt(n).delivery == Delivery::NotFound) {
            logRequest(methodOf(r), pathOf(r), 404);
            return htmlResponse("<html><body><h1>404 全文不存在</h1></body></html>",
                                Status::NotFound);
        }
        if (const auto refusal = pushBack(QStringLiteral("site ") + ClientKey(r.remoteAddress()))) {
            QHttpServerResponse response(
                "text/html; charset=utf-8", QByteArray("<html><body>请稍后再试</body></html>"),
                refusal->first == 429 ? Status::TooManyRequests : Status::ServiceUnavailable);
            response.setHeader("Retry-After", QByteArray::number(refusal->second));
            logRequest(methodOf(r), pathOf(r), refusal->first, refusal->second);
            return response;
        }
        if (options_.loginGate && !hasSession(r.headers())) {
            // The full-text server answers with its login page instead of the file.
            logRequest(methodOf(r), pathOf(r), 200);
            return htmlResponse(loginPage(QString()));
        }
        QHttpServerResponse response("application/pdf", pdfBody(n));
        if (RecordAt(n).delivery == Delivery::LengthDisposition) {
            response.setHeader("Content-Disposition", "attachment; filename=\"fulltext-" +
                                                          QByteArray::number(n) + ".pdf\"");
        }
        logRequest(methodOf(r), pathOf(r), 200);
        return response;
    });
    site_->route(QStringLiteral("/Quillax/newver.txt"), [this, pathOf, methodOf](const Request& r) {
        if (options_.notice.isEmpty()) {
            logRequest(methodOf(r), pathOf(r), 404);
            return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
        }
        logRequest(methodOf(r), pathOf(r), 200);
        return QHttpServerResponse("text/plain", options_.notice.toUtf8());
    });
    site_->route(QStringLiteral("/css/site.css"), [this, pathOf, methodOf](const Request& r) {
        logRequest(methodOf(r), pathOf(r), 200);
        return QHttpServerResponse("text/css", QByteArray("body { background: #fbfbf8; }\n"));
    });
    // Every byte a client sends passes the caps before the site reads it.
    auto* guarded = new GuardedTcpServer;
    if (!guarded->listen(QHostAddress::LocalHost, port)) {
        delete guarded;
        return false;
    }
    site_->bind(guarded);
    guarded->setParent(site_.get());
    port_ = guarded->serverPort();
    return port_ != 0;
}

QByteArray DemoSite::pdfBody(int n) {
    if (RecordAt(n).content == PdfContent::DamagedFirst && !damagedSent_.contains(n)) {
        damagedSent_.insert(n);
        return DamagedPdfBytes(n);
    }
    return PdfBytes(n);
}

} // namespace quillax::demo
