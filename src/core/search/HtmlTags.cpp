#include "core/search/HtmlTags.h"

#include <QTextDocumentFragment>

namespace quillax {

namespace {

bool isSpace(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\f');
}

} // namespace

HtmlTag ReadHtmlTag(const QString& page, qsizetype at) {
    HtmlTag tag;
    const qsizetype n = page.size();
    qsizetype i = at + 1;
    while (i < n && !isSpace(page.at(i)) && page.at(i) != QLatin1Char('>')) {
        ++i;
    }
    tag.name = page.mid(at + 1, i - at - 1).toLower();
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
        const QString name = page.mid(nameStart, i - nameStart).toLower();
        qsizetype j = i;
        while (j < n && isSpace(page.at(j))) {
            ++j;
        }
        if (j >= n || page.at(j) != QLatin1Char('=')) {
            tag.attributes.insert(name, QString());
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
            if (!tag.attributes.contains(name)) {
                tag.attributes.insert(name, page.mid(i + 1, close - i - 1));
            }
            i = close + 1;
        } else {
            const qsizetype valueStart = i;
            while (i < n && !isSpace(page.at(i)) && page.at(i) != QLatin1Char('>')) {
                ++i;
            }
            if (!tag.attributes.contains(name)) {
                tag.attributes.insert(name, page.mid(valueStart, i - valueStart));
            }
        }
    }
    tag.end = i;
    return tag;
}

void ForEachHtmlTag(const QString& page, const std::function<bool(const HtmlTag&)>& visit) {
    qsizetype at = page.indexOf(QLatin1Char('<'));
    while (at >= 0) {
        if (page.mid(at, 4) == QLatin1String("<!--")) {
            const qsizetype close = page.indexOf(QLatin1String("-->"), at + 4);
            if (close < 0) {
                return;
            }
            at = page.indexOf(QLatin1Char('<'), close + 3);
            continue;
        }
        const HtmlTag tag = ReadHtmlTag(page, at);
        if (!visit(tag) || tag.end < 0 || tag.end >= page.size()) {
            return;
        }
        at = page.indexOf(QLatin1Char('<'), tag.end);
    }
}

QString DecodeHtmlText(const QString& text) {
    if (!text.contains(QLatin1Char('&'))) {
        return text;
    }
    // Qt's HTML reader knows every named reference; the text's own "<" and ">" are escaped
    // first, so that only references are read, never markup.
    QString escaped = text;
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    escaped.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return QTextDocumentFragment::fromHtml(escaped).toPlainText();
}

} // namespace quillax
