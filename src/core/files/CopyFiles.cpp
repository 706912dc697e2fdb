#include "core/files/CopyFiles.h"

#include "core/files/FileNaming.h"
#include "core/settings/TextUtil.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillax {

namespace {

constexpr qsizetype kCopyChunk = 1 << 20;

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool copyContents(int in, int out) {
    QByteArray buffer(kCopyChunk, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!writeAll(out, buffer.constData(), n)) {
            return false;
        }
    }
}

// Puts the finished temporary file at `target` without replacing anything there.
bool moveIntoFreeName(const QByteArray& temp, const QByteArray& target) {
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the no-replace rename: a hard link fails on an occupied name too.
    if (::link(temp.constData(), target.constData()) == 0) {
        ::unlink(temp.constData());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 || errno != ENOENT) {
        return false;
    }
    return ::rename(temp.constData(), target.constData()) == 0;
}

bool statRegular(const QString& path, struct stat* st, bool followLinks) {
    const QByteArray name = QFile::encodeName(path);
    const int rc = followLinks ? ::stat(name.constData(), st) : ::lstat(name.constData(), st);
    return rc == 0 && S_ISREG(st->st_mode);
}

bool sameSize(const QString& source, const QString& target, bool andTime) {
    struct stat s {};
    struct stat t {};
    // A link at the target is never taken for the file it points to.
    if (!statRegular(source, &s, true) || !statRegular(target, &t, false)) {
        return false;
    }
    if (s.st_size != t.st_size) {
        return false;
    }
    return !andTime ||
           (s.st_mtim.tv_sec == t.st_mtim.tv_sec && s.st_mtim.tv_nsec == t.st_mtim.tv_nsec);
}

QString canonicalOrClean(const QString& folder) {
    const QFileInfo info(ExpandHomePath(TrimSpaces(folder)));
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

} // namespace

QString SplitFilePath(const QString& path, QString* extension, QString* baseName) {
    const QString text = TrimSpaces(path);
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    const QString folder = text.left(slash + 1);
    const QString name = text.mid(slash + 1);
    QString base = name;
    QString ext;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && name.size() - dot - 1 <= kMaxExtensionChars) {
        base = name.left(dot);
        ext = name.mid(dot + 1);
    }
    base = TrimSpaces(base);
    ext = TrimSpaces(ext);
    if (base.isEmpty()) {
        base = name;
        ext.clear();
    }
    if (extension != nullptr) {
        *extension = ext;
    }
    if (baseName != nullptr) {
        *baseName = base;
    }
    return folder;
}

QString SplitCounterSuffix(const QString& name, QString* stem) {
    QString counter;
    QString s = name;
    if (name.endsWith(QLatin1Char(']'))) {
        const qsizetype open = name.lastIndexOf(QLatin1Char('['), name.size() - 2);
        if (open >= 0) {
            const QString inner = TrimSpaces(name.mid(open + 1, name.size() - open - 2));
            if (IsCounterText(inner)) {
                s = name.left(open);
                counter = inner;
            }
        }
    }
    if (s.isEmpty()) {
        s = name;
        counter.clear();
    }
    if (stem != nullptr) {
        *stem = s;
    }
    return counter;
}

QString JoinFileName(const QString& baseName, const QString& extension) {
    return extension.isEmpty() ? baseName : baseName + QLatin1Char('.') + extension;
}

bool CopyFileKeepingTime(const QString& source, const QString& target, bool replace) {
    if (source.isEmpty() || target.isEmpty()) {
        return false;
    }
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    const QString folder = QFileInfo(target).absolutePath();
    QByteArray temp = QFile::encodeName(folder + QStringLiteral("/.quillax-copy-XXXXXX"));
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = copyContents(in, out);
    ::close(in);
    if (ok) {
        ::fchmod(out, st.st_mode & 0777);
        // The file it replaces is given up only for a copy that is safely on disk.
        if (replace) {
            ok = ::fsync(out) == 0;
        }
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = ok && ::futimens(out, times) == 0;
    }
    ok = (::close(out) == 0) && ok;
    if (ok) {
        const QByteArray dest = QFile::encodeName(target);
        ok = replace ? ::rename(temp.constData(), dest.constData()) == 0
                     : moveIntoFreeName(temp, dest);
    }
    if (!ok) {
        ::unlink(temp.constData());
    }
    return ok;
}

bool 复制相同文件自动重命名(const QString& source, const QString& folder) {
    if (!FileExists(source)) {
        return false;
    }
    QString extension;
    QString baseName;
    SplitFilePath(source, &extension, &baseName);
    QString stem;
    SplitCounterSuffix(baseName, &stem);
    const QString dir = WithTrailingSlash(folder);
    QString candidate = dir + JoinFileName(stem, extension);
    int n = 0;
    while (PathOccupied(candidate)) {
        if (++n > kMaxRenameCounter) {
            return false;
        }
        candidate =
            dir +
            JoinFileName(stem + QLatin1Char('[') + ZeroPadded(n, 3) + QLatin1Char(']'), extension);
    }
    return CopyFileKeepingTime(source, candidate, false);
}

bool SameResolvedFolder(const QString& a, const QString& b) {
    if (TrimSpaces(a).isEmpty() || TrimSpaces(b).isEmpty()) {
        return false;
    }
    return canonicalOrClean(a) == canonicalOrClean(b);
}

CopyOutcome CopyIntoFolder(const QString& source, const QString& destFolder,
                           SameNameOption option) {
    if (!FileExists(source)) {
        return CopyOutcome::Failed;
    }
    if (SameResolvedFolder(QFileInfo(source).absolutePath(), destFolder)) {
        return CopyOutcome::SameFolder;
    }
    QString extension;
    QString baseName;
    SplitFilePath(source, &extension, &baseName);
    const QString target = WithTrailingSlash(destFolder) + JoinFileName(baseName, extension);
    if (!PathOccupied(target)) {
        return CopyFileKeepingTime(source, target, false) ? CopyOutcome::Copied
                                                          : CopyOutcome::Failed;
    }
    auto replace = [&] {
        return CopyFileKeepingTime(source, target, true) ? CopyOutcome::Replaced
                                                         : CopyOutcome::Failed;
    };
    auto rename = [&] {
        return 复制相同文件自动重命名(source, destFolder) ? CopyOutcome::Renamed
                                                          : CopyOutcome::Failed;
    };
    switch (option) {
    case SameNameOption::Skip:
        return CopyOutcome::Skipped;
    case SameNameOption::Overwrite:
        return replace();
    case SameNameOption::Rename:
        return rename();
    case SameNameOption::OverwriteIfSameSizeAndTime:
        return sameSize(source, target, true) ? replace() : rename();
    case SameNameOption::OverwriteIfSameSize:
        return sameSize(source, target, false) ? replace() : rename();
    }
    return CopyOutcome::Failed;
}

void CopyRunTally::add(CopyOutcome outcome, const QString& fileName) {
    switch (outcome) {
    case CopyOutcome::Copied:
    case CopyOutcome::Replaced:
    case CopyOutcome::Renamed:
        ++copied;
        return;
    case CopyOutcome::Skipped:
    case CopyOutcome::SameFolder:
        ++skipped;
        return;
    case CopyOutcome::Failed:
        ++failed;
        if (failedNames.size() < kNamedFailures) {
            failedNames << fileName;
        }
        return;
    }
}

QString CopyRunMessage(const CopyRunTally& tally, bool stopped) {
    if (!stopped && tally.failed == 0) {
        return QStringLiteral("复制文件完成！");
    }
    QStringList counts{QStringLiteral("成功%1个").arg(tally.copied)};
    if (tally.skipped > 0) {
        counts << QStringLiteral("跳过%1个").arg(tally.skipped);
    }
    counts << QStringLiteral("失败%1个").arg(tally.failed);
    if (stopped) {
        counts << QStringLiteral("未复制%1个").arg(tally.notReached);
    }
    QString text = (stopped ? QStringLiteral("复制已停止：") : QStringLiteral("复制完成：")) +
                   counts.join(QStringLiteral("，"));
    if (!tally.failedNames.isEmpty()) {
        text += QStringLiteral("：") + tally.failedNames.join(QStringLiteral("、"));
        if (tally.failed > tally.failedNames.size()) {
            text += QStringLiteral(" 等");
        }
    }
    return text;
}

} // namespace quillax
