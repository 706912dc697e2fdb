#include "core/search/CacheRemoval.h"

#include "core/files/FileNaming.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillax {

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

} // namespace quillax
