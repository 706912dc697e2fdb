#include "download/BodyWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <array>
#include <cstdio>

namespace quillax {

BodyWriter::BodyWriter(const QString& partPath, const QString& targetPath)
    : partPath_(partPath), targetPath_(targetPath) {}

BodyWriter::~BodyWriter() = default;

void BodyWriter::open() {
    file_ = std::make_unique<QFile>(partPath_);
    broken_ = !file_->open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void BodyWriter::write(const QByteArray& data) {
    if (file_ && !broken_ && file_->write(data) != data.size()) {
        broken_ = true; // disk full or similar: the body cannot be stored
    }
    Q_EMIT written(data.size());
}

void BodyWriter::commit() {
    bool ok = false;
    if (file_ && !broken_) {
        file_->close();
        ok = std::rename(QFile::encodeName(partPath_).constData(),
                         QFile::encodeName(targetPath_).constData()) == 0;
    }
    if (!ok) {
        discard();
    }
    file_.reset();
    Q_EMIT committed(ok);
}

void BodyWriter::discard() {
    if (file_) {
        file_->close();
        file_.reset();
    }
    QFile::remove(partPath_);
}

QThread* WriterThread() {
    // One thread per parallel download: a writing thread the kernel holds back while the disk
    // catches up then holds back one download only, as separate download programs would be.
    static std::array<QThread*, kWriterThreads> threads{};
    static std::size_t next = 0;
    QThread*& slot = threads[next];
    next = (next + 1) % threads.size();
    if (slot == nullptr) {
        auto* t = new QThread;
        t->setObjectName(QStringLiteral("body writer"));
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
