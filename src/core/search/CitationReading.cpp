#include "core/search/CitationReading.h"

#include "core/search/HtmlTags.h"
#include "core/search/RecordAnalysis.h"

#include <QRegularExpression>

namespace quillax {

namespace {

QString tidy(const QString& text) {
    QString spaced = text;
    for (QChar& c : spaced) {
        if (c.isSpace()) {
            c = QLatin1Char(' '); // a tab or a line break parts words
        }
    }
    return RemoveUnsafeCharacters(spaced).simplified();
}

// A meta tag's name and the citation field it fills; the first tag of a name wins.
struct MetaField {
    const char* name;
    QString Citation::*member;
};

constexpr MetaField kCitationTags[] = {
    {"citation_title", &Citation::title},
    {"citation_publication_date", &Citation::date},
    {"citation_date", &Citation::date},
    {"citation_online_date", &Citation::date},
    {"citation_journal_title", &Citation::journal},
    {"citation_journal_abbrev", &Citation::journal},
    {"citation_volume", &Citation::volume},
    {"citation_issue", &Citation::issue},
    {"citation_firstpage", &Citation::firstPage},
    {"citation_lastpage", &Citation::lastPage},
    {"citation_doi", &Citation::doi},
    {"citation_issn", &Citation::issn},
    {"citation_pdf_url", &Citation::pdfUrl},
};

constexpr MetaField kDublinCoreTags[] = {
    {"dc.title", &Citation::title},
    {"dc.date.issued", &Citation::date},
    {"dcterms.issued", &Citation::date},
    {"dc.date", &Citation::date},
    {"dcterms.date", &Citation::date},
    {"dc.relation.ispartof", &Citation::journal},
    {"dcterms.ispartof", &Citation::journal},
    {"dc.source", &Citation::journal},
    {"dc.citation.volume", &Citation::volume},
    {"dc.citation.issue", &Citation::issue},
    {"dc.citation.spage", &Citation::firstPage},
    {"dc.citation.epage", &Citation::lastPage},
    {"dc.identifier.doi", &Citation::doi},
    {"dc.identifier", &Citation::doi},
};

// Fills each field from the first tag of the table's names that the page has: the earlier
// names of the table come first, whatever the order of the tags on the page. Of an identifier
// only a DOI is taken.
template <std::size_t N>
void fill(const MetaField (&fields)[N], const QHash<QString, QStringList>& tags, Citation& into) {
    for (const MetaField& f : fields) {
        for (const QString& content : tags.value(QLatin1String(f.name))) {
            if (!(into.*f.member).isEmpty()) {
                break;
            }
            into.*f.member = f.member == &Citation::doi ? DoiIn(content) : content;
        }
    }
}

const QRegularExpression& yearPattern() {
    static const QRegularExpression re(QStringLiteral("(?<!\\d)(?:1[5-9]|20)\\d\\d(?!\\d)"));
    return re;
}

QString firstCapture(const QString& text, const QString& pattern) {
    const QRegularExpression re(pattern, QRegularExpression::CaseInsensitiveOption);
    return re.match(text).captured(1);
}

} // namespace

Citation ReadCitationMeta(const QString& page) {
    Citation meta;
    Citation dublinCore;
    QHash<QString, QStringList> tags; // name → its contents in page order
    ForEachHtmlTag(page, [&](const HtmlTag& tag) {
        if (tag.name != QLatin1String("meta")) {
            return true;
        }
        QString name = tag.attributes.value(QStringLiteral("name"));
        if (name.isEmpty()) {
            name = tag.attributes.value(QStringLiteral("property"));
        }
        name = name.trimmed().toLower();
        // Cut before decoding, so a page with a value of megabytes costs nothing; references
        // are at most a few characters each, so four times the limit leaves the whole value.
        const QString content =
            tidy(DecodeHtmlText(
                     tag.attributes.value(QStringLiteral("content")).left(4 * kMaxCitationChars)))
                .left(kMaxCitationChars);
        if (content.isEmpty()) {
            return true;
        }
        if (name == QLatin1String("citation_author")) {
            meta.authors << content;
        } else if (name == QLatin1String("citation_authors")) {
            // The older form: every author in one tag, parted by ";".
            for (const QString& a : content.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                if (!a.trimmed().isEmpty()) {
                    meta.authors << a.trimmed();
                }
            }
        } else if (name == QLatin1String("dc.creator") ||
                   name == QLatin1String("dcterms.creator")) {
            dublinCore.authors << content;
        } else {
            tags[name] << content;
        }
        return true;
    });
    fill(kCitationTags, tags, meta);
    fill(kDublinCoreTags, tags, dublinCore);
    meta.fillMissingFrom(dublinCore);
    meta.authors = meta.authors.mid(0, kMaxCitationAuthors);
    return meta;
}

Citation ReadResultEntryLine(const QString& text) {
    Citation c;
    QString line = tidy(text.left(2 * kMaxCitationChars));
    if (line.isEmpty()) {
        return c;
    }
    static const QRegularExpression authorMark(
        QStringLiteral("(?:作者|\\bBy|\\bAuthors?)\\s*[:：]\\s*|\\bBy\\s+"));
    static const QRegularExpression sourceMark(
        QStringLiteral("(?:来源|出处|\\bIn|\\bSource)\\s*[:：]\\s*"));
    static const QRegularExpression partBreak(QStringLiteral("\\s+[·|]\\s+"));

    QString authorsPart;
    QString sourcePart;
    const QRegularExpressionMatch a = authorMark.match(line);
    const QRegularExpressionMatch s = sourceMark.match(line);
    if (a.hasMatch()) {
        qsizetype end = line.size();
        if (s.hasMatch() && s.capturedStart() > a.capturedEnd()) {
            end = s.capturedStart();
        }
        const QRegularExpressionMatch brk = partBreak.match(line, a.capturedEnd());
        if (brk.hasMatch() && brk.capturedStart() < end) {
            end = brk.capturedStart();
        }
        authorsPart = line.mid(a.capturedEnd(), end - a.capturedEnd());
    }
    if (s.hasMatch()) {
        sourcePart = line.mid(s.capturedEnd());
        const QRegularExpressionMatch brk = partBreak.match(sourcePart);
        if (brk.hasMatch()) {
            sourcePart.truncate(brk.capturedStart());
        }
    } else if (a.hasMatch()) {
        // "作者: … · Journal · 2011": the first part after the authors that is more than a year.
        const QStringList parts = line.mid(a.capturedEnd()).split(partBreak);
        for (qsizetype i = 1; i < parts.size(); ++i) {
            static const QRegularExpression onlyYear(QStringLiteral("^\\s*\\d{4}\\s*$"));
            if (!onlyYear.match(parts.at(i)).hasMatch()) {
                sourcePart = parts.mid(i).join(QStringLiteral(" · "));
                break;
            }
        }
    }

    for (QString name : authorsPart.split(QRegularExpression(QStringLiteral("\\s*[;；]\\s*")),
                                          Qt::SkipEmptyParts)) {
        name = name.trimmed();
        // The authors' part ends with a full stop before the source; an initial keeps its own.
        const QString lastWord = name.section(QRegularExpression(QStringLiteral("[\\s,]")), -1);
        if (name.endsWith(QLatin1Char('.')) && lastWord.size() > 2) {
            name.chop(1);
        }
        if (!name.trimmed().isEmpty()) {
            c.authors << name.trimmed();
        }
    }

    const QRegularExpressionMatch year = yearPattern().match(sourcePart);
    c.date = year.hasMatch()
                 ? year.captured(0)
                 : yearPattern().match(line, a.hasMatch() ? a.capturedEnd() : 0).captured(0);
    // The journal is the source's text before its date (and the month that goes with it).
    QString journal = year.hasMatch() ? sourcePart.left(year.capturedStart()) : sourcePart;
    if (!year.hasMatch()) {
        journal = journal.section(QRegularExpression(QStringLiteral("[,，]|\\.\\s")), 0, 0);
    }
    static const QRegularExpression trailing(QStringLiteral(
        "[\\s.,;:，；·]*(?:[.,;]\\s*\\d{0,2}\\s*(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|"
        "Oct|Nov|Dec|Spring|Summer|Fall|Autumn|Winter)[a-z]*\\.?)?[\\s\\d.,;:，；·年]*$"));
    journal.remove(trailing);
    c.journal = journal.trimmed();

    c.volume = firstCapture(sourcePart, QStringLiteral("\\bVol\\.?\\s*([0-9A-Za-z]+)"));
    if (c.volume.isEmpty()) {
        c.volume = firstCapture(sourcePart, QStringLiteral("第\\s*(\\d+)\\s*卷"));
    }
    if (c.volume.isEmpty()) {
        c.volume = firstCapture(sourcePart, QStringLiteral("卷\\s*[:：]?\\s*(\\d+)"));
    }
    c.issue = firstCapture(sourcePart, QStringLiteral("\\b(?:Issue|No\\.)\\s*([0-9A-Za-z/-]+)"));
    if (c.issue.isEmpty()) {
        c.issue = firstCapture(sourcePart, QStringLiteral("(?:期\\s*[:：]?\\s*)(\\d+)"));
        if (c.issue.isEmpty()) {
            c.issue = firstCapture(sourcePart, QStringLiteral("第\\s*(\\d+)\\s*期"));
        }
    }
    static const QRegularExpression pages(
        QStringLiteral("(?:\\bpp?\\.?\\s*|页\\s*[:：]?\\s*)(\\d+)(?:\\s*[-–—]\\s*(\\d+))?"));
    const QRegularExpressionMatch p = pages.match(sourcePart);
    c.firstPage = p.captured(1);
    c.lastPage = p.captured(2);
    c.doi = DoiIn(line);
    return c;
}

} // namespace quillax
