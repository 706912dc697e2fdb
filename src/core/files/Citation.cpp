#include "core/files/Citation.h"

#include "core/files/TitleMatch.h"
#include "core/settings/TextUtil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace quillax {

namespace {

// Words that belong to the family name that follows them: "Ludwig van Beethoven".
bool isParticle(const QString& word) {
    static const QStringList particles = {
        QStringLiteral("van"),   QStringLiteral("von"), QStringLiteral("de"),
        QStringLiteral("der"),   QStringLiteral("den"), QStringLiteral("del"),
        QStringLiteral("della"), QStringLiteral("di"),  QStringLiteral("da"),
        QStringLiteral("du"),    QStringLiteral("la"),  QStringLiteral("le"),
        QStringLiteral("dos"),   QStringLiteral("das"), QStringLiteral("ten"),
        QStringLiteral("ter"),   QStringLiteral("bin"), QStringLiteral("al")};
    return particles.contains(word);
}

// A research group or an institution as author: its name is one piece, not given and family.
bool isBody(const QStringList& words) {
    static const QStringList marks = {
        QStringLiteral("group"),          QStringLiteral("center"),
        QStringLiteral("centre"),         QStringLiteral("centers"),
        QStringLiteral("centres"),        QStringLiteral("foundation"),
        QStringLiteral("administration"), QStringLiteral("agency"),
        QStringLiteral("department"),     QStringLiteral("ministry"),
        QStringLiteral("office"),         QStringLiteral("laboratory"),
        QStringLiteral("hospital"),       QStringLiteral("college"),
        QStringLiteral("academy"),        QStringLiteral("research"),
        QStringLiteral("inc."),           QStringLiteral("ltd"),
        QStringLiteral("committee"),      QStringLiteral("consortium"),
        QStringLiteral("association"),    QStringLiteral("society"),
        QStringLiteral("institute"),      QStringLiteral("organization"),
        QStringLiteral("organisation"),   QStringLiteral("collaboration"),
        QStringLiteral("team"),           QStringLiteral("university"),
        QStringLiteral("council"),        QStringLiteral("network")};
    return std::any_of(words.begin(), words.end(),
                       [](const QString& w) { return marks.contains(w.toLower()); });
}

// The citation's text fields with their keys in the kept queue.
struct Field {
    const char* key;
    QString Citation::*member;
};
constexpr Field kFields[] = {{"title", &Citation::title},       {"date", &Citation::date},
                             {"journal", &Citation::journal},   {"volume", &Citation::volume},
                             {"issue", &Citation::issue},       {"firstPage", &Citation::firstPage},
                             {"lastPage", &Citation::lastPage}, {"doi", &Citation::doi},
                             {"issn", &Citation::issn},         {"recordUrl", &Citation::recordUrl},
                             {"pdfUrl", &Citation::pdfUrl}};

} // namespace

bool Citation::isEmpty() const {
    return *this == Citation{};
}

const QRegularExpression& YearPattern() {
    static const QRegularExpression re(QStringLiteral("(?<!\\d)(?:1[5-9]|20)\\d\\d(?!\\d)"));
    return re;
}

QString Citation::year() const {
    return YearPattern().match(date).captured(0);
}

void Citation::fillMissingFrom(const Citation& other) {
    // "n.d." says nothing a later source could not say better.
    if (year().isEmpty() && !other.year().isEmpty()) {
        date.clear();
    }
    for (const Field& f : kFields) {
        if ((this->*f.member).isEmpty()) {
            this->*f.member = other.*f.member;
        }
    }
    if (authors.isEmpty()) {
        authors = other.authors;
    }
}

QString CitationValue(const QString& text) {
    QString spaced = text.left(4 * kMaxCitationChars);
    for (QChar& c : spaced) {
        if (c.isSpace() || c == QChar(0x2028) || c == QChar(0x2029)) {
            c = QLatin1Char(' '); // a tab or a line break parts words
        }
    }
    return RemoveUnsafeCharacters(spaced).simplified().left(kMaxCitationChars);
}

bool IsInstitution(const QString& name) {
    return isBody(name.simplified().split(QLatin1Char(' ')));
}

AuthorName SplitAuthorName(const QString& name) {
    const QString text = name.simplified();
    if (text.isEmpty()) {
        return {};
    }
    QStringList words = text.split(QLatin1Char(' '));
    if (isBody(words)) {
        return {text, {}};
    }
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma > 0) {
        return {text.left(comma).trimmed(), text.mid(comma + 1).trimmed()};
    }
    if (comma == 0) {
        return {text.mid(1).trimmed(), {}}; // ", John": no family name before the comma
    }
    if (words.size() == 1) {
        return {text, {}};
    }
    if (HasCjk(text)) {
        // "王 芳": family name first, as CJK names are written.
        return {words.first(), words.mid(1).join(QLatin1Char(' '))};
    }
    // "Smith JA": initials written after the family name.
    static const QRegularExpression initials(QStringLiteral("^[A-Z]{1,3}$"));
    if (words.size() == 2 && initials.match(words.last()).hasMatch()) {
        return {words.first(), words.last()};
    }
    // "John Smith Jr.": the suffix goes with the given names.
    static const QRegularExpression suffix(QStringLiteral("^(?:Jr|Sr|II|III|IV)\\.?$"));
    QString after;
    if (words.size() > 2 && suffix.match(words.last()).hasMatch()) {
        after = QLatin1Char(' ') + words.takeLast();
    }
    qsizetype familyStart = words.size() - 1;
    while (familyStart > 0 && isParticle(words.at(familyStart - 1))) {
        --familyStart;
    }
    if (familyStart == 0) {
        return {words.join(QLatin1Char(' ')) + after, {}}; // "van Beethoven"
    }
    return {words.mid(familyStart).join(QLatin1Char(' ')),
            words.mid(0, familyStart).join(QLatin1Char(' ')) + after};
}

QString NormalisedAuthor(const QString& name) {
    const AuthorName parts = SplitAuthorName(name);
    if (parts.given.isEmpty()) {
        return parts.family;
    }
    return parts.family + QStringLiteral(", ") + parts.given;
}

QStringList AuthorsFromPdfMetadata(const QString& author) {
    static const QRegularExpression semicolon(QStringLiteral("\\s*;\\s*"));
    static const QRegularExpression andWord(QStringLiteral("\\s+and\\s+"));
    QStringList out;
    for (const QString& piece :
         author.left(kMaxCitationAuthors * 100).split(semicolon, Qt::SkipEmptyParts)) {
        // "Centers for Disease Control and Prevention" is one author.
        const QStringList names =
            IsInstitution(piece) ? QStringList{piece} : piece.split(andWord, Qt::SkipEmptyParts);
        for (const QString& name : names) {
            const QString value = CitationValue(name);
            if (!value.isEmpty() && out.size() < kMaxCitationAuthors) {
                out << value;
            }
        }
    }
    return out;
}

QString DoiIn(const QString& text) {
    // Old DOIs hold "<", ">" and brackets ("…35:4<447::AID-JBM5>3.0.CO;2-D").
    // It ends at white space, quotes and the marks of CJK text ("DOI：10.1000/abc，第3期").
    static const QRegularExpression doiRe(QStringLiteral(
        "10\\.\\d{4,9}/[^\\s\"'\\x{2018}-\\x{201F}\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]+"));
    QString doi = doiRe.match(text).captured(0);
    // Sentence marks after a DOI are not part of it; a closing bracket only when unopened.
    for (;;) {
        if (doi.isEmpty()) {
            break;
        }
        const QChar last = doi.back();
        if (QStringLiteral(".,;:").contains(last)) {
            doi.chop(1);
        } else if ((last == QLatin1Char(')') &&
                    doi.count(QLatin1Char('(')) < doi.count(QLatin1Char(')'))) ||
                   (last == QLatin1Char(']') &&
                    doi.count(QLatin1Char('[')) < doi.count(QLatin1Char(']')))) {
            doi.chop(1);
        } else {
            break;
        }
    }
    return doi;
}

QString CitationToJson(const Citation& citation) {
    if (citation.isEmpty()) {
        return {};
    }
    QJsonObject o;
    for (const Field& f : kFields) {
        if (!(citation.*f.member).isEmpty()) {
            o.insert(QLatin1String(f.key), citation.*f.member);
        }
    }
    if (!citation.authors.isEmpty()) {
        o.insert(QStringLiteral("authors"), QJsonArray::fromStringList(citation.authors));
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

Citation CitationFromJson(const QString& json) {
    Citation c;
    if (json.isEmpty()) {
        return c;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8());
    if (!doc.isObject()) {
        return c;
    }
    const QJsonObject o = doc.object();
    for (const Field& f : kFields) {
        c.*f.member = o.value(QLatin1String(f.key)).toString();
    }
    for (const QJsonValue& a : o.value(QStringLiteral("authors")).toArray()) {
        if (a.isString() && !a.toString().isEmpty()) {
            c.authors << a.toString();
        }
    }
    return c;
}

} // namespace quillax
