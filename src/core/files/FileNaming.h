#pragma once
// Making names safe for the file system, creating folders level by level, and the small
// file-system routines used before and after every download. None of them throws: a failure
// gives the documented "no" result (false, an empty text, the unchanged input).

#include <QString>

namespace quillax {

/// Byte limit of a cleaned name, counted in UTF-8. It leaves room under the 255-byte limit of
/// Linux file names for a counter such as "[0001]" and an extension of up to six characters.
inline constexpr int kMaxNameBytes = 200;
/// `UniqueFilePath` cuts a base name to this many characters.
inline constexpr int kUniqueBaseMaxChars = 100;
/// `SplitNameAndExtension` treats a longer extension as part of the name.
inline constexpr int kMaxExtensionChars = 6;

/// Removes the characters forbidden in file names (also on Windows file systems, so names stay
/// valid on shared and removable drives), line breaks and NUL, leading and trailing dots, and
/// cuts the result to `kMaxNameBytes`. The result may be empty.
QString CleanFileName(const QString& name);
/// `CleanFileName(name)`, or when that is empty the cleaned last segment of `address` without
/// its extension, or else "未命名": a title made only of forbidden characters still gives a
/// visible file name.
QString ItemNameOrFallback(const QString& name, const QString& address);

/// The longest prefix of `text` whose UTF-8 encoding has at most `maxBytes` bytes. A character
/// that the limit would cut in half is dropped whole.
QString TruncateAnsiBytes(const QString& text, int maxBytes);

/// ExpandHomePath (TextUtil.h) reads "~/x" and "~" as the home folder.

/// Creates every level of `path` that is missing, each level cleaned with `CleanFileName`, and
/// returns the folder as created (without a trailing "/"), or an empty text when it does not
/// exist in the end. A level that cleans to empty shows "文件夹名称有误！不能创建文件夹！" and
/// stops the walk.
QString EnsureFolderPath(const QString& path);

/// Why `EnsureFolderPath` could not make `path`, in words for the user: a level that is a file,
/// a parent folder without permission, an invalid name. Asks nothing and creates nothing.
QString FolderCreateProblem(const QString& path);

/// True when a file can be created in `folder` now (tried with a temporary file that is
/// removed at once): permissions alone do not tell, for root or on a read-only mount.
bool FolderWritable(const QString& folder);
bool FileExists(const QString& path);
bool FolderExists(const QString& path);

/// True when anything occupies `path`: a file, a folder, or a link (even a dangling one).
/// A new file cannot be created there without destroying or following what is there.
bool PathOccupied(const QString& path);

/// `folder` with a "/" appended when it does not end in one.
QString WithTrailingSlash(const QString& folder);

/// The file path of a download item: folder, name, and "." + type when the type is not empty.
QString ItemFilePath(const QString& folder, const QString& name, const QString& type);

/// A path where nothing exists yet: the path itself when free, else the base (cut to 100
/// characters) with "[0001]", "[0002]", ... before the extension.
QString UniqueFilePath(const QString& path);

/// The last segment of a path or address ("/" and "\" both separate), trimmed; without its
/// extension when `stripExtension` is set.
QString FileNameFromPath(const QString& path, bool stripExtension);

/// The extension of the last segment of `path` (empty when there is none or when it is longer
/// than six characters); `baseName` receives the rest. Both trimmed.
QString SplitNameAndExtension(const QString& path, QString* baseName);

/// Reveals the file in the file manager; false when there is no file or the desktop refused.
bool ShowFileInFolder(const QString& path);

/// Opens the file with its default program; "文件不存在！" when there is no file.
void OpenWithDefaultProgram(const QString& path);

/// True for a non-empty text of ASCII digits only, after trimming spaces. The bracketed
/// counters that this program writes are always of this form.
bool IsCounterText(const QString& text);

} // namespace quillax
