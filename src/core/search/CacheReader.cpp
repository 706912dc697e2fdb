#include "core/search/CacheReader.h"

#include "core/files/FileNaming.h"
#include "core/search/CacheInternal.h"
#include "core/settings/TextUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillax {

using namespace cache_internal;

namespace {

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

} // namespace quillax
