#pragma once
// Keeps the lists in the store as they change: rows that changed are written together once a
// second in one transaction, so the database is at most a second behind and progress ticks
// cost one write per row per second at most. Rows removed, reordered or reset rewrite the table.

#include "core/store/ListStore.h"

#include <QObject>
#include <QPointer>
#include <QSet>
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
    /// Writes what is pending now (the program's end, a test).
    void flushNow();

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
    QTimer timer_;
    Watch downloads_;
    Watch records_;
};

} // namespace quillax
