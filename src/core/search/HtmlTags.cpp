#include "core/search/HtmlTags.h"

#include <QRegularExpression>
#include <QTextDocumentFragment>

#include <algorithm>

namespace quillax {

namespace {

bool isSpace(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\f');
}

bool isKept(QStringView name, const QStringList& keep) {
    return keep.isEmpty() || std::any_of(keep.cbegin(), keep.cend(), [name](const QString& k) {
               return k.size() == name.size() && name.compare(k, Qt::CaseInsensitive) == 0;
           });
}

// Where the text of the raw-text element `name` that starts at `from` ends: at its end tag,
// "</name" followed by white space, "/" or ">" ("</scripts>" is not one), letter case ignored;
// -1 when it never ends. Each character is looked at once, so a page of a hundred thousand such
// elements is read in one pass.
qsizetype rawTextEnd(const QString& page, qsizetype from, const QString& name) {
    const qsizetype n = page.size();
    for (qsizetype at = page.indexOf(QLatin1String("</"), from); at >= 0;
         at = page.indexOf(QLatin1String("</"), at + 2)) {
        const qsizetype after = at + 2 + name.size();
        if (after >= n) {
            return -1;
        }
        const QChar c = page.at(after);
        if ((isSpace(c) || c == QLatin1Char('\v') || c == QLatin1Char('/') ||
             c == QLatin1Char('>')) &&
            QStringView(page).sliced(at + 2, name.size()).compare(name, Qt::CaseInsensitive) == 0) {
            return at;
        }
    }
    return -1;
}

} // namespace

HtmlTag ReadHtmlTag(const QString& page, qsizetype at, const QStringList& keep) {
    HtmlTag tag;
    const qsizetype n = page.size();
    qsizetype i = at + 1;
    while (i < n && !isSpace(page.at(i)) && page.at(i) != QLatin1Char('>')) {
        ++i;
    }
    tag.name = page.mid(at + 1, i - at - 1).toLower();
    if (tag.name.size() > 1 && tag.name.endsWith(QLatin1Char('/'))) {
        tag.name.chop(1); // "<script/>"
    }
    while (i < n) {
        while (i < n && (isSpace(page.at(i)) || page.at(i) == QLatin1Char('/'))) {
            ++i;
        }
        if (i >= n || page.at(i) == QLatin1Char('>')) {
            break;
        }
        const qsizetype nameStart = i;
        while (i < n && !isSpace(page.at(i)) && page.at(i) != QLatin1Char('=') &&
               page.at(i) != QLatin1Char('>') && page.at(i) != QLatin1Char('/')) {
            ++i;
        }
        const QStringView written = QStringView(page).sliced(nameStart, i - nameStart);
        const bool kept = isKept(written, keep);
        const QString name = kept ? written.toString().toLower() : QString();
        qsizetype j = i;
        while (j < n && isSpace(page.at(j))) {
            ++j;
        }
        if (j >= n || page.at(j) != QLatin1Char('=')) {
            if (kept) {
                tag.attributes.insert(name, QStringView());
            }
            continue;
        }
        i = j + 1;
        while (i < n && isSpace(page.at(i))) {
            ++i;
        }
        if (i < n && (page.at(i) == QLatin1Char('"') || page.at(i) == QLatin1Char('\''))) {
            const QChar quote = page.at(i);
            const qsizetype close = page.indexOf(quote, i + 1);
            if (close < 0) {
                i = n;
                break;
            }
            if (kept && !tag.attributes.contains(name)) {
                tag.attributes.insert(name, QStringView(page).sliced(i + 1, close - i - 1));
            }
            i = close + 1;
        } else {
            const qsizetype valueStart = i;
            while (i < n && !isSpace(page.at(i)) && page.at(i) != QLatin1Char('>')) {
                ++i;
            }
            if (kept && !tag.attributes.contains(name)) {
                tag.attributes.insert(name, QStringView(page).sliced(valueStart, i - valueStart));
            }
        }
    }
    tag.end = i;
    return tag;
}

void ForEachHtmlTag(const QString& page, const std::function<bool(const HtmlTag&)>& visit,
                    SkipRawText skip, const QStringList& keep) {
    static const QStringList rawText = {
        QStringLiteral("script"),  QStringLiteral("style"),    QStringLiteral("textarea"),
        QStringLiteral("title"),   QStringLiteral("noscript"), QStringLiteral("iframe"),
        QStringLiteral("noembed"), QStringLiteral("noframes"), QStringLiteral("xmp")};
    // Every search below starts where the one before it ended: the page is read once.
    qsizetype at = page.indexOf(QLatin1Char('<'));
    while (at >= 0) {
        if (QStringView(page).sliced(at).startsWith(QLatin1String("<!--"))) {
            const qsizetype close = page.indexOf(QLatin1String("-->"), at + 4);
            if (close < 0) {
                return;
            }
            at = page.indexOf(QLatin1Char('<'), close + 3);
            continue;
        }
        const HtmlTag tag = ReadHtmlTag(page, at, keep);
        if (!visit(tag) || tag.end < 0 || tag.end >= page.size()) {
            return;
        }
        qsizetype next = tag.end;
        if (skip == SkipRawText::Yes && rawText.contains(tag.name)) {
            next = rawTextEnd(page, tag.end, tag.name);
            if (next < 0) {
                return; // the element never ends: nothing after it is markup
            }
        }
        at = page.indexOf(QLatin1Char('<'), next);
    }
}

QString DecodeHtmlText(const QString& text) {
    if (!text.contains(QLatin1Char('&'))) {
        return text;
    }
    // Qt's HTML reader knows every named reference; the text's own "<" and ">" are escaped
    // first, so that only references are read, never markup.
    QString escaped;
    escaped.reserve(text.size());
    // A numeric reference to no character reads as U+FFFD, as browsers read it. The text is
    // copied once around them: replacing each in place would move the rest of it every time.
    static const QRegularExpression numeric(QStringLiteral("&#(?:[xX]([0-9A-Fa-f]+)|(\\d+));?"));
    QRegularExpressionMatchIterator it = numeric.globalMatch(text);
    qsizetype copied = 0;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        bool ok = false;
        const qulonglong value = m.capturedLength(1) > 0
                                     ? m.captured(1).left(8).toULongLong(&ok, 16)
                                     : m.captured(2).left(8).toULongLong(&ok, 10);
        const bool named = ok && m.capturedLength(1) <= 8 && m.capturedLength(2) <= 8 &&
                           value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
        if (!named) {
            escaped += QStringView(text).sliced(copied, m.capturedStart() - copied);
            escaped += QLatin1String("&#xFFFD;");
            copied = m.capturedEnd();
        }
    }
    escaped += QStringView(text).sliced(copied);
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    escaped.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    QString decoded = QTextDocumentFragment::fromHtml(escaped).toPlainText();
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded.at(i);
        if (c.isHighSurrogate() && i + 1 < decoded.size() && decoded.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            decoded[i] = QChar::ReplacementCharacter;
        }
    }
    return decoded;
}

} // namespace quillax
