#pragma once
// Copying files into a folder under a same-name rule, the bracketed-counter renaming, and the
// name splitting they use. Every copy is written to a temporary file in the destination and
// put in place only when complete, with the source's modification time, so a failed copy never
// costs the file it would have replaced and copying an unchanged file again is recognised.

#include <QString>
#include <QStringList>

namespace quillax {

/// What to do when the destination already holds a file of the same name.
enum class SameNameOption : int {
    Skip = 1,
    Overwrite = 2,
    Rename = 3,
    OverwriteIfSameSizeAndTime = 4, ///< else rename
    OverwriteIfSameSize = 5,        ///< else rename
};
inline constexpr int kDefaultSameNameOption = 4;

/// The counter renaming gives up after this many taken names.
inline constexpr int kMaxRenameCounter = 99999;

/// Splits a path (trimmed of spaces) into its folder part, which is returned and keeps its
/// trailing "/", the base name and the extension (the text after the last "." when it is at
/// most six characters long). Base name and extension are trimmed; an empty base name becomes
/// the whole name with no extension.
QString SplitFilePath(const QString& path, QString* extension, QString* baseName);

/// The bracketed counter at the end of a name ("7" for "a[7]"), and its stem ("a"); for a name
/// without one, an empty counter and the whole name as stem.
QString SplitCounterSuffix(const QString& name, QString* stem);

/// base + "." + extension, or the base alone when there is no extension.
QString JoinFileName(const QString& baseName, const QString& extension);

/// Copies `source` to `target` through a temporary file in the target's folder, keeping the
/// source's modification time and permissions. With `replace` an existing file (or link) at
/// `target` is swapped for the copy only once the copy is complete; without it the copy fails
/// when anything occupies `target`. A link at `target` is replaced, never written through.
bool CopyFileKeepingTime(const QString& source, const QString& target, bool replace);

/// Copies `source` into `folder` under the first free name of stem, stem[001], stem[002], ...
/// (the stem is the source's base name without any counter). False when the source does not
/// exist or the copy failed.
bool 复制相同文件自动重命名(const QString& source, const QString& folder);

/// True when the two paths name the same folder once links and "~/" are resolved.
bool SameResolvedFolder(const QString& a, const QString& b);

enum class CopyOutcome { Copied, Replaced, Renamed, Skipped, SameFolder, Failed };

/// Copies one file into `destFolder` under its own name, applying `option` when that name is
/// taken. A source lying in the destination folder itself is skipped.
CopyOutcome CopyIntoFolder(const QString& source, const QString& destFolder, SameNameOption option);

/// The failed files named in the closing message; the rest are counted only.
inline constexpr int kNamedFailures = 3;

/// What one run of the copy dialog did, so its closing message can say it.
struct CopyRunTally {
    int copied = 0;  ///< copied, replaced or copied under a counter name
    int skipped = 0; ///< left alone by the same-name option, or already in the folder
    int failed = 0;
    int notReached = 0;      ///< left over when the run was stopped
    QStringList failedNames; ///< the first kNamedFailures failed file names, in order
    void add(CopyOutcome outcome, const QString& fileName);
};

/// The message that ends a run: "复制文件完成！" only for a run that went through every file
/// without a failure; otherwise the counts, and the names of the first failed files.
QString CopyRunMessage(const CopyRunTally& tally, bool stopped);

} // namespace quillax
