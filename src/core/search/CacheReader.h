#pragma once
// Where the browser's disk caches are, the folder walks below them, and the reading of the
// cache's own entry files.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace quillax {

// ---------------------------------------------------------------------------------------------
// Where caches are

/// The folder that holds the users' home folders, and the administrator's home beside it.
inline constexpr char kDefaultUserHomesRoot[] = "/home";
inline constexpr char kRootUserHome[] = "/root";
/// Overrides the homes root (and leaves out the administrator's home), so that tests and the
/// demonstration never see the machine's real users.
inline constexpr char kEnvUserHomesRoot[] = "QUILLAX_USER_HOMES";
/// The HTTP cache below a browser profile's cache path.
inline constexpr char kHttpCacheSubfolder[] = "Cache/Cache_Data";
/// Where bodies being copied out of the running profile's entries are written, below its cache
/// path.
inline constexpr char kExtractedSubfolder[] = "ExtractedFiles";

struct CacheLocations {
    QString cacheFolder;   ///< the running profile's HTTP cache folder
    QString extractFolder; ///< where entry bodies are written out for copying
    QString home;          ///< the running user's home folder
    QString homesRoot;     ///< the folder that holds every user's home folder
    QString rootHome;      ///< a further home folder to look in (may be empty)
};

/// The locations for a profile whose cache path is `profileCachePath`, with the homes root
/// from the environment or the default.
CacheLocations DefaultCacheLocations(const QString& profileCachePath);

struct ProfileCache {
    QString user;   ///< the home folder's last segment
    QString folder; ///< the profile's HTTP cache folder, links resolved
};

/// The cache folder of this program's profile in each home folder below the homes root (and
/// the root home), as far as they can be read. The relative place of the cache in a home is the
/// running profile's; when the running profile is not in a home below the homes root, only its
/// own cache is given. A cache folder that resolves outside its own home is left out.
QVector<ProfileCache> FindProfileCaches(const CacheLocations& where);

// ---------------------------------------------------------------------------------------------
// Names and folder walks

/// The type of a file named by an address or path: the trimmed text after the last "." of the
/// last segment, cut at the query, fragment and other characters not allowed in names; empty
/// when there is none or it has 7 characters or more.
QString FileTypeFromAddress(const QString& text);

/// Bounds the folder walks (a bind mount can make a tree without end).
inline constexpr int kMaxWalkDepth = 64;

/// Appends `folder` + "/" + name of every sub-folder of `folder` (hidden ones included; links are
/// not folders here), and, when `recursive`, of their sub-folders after them. Only absolute
/// folder texts are walked. "pagefile.sys" and, at the root, "RECYCLER" (ignoring case) are
/// skipped.
void ListSubfolders(const QString& folder, QStringList& list, bool recursive);
/// Appends the files of `folder` the same way (a link counts as a file and is not followed),
/// recursing into sub-folders when `recursive`.
void ListFilesRecursive(const QString& folder, QStringList& list, bool recursive);

// ---------------------------------------------------------------------------------------------
// Cache entries

/// One entry of the browser's disk cache, read from its entry file.
struct CacheEntryRecord {
    QString entryFile;      ///< the "<hash>_0" file
    QStringList entryFiles; ///< every file of the entry from the listing, "_0" first
    bool keyRead = false;   ///< the entry's key, hence its address, could be read
    QString address;        ///< the source address (the entry file's path when unreadable)
    bool framed = false;    ///< the body's place in the file is known
    qint64 bodyOffset = 0;
    qint64 bodySize = -1;
    QString contentEncoding; ///< from the stored response headers
};

/// The address an entry key names: the key without its credential and upload prefixes, and for
/// a key split by site, its last part.
QString AddressFromCacheKey(const QByteArray& key);
/// Reads an entry file. Never fails: what cannot be read stays unset.
CacheEntryRecord ReadCacheEntry(const QString& entryFile);

struct CacheFolderListing {
    bool ok = true;       ///< false when the folder exists but cannot be listed
    bool entries = false; ///< the folder holds the browser's entry files
    QVector<CacheEntryRecord> records;
    QStringList files; ///< when the format is not recognised: every file of the folder
};
/// Reads the browser's cache folder. A folder that does not exist is an empty cache.
CacheFolderListing ReadCacheFolder(const QString& folder);

} // namespace quillax
