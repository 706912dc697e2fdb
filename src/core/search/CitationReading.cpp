#include "core/search/CitationReading.h"

#include "core/files/TitleMatch.h"
#include "core/search/HtmlTags.h"

#include <QRegularExpression>

#include <algorithm>

namespace quillax {

namespace {

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
    // A date without a year ("n.d.") gives way to a later date tag that has one.
    for (const MetaField& f : fields) {
        for (const QString& content : tags.value(QLatin1String(f.name))) {
            if (f.member == &Citation::date && into.year().isEmpty() &&
                YearPattern().match(content).hasMatch()) {
                into.date = content;
            }
        }
    }
}

// The field a tag of `name` fills, or nullptr for the author tags and the names not read.
QString Citation::*fieldOf(const QString& name) {
    static const QHash<QString, QString Citation::*> fields = [] {
        QHash<QString, QString Citation::*> byName;
        for (const MetaField& f : kCitationTags) {
            byName.insert(QLatin1String(f.name), f.member);
        }
        for (const MetaField& f : kDublinCoreTags) {
            byName.insert(QLatin1String(f.name), f.member);
        }
        return byName;
    }();
    return fields.value(name, nullptr);
}

// Whether `fill` could still take a later value of a tag that gave `kept`: only a date tag
// without a year so far, or an identifier without a DOI, looks further than its first value.
bool wantsMore(QString Citation::*field, const QStringList& kept) {
    if (kept.isEmpty()) {
        return true;
    }
    if (field == &Citation::date) {
        return std::none_of(kept.cbegin(), kept.cend(),
                            [](const QString& v) { return YearPattern().match(v).hasMatch(); });
    }
    if (field == &Citation::doi) {
        return std::none_of(kept.cbegin(), kept.cend(),
                            [](const QString& v) { return !DoiIn(v).isEmpty(); });
    }
    return false;
}

// A value `fill` may take, after `kept`: the first one, and the first with a year or a DOI.
bool isWanted(QString Citation::*field, const QStringList& kept, const QString& value) {
    return kept.isEmpty() || (field == &Citation::date && YearPattern().match(value).hasMatch()) ||
           (field == &Citation::doi && !DoiIn(value).isEmpty());
}

// The first capture of the first pattern that matches `text`.
template <std::size_t N>
QString firstCapture(const QString& text, const QRegularExpression (&patterns)[N]) {
    for (const QRegularExpression& re : patterns) {
        const QRegularExpressionMatch m = re.match(text);
        if (m.hasMatch()) {
            return m.captured(1);
        }
    }
    return {};
}

// Pages as "p45-67" or "pp. 1-9", ending the part ("p53 Reports" is a name, not a page).
const QString kPagesLatin =
    QStringLiteral("\\bpp?\\.?\\s*(\\d+)(?:\\s*[-–—]\\s*(\\d+))?(?=\\s*(?:[.,;:)]|$))");

// Initials written as a given name: "J.", "J. K.", "JK".
const QRegularExpression kInitials(QStringLiteral("^(?:[A-Z]\\.?\\s*)+$"));

// The names of a result line's authors' part: parted by ";", by "and" or "&" (unless the name is
// an institution's) and by commas, where "Smith, J., Doe, K." reads as pairs of family and given
// names and "John Smith, Jane Doe" or "王芳, 李明" as one name each.
QStringList authorNames(const QString& part) {
    static const QRegularExpression semicolon(QStringLiteral("\\s*[;；]\\s*"));
    static const QRegularExpression andWord(QStringLiteral("\\s+(?:and|&)\\s+|^(?:and|&)\\s+"));
    QStringList names;
    for (const QString& piece : part.split(semicolon, Qt::SkipEmptyParts)) {
        if (IsInstitution(piece)) {
            names << piece.trimmed();
            continue;
        }
        QStringList parts;
        static const QRegularExpression comma(QStringLiteral("[,，、]"));
        for (const QString& commaPart : piece.split(comma)) {
            for (const QString& p : commaPart.trimmed().split(andWord, Qt::SkipEmptyParts)) {
                if (!p.trimmed().isEmpty()) {
                    parts << p.trimmed();
                }
            }
        }
        // Pairs when every second part is one word (a given name or initials) and no part is
        // written in CJK, whose names carry no comma inside.
        bool pairs = parts.size() % 2 == 0;
        for (qsizetype i = 0; pairs && i < parts.size(); ++i) {
            pairs =
                !HasCjk(parts.at(i)) && (i % 2 == 0 || !parts.at(i).contains(QLatin1Char(' ')) ||
                                         kInitials.match(parts.at(i)).hasMatch());
        }
        for (qsizetype i = 0; i < parts.size(); i += pairs ? 2 : 1) {
            names << (pairs ? parts.at(i) + QStringLiteral(", ") + parts.at(i + 1) : parts.at(i));
        }
    }
    return names;
}

// The date's year in a source: the first four-digit number that is no volume, issue or page
// ("Vol. 1999 Issue 2, 2011", "p1523-1530. 2011") and no part of a name ("Journal of 1984
// Studies. 2011"); a month may follow it ("2019 Jun 5", "2011-03-15"). None when every
// four-digit number is one of those.
QRegularExpressionMatch dateYear(const QString& source) {
    static const QRegularExpression before(
        QStringLiteral("(?:Vol\\.?|No\\.?|Issue|\\bpp?\\.?|页|卷|期|第|\\d\\s*[-–—])\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression after(QStringLiteral(
        "^\\s*(?:(?!(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec|Spring|Summer|Fall|"
        "Autumn|Winter))[A-Za-z]|[-–—]\\s*\\d{3})"));
    QRegularExpressionMatchIterator it = YearPattern().globalMatch(source);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString ahead = source.mid(std::max<qsizetype>(0, m.capturedStart() - 8),
                                         std::min<qsizetype>(8, m.capturedStart()));
        if (!before.match(ahead).hasMatch() &&
            !after.match(source.mid(m.capturedEnd())).hasMatch()) {
            return m;
        }
    }
    return {};
}

} // namespace

Citation ReadCitationMeta(const QString& page) {
    Citation meta;
    Citation dublinCore;
    QHash<QString, QStringList> tags; // name → the contents `fill` may take, in page order
    // Only these attributes are held of each tag.
    static const QStringList read = {QStringLiteral("name"), QStringLiteral("property"),
                                     QStringLiteral("content")};
    const auto visit = [&](const HtmlTag& tag) {
        if (tag.name != QLatin1String("meta")) {
            return true;
        }
        QStringView written = tag.attributes.value(QStringLiteral("name"));
        if (written.isEmpty()) {
            written = tag.attributes.value(QStringLiteral("property"));
        }
        const QString name = written.trimmed().toString().toLower();
        QStringList* authors = nullptr;
        if (name == QLatin1String("citation_author") || name == QLatin1String("citation_authors")) {
            authors = &meta.authors;
        } else if (name == QLatin1String("dc.creator") ||
                   name == QLatin1String("dcterms.creator")) {
            authors = &dublinCore.authors;
        }
        QString Citation::*const field = fieldOf(name);
        // Only the tags read below are decoded, and only while they can still add anything.
        if (authors == nullptr && field == nullptr) {
            return true;
        }
        if (authors != nullptr ? authors->size() >= kMaxCitationAuthors
                               : !wantsMore(field, tags.value(name))) {
            return true;
        }
        // Cut before decoding, so a page with a value of megabytes costs nothing; references are
        // at most a few characters each, so four times the limit leaves the whole value.
        const QString content =
            CitationValue(DecodeHtmlText(tag.attributes.value(QStringLiteral("content"))
                                             .left(4 * kMaxCitationChars)
                                             .toString()));
        if (content.isEmpty()) {
            return true;
        }
        if (name == QLatin1String("citation_authors")) {
            // The older form: every author in one tag, parted by ";" (the same list as a PDF's
            // metadata).
            *authors << AuthorsFromPdfMetadata(content).mid(0,
                                                            kMaxCitationAuthors - authors->size());
        } else if (authors != nullptr) {
            *authors << content;
        } else if (isWanted(field, tags.value(name), content)) {
            tags[name] << content;
        }
        return true;
    };
    ForEachHtmlTag(page, visit, SkipRawText::Yes, read);
    fill(kCitationTags, tags, meta);
    fill(kDublinCoreTags, tags, dublinCore);
    meta.fillMissingFrom(dublinCore);
    return meta;
}

Citation ReadResultEntryLine(const QString& text) {
    Citation c;
    // Each line of the entry's text is a part of its own.
    const QString line =
        CitationValue(QString(text).replace(QLatin1Char('\n'), QStringLiteral(" · ")));
    if (line.isEmpty()) {
        return c;
    }
    static const QRegularExpression authorMark(
        QStringLiteral("(?:作者|\\bBy|\\bAuthors?)\\s*[:：]\\s*|(?:^|(?<=·\\s))By\\s+"));
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

    for (QString name : authorNames(authorsPart)) {
        // The authors' part ends with a full stop before the source; an initial keeps its own.
        const QString lastWord = name.section(QRegularExpression(QStringLiteral("[\\s,]")), -1);
        if (name.endsWith(QLatin1Char('.')) && lastWord.size() > 2) {
            name.chop(1);
        }
        if (!name.trimmed().isEmpty()) {
            c.authors << name.trimmed();
        }
    }

    const QRegularExpressionMatch year = dateYear(sourcePart);
    c.date = year.hasMatch() ? year.captured(0)
                             : dateYear(line.mid(a.hasMatch() ? a.capturedEnd() : 0)).captured(0);
    // The journal is the source's text before its date (and the month that goes with it).
    QString journal = year.hasMatch() ? sourcePart.left(year.capturedStart()) : sourcePart;
    if (!year.hasMatch()) {
        static const QRegularExpression sentenceBreak(QStringLiteral("[,，]|\\.\\s"));
        journal = journal.section(sentenceBreak, 0, 0);
    }
    // … and before its volume, issue and pages, should they come first.
    static const QRegularExpression numbering(
        QStringLiteral("[\\s.,;]*(?:\\bVol\\.?\\s*\\d|\\bIssue\\s*\\d|\\bNo\\.\\s*\\d|") +
        kPagesLatin + QStringLiteral("|第\\s*\\d|\\d\\s*[卷期]|[卷期]\\s*[:：]?\\s*\\d)"));
    const QRegularExpressionMatch numbered = numbering.match(journal);
    if (numbered.hasMatch()) {
        journal.truncate(numbered.capturedStart());
    }
    static const QRegularExpression trailing(QStringLiteral(
        "[\\s.,;:，；·]*(?:[.,;]\\s*\\d{0,2}\\s*(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|"
        "Oct|Nov|Dec|Spring|Summer|Fall|Autumn|Winter)[a-z]*\\.?)?[\\s\\d.,;:，；·年]*$"));
    journal.remove(trailing);
    c.journal = journal.trimmed();

    constexpr auto caseless = QRegularExpression::CaseInsensitiveOption;
    static const QRegularExpression volumes[] = {
        QRegularExpression(QStringLiteral("\\bVol\\.?\\s*(\\d[0-9A-Za-z]*)"), caseless),
        QRegularExpression(QStringLiteral("第\\s*(\\d+)\\s*卷")),
        QRegularExpression(QStringLiteral("卷\\s*[:：]?\\s*(\\d+)"))};
    static const QRegularExpression issues[] = {
        QRegularExpression(QStringLiteral("\\b(?:Issue|No\\.)\\s*(\\d[0-9A-Za-z/-]*)"), caseless),
        QRegularExpression(QStringLiteral("期\\s*[:：]?\\s*(\\d+)")),
        QRegularExpression(QStringLiteral("第\\s*(\\d+)\\s*期"))};
    c.volume = firstCapture(sourcePart, volumes);
    c.issue = firstCapture(sourcePart, issues);
    static const QRegularExpression pages(
        kPagesLatin + QStringLiteral("|页\\s*[:：]?\\s*(\\d+)(?:\\s*[-–—]\\s*(\\d+))?"));
    const QRegularExpressionMatch p = pages.match(sourcePart);
    c.firstPage = p.captured(1) + p.captured(3);
    c.lastPage = p.captured(2) + p.captured(4);
    c.doi = DoiIn(line);
    return c;
}

} // namespace quillax
