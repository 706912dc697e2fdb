#pragma once
// Keeps the lists in the store as they change: rows that changed are written together once a
// second in one transaction, so the database is at most a second behind and progress ticks
// cost one write per row per second at most. Rows removed, reordered or reset rewrite the table.
// The writing runs on a thread of its own, with its own connection to the same file: the
// window thread only copies the changed rows, so even a 100,000-row list never holds it up.

#include "core/store/ListStore.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace quillax {

class QueueKeeper : public QObject {
    Q_OBJECT
public:
    explicit QueueKeeper(ListStore& store, int intervalMs = 1000, QObject* parent = nullptr);
    ~QueueKeeper() override;

    /// Watches the list until it goes or another one is attached; nullptr detaches. What is
    /// pending for the previous list is handed over first.
    void attachDownloads(DownloadListModel* list);
    void attachRecords(AnalysisListModel* list);
    /// Hands what is pending to the writer now (a window closing).
    void flushNow();
    /// Hands it over and waits until everything handed over is in the database.
    void flushAndWait();

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
    void schedule();

    ListStore& store_;
    class Writer;
    QThread thread_;
    Writer* writer_ = nullptr; ///< lives in `thread_`; nullptr: written here instead
    QTimer timer_;
    Watch<DownloadItem> downloads_;
    Watch<AnalysisRecord> records_;
};

} // namespace quillax
