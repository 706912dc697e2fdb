#include "core/download/BodyWriter.h"
#include "core/download/BodyPlacement.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QThread>
#include <array>
#include <atomic>
#include <cstdio>
#include <utility>

namespace quillax {

BodyWriter::BodyWriter(const QString& targetPath, const QString& ownOldFile)
    : targetPath_(targetPath), ownOldFile_(ownOldFile) {}

BodyWriter::~BodyWriter() = default;

namespace {

// A name beside the target that no other writer uses: the process and a running number, and
// the file is created only if it does not exist yet (another process may share the folder).
QString partPathFor(const QString& targetPath, quint64 number) {
    const QFileInfo target(targetPath);
    const QString tag =
        QStringLiteral(".%1-%2").arg(QCoreApplication::applicationPid()).arg(number);
    QString name = target.fileName();
    // File names are limited to 255 bytes; titles are already capped at 200.
    if (QFile::encodeName(name + tag + QLatin1String(kPartSuffix)).size() > 255) {
        name = QStringLiteral("download");
    }
    return target.path() + QLatin1Char('/') + name + tag + QLatin1String(kPartSuffix);
}

std::atomic<quint64> nextPartNumber{1};

} // namespace

void BodyWriter::open() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        partPath_ = partPathFor(targetPath_, nextPartNumber++);
        file_ = std::make_unique<QFile>(partPath_);
        if (file_->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            broken_ = false;
            return;
        }
        if (QFileInfo::exists(partPath_) || QFileInfo(partPath_).isSymLink()) {
            continue; // taken: try the next number
        }
        break; // the folder refuses the file
    }
    file_.reset();
    partPath_.clear();
    broken_ = true;
}

void BodyWriter::write(const QByteArray& data) {
    if (file_ && !broken_ && file_->write(data) != data.size()) {
        broken_ = true; // disk full or similar: the body cannot be stored
    }
    Q_EMIT written(data.size());
}

void BodyWriter::writePiece(QByteArray piece) {
    write(piece);
    Q_EMIT pieceWritten(std::move(piece));
}

void BodyWriter::commit() {
    commitNow();
}

bool BodyWriter::commitNow() {
    bool ok = false;
    committedPath_.clear();
    if (file_ && !broken_) {
        const bool flushed = file_->flush();
        file_->close();
        if (flushed && file_->error() == QFileDevice::NoError) {
            const QString place = PlaceForBody(partPath_, targetPath_, ownOldFile_);
            ok = std::rename(QFile::encodeName(partPath_).constData(),
                             QFile::encodeName(place).constData()) == 0;
            if (ok) {
                committedPath_ = place;
            }
        }
    }
    if (ok) {
        partPath_.clear(); // it is the stored file now
    } else {
        discard();
    }
    file_.reset();
    Q_EMIT committed(ok, committedPath_);
    return ok;
}

void BodyWriter::discard() {
    if (file_) {
        file_->close();
        file_.reset();
    }
    if (!partPath_.isEmpty()) {
        QFile::remove(partPath_);
        partPath_.clear();
    }
}

QThread* WriterThread() {
    // One thread per parallel download: a writing thread the kernel holds back while the disk
    // catches up then holds back one download only, as separate download programs would be.
    static std::array<QThread*, kWriterThreads> threads{};
    static std::size_t next = 0;
    static QMutex mutex; // downloads start on more than one thread
    const QMutexLocker lock(&mutex);
    QThread*& slot = threads[next];
    next = (next + 1) % threads.size();
    if (slot == nullptr) {
        auto* t = new QThread;
        t->setObjectName(QStringLiteral("body writer"));
        // Owned by the window thread, whichever thread asked first: it must hear aboutToQuit.
        t->moveToThread(QCoreApplication::instance()->thread());
        t->start();
        // Ended before the application object goes, after the writes queued so far.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, t, [t] {
            t->quit();
            t->wait();
        });
        slot = t;
    }
    return slot;
}

} // namespace quillax
