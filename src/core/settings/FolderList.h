#pragma once
// The remembered folders (SaveList.dat in the per-user data folder) that the save-folder chooser
// and the copy dialog offer in their folder boxes.

#include <QString>
#include <QStringList>
#include <optional>

namespace quillax {

/// At most this many non-empty lines of a folder-list file are read.
inline constexpr int kMaxFolderListLines = 100;

/// "<per-user data folder>/SaveList.dat".
QString SaveListPath();

/// The folder a folder text names: "~/" resolved, made absolute, cleaned (no trailing "/").
/// Two texts name the same folder when these are equal; the comparison is exact, since Linux
/// file systems are case-sensitive.
QString ResolvedFolder(const QString& folder);
bool SameFolder(const QString& a, const QString& b);
/// True when some entry of `folders` names the same folder as `folder`.
bool FolderListContains(const QStringList& folders, const QString& folder);

/// The folders of a folder-list file: lines trimmed of spaces, empty lines skipped, a line
/// naming a folder already taken skipped, reading stops after `kMaxFolderListLines` non-empty
/// lines. Nothing when there is no such file or it cannot be read.
std::optional<QStringList> ReadFolderList(const QString& path);
/// Writes `folders` one per line (CR LF, UTF-8), replacing the file only once it is complete;
/// an empty list is one empty line. Creates the file's folder when missing. False on failure.
bool WriteFolderList(const QString& path, const QStringList& folders);

/// `folders` with `folder` put first (newest first): an entry naming the same folder moves up
/// instead of being repeated, and only the most recent `kMaxFolderListLines` are kept.
QStringList RememberFolder(const QStringList& folders, const QString& folder);

} // namespace quillax
