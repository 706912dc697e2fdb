#pragma once
// The real type of a stored file from its first bytes: servers often answer a request for a
// full text with a login page or a document under a misleading name.

#include <QString>

namespace quillax {

class DownloadListModel;

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

/// Gives the file of the item at `row` the extension of its recognised type: renames it to a
/// free name and sets the item's type and name from the file now present. True when the file
/// now carries a new type; a failed rename leaves file and item as they were.
bool 纠正下载项类型(DownloadListModel& list, int row);
/// Runs the correction over the finished rows whose file the row stored; returns how many files
/// now carry a new type.
int CorrectStoredFileTypes(DownloadListModel& list);

} // namespace quillax
