#pragma once
// Keeps the lists in the store as they change: rows that changed are written together once a
// second in one transaction, so the database is at most a second behind and progress ticks
// cost one write per row per second at most. Rows removed, reordered or reset rewrite the table.
// The writing runs on a thread of its own, with its own connection to the same file: the
// window thread only copies the changed rows, so even a 100,000-row list never holds it up.
// A write that fails (a full disk, a lock held elsewhere) stays owed and is tried again, with
// every later change added to it, until it goes in.

#include "core/store/ListStore.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <functional>

namespace quillax {

class QueueKeeper : public QObject {
    Q_OBJECT
public:
    /// Writes a closed store's lists nowhere: the run goes on without keeping them.
    explicit QueueKeeper(ListStore& store, int intervalMs = 1000, QObject* parent = nullptr);
    ~QueueKeeper() override;

    /// Watches the list until it goes or another one is attached; nullptr detaches. What is
    /// pending for the previous list is handed over first.
    void attachDownloads(DownloadListModel* list);
    void attachRecords(AnalysisListModel* list);
    /// Hands what is pending to the writer now (a window closing).
    void flushNow();
    /// Hands it over and waits until everything handed over is in the database, or has been
    /// tried once more when the database refuses it.
    void flushAndWait();

Q_SIGNALS:
    /// The first write that failed, once per keeper: the lists are not being kept for now.
    /// `why` in words for the user.
    void keepingFailed(const QString& why);

private:
    /// One watched list. Changed rows are copied as they change, and a removal, move or reset
    /// hands the whole table over at once (one copy per user action), so a list that goes with
    /// its window before the next flush loses nothing.
    template <typename Row> struct Watch {
        QPointer<QAbstractItemModel> model;
        QMap<int, Row> changed; ///< row number → its latest values
        int count = 0;          ///< rows in the list when `changed` was last filled
        QList<QMetaObject::Connection> connections;
    };
    template <typename Row, typename List> void watch(Watch<Row>& w, List* list);
    /// Hands the changed rows over, or with `all` the whole list, which replaces the table.
    template <typename Row> void handOver(Watch<Row>& w, bool all);
    void write(const QList<QPair<int, DownloadItem>>& rows, bool all, int count);
    void write(const QList<QPair<int, AnalysisRecord>>& rows, bool all, int count);
    /// Runs `work` on the writer: queued, or with `wait` until it has run.
    void onWriter(std::function<void()> work, bool wait);
    void schedule();
    void writeFailed(const QString& why);

    class Writer;
    QThread thread_;
    Writer* writer_ = nullptr; ///< in `thread_`, or here when it has no connection of its own
    QTimer timer_;
    Watch<DownloadItem> downloads_;
    Watch<AnalysisRecord> records_;
    bool told_ = false;
};

} // namespace quillax
