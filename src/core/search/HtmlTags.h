#pragma once
// Reading the start tags of a page's source without a browser: record pages are fetched as text
// and only a few of their elements matter (the PDF address, the citation meta tags).

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace quillax {

/// One start tag: its name and attributes, names lower-cased (the first of a repeated attribute
/// wins); `end` is where the tag ends in the page. The values are views into the page read,
/// good while it is: a value the reader passes over is never copied.
struct HtmlTag {
    QString name;
    QHash<QString, QStringView> attributes;
    qsizetype end = -1;
};

/// Reads the tag that opens at `at` ("<"). A value whose quote never closes is left out: a page
/// that breaks off there gives nothing of it rather than the rest of the page. Only the
/// attributes named in `keep` (lower-case) are held, every one when it is empty: a tag of a
/// million attributes costs no more than its text.
HtmlTag ReadHtmlTag(const QString& page, qsizetype at, const QStringList& keep = {});

/// Whether the text of script, style, textarea and title elements is passed over, as a browser
/// reads it: a "<meta" written inside a script is no tag of the page.
enum class SkipRawText { No, Yes };

/// Calls `visit` for each tag of the page in order, comments skipped, until it returns false;
/// each tag holds the attributes named in `keep`, as ReadHtmlTag. One pass over the page,
/// whatever it holds.
void ForEachHtmlTag(const QString& page, const std::function<bool(const HtmlTag&)>& visit,
                    SkipRawText skip = SkipRawText::No, const QStringList& keep = {});

/// The text of an attribute value as a browser reads it: character references decoded, one that
/// names no character (out of range, a lone surrogate half) as U+FFFD.
QString DecodeHtmlText(const QString& text);

} // namespace quillax
