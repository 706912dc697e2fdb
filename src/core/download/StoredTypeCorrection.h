#pragma once
// A stored file renamed to the extension of its recognised type, and its row following it: a
// login page saved instead of a PDF becomes an "htm" item.

#include <QString>

namespace quillax {

class DownloadListModel;

/// The item at `row` follows the file its body was stored in, when that is not the item's own
/// path: its name and type become those of `path`. True when the row moved.
bool FollowStoredFile(DownloadListModel& list, int row, const QString& path);

/// Gives the file of the item at `row` the extension of its recognised type: renames it to a
/// free name and sets the item's type and name from the file now present. True when the file
/// now carries a new type; a failed rename leaves file and item as they were.
bool 纠正下载项类型(DownloadListModel& list, int row);
/// Runs the correction over the finished rows whose file the row stored; returns how many files
/// now carry a new type.
int CorrectStoredFileTypes(DownloadListModel& list);

} // namespace quillax
