#include "core/search/CacheBodies.h"

#include "core/files/FileNaming.h"
#include "core/search/CacheInternal.h"
#include "core/search/CacheRemoval.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef QUILLAX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace quillax {

using namespace cache_internal;

namespace {

constexpr qint64 kIoChunk = 64 * 1024;

bool timesEqual(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// A folder inside `parent` (resolved) that is a real folder, created when missing.
bool ensurePlainFolder(const QString& path) {
    struct stat st {};
    if (!lstatPath(path, &st)) {
        ::mkdir(QFile::encodeName(path).constData(), 0700);
        if (!lstatPath(path, &st)) {
            return false;
        }
    }
    return S_ISDIR(st.st_mode);
}

enum class BodyCoding { Plain, Zlib };

// How a body stored with `encoding` is turned into the plain file; false when it cannot be.
bool codingOf(const QString& encoding, BodyCoding* coding) {
    if (encoding.isEmpty() || encoding == QLatin1String("identity")) {
        *coding = BodyCoding::Plain;
        return true;
    }
#ifdef QUILLAX_HAVE_ZLIB
    if (encoding == QLatin1String("gzip") || encoding == QLatin1String("x-gzip") ||
        encoding == QLatin1String("deflate")) {
        *coding = BodyCoding::Zlib;
        return true;
    }
#endif
    return false;
}

enum class WriteResult { Done, Failed, OverBudget, Cancelled };

// Copies `size` bytes of `in` from `offset` into `out`, decoding when asked, writing at most
// `maxBytes`.
WriteResult writeBody(QFile& in, qint64 offset, qint64 size, BodyCoding coding, int out,
                      qint64 maxBytes, const std::atomic<bool>* cancel) {
    auto writeAll = [out](const char* data, qint64 n) {
        while (n > 0) {
            const ssize_t w = ::write(out, data, static_cast<size_t>(n));
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            data += w;
            n -= w;
        }
        return true;
    };
    auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
    if (!in.seek(offset)) {
        return WriteResult::Failed;
    }
    qint64 left = size;
    if (coding == BodyCoding::Plain) {
        if (size > maxBytes) {
            return WriteResult::OverBudget;
        }
        while (left > 0) {
            if (cancelled()) {
                return WriteResult::Cancelled;
            }
            const QByteArray chunk = in.read(std::min(left, kIoChunk));
            if (chunk.isEmpty() || !writeAll(chunk.constData(), chunk.size())) {
                return WriteResult::Failed;
            }
            left -= chunk.size();
        }
        return WriteResult::Done;
    }
#ifdef QUILLAX_HAVE_ZLIB
    // gzip or zlib framing (detected), else raw deflate, which some servers send as "deflate".
    for (const int windowBits : {15 + 32, -15}) {
        if (!in.seek(offset) || ::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0) {
            return WriteResult::Failed;
        }
        z_stream z{};
        if (inflateInit2(&z, windowBits) != Z_OK) {
            return WriteResult::Failed;
        }
        QByteArray output(kIoChunk, Qt::Uninitialized);
        qint64 produced = 0;
        left = size;
        int rc = Z_OK;
        WriteResult result = WriteResult::Done;
        while (rc != Z_STREAM_END && result == WriteResult::Done) {
            if (left <= 0) {
                result = WriteResult::Failed; // the body ended before the compressed stream did
                break;
            }
            if (cancelled()) {
                result = WriteResult::Cancelled;
                break;
            }
            QByteArray input = in.read(std::min(left, kIoChunk));
            if (input.isEmpty()) {
                result = WriteResult::Failed;
                break;
            }
            left -= input.size();
            z.next_in = reinterpret_cast<Bytef*>(input.data());
            z.avail_in = static_cast<uInt>(input.size());
            do {
                z.next_out = reinterpret_cast<Bytef*>(output.data());
                z.avail_out = static_cast<uInt>(output.size());
                rc = inflate(&z, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                    result = WriteResult::Failed;
                    break;
                }
                const qint64 n = output.size() - z.avail_out;
                produced += n;
                if (produced > maxBytes) {
                    result = WriteResult::OverBudget;
                    break;
                }
                if (!writeAll(output.constData(), n)) {
                    result = WriteResult::Failed;
                    break;
                }
            } while (z.avail_out == 0 && rc != Z_STREAM_END);
        }
        inflateEnd(&z);
        if (result != WriteResult::Failed) {
            return result;
        }
    }
    return WriteResult::Failed;
#else
    return WriteResult::Failed;
#endif
}

} // namespace

QString BodyFileName(const QString& address) {
    const QUrl url(address);
    QString name = url.isValid() ? url.fileName(QUrl::FullyDecoded) : QString();
    if (name.isEmpty() && !url.isValid()) {
        name = lastSegment(address);
    }
    name = CleanFileName(name);
    return name.isEmpty() ? QStringLiteral("index") : name;
}

bool HasPlainBody(const CacheEntryRecord& entry) {
    BodyCoding coding = BodyCoding::Plain;
    return entry.framed && entry.bodySize > 0 && codingOf(entry.contentEncoding, &coding);
}

QString ExtractEntryBody(const CacheEntryRecord& entry, const QString& extractRoot, qint64 maxBytes,
                         BodyOutcome* outcome, const std::atomic<bool>* cancel) {
    BodyOutcome ignored = BodyOutcome::NoPlainBody;
    BodyOutcome& result = outcome != nullptr ? *outcome : ignored;
    result = BodyOutcome::NoPlainBody;
    BodyCoding coding = BodyCoding::Plain;
    if (!HasPlainBody(entry) || !codingOf(entry.contentEncoding, &coding)) {
        return {};
    }
    if (coding == BodyCoding::Plain && entry.bodySize > maxBytes) {
        result = BodyOutcome::OverBudget;
        return {};
    }
    const QRegularExpressionMatch m = entryFileName().match(QFileInfo(entry.entryFile).fileName());
    if (!m.hasMatch()) {
        return {};
    }
    QFile in;
    const int inFd =
        ::open(QFile::encodeName(entry.entryFile).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (inFd < 0 || !in.open(inFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (inFd >= 0) {
            ::close(inFd);
        }
        return {};
    }
    struct stat source {};
    if (::fstat(inFd, &source) != 0 || !S_ISREG(source.st_mode)) {
        return {};
    }
    if (!ensurePlainFolder(extractRoot)) {
        return {};
    }
    const QString root = resolvedFolder(extractRoot);
    if (root.isEmpty()) {
        return {};
    }
    const QString folder = root + QLatin1Char('/') + m.captured(1);
    if (!ensurePlainFolder(folder)) {
        return {};
    }
    const QString name = BodyFileName(entry.address);
    const QString path = folder + QLatin1Char('/') + name;
    struct stat existing {};
    if (lstatPath(path, &existing) && S_ISREG(existing.st_mode) && timesEqual(existing, source) &&
        existing.st_size <= maxBytes) {
        result = BodyOutcome::Written;
        return path;
    }
    // Files of this entry under an earlier name go.
    QStringList old;
    ListFilesRecursive(folder, old, false);
    for (const QString& file : std::as_const(old)) {
        if (file != path) {
            强制删除(file, {root});
        }
    }
    QByteArray temp = QFile::encodeName(folder + QStringLiteral("/.body-XXXXXX"));
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        return {};
    }
    const WriteResult written =
        writeBody(in, entry.bodyOffset, entry.bodySize, coding, out, maxBytes, cancel);
    bool ok = written == WriteResult::Done;
    ::fchmod(out, 0644);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ok = ok && ::futimens(out, times) == 0;
    ok = (::close(out) == 0) && ok;
    ok = ok && ::rename(temp.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        if (written == WriteResult::OverBudget) {
            result = BodyOutcome::OverBudget;
        } else if (written == WriteResult::Cancelled) {
            result = BodyOutcome::Cancelled;
        }
        return {};
    }
    result = BodyOutcome::Written;
    return path;
}

WrittenBodies WriteOutBodies(const QStringList& entryFiles, const QString& extractRoot,
                             qint64 budget, const std::atomic<bool>* cancel) {
    WrittenBodies written;
    // Bodies of earlier copies go; those asked for again may be reused.
    PruneExtractedBodies(extractRoot, entryFiles);
    QVector<CacheEntryRecord> records;
    qint64 plainTotal = 0;
    for (const QString& file : entryFiles) {
        records.append(ReadCacheEntry(file));
        BodyCoding coding = BodyCoding::Plain;
        if (HasPlainBody(records.last()) && codingOf(records.last().contentEncoding, &coding) &&
            coding == BodyCoding::Plain) {
            plainTotal += records.last().bodySize;
        }
    }
    // What plain bodies take is known before anything is written.
    if (plainTotal > budget) {
        written.overBudget = true;
        return written;
    }
    qint64 left = budget;
    for (const CacheEntryRecord& record : std::as_const(records)) {
        BodyOutcome outcome = BodyOutcome::NoPlainBody;
        const QString path = ExtractEntryBody(record, extractRoot, left, &outcome, cancel);
        if (outcome == BodyOutcome::OverBudget) {
            written.overBudget = true;
            break;
        }
        if (outcome == BodyOutcome::Cancelled || (cancel != nullptr && cancel->load())) {
            written.cancelled = true;
            break;
        }
        struct stat st {};
        if (!path.isEmpty() && lstatPath(path, &st)) {
            left -= static_cast<qint64>(st.st_size);
        }
        written.paths << path;
    }
    if (written.overBudget || written.cancelled) {
        written.paths.clear();
        PruneExtractedBodies(extractRoot, {});
    }
    return written;
}

QString CopyBudgetRefusal(qint64 budget) {
    constexpr qint64 kMiB = 1024 * 1024;
    return QStringLiteral("选中的文件总大小超过%1MB，请少选一些再复制！")
        .arg((budget + kMiB - 1) / kMiB);
}

void PruneExtractedBodies(const QString& extractRoot, const QStringList& keepEntryFiles) {
    const QString root = resolvedFolder(extractRoot);
    if (root.isEmpty()) {
        return;
    }
    QStringList keep;
    for (const QString& file : keepEntryFiles) {
        const QRegularExpressionMatch m = entryFileName().match(QFileInfo(file).fileName());
        if (m.hasMatch()) {
            keep << m.captured(1);
        }
    }
    QStringList folders;
    ListSubfolders(root, folders, false);
    for (const QString& folder : std::as_const(folders)) {
        if (keep.contains(lastSegment(folder))) {
            continue;
        }
        QStringList files;
        ListFilesRecursive(folder, files, false);
        for (const QString& file : std::as_const(files)) {
            强制删除(file, {root});
        }
        RemoveEmptyFolder(folder, {root});
    }
}

} // namespace quillax
