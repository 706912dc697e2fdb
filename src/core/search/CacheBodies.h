#pragma once
// Writing the bodies of cache entries out as plain files, decoded, within a copy budget.

#include "core/search/CacheReader.h"

#include <QString>
#include <QStringList>

#include <atomic>

namespace quillax {

/// One copy writes out at most this many bytes of bodies in all: a compressed body can grow a
/// thousandfold when decoded.
inline constexpr qint64 kCopyOutBudgetBytes = 256LL * 1024 * 1024;

/// True when the entry's body can be given as a plain file: its place is known, it is not empty
/// and its content encoding is one this reader undoes.
bool HasPlainBody(const CacheEntryRecord& entry);
/// The name a written-out body gets: the address's last path segment, cleaned, or "index".
QString BodyFileName(const QString& address);

enum class BodyOutcome { Written, NoPlainBody, OverBudget, Cancelled };
/// Writes the entry's body, decoded from gzip or deflate when it was stored so, to
/// "<extractRoot>/<entry hash>/<BodyFileName>", and returns that path; an unchanged entry
/// reuses the file written before. Empty when the body cannot be given as a plain file, would
/// take more than `maxBytes`, or `cancel` was set; `outcome` says which.
QString ExtractEntryBody(const CacheEntryRecord& entry, const QString& extractRoot,
                         qint64 maxBytes = kCopyOutBudgetBytes, BodyOutcome* outcome = nullptr,
                         const std::atomic<bool>* cancel = nullptr);
/// Removes the folders below `extractRoot` whose entry is not among `keepEntryFiles`.
void PruneExtractedBodies(const QString& extractRoot, const QStringList& keepEntryFiles);

struct WrittenBodies {
    QStringList paths;       ///< one per entry file asked for, empty where there is no body
    bool overBudget = false; ///< refused: nothing of this run is left on disk
    bool cancelled = false;  ///< stopped: nothing of this run is left on disk
};
/// Writes out the bodies of the entries whose main files are `entryFiles`, in order, below
/// `extractRoot`, with `budget` bytes for all of them; bodies of earlier runs go. Runs on any
/// thread: it touches nothing but the files.
WrittenBodies WriteOutBodies(const QStringList& entryFiles, const QString& extractRoot,
                             qint64 budget, const std::atomic<bool>* cancel = nullptr);
/// The refusal shown when a copy would take more than `budget` bytes.
QString CopyBudgetRefusal(qint64 budget);

} // namespace quillax
