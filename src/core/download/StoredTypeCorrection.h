#pragma once
// A stored file renamed to the extension of its recognised type, and its row following it: a
// login page saved instead of a PDF becomes an "htm" item.

namespace quillax {

class DownloadListModel;

/// Gives the file of the item at `row` the extension of its recognised type: renames it to a
/// free name and sets the item's type and name from the file now present. True when the file
/// now carries a new type; a failed rename leaves file and item as they were.
bool 纠正下载项类型(DownloadListModel& list, int row);
/// Runs the correction over the finished rows whose file the row stored; returns how many files
/// now carry a new type.
int CorrectStoredFileTypes(DownloadListModel& list);

} // namespace quillax
