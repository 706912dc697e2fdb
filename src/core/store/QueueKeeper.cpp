#include "core/store/QueueKeeper.h"

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

void QueueKeeper::watch(Watch& w, QAbstractItemModel* model) {
    for (const QMetaObject::Connection& c : w.connections) {
        disconnect(c);
    }
    w.connections.clear();
    w.model = model;
    w.dirty.clear();
    w.all = false;
    if (model == nullptr) {
        return;
    }
    Watch* watched = &w;
    const auto everything = [this, watched] {
        watched->all = true;
        schedule();
    };
    w.connections << connect(model, &QAbstractItemModel::dataChanged, this,
                             [this, watched](const QModelIndex& from, const QModelIndex& to) {
                                 for (int row = from.row(); row <= to.row(); ++row) {
                                     watched->dirty.insert(row);
                                 }
                                 schedule();
                             });
    w.connections << connect(model, &QAbstractItemModel::rowsInserted, this,
                             [this, watched](const QModelIndex&, int first, int last) {
                                 if (first != watched->model->rowCount() - (last - first + 1)) {
                                     watched->all = true; // inserted in the middle
                                 }
                                 for (int row = first; row <= last; ++row) {
                                     watched->dirty.insert(row);
                                 }
                                 schedule();
                             });
    w.connections << connect(model, &QAbstractItemModel::rowsRemoved, this, everything);
    w.connections << connect(model, &QAbstractItemModel::rowsMoved, this, everything);
    w.connections << connect(model, &QAbstractItemModel::layoutChanged, this, everything);
    w.connections << connect(model, &QAbstractItemModel::modelReset, this, everything);
    // The list goes with its window: what it held last is already written or pending here.
    w.connections << connect(model, &QObject::destroyed, this, [this, watched] {
        watched->model = nullptr;
        watched->dirty.clear();
        watched->all = false;
    });
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
    if (auto* list = qobject_cast<DownloadListModel*>(downloads_.model.data());
        list != nullptr && (downloads_.all || !downloads_.dirty.isEmpty())) {
        QList<QPair<int, DownloadItem>> rows;
        if (downloads_.all) {
            for (int row = 0; row < list->count(); ++row) {
                rows.append({row, list->item(row)});
            }
        } else {
            for (const int row : std::as_const(downloads_.dirty)) {
                if (row >= 0 && row < list->count()) {
                    rows.append({row, list->item(row)});
                }
            }
        }
        const bool all = downloads_.all;
        const int count = list->count();
        if (writer_ != nullptr) {
            QMetaObject::invokeMethod(
                writer_,
                [w = writer_, rows, all, count] { w->store.writeDownloads(rows, all, count); },
                Qt::QueuedConnection);
        } else {
            store_.writeDownloads(rows, all, count);
        }
        downloads_.dirty.clear();
        downloads_.all = false;
    }
    if (auto* list = qobject_cast<AnalysisListModel*>(records_.model.data());
        list != nullptr && (records_.all || !records_.dirty.isEmpty())) {
        QList<QPair<int, AnalysisRecord>> rows;
        if (records_.all) {
            for (int row = 0; row < list->count(); ++row) {
                rows.append({row, list->record(row)});
            }
        } else {
            for (const int row : std::as_const(records_.dirty)) {
                if (row >= 0 && row < list->count()) {
                    rows.append({row, list->record(row)});
                }
            }
        }
        const bool all = records_.all;
        const int count = list->count();
        if (writer_ != nullptr) {
            QMetaObject::invokeMethod(
                writer_,
                [w = writer_, rows, all, count] { w->store.writeRecords(rows, all, count); },
                Qt::QueuedConnection);
        } else {
            store_.writeRecords(rows, all, count);
        }
        records_.dirty.clear();
        records_.all = false;
    }
}

} // namespace quillax
