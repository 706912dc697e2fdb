#include "core/files/CitationExport.h"

#include "core/files/TitleMatch.h"

#include <QSet>
#include <QUrl>
#include <algorithm>

namespace quillax {

namespace {

bool breaksLine(QChar c) {
    return c.unicode() < 0x20 || c == QChar(0x2028) || c == QChar(0x2029);
}

// A value on one line: reference formats end a field at the line's end.
QString oneLine(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        if (breaksLine(c)) {
            c = QLatin1Char(' ');
        }
    }
    return out.simplified();
}

// Latin letters without their accents and lower-cased, ASCII digits, CJK characters as they
// are (Hangul syllables whole); anything else becomes a space.
QString folded(const QString& text) {
    static const QHash<QChar, QString> letters = {
        {QChar(0x00df), QStringLiteral("ss")}, {QChar(0x00e6), QStringLiteral("ae")},
        {QChar(0x0153), QStringLiteral("oe")}, {QChar(0x00f8), QStringLiteral("o")},
        {QChar(0x0142), QStringLiteral("l")},  {QChar(0x0111), QStringLiteral("d")},
        {QChar(0x00fe), QStringLiteral("th")}, {QChar(0x00f0), QStringLiteral("d")},
        {QChar(0x0131), QStringLiteral("i")}};
    QString out;
    for (const char32_t cp : text.toLower().toUcs4()) {
        if (IsCjk(cp)) {
            out += QString::fromUcs4(&cp, 1);
            continue;
        }
        for (const QChar c : QString::fromUcs4(&cp, 1).normalized(QString::NormalizationForm_KD)) {
            if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                (c >= QLatin1Char('0') && c <= QLatin1Char('9'))) {
                out += c;
            } else if (c.category() == QChar::Mark_NonSpacing) {
                continue; // the accent of the letter before
            } else if (const auto it = letters.constFind(c); it != letters.cend()) {
                out += *it;
            } else {
                out += QLatin1Char(' ');
            }
        }
    }
    return out;
}

QString firstTitleWord(const QString& title) {
    static const QStringList skipped = {QStringLiteral("a"), QStringLiteral("an"),
                                        QStringLiteral("the")};
    const QStringList words = folded(title).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& word : words) {
        if (skipped.contains(word)) {
            continue;
        }
        // A CJK title has no spaces: its first few characters stand for the word.
        const QList<uint> chars = word.toUcs4();
        if (!IsCjk(chars.first())) {
            return word;
        }
        const QList<uint> first = chars.mid(0, 4);
        return QString::fromUcs4(reinterpret_cast<const char32_t*>(first.constData()),
                                 first.size());
    }
    return {};
}

void risLine(QByteArray& out, const char* tag, const QString& value) {
    const QString v = oneLine(value);
    if (!v.isEmpty()) {
        out += tag;
        out += "  - ";
        out += v.toUtf8();
        out += "\r\n";
    }
}

QString bibAuthor(const QString& name) {
    const AuthorName parts = SplitAuthorName(name);
    QString family = BibTexEscape(parts.family);
    QString given = BibTexEscape(parts.given);
    // BibTeX reads "and" as the next author and each comma as a part of the name: a part that
    // holds either, or a name of several words without a given name (a body), is braced whole.
    const auto guard = [](QString& part, bool wholeName) {
        if ((wholeName && part.contains(QLatin1Char(' '))) || part.contains(QLatin1Char(',')) ||
            part.split(QLatin1Char(' ')).contains(QLatin1String("and"), Qt::CaseInsensitive)) {
            part = QLatin1Char('{') + part + QLatin1Char('}');
        }
    };
    guard(family, given.isEmpty());
    if (given.isEmpty()) {
        return family;
    }
    guard(given, false);
    return family + QStringLiteral(", ") + given;
}

// Addresses are written as they are (biblatex reads them verbatim), with what would break the
// entry percent-encoded.
QString bibAddress(const QString& address) {
    QString out;
    for (const QChar c : oneLine(address)) {
        if (c == QLatin1Char('{') || c == QLatin1Char('}') || c == QLatin1Char('\\') ||
            c == QLatin1Char(' ')) {
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

bool bracesBalance(const QString& text) {
    int depth = 0;
    for (const QChar c : text) {
        depth += c == QLatin1Char('{') ? 1 : c == QLatin1Char('}') ? -1 : 0;
        if (depth < 0) {
            return false;
        }
    }
    return depth == 0;
}

// The file field as reference managers read it: "description:path:type", where "\", ":" and ";"
// in the path are escaped with "\".
QString bibFile(const QString& path) {
    QString escaped;
    for (const QChar c : path) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c == QLatin1Char(';')) {
            escaped += QLatin1Char('\\');
        }
        escaped += c;
    }
    return QLatin1Char(':') + escaped + QStringLiteral(":PDF");
}

} // namespace

QByteArray RisText(const QList<CitationEntry>& entries) {
    QByteArray out;
    for (const CitationEntry& e : entries) {
        const Citation& c = e.citation;
        risLine(out, "TY", QStringLiteral("JOUR"));
        risLine(out, "TI", c.title);
        for (const QString& author : c.authors) {
            risLine(out, "AU", NormalisedAuthor(author));
        }
        risLine(out, "PY", c.year());
        risLine(out, "JO", c.journal);
        risLine(out, "VL", c.volume);
        risLine(out, "IS", c.issue);
        risLine(out, "SP", c.firstPage);
        risLine(out, "EP", c.lastPage);
        risLine(out, "DO", c.doi);
        risLine(out, "SN", c.issn);
        risLine(out, "UR", c.recordUrl);
        if (!e.filePath.isEmpty()) {
            risLine(out, "L1", QUrl::fromLocalFile(e.filePath).toString(QUrl::EncodeSpaces));
        }
        out += "ER  - \r\n\r\n";
    }
    return out;
}

QString BibTexEscape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : oneLine(text)) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\textbackslash{}");
            break;
        case '{':
            out += QStringLiteral("\\textbraceleft{}");
            break;
        case '}':
            out += QStringLiteral("\\textbraceright{}");
            break;
        case '~':
            out += QStringLiteral("\\textasciitilde{}");
            break;
        case '^':
            out += QStringLiteral("\\textasciicircum{}");
            break;
        case '&':
        case '%':
        case '$':
        case '#':
        case '_':
            out += QLatin1Char('\\');
            out += c;
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString BibTexKeyStem(const Citation& citation) {
    QString family;
    if (!citation.authors.isEmpty()) {
        family = folded(SplitAuthorName(citation.authors.first()).family).remove(QLatin1Char(' '));
    }
    const QString year = citation.year();
    return (family.isEmpty() ? QStringLiteral("anon") : family) +
           (year.isEmpty() ? QStringLiteral("nd") : year) + firstTitleWord(citation.title);
}

QStringList BibTexKeys(const QList<Citation>& citations) {
    QStringList keys;
    QSet<QString> used;
    for (const Citation& c : citations) {
        const QString stem = BibTexKeyStem(c);
        QString key = stem;
        // a … z, then aa, ab, …: the n-th clash of the stem.
        for (int n = 0; used.contains(key); ++n) {
            QString letters;
            for (int v = n; v >= 0; v = v / 26 - 1) {
                letters.prepend(QLatin1Char(static_cast<char>('a' + v % 26)));
            }
            key = stem + letters;
        }
        used.insert(key);
        keys << key;
    }
    return keys;
}

QByteArray BibTexText(const QList<CitationEntry>& entries) {
    QList<Citation> citations;
    citations.reserve(entries.size());
    for (const CitationEntry& e : entries) {
        citations << e.citation;
    }
    const QStringList keys = BibTexKeys(citations);
    QString out;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Citation& c = entries.at(i).citation;
        QStringList fields;
        const auto field = [&fields](const char* name, const QString& value) {
            if (!value.isEmpty()) {
                fields << QStringLiteral("  %1 = {%2}").arg(QLatin1String(name), value);
            }
        };
        QStringList authors;
        for (const QString& a : c.authors) {
            const QString name = bibAuthor(a);
            if (!name.isEmpty()) {
                authors << name;
            }
        }
        field("author", authors.join(QStringLiteral(" and ")));
        field("title", BibTexEscape(c.title));
        field("journal", BibTexEscape(c.journal));
        field("year", c.year());
        field("volume", BibTexEscape(c.volume));
        field("number", BibTexEscape(c.issue));
        const QString first = BibTexEscape(c.firstPage);
        const QString last = BibTexEscape(c.lastPage);
        field("pages", last.isEmpty() || first.isEmpty() ? first + last
                                                         : first + QStringLiteral("--") + last);
        field("doi", bibAddress(c.doi));
        field("issn", BibTexEscape(c.issn));
        field("url", bibAddress(c.recordUrl));
        // The path exactly as it is (two spaces stay two): a path that cannot be written in
        // a field, with a line break or unbalanced braces, is left out rather than written wrong.
        const QString path = entries.at(i).filePath;
        if (!path.isEmpty() && bracesBalance(path) &&
            std::none_of(path.begin(), path.end(), breaksLine)) {
            field("file", bibFile(path));
        }
        out += QStringLiteral("@article{") + keys.at(i) + QStringLiteral(",\n") +
               fields.join(QStringLiteral(",\n")) + QStringLiteral("\n}\n\n");
    }
    return out.toUtf8();
}

QByteArray CitationText(CitationFormat format, const QList<CitationEntry>& entries) {
    return format == CitationFormat::Ris ? RisText(entries) : BibTexText(entries);
}

} // namespace quillax
