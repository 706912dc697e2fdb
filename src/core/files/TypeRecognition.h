#pragma once
// The real type of a stored file from its first bytes: servers often answer a request for a
// full text with a login page or a document under a misleading name.

#include <QString>

namespace quillax {

/// Bytes of a file read for the signatures (plus one more, see `打开文件判断文件类型`).
inline constexpr qint64 kHeadBlockMaxLength = 10240;
inline constexpr qint64 kTailBlockLength = 128;
/// Files below these sizes get the web-page and the caa text tests.
inline constexpr qint64 kHtmlTestBelowBytes = 200 * 1024;
inline constexpr qint64 kCaaTestBelowBytes = 3 * 1024;

/// The recognised type of the file at `path` in lower case (pdf, htm, doc, ...), or empty when
/// there is no file, it cannot be read, or its content matches no rule. Reads at most 10241
/// bytes from the start, 128 from the end, and the whole file only below 3072 bytes.
QString 打开文件判断文件类型(const QString& path);

} // namespace quillax
