#include "TestSupport.h"

#include <QCryptographicHash>
#include <QEvent>

#include <QFile>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <unistd.h>

namespace quillax::test {

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray FileSha256(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? Sha256(f.readAll()) : QByteArray("missing");
}

namespace {
constexpr uid_t kNobody = 65534;
} // namespace

AsUnprivileged::AsUnprivileged(const QStringList& paths) {
    if (geteuid() != 0) {
        return;
    }
    for (const QString& path : paths) {
        EXPECT_EQ(chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0)
            << path.toStdString();
    }
    setfsgid(kNobody);
    setfsuid(kNobody);
    // setfsuid answers with the previous identity: the new one is read back to be sure.
    switched_ = setfsuid(kNobody) == static_cast<int>(kNobody);
    EXPECT_TRUE(switched_) << "the file-system identity did not change";
}

AsUnprivileged::~AsUnprivileged() {
    if (geteuid() == 0) {
        setfsuid(0);
        setfsgid(0);
    }
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool PaintCounter::eventFilter(QObject* watched, QEvent* event) {
    paints += event->type() == QEvent::Paint ? 1 : 0;
    return QObject::eventFilter(watched, event);
}

} // namespace quillax::test
