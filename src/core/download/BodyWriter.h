#pragma once
// Writes download bodies on a thread of their own: a disk that is slower than the network then
// slows the downloads, not the window.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class QFile;
class QThread;

namespace quillax {

/// Lives in the writer thread; every call arrives there as a queued event, in order.
class BodyWriter : public QObject {
    Q_OBJECT
public:
    /// The body goes to a part file of its own beside `targetPath`, which it takes on commit
    /// where `PlaceForBody` allows; `ownOldFile` is the row's earlier file, if any.
    explicit BodyWriter(const QString& targetPath, const QString& ownOldFile = QString());
    ~BodyWriter() override;

    void open();
    void write(const QByteArray& data);
    /// `write`, then hands the buffer back through `pieceWritten`, so that the reading side
    /// reuses it only once this thread is done with it.
    void writePiece(QByteArray piece);
    /// Closes the file and moves it into place in one step (no fsync: the window need not
    /// wait for the disk): over the target, or beside it when the body may not replace what
    /// is there. Raises `committed`.
    void commit();
    /// `commit` for a caller on the writer's own thread: the result is returned as well.
    bool commitNow();
    /// False once the part file could not be made or a write failed.
    bool healthy() const { return file_ != nullptr && !broken_; }
    /// Closes and deletes the file.
    void discard();
    /// Where the last commit put the body (empty before a commit and after a failed one).
    QString committedPath() const { return committedPath_; }

Q_SIGNALS:
    void written(qint64 bytes);
    void pieceWritten(QByteArray piece);
    void committed(bool ok, const QString& path);

private:
    QString targetPath_;
    QString ownOldFile_;
    QString committedPath_;
    QString partPath_; ///< chosen by `open`; unique, so two bodies for one path never mix
    std::unique_ptr<QFile> file_;
    bool broken_ = false;
};

inline constexpr int kWriterThreads = 6;

/// Ending of every part file name: a file left by a crash is recognisable.
inline constexpr char kPartSuffix[] = ".quillax-part";

/// A writer thread for the next body, taken in turn from a pool of `kWriterThreads` threads that
/// start on first use and end with the application.
QThread* WriterThread();

} // namespace quillax
