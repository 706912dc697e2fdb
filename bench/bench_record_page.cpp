// Measures the reading of one record page as the analysis reads it (its PDF address, then its
// citation tags) on hostile pages as large as a fetch may be. The work must grow with the page
// and no faster, the memory stay a small multiple of the page. Goal: about a second each at
// 8 MiB, on the window thread.
//
// Usage: bench_record_page [MiB [titles|authors|attributes]]   (8 MiB and every page unless
// given)

#include "core/files/Citation.h"
#include "core/search/CitationReading.h"
#include "core/search/RecordAnalysis.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <chrono>
#include <cstdio>
#include <functional>

using Clock = std::chrono::steady_clock;
using namespace quillax;

namespace {

const QString kPdfLink = QStringLiteral("<a id=\"pdfUrl\" href=\"/pdf/1.pdf\">PDF</a>");

/// The peak resident memory of this process in MiB since the last reset ("VmHWM").
double peakMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

/// Sets the peak back to what the process holds now.
void resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly)) {
        refs.write("5");
    }
}

/// `head`, then `unit` as often as fits in `bytes` of UTF-8, then `tail`.
QString hostilePage(const QString& head, const QString& unit, const QString& tail, qint64 bytes) {
    QString page = head;
    const qint64 times = (bytes - head.size() - tail.size()) / unit.size();
    page.reserve(head.size() + times * unit.size() + tail.size());
    for (qint64 i = 0; i < times; ++i) {
        page += unit;
    }
    return page + tail;
}

void measure(const char* what, const QString& page) {
    resetPeak();
    const double before = peakMiB();
    const auto start = Clock::now();
    // What the analysis reads of a record page, in its order.
    const QString address = FindPdfAddress(page, QStringLiteral("http://lib.example/record/1"));
    const Citation citation = ReadCitationMeta(page);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-34s %8.2f %10.3f %12.1f   %s, %lld authors, title \"%s\", doi \"%s\"\n", what,
                static_cast<double>(page.size()) / (1024 * 1024), seconds, peakMiB() - before,
                qPrintable(address), static_cast<long long>(citation.authors.size()),
                qPrintable(citation.title.left(20)), qPrintable(citation.doi));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const double mib = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 8.0;
    const qint64 bytes = static_cast<qint64>(mib * 1024 * 1024);
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto wanted = [&only](const char* shape) {
        return only.isEmpty() || only == QLatin1String(shape);
    };
    const QString title = QStringLiteral("<meta name=\"citation_title\" content=\"Hostile\">");
    const QString doi = QStringLiteral("<meta name=\"citation_doi\" content=\"10.5555/end\">");

    std::printf("%-34s %8s %10s %12s   %s\n", "page", "Mchars", "wall (s)", "peak (MiB)",
                "what was read");
    const QString head = QStringLiteral("<html><head>") + title + kPdfLink;
    // Hundreds of thousands of empty raw-text elements after the PDF link; the DOI after them
    // is still read.
    if (wanted("titles")) {
        measure("<title></title> pairs",
                hostilePage(head, QStringLiteral("<title></title>"), doi, bytes));
    }
    // Author lists of 2,000 characters, each worth a thousand authors.
    if (wanted("authors")) {
        const QString list = QStringLiteral("<meta name=\"citation_authors\" content=\"") +
                             QStringLiteral("A;").repeated(1000) + QStringLiteral("\">");
        measure("citation_authors tags (2,000 ch)", hostilePage(head, list, doi, bytes));
    }
    // Tags of every citation name, each with a value that decodes to nothing.
    if (wanted("empty")) {
        QString unit;
        for (const char* name :
             {"citation_title", "citation_date", "citation_doi", "citation_author",
              "citation_authors", "dc.creator", "dc.date", "dc.identifier", "citation_issn",
              "citation_journal_title", "citation_publication_date", "dc.title"}) {
            unit +=
                QStringLiteral("<meta name=\"%1\" content=\"&nbsp;\">").arg(QLatin1String(name));
        }
        measure("citation tags decoding to nothing", hostilePage(head, unit, doi, bytes));
    }
    // Date tags of 2,000 references to no character, none with a year: each one is decoded.
    if (wanted("references")) {
        const QString unit = QStringLiteral("<meta name=\"citation_date\" content=\"") +
                             QStringLiteral("&#0;").repeated(2000) + QStringLiteral("\">");
        measure("date tags of 2,000 references", hostilePage(head, unit, doi, bytes));
    }
    // Small tags, the PDF link after them.
    if (wanted("tags")) {
        measure("<b> tags", hostilePage(QStringLiteral("<html><head>") + title,
                                        QStringLiteral("<b>"), kPdfLink + doi, bytes));
    }
    // One tag with attributes of a million names, the PDF link after it.
    if (wanted("attributes")) {
        QString names = QStringLiteral("<p");
        for (qint64 i = 0; names.size() < bytes - 256; ++i) {
            names += QStringLiteral(" a") + QString::number(i);
        }
        measure("one tag of distinct attributes",
                names + QStringLiteral(">") + title + kPdfLink + doi);
    }
    return 0;
}
