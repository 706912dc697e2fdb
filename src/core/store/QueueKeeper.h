#pragma once
// Keeps the lists in the store as they change: rows that changed are written together once a
// second in one transaction, so the database is at most a second behind and progress ticks
// cost one write per row per second at most. Rows removed, reordered or reset rewrite the table.
// The writing runs on a thread of its own, with its own connection to the same file: the
// window thread only copies the changed rows, so even a 100,000-row list never holds it up.

#include "core/store/ListStore.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QTimer>

namespace quillax {

class QueueKeeper : public QObject {
    Q_OBJECT
public:
    explicit QueueKeeper(ListStore& store, int intervalMs = 1000, QObject* parent = nullptr);
    ~QueueKeeper() override;

    /// Watches the list until it goes or another one is attached; nullptr detaches.
    void attachDownloads(DownloadListModel* list);
    void attachRecords(AnalysisListModel* list);
    /// Hands what is pending to the writer now (a window closing).
    void flushNow();
    /// Hands it over and waits until everything handed over is in the database.
    void flushAndWait();

private:
    struct Watch {
        QPointer<QAbstractItemModel> model;
        QSet<int> dirty;
        bool all = false;
        QList<QMetaObject::Connection> connections;
    };
    void watch(Watch& w, QAbstractItemModel* model);
    void schedule();

    ListStore& store_;
    class Writer;
    QThread thread_;
    Writer* writer_ = nullptr; ///< lives in `thread_`; nullptr: written here instead
    QTimer timer_;
    Watch downloads_;
    Watch records_;
};

} // namespace quillax
