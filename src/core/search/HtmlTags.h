#pragma once
// Reading the start tags of a page's source without a browser: record pages are fetched as text
// and only a few of their elements matter (the PDF address, the citation meta tags).

#include <QHash>
#include <QString>
#include <functional>

namespace quillax {

/// One start tag: its name and attributes, names lower-cased (the first of a repeated attribute
/// wins); `end` is where the tag ends in the page.
struct HtmlTag {
    QString name;
    QHash<QString, QString> attributes;
    qsizetype end = -1;
};

/// Reads the tag that opens at `at` ("<"). A value whose quote never closes is left out: a page
/// that breaks off there gives nothing of it rather than the rest of the page.
HtmlTag ReadHtmlTag(const QString& page, qsizetype at);

/// Calls `visit` for each tag of the page in order, comments skipped, until it returns false.
void ForEachHtmlTag(const QString& page, const std::function<bool(const HtmlTag&)>& visit);

/// The text of an attribute value as a browser reads it: character references decoded.
QString DecodeHtmlText(const QString& text);

} // namespace quillax
