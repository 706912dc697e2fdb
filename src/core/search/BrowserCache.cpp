#include "core/search/BrowserCache.h"

#include "core/files/FileNaming.h"
#include "core/settings/TextUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#ifdef QUILLAX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace quillax {

namespace {

QString lastSegment(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
}

// The folder resolved through every link, or empty when it does not exist.
QString resolvedFolder(const QString& folder) {
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) {
        return {};
    }
    const QFileInfo info(folder);
    return info.isDir() ? info.canonicalFilePath() : QString();
}

bool lstatPath(const QString& path, struct stat* st) {
    return ::lstat(QFile::encodeName(path).constData(), st) == 0;
}

bool isWalkableName(const QString& folder, const QString& name) {
    if (name.compare(QLatin1String("pagefile.sys"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    return !(folder == QLatin1String("/") &&
             name.compare(QLatin1String("RECYCLER"), Qt::CaseInsensitive) == 0);
}

QFileInfoList folderEntries(const QString& folder) {
    return QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

enum class EntryKind { Folder, File, Other };
struct FolderEntry {
    QString name;
    EntryKind kind;
};

// The entries of the open folder `fd` (hidden ones included), by name; links are files here.
QVector<FolderEntry> readFolder(int fd) {
    QVector<FolderEntry> entries;
    const int own = ::dup(fd);
    DIR* dir = own >= 0 ? ::fdopendir(own) : nullptr;
    if (dir == nullptr) {
        if (own >= 0) {
            ::close(own);
        }
        return entries;
    }
    while (const dirent* e = ::readdir(dir)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String("..")) {
            continue;
        }
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        const EntryKind kind = S_ISDIR(st.st_mode)                          ? EntryKind::Folder
                               : S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? EntryKind::File
                                                                            : EntryKind::Other;
        entries.append({name, kind});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

// Opens the sub-folder `name` of `parent` for listing, refusing a link.
int openSubfolder(int parent, const QString& name) {
    return ::openat(parent, QFile::encodeName(name).constData(),
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The walks go down by descriptors, so a folder swapped for a link while they run is not
// followed: what they list lies below the folder they started in.
void listSubfolders(int fd, const QString& base, QStringList& list, bool recursive, int depth) {
    if (depth > kMaxWalkDepth) {
        return;
    }
    QStringList found;
    for (const FolderEntry& entry : readFolder(fd)) {
        if (entry.kind == EntryKind::Folder && isWalkableName(base, entry.name)) {
            found << entry.name;
        }
    }
    for (const QString& name : std::as_const(found)) {
        list << base + name;
    }
    if (recursive) {
        for (const QString& name : std::as_const(found)) {
            const int sub = openSubfolder(fd, name);
            if (sub >= 0) {
                listSubfolders(sub, base + name + QLatin1Char('/'), list, true, depth + 1);
                ::close(sub);
            }
        }
    }
}

void listFiles(int fd, const QString& base, QStringList& list, bool recursive, int depth) {
    if (depth > kMaxWalkDepth) {
        return;
    }
    QStringList subfolders;
    for (const FolderEntry& entry : readFolder(fd)) {
        if (!isWalkableName(base, entry.name)) {
            continue;
        }
        if (entry.kind == EntryKind::File) {
            list << base + entry.name;
        } else if (entry.kind == EntryKind::Folder) {
            subfolders << entry.name;
        }
    }
    if (recursive) {
        for (const QString& name : std::as_const(subfolders)) {
            const int sub = openSubfolder(fd, name);
            if (sub >= 0) {
                listFiles(sub, base + name + QLatin1Char('/'), list, true, depth + 1);
                ::close(sub);
            }
        }
    }
}

// Walks `folder` (absolute; a link naming the folder itself is followed, none below it).
template <typename Walk> void walkFrom(const QString& folder, Walk walk) {
    if (!folder.startsWith(QLatin1Char('/'))) {
        return;
    }
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        walk(fd, WithTrailingSlash(folder));
        ::close(fd);
    }
}

// The on-disk framing of the browser's "simple" cache entries: a header with the key, the body
// (stream 1), an end record, the response headers (stream 0), an optional key digest and a last
// end record that gives the size of stream 0.
constexpr quint64 kEntryMagic = 0xfcfb6d1ba7725c30ULL;
constexpr quint64 kEndMagic = 0xf4fa6f45970d41d8ULL;
constexpr quint32 kEntryVersion = 5;
constexpr qint64 kEntryHeaderSize = 24;
constexpr qint64 kEndRecordSize = 24;
constexpr qint64 kKeyDigestSize = 32;
constexpr quint32 kEndHasKeyDigest = 2;
constexpr qint64 kMaxKeyBytes = 4 * 1024 * 1024;
constexpr qint64 kMaxResponseInfoBytes = 1024 * 1024;
constexpr qint64 kIoChunk = 64 * 1024;

const QRegularExpression& entryFileName() {
    static const QRegularExpression re(QStringLiteral("^([0-9a-f]{16})_([01s])$"));
    return re;
}

struct EndRecord {
    quint64 magic = 0;
    quint32 flags = 0;
    quint32 streamSize = 0;
};

bool readAt(QFile& file, qint64 offset, qint64 size, QByteArray* out) {
    if (offset < 0 || size < 0 || !file.seek(offset)) {
        return false;
    }
    *out = file.read(size);
    return out->size() == size;
}

bool readEndRecord(QFile& file, qint64 offset, EndRecord* end) {
    QByteArray raw;
    if (!readAt(file, offset, kEndRecordSize, &raw)) {
        return false;
    }
    end->magic = qFromLittleEndian<quint64>(raw.constData());
    end->flags = qFromLittleEndian<quint32>(raw.constData() + 8);
    end->streamSize = qFromLittleEndian<quint32>(raw.constData() + 16);
    return end->magic == kEndMagic;
}

// The Content-Encoding of the stored response: its header lines are NUL-separated after the
// status line and end with an empty line.
QString contentEncodingOf(const QByteArray& responseInfo) {
    static const QByteArray kStatus = "HTTP/";
    const qsizetype start = responseInfo.indexOf(kStatus);
    if (start < 0) {
        return {};
    }
    const qsizetype end = responseInfo.indexOf(QByteArray("\0\0", 2), start);
    const QByteArray block =
        responseInfo.mid(start, end < 0 ? responseInfo.size() - start : end - start);
    for (const QByteArray& line : block.split('\0')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 &&
            line.left(colon).trimmed().compare("content-encoding", Qt::CaseInsensitive) == 0) {
            return QString::fromLatin1(line.mid(colon + 1).trimmed()).toLower();
        }
    }
    return {};
}

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

// ---------------------------------------------------------------------------------------------

CacheLocations DefaultCacheLocations(const QString& profileCachePath) {
    CacheLocations where;
    const QString base = QDir::cleanPath(profileCachePath);
    where.cacheFolder = base + QLatin1Char('/') + QLatin1String(kHttpCacheSubfolder);
    where.extractFolder = base + QLatin1Char('/') + QLatin1String(kExtractedSubfolder);
    where.home = QDir::homePath();
    const QString overridden = qEnvironmentVariable(kEnvUserHomesRoot);
    if (!overridden.isEmpty()) {
        where.homesRoot = overridden;
    } else {
        where.homesRoot = QString::fromLatin1(kDefaultUserHomesRoot);
        where.rootHome = QString::fromLatin1(kRootUserHome);
    }
    return where;
}

QVector<ProfileCache> FindProfileCaches(const CacheLocations& where) {
    QVector<ProfileCache> result;
    const QString ownCache = resolvedFolder(where.cacheFolder);
    QVector<ProfileCache> ownOnly;
    if (!ownCache.isEmpty()) {
        ownOnly.append({lastSegment(where.home), ownCache});
    }
    const QString home = resolvedFolder(where.home);
    if (ownCache.isEmpty() || home.isEmpty() || !ownCache.startsWith(home + QLatin1Char('/'))) {
        return ownOnly;
    }
    const QString relative = ownCache.mid(home.size() + 1);
    // Other users are looked for only beside a home that is itself in the homes root.
    const bool inRoot = resolvedFolder(QFileInfo(home).path()) == resolvedFolder(where.homesRoot) ||
                        (!where.rootHome.isEmpty() && home == resolvedFolder(where.rootHome));
    if (!inRoot) {
        return ownOnly;
    }
    QStringList homes;
    ListSubfolders(where.homesRoot, homes, false);
    if (!where.rootHome.isEmpty() && FolderExists(where.rootHome)) {
        homes << where.rootHome;
    }
    const bool ownHomeListed = std::any_of(
        homes.cbegin(), homes.cend(), [&](const QString& h) { return resolvedFolder(h) == home; });
    if (!ownHomeListed) {
        return ownOnly;
    }
    for (const QString& h : std::as_const(homes)) {
        const QString resolvedHome = resolvedFolder(h);
        const QString cache = resolvedFolder(h + QLatin1Char('/') + relative);
        // A link in someone's home must not lead the walk (and the deletes) elsewhere.
        if (resolvedHome.isEmpty() || cache.isEmpty() ||
            !cache.startsWith(resolvedHome + QLatin1Char('/'))) {
            continue;
        }
        result.append({lastSegment(h), cache});
    }
    return result;
}

// ---------------------------------------------------------------------------------------------

QString FileTypeFromAddress(const QString& text) {
    QString t = text;
    const QString scheme = QStringLiteral("://");
    const qsizetype first = t.indexOf(scheme);
    if (first >= 0) {
        const qsizetype second = t.indexOf(scheme, first + scheme.size());
        if (second >= 0) {
            t = t.mid(first + scheme.size(), second - first - scheme.size());
        }
    }
    t.replace(QLatin1Char('/'), QLatin1Char('\\'));
    t = t.mid(t.lastIndexOf(QLatin1Char('\\')) + 1);
    static const std::array<QChar, 15> cuts = {u'#', u'\b', u'\t', u'\n', u'\r', u':', u'*', u'<',
                                               u'>', u'|',  u'"',  u'\'', u'=',  u'?', u'\0'};
    for (const QChar c : cuts) {
        const qsizetype at = t.indexOf(c);
        if (at >= 0) {
            t.truncate(at);
        }
    }
    const qsizetype dot = t.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) {
        return {};
    }
    const QString type = TrimSpaces(t.mid(dot + 1));
    return type.size() < 7 ? type : QString();
}

void ListSubfolders(const QString& folder, QStringList& list, bool recursive) {
    walkFrom(folder,
             [&](int fd, const QString& base) { listSubfolders(fd, base, list, recursive, 0); });
}

void ListFilesRecursive(const QString& folder, QStringList& list, bool recursive) {
    walkFrom(folder, [&](int fd, const QString& base) { listFiles(fd, base, list, recursive, 0); });
}

// ---------------------------------------------------------------------------------------------

QString AddressFromCacheKey(const QByteArray& key) {
    QString k = QString::fromUtf8(key);
    // "<credentials>/<upload id>/" in front of the address.
    static const QRegularExpression prefix(QStringLiteral("^[0-9]+/"));
    for (int i = 0; i < 2; ++i) {
        const QRegularExpressionMatch m = prefix.match(k);
        if (!m.hasMatch()) {
            break;
        }
        k = k.mid(m.capturedLength());
    }
    // A key split by site: "_dk_<top site> <frame site> <address>"; addresses hold no spaces.
    if (k.startsWith(QLatin1String("_dk_"))) {
        k = k.mid(k.lastIndexOf(QLatin1Char(' ')) + 1);
    }
    return k;
}

CacheEntryRecord ReadCacheEntry(const QString& entryFile) {
    CacheEntryRecord record;
    record.entryFile = entryFile;
    record.entryFiles << entryFile;
    record.address = entryFile;
    QFile file(entryFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return record;
    }
    const qint64 size = file.size();
    QByteArray header;
    if (size < kEntryHeaderSize + 2 * kEndRecordSize ||
        !readAt(file, 0, kEntryHeaderSize, &header)) {
        return record;
    }
    const quint64 magic = qFromLittleEndian<quint64>(header.constData());
    const quint32 version = qFromLittleEndian<quint32>(header.constData() + 8);
    const qint64 keyLength = qFromLittleEndian<quint32>(header.constData() + 12);
    QByteArray key;
    if (magic != kEntryMagic || keyLength <= 0 || keyLength > kMaxKeyBytes ||
        kEntryHeaderSize + keyLength + 2 * kEndRecordSize > size ||
        !readAt(file, kEntryHeaderSize, keyLength, &key)) {
        return record;
    }
    record.keyRead = true;
    record.address = AddressFromCacheKey(key);
    if (version != kEntryVersion) {
        return record;
    }
    EndRecord last;
    if (!readEndRecord(file, size - kEndRecordSize, &last)) {
        return record; // still being written, or cut short
    }
    const qint64 digest = (last.flags & kEndHasKeyDigest) != 0 ? kKeyDigestSize : 0;
    const qint64 infoSize = last.streamSize;
    const qint64 infoStart = size - kEndRecordSize - digest - infoSize;
    const qint64 bodyEnd = infoStart - kEndRecordSize;
    const qint64 bodyStart = kEntryHeaderSize + keyLength;
    EndRecord bodyEndRecord;
    if (infoSize > kMaxResponseInfoBytes || bodyEnd < bodyStart ||
        !readEndRecord(file, bodyEnd, &bodyEndRecord)) {
        return record;
    }
    QByteArray info;
    if (!readAt(file, infoStart, infoSize, &info)) {
        return record;
    }
    record.contentEncoding = contentEncodingOf(info);
    record.bodyOffset = bodyStart;
    record.bodySize = bodyEnd - bodyStart;
    record.framed = true;
    return record;
}

CacheFolderListing ReadCacheFolder(const QString& folder) {
    CacheFolderListing listing;
    const QFileInfo info(folder);
    if (!info.exists()) {
        return listing;
    }
    const QString root = resolvedFolder(folder);
    if (root.isEmpty() || !QDir(root).isReadable()) {
        listing.ok = false;
        return listing;
    }
    const QFileInfoList entries = folderEntries(root);
    QHash<QString, QStringList> partsByHash;
    QStringList hashes;
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !entry.isFile()) {
            continue;
        }
        const QRegularExpressionMatch m = entryFileName().match(entry.fileName());
        if (!m.hasMatch()) {
            continue;
        }
        const QString hash = m.captured(1);
        if (m.captured(2) == QLatin1String("0")) {
            hashes << hash;
        }
        partsByHash[hash] << root + QLatin1Char('/') + entry.fileName();
    }
    bool indexKnown = false;
    QFile index(root + QStringLiteral("/index"));
    if (index.open(QIODevice::ReadOnly)) {
        const QByteArray head = index.read(8);
        indexKnown =
            head.size() == 8 && qFromLittleEndian<quint64>(head.constData()) == kEntryMagic;
    }
    if (hashes.isEmpty() && !indexKnown) {
        ListFilesRecursive(root, listing.files, true);
        return listing;
    }
    listing.entries = true;
    for (const QString& hash : std::as_const(hashes)) {
        CacheEntryRecord record =
            ReadCacheEntry(root + QLatin1Char('/') + hash + QLatin1String("_0"));
        // The entry's main file first: the others belong to it.
        record.entryFiles = QStringList{record.entryFile};
        for (const QString& part : partsByHash.value(hash)) {
            if (part != record.entryFile) {
                record.entryFiles << part;
            }
        }
        listing.records.append(record);
    }
    return listing;
}

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

// ---------------------------------------------------------------------------------------------

namespace {

// A descriptor closed when it goes.
class FolderFd {
public:
    explicit FolderFd(int fd = -1) : fd_(fd) {}
    FolderFd(const FolderFd&) = delete;
    FolderFd& operator=(const FolderFd&) = delete;
    ~FolderFd() { reset(-1); }
    void reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens the folder that holds `path`, which must lie strictly inside one of `roots` (resolved
// folders), one name at a time from "/" with links refused on every step, and gives the
// path's last name. A folder on the way that is swapped for a link, now or later, can then
// not send the removal elsewhere: it acts on the folder that was opened.
bool openHoldingFolder(const QString& path, const QStringList& roots, FolderFd* folder,
                       QByteArray* name) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || QDir::cleanPath(path) != path) {
        return false;
    }
    const bool inside = std::any_of(roots.cbegin(), roots.cend(), [&](const QString& root) {
        return !root.isEmpty() && QDir::isAbsolutePath(root) && QDir::cleanPath(root) == root &&
               path.startsWith(WithTrailingSlash(root)) && path.size() > root.size() + 1;
    });
    if (!inside) {
        return false;
    }
    QStringList names = path.mid(1).split(QLatin1Char('/'));
    *name = QFile::encodeName(names.takeLast());
    folder->reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const QString& step : std::as_const(names)) {
        if (folder->get() < 0) {
            return false;
        }
        folder->reset(::openat(folder->get(), QFile::encodeName(step).constData(),
                               O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return folder->get() >= 0;
}

RemoveHook& removeHook() {
    static RemoveHook hook;
    return hook;
}

void runRemoveHook(const QString& path) {
    if (removeHook()) {
        removeHook()(path);
    }
}

} // namespace

RemoveHook SetRemoveHook(RemoveHook hook) {
    return std::exchange(removeHook(), std::move(hook));
}

bool 强制删除(const QString& path, const QStringList& roots) {
    FolderFd folder;
    QByteArray name;
    if (!openHoldingFolder(path, roots, &folder, &name)) {
        return false;
    }
    struct stat st {};
    if (::fstatat(folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (S_ISDIR(st.st_mode)) {
        return false;
    }
    runRemoveHook(path);
    // Without AT_REMOVEDIR a folder put there meanwhile is refused; a link goes itself, never
    // what it points to.
    return ::unlinkat(folder.get(), name.constData(), 0) == 0 || errno == ENOENT;
}

bool RemoveEmptyFolder(const QString& path, const QStringList& roots) {
    FolderFd folder;
    QByteArray name;
    if (!openHoldingFolder(path, roots, &folder, &name)) {
        return false;
    }
    runRemoveHook(path);
    // A link in its place is refused (ENOTDIR), a folder with contents stays (ENOTEMPTY).
    return ::unlinkat(folder.get(), name.constData(), AT_REMOVEDIR) == 0;
}

// ---------------------------------------------------------------------------------------------

CacheListModel::CacheListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CacheListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int CacheListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CacheListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        role != Qt::DisplayRole) {
        return {};
    }
    const CacheRow& r = rows_.at(index.row());
    switch (index.column()) {
    case ColUrl:
        return r.address;
    case ColType:
        return r.type;
    case ColSize:
        return r.size < 0 ? QString() : QString::number(r.size);
    case ColFilePath:
        return r.filePath;
    default:
        return {};
    }
}

QVariant CacheListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<QString, ColumnCount> headers = {
        QStringLiteral("URL"), QStringLiteral("TYPE"), QStringLiteral("SIZE(Byte)"),
        QStringLiteral("FilePath")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount) {
        return headers.at(static_cast<std::size_t>(section));
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags CacheListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void CacheListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount) {
        return;
    }
    lastOrder_ = order;
    QVector<int> order_(count());
    for (int i = 0; i < count(); ++i) {
        order_[i] = i;
    }
    auto less = [&](int a, int b) {
        const CacheRow& x = rows_.at(a);
        const CacheRow& y = rows_.at(b);
        switch (column) {
        case ColSize:
            return std::max<qint64>(x.size, 0) < std::max<qint64>(y.size, 0);
        case ColType:
            return x.type.compare(y.type, Qt::CaseInsensitive) < 0;
        case ColFilePath:
            return x.filePath.compare(y.filePath, Qt::CaseInsensitive) < 0;
        default:
            return x.address.compare(y.address, Qt::CaseInsensitive) < 0;
        }
    };
    if (order == Qt::AscendingOrder) {
        std::stable_sort(order_.begin(), order_.end(), less);
    } else {
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) { return less(b, a); });
    }
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QVector<int> newRowOf(count());
    QVector<CacheRow> sorted;
    sorted.reserve(count());
    for (int i = 0; i < count(); ++i) {
        newRowOf[order_[i]] = i;
        sorted.append(rows_.at(order_[i]));
    }
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& idx : before) {
        after.append(index(newRowOf.at(idx.row()), idx.column()));
    }
    rows_ = std::move(sorted);
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CacheListModel::sortByHeaderClick(int column) {
    sort(column, lastOrder_ == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CacheListModel::setRows(QVector<CacheRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void CacheListModel::append(const CacheRow& row) {
    beginInsertRows({}, count(), count());
    rows_.append(row);
    endInsertRows();
}

void CacheListModel::setLocalFile(int row, const QString& path, qint64 size, const QString& root) {
    if (row < 0 || row >= count()) {
        return;
    }
    rows_[row].filePath = path;
    rows_[row].size = size;
    rows_[row].fileRoot = root;
    Q_EMIT dataChanged(index(row, ColSize), index(row, ColFilePath), {Qt::DisplayRole});
}

void CacheListModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

// ---------------------------------------------------------------------------------------------

TextRowsModel::TextRowsModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

int TextRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int TextRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TextRowsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        role != Qt::DisplayRole) {
        return {};
    }
    return text(index.row(), index.column());
}

QVariant TextRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < headers_.size()) {
        return headers_.at(section);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TextRowsModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void TextRowsModel::append(const QStringList& cells) {
    beginInsertRows({}, count(), count());
    rows_.append(cells);
    endInsertRows();
}

void TextRowsModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

QString TextRowsModel::text(int row, int column) const {
    if (row < 0 || row >= count() || column < 0 || column >= rows_.at(row).size()) {
        return {};
    }
    return rows_.at(row).at(column);
}

CacheUserListModel::CacheUserListModel(QObject* parent)
    : TextRowsModel({QStringLiteral("用户名"), QStringLiteral("文件夹")}, parent) {}

CacheFolderListModel::CacheFolderListModel(QObject* parent)
    : TextRowsModel({QStringLiteral("文件夹")}, parent) {}

// ---------------------------------------------------------------------------------------------

BrowserCacheViewer::BrowserCacheViewer(CacheLocations where, QObject* parent)
    : QObject(parent), where_(std::move(where)) {}

BrowserCacheViewer::~BrowserCacheViewer() {
    if (copyThread_ != nullptr) {
        copyCancel_->store(true);
        copyThread_->wait();
        delete copyThread_;
        // Bodies of a copy that will never reach the copy dialog.
        discardCopiedBodies();
    }
}

void BrowserCacheViewer::setLabel(const QString& text) {
    label_ = text;
    Q_EMIT labelChanged(text);
}

bool BrowserCacheViewer::GetCacheURLList() {
    cacheList_.clear();
    records_.clear();
    const CacheFolderListing listing = ReadCacheFolder(where_.cacheFolder);
    const QString root = resolvedFolder(where_.cacheFolder);
    QVector<CacheRow> rows;
    if (listing.entries) {
        for (const CacheEntryRecord& record : listing.records) {
            CacheRow row;
            row.address = record.address;
            row.type = FileTypeFromAddress(record.address);
            row.entryFiles = record.entryFiles;
            row.entryRoot = root;
            rows.append(row);
            records_.insert(record.entryFile, record);
        }
    } else {
        // A cache in a form this reader does not know: its files stand for its entries.
        for (const QString& file : listing.files) {
            CacheRow row;
            row.address = file;
            row.type = FileTypeFromAddress(file);
            row.filePath = file;
            row.fileRoot = root;
            struct stat st {};
            row.size = lstatPath(file, &st) ? static_cast<qint64>(st.st_size) : -1;
            rows.append(row);
        }
    }
    cacheList_.setRows(rows);
    const QString count = QString::number(cacheList_.count()) + QStringLiteral(" 个文件");
    if (!listing.ok) {
        setLabel(QStringLiteral("出错!!!共有") + count);
        return false;
    }
    setLabel(QStringLiteral("共有") + count);
    判断文件在缓存中文件路径();
    return true;
}

void BrowserCacheViewer::判断文件在缓存中文件路径() {
    for (int i = 0; i < cacheList_.count(); ++i) {
        const CacheRow& row = cacheList_.row(i);
        if (row.entryFiles.isEmpty()) {
            continue;
        }
        CacheEntryRecord record = records_.value(row.entryFiles.first());
        if (record.entryFile.isEmpty()) {
            record = ReadCacheEntry(row.entryFiles.first());
        }
        // The stored size: the body is written out only when it is copied.
        if (HasPlainBody(record)) {
            cacheList_.setLocalFile(i, record.entryFile, record.bodySize, row.entryRoot);
        }
    }
    records_.clear();
}

bool BrowserCacheViewer::查看我的缓存() {
    const bool ok = GetCacheURLList();
    tag_ = kMyCacheTag;
    Q_EMIT listsFilled();
    return ok;
}

void BrowserCacheViewer::查看所有用户缓存() {
    cacheList_.clear();
    userList_.clear();
    folderList_.clear();
    cacheFolders_ = QStringList{QString()};
    cacheFolderRoots_.clear();

    const QVector<ProfileCache> profiles = FindProfileCaches(where_);
    for (const ProfileCache& profile : profiles) {
        userList_.append({profile.user, profile.folder});
        cacheFolderRoots_ << profile.folder;
        ListSubfolders(profile.folder, cacheFolders_, true);
    }
    for (const QString& folder : std::as_const(cacheFolders_)) {
        if (!folder.isEmpty()) {
            folderList_.append({folder});
        }
    }
    QVector<CacheRow> rows;
    for (const ProfileCache& profile : profiles) {
        QStringList files;
        ListFilesRecursive(profile.folder, files, true);
        for (const QString& file : std::as_const(files)) {
            CacheRow row;
            row.address = kUserRowPrefix + profile.user;
            row.type = FileTypeFromAddress(file);
            struct stat st {};
            row.size = lstatPath(file, &st) ? static_cast<qint64>(st.st_size) : -1;
            row.filePath = file;
            row.fileRoot = profile.folder;
            rows.append(row);
        }
    }
    cacheList_.setRows(rows);
    setLabel(QStringLiteral("共有") + QString::number(cacheList_.count()) +
             QStringLiteral(" 个文件"));
    tag_ = kAllCachesTag;
    Q_EMIT listsFilled();
}

void BrowserCacheViewer::deleteRow(const CacheRow& row) {
    if (row.address.startsWith(kUserRowPrefix)) {
        if (!row.filePath.isEmpty() && row.type.toLower() != QLatin1String("txt")) {
            强制删除(row.filePath, {row.fileRoot});
        }
        return;
    }
    if (row.address.isEmpty() ||
        row.address.contains(QLatin1String("cookie"), Qt::CaseInsensitive)) {
        return;
    }
    for (const QString& file : row.entryFiles) {
        强制删除(file, {row.entryRoot});
    }
    if (!row.filePath.isEmpty() && !row.entryFiles.contains(row.filePath)) {
        强制删除(row.filePath, {row.fileRoot});
    }
}

void BrowserCacheViewer::删除所选文件(const QList<int>& rows) {
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (const int r : std::as_const(sorted)) {
        if (r >= 0 && r < cacheList_.count()) {
            deleteRow(cacheList_.row(r));
        }
    }
    删除空文件夹();
    refresh();
}

void BrowserCacheViewer::全部删除() {
    for (int r = 0; r < cacheList_.count(); ++r) {
        deleteRow(cacheList_.row(r));
    }
    删除空文件夹();
    refresh();
}

void BrowserCacheViewer::删除空文件夹() {
    for (qsizetype i = cacheFolders_.size() - 1; i >= 0; --i) {
        const QString& folder = cacheFolders_.at(i);
        if (!folder.isEmpty()) {
            RemoveEmptyFolder(folder, cacheFolderRoots_);
        }
    }
}

void BrowserCacheViewer::refresh() {
    if (tag_ == kMyCacheTag) {
        查看我的缓存();
    } else if (tag_ == kAllCachesTag) {
        查看所有用户缓存();
    }
}

QStringList BrowserCacheViewer::filePaths(const QList<int>& rows) const {
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QStringList paths;
    for (const int r : std::as_const(sorted)) {
        if (r >= 0 && r < cacheList_.count() && !cacheList_.row(r).filePath.isEmpty()) {
            paths << cacheList_.row(r).filePath;
        }
    }
    return paths;
}

bool BrowserCacheViewer::复制选中(const QList<int>& rows) {
    if (copyThread_ != nullptr) {
        return false;
    }
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    // In list order: a plain file is copied as it is, an entry's body is written out first.
    QStringList plainFiles;
    QStringList entryFiles;
    QVector<int> entrySlot; // per row taken: index into entryFiles, or -1 for plainFiles
    for (const int r : std::as_const(sorted)) {
        if (r < 0 || r >= cacheList_.count() || cacheList_.row(r).filePath.isEmpty()) {
            continue;
        }
        const CacheRow& row = cacheList_.row(r);
        if (row.entryFiles.isEmpty()) {
            entrySlot << -1;
            plainFiles << row.filePath;
        } else {
            entrySlot << static_cast<int>(entryFiles.size());
            entryFiles << row.entryFiles.first();
        }
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto result = std::make_shared<WrittenBodies>();
    const QString extractRoot = where_.extractFolder;
    const qint64 budget = copyBudget_;
    copyCancel_ = cancel;
    // Decoding and writing take long for large bodies: the window must not wait on them.
    copyThread_ = QThread::create([entryFiles, extractRoot, budget, cancel, result] {
        if (!entryFiles.isEmpty()) {
            *result = WriteOutBodies(entryFiles, extractRoot, budget, cancel.get());
        }
    });
    connect(copyThread_, &QThread::finished, this, [this, result, budget, entrySlot, plainFiles] {
        copyThread_->deleteLater();
        copyThread_ = nullptr;
        if (result->overBudget) {
            Q_EMIT copyFinished({}, CopyBudgetRefusal(budget));
            return;
        }
        QStringList paths;
        int plain = 0;
        for (const int slot : entrySlot) {
            const QString path = slot < 0 ? plainFiles.at(plain++) : result->paths.value(slot);
            if (!path.isEmpty()) {
                paths << path;
            }
        }
        Q_EMIT copyFinished(paths, QString());
    });
    copyThread_->start();
    return true;
}

void BrowserCacheViewer::discardCopiedBodies() {
    PruneExtractedBodies(where_.extractFolder, {});
}

} // namespace quillax
