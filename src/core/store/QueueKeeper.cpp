#include "core/store/QueueKeeper.h"

#include <utility>

namespace quillax {

// The writing end: its own connection to the store's file, used only on the keeper's thread.
class QueueKeeper::Writer : public QObject {
public:
    ListStore store;
};

QueueKeeper::QueueKeeper(ListStore& store, int intervalMs, QObject* parent)
    : QObject(parent), store_(store) {
    timer_.setSingleShot(true);
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &QueueKeeper::flushNow);
    if (!store.isOpen()) {
        return;
    }
    thread_.setObjectName(QStringLiteral("QueueKeeper"));
    thread_.start();
    auto* writer = new Writer;
    writer->moveToThread(&thread_);
    bool opened = false;
    const QString path = store.path();
    QMetaObject::invokeMethod(
        writer,
        [writer, path, &opened] {
            const StoreOpen status = writer->store.open(path).status;
            opened = status == StoreOpen::Opened || status == StoreOpen::Created;
        },
        Qt::BlockingQueuedConnection);
    if (opened) {
        writer_ = writer;
    } else {
        delete writer; // not yet used in the thread; writing stays on this thread
        thread_.quit();
        thread_.wait();
    }
}

QueueKeeper::~QueueKeeper() {
    flushAndWait();
    if (writer_ != nullptr) {
        QMetaObject::invokeMethod(
            writer_, [w = writer_] { delete w; }, Qt::BlockingQueuedConnection);
        writer_ = nullptr;
        thread_.quit();
        thread_.wait();
    }
}

void QueueKeeper::flushAndWait() {
    flushNow();
    if (writer_ != nullptr) {
        // Queued calls run in order: when this one has run, every write before it has too.
        QMetaObject::invokeMethod(
            writer_, [] {}, Qt::BlockingQueuedConnection);
    }
}

void QueueKeeper::schedule() {
    if (!timer_.isActive()) {
        timer_.start();
    }
}

namespace {

template <typename Row> struct ListOf;
template <> struct ListOf<DownloadItem> {
    using type = DownloadListModel;
    static DownloadItem row(const DownloadListModel& list, int row) { return list.item(row); }
};
template <> struct ListOf<AnalysisRecord> {
    using type = AnalysisListModel;
    static AnalysisRecord row(const AnalysisListModel& list, int row) { return list.record(row); }
};

// A change over more rows than this hands the whole list over rather than row by row.
constexpr int kWholeListFrom = 1000;

} // namespace

template <typename Row, typename List> void QueueKeeper::watch(Watch<Row>& w, List* list) {
    for (const QMetaObject::Connection& c : std::as_const(w.connections)) {
        disconnect(c);
    }
    w.connections.clear();
    w.model = list;
    w.changed.clear();
    w.count = list != nullptr ? list->count() : 0;
    if (list == nullptr) {
        return;
    }
    Watch<Row>* watched = &w;
    const auto rowsChanged = [this, watched, list](int first, int last) {
        if (last - first >= kWholeListFrom) {
            handOver(*watched, true);
            return;
        }
        for (int row = first; row <= last; ++row) {
            if (row >= 0 && row < list->count()) {
                watched->changed.insert(row, ListOf<Row>::row(*list, row));
            }
        }
        watched->count = list->count();
        schedule();
    };
    const auto everything = [this, watched] { handOver(*watched, true); };
    w.connections << connect(list, &QAbstractItemModel::dataChanged, this,
                             [rowsChanged](const QModelIndex& from, const QModelIndex& to) {
                                 rowsChanged(from.row(), to.row());
                             });
    w.connections << connect(
        list, &QAbstractItemModel::rowsInserted, this,
        [rowsChanged, everything, list](const QModelIndex&, int first, int last) {
            if (last != list->count() - 1) {
                everything(); // inserted in the middle: positions move
            } else {
                rowsChanged(first, last);
            }
        });
    w.connections << connect(list, &QAbstractItemModel::rowsRemoved, this, everything);
    w.connections << connect(list, &QAbstractItemModel::rowsMoved, this, everything);
    w.connections << connect(list, &QAbstractItemModel::layoutChanged, this, everything);
    w.connections << connect(list, &QAbstractItemModel::modelReset, this, everything);
    // The list goes with its window: its changed rows were copied as they changed, so they are
    // written still; the table is kept as it was, for the next run to offer back.
    w.connections << connect(list, &QObject::destroyed, this, [this, watched] {
        handOver(*watched, false);
        watched->connections.clear();
    });
}

template <typename Row> void QueueKeeper::handOver(Watch<Row>& w, bool all) {
    QList<QPair<int, Row>> rows;
    int count = w.count;
    if (all) {
        const auto* list = static_cast<const typename ListOf<Row>::type*>(w.model.data());
        if (list == nullptr) {
            return;
        }
        count = list->count();
        rows.reserve(count);
        for (int row = 0; row < count; ++row) {
            rows.append({row, ListOf<Row>::row(*list, row)});
        }
        w.count = count;
    } else {
        if (w.changed.isEmpty()) {
            return;
        }
        rows.reserve(w.changed.size());
        for (auto it = w.changed.cbegin(); it != w.changed.cend(); ++it) {
            rows.append({it.key(), it.value()});
        }
    }
    w.changed.clear();
    write(rows, all, count);
}

void QueueKeeper::write(const QList<QPair<int, DownloadItem>>& rows, bool all, int count) {
    if (writer_ == nullptr) {
        store_.writeDownloads(rows, all, count);
        return;
    }
    QMetaObject::invokeMethod(
        writer_, [w = writer_, rows, all, count] { w->store.writeDownloads(rows, all, count); },
        Qt::QueuedConnection);
}

void QueueKeeper::write(const QList<QPair<int, AnalysisRecord>>& rows, bool all, int count) {
    if (writer_ == nullptr) {
        store_.writeRecords(rows, all, count);
        return;
    }
    QMetaObject::invokeMethod(
        writer_, [w = writer_, rows, all, count] { w->store.writeRecords(rows, all, count); },
        Qt::QueuedConnection);
}

void QueueKeeper::attachDownloads(DownloadListModel* list) {
    flushNow();
    watch(downloads_, list);
}

void QueueKeeper::attachRecords(AnalysisListModel* list) {
    flushNow();
    watch(records_, list);
}

void QueueKeeper::flushNow() {
    timer_.stop();
    handOver(downloads_, false);
    handOver(records_, false);
}

} // namespace quillax
