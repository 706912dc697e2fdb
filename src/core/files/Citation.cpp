#include "core/files/Citation.h"

#include "core/files/TitleMatch.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace quillax {

namespace {

bool hasCjk(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return IsCjk(c.unicode()); });
}

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
        QStringLiteral("and"),           QStringLiteral("&"),
        QStringLiteral("group"),         QStringLiteral("committee"),
        QStringLiteral("consortium"),    QStringLiteral("association"),
        QStringLiteral("society"),       QStringLiteral("institute"),
        QStringLiteral("organization"),  QStringLiteral("organisation"),
        QStringLiteral("collaboration"), QStringLiteral("team"),
        QStringLiteral("university"),    QStringLiteral("council"),
        QStringLiteral("network")};
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

QString Citation::year() const {
    static const QRegularExpression yearRe(
        QStringLiteral("(?<!\\d)(1[5-9]\\d\\d|20\\d\\d)(?!\\d)"));
    return yearRe.match(date).captured(1);
}

void Citation::fillMissingFrom(const Citation& other) {
    for (const Field& f : kFields) {
        if ((this->*f.member).isEmpty()) {
            this->*f.member = other.*f.member;
        }
    }
    if (authors.isEmpty()) {
        authors = other.authors;
    }
}

AuthorName SplitAuthorName(const QString& name) {
    const QString text = name.simplified();
    if (text.isEmpty()) {
        return {};
    }
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        return {text.left(comma).trimmed(), text.mid(comma + 1).trimmed()};
    }
    const QStringList words = text.split(QLatin1Char(' '));
    if (words.size() == 1 || isBody(words)) {
        return {text, {}};
    }
    if (hasCjk(text)) {
        // "王 芳": family name first, as CJK names are written.
        return {words.first(), words.mid(1).join(QLatin1Char(' '))};
    }
    qsizetype familyStart = words.size() - 1;
    while (familyStart > 1 && isParticle(words.at(familyStart - 1))) {
        --familyStart;
    }
    return {words.mid(familyStart).join(QLatin1Char(' ')),
            words.mid(0, familyStart).join(QLatin1Char(' '))};
}

QString NormalisedAuthor(const QString& name) {
    const AuthorName parts = SplitAuthorName(name);
    if (parts.given.isEmpty()) {
        return parts.family;
    }
    return parts.family + QStringLiteral(", ") + parts.given;
}

QStringList AuthorsFromPdfMetadata(const QString& author) {
    static const QRegularExpression parts(QStringLiteral("\\s*;\\s*|\\s+and\\s+"));
    QStringList out;
    for (const QString& name : author.split(parts, Qt::SkipEmptyParts)) {
        if (!name.simplified().isEmpty()) {
            out << name.simplified();
        }
    }
    return out;
}

QString DoiIn(const QString& text) {
    static const QRegularExpression doiRe(QStringLiteral("10\\.\\d{4,9}/[^\\s\"<>]+"));
    QString doi = doiRe.match(text).captured(0);
    // Sentence marks after a DOI are not part of it.
    while (!doi.isEmpty() && QStringLiteral(".,;:)]").contains(doi.back())) {
        doi.chop(1);
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
