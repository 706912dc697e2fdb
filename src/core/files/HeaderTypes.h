#pragma once
// File types from HTTP response headers, and the handling of an item's alternative
// addresses. The item's name always comes from the item, never from the server.

#include <QString>

namespace quillax {

/// Longest extension an extension filter lets through.
inline constexpr int kMaxHeaderExtensionLetters = 5;

/// The current address: the text before the first "|".
QString 选择url(const QString& addressList);
/// Makes the next alternative current: 'a|b' → 'b|a', 'a|b|c' → 'c|a|b'; other lists stay.
QString 对调url(const QString& addressList);
/// "scheme://host" of "scheme://host/path/file"; the whole address when it has no path.
QString SiteRootOfUrl(const QString& address);
/// The address a click on a text holding an address list opens: its first alternative, when
/// it is an http or https address; empty otherwise (status words, names, other schemes).
QString BrowsableAddress(const QString& text);
/// Removes line breaks, NUL and tabs, then trims spaces at both ends.
QString StripLineBreaks(const QString& text);

/// The extension for a media type (a Content-Type value without parameters), or empty.
QString ExtensionFromContentType(const QString& mediaType);
/// The value of the first "Content-Disposition:" line of a raw header block, or empty.
QString 从网络文件Header获取ContentDisposition(const QString& headerBlock);
/// The extension of the file name in a Content-Disposition value ("filename=" only), or empty.
QString 从下载头信息ContentDisposition获取文件名(const QString& disposition);

/// The value of the first header line named `name` (any case) in a raw header block, trimmed;
/// empty when there is none.
QString HeaderValue(const QString& headerBlock, const QString& name);

/// What the response headers say about the file.
struct HeaderTypeDecision {
    QString type;    ///< the type the item takes: from the headers, or the item's own
    QString charset; ///< the Content-Type's charset parameter, or empty
};

/// Decides the item's type from the raw header block: the Content-Type's extension, else the
/// Content-Disposition file name's extension, else "htm" when a charset was given, else the
/// item's `currentType`.
HeaderTypeDecision DecideTypeFromHeaders(const QString& headerBlock, const QString& currentType);

} // namespace quillax
