#include "core/store/QueueKeeper.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>

namespace quillax {

namespace {

// A failed write is tried again this often, or at the keeper's own pace when that is slower.
constexpr int kLeastRetryMs = 1000;

// What a table owes the database: its rows from `from` on go, then `rows` are written. Writes
// that fail add up here, so that the next attempt leaves the table as all of them would have:
// a failed rewrite of the whole table stays a whole rewrite, with later changes on top.
template <typename Row> struct Owed {
    static constexpr int kNothing = std::numeric_limits<int>::max();
    int from = kNothing;
    QMap<int, Row> rows;

    bool empty() const { return from == kNothing && rows.isEmpty(); }
    void add(const QList<QPair<int, Row>>& more, bool all, int count) {
        const int cut = all ? 0 : count;
        from = std::min(from, cut);
        rows.erase(rows.lowerBound(cut), rows.end());
        for (const auto& [pos, row] : more) {
            rows.insert(pos, row);
        }
    }
    /// Writes what is owed with `write(rows, all, count)`; true when nothing is owed any more.
    template <typename Write> bool settle(Write write) {
        if (empty()) {
            return true;
        }
        QList<QPair<int, Row>> list;
        list.reserve(rows.size());
        for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
            list.append({it.key(), it.value()});
        }
        if (!write(list, from == 0, from)) {
            return false;
        }
        *this = {};
        return true;
    }
};

} // namespace

// The writing end: its own connection to the store's file, used only on the keeper's thread;
// or, when that connection cannot be made, the window's connection on the window's thread.
class QueueKeeper::Writer : public QObject {
public:
    Writer(int retryMs, std::function<void(const QString&)> failed) : failed_(std::move(failed)) {
        retry_.setParent(this); // moves with the writer to its thread
        retry_.setSingleShot(true);
        retry_.setInterval(retryMs);
        connect(&retry_, &QTimer::timeout, this, &Writer::attempt);
    }

    ListStore own;
    ListStore* store = &own;
    Owed<DownloadItem> downloads;
    Owed<AnalysisRecord> records;

    /// Writes what both tables owe; on failure says why and tries again later.
    void attempt() {
        const bool wroteDownloads = downloads.settle([this](const auto& rows, bool all, int count) {
            return store->writeDownloads(rows, all, count);
        });
        const bool wroteRecords = records.settle([this](const auto& rows, bool all, int count) {
            return store->writeRecords(rows, all, count);
        });
        if (wroteDownloads && wroteRecords) {
            retry_.stop();
            return;
        }
        failed_(store->lastError());
        if (!retry_.isActive()) {
            retry_.start();
        }
    }

private:
    std::function<void(const QString&)> failed_;
    QTimer retry_;
};

QueueKeeper::QueueKeeper(ListStore& store, int intervalMs, QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &QueueKeeper::flushNow);
    if (!store.isOpen()) {
        return; // nothing is kept this run; the start said why
    }
    const int retryMs = std::max(intervalMs, kLeastRetryMs);
    // Called on the writer's thread; said on this one.
    const auto failed = [this](const QString& why) {
        QMetaObject::invokeMethod(
            this, [this, why] { writeFailed(why); }, Qt::QueuedConnection);
    };
    thread_.setObjectName(QStringLiteral("QueueKeeper"));
    thread_.start();
    auto* writer = new Writer(retryMs, failed);
    writer->moveToThread(&thread_);
    bool opened = false;
    const QString path = store.path();
    QMetaObject::invokeMethod(
        writer,
        [writer, path, &opened] {
            const StoreOpen status = writer->own.open(path).status;
            opened = status == StoreOpen::Opened || status == StoreOpen::Created;
            if (!opened) {
                delete writer;
            }
        },
        Qt::BlockingQueuedConnection);
    if (!opened) {
        thread_.quit();
        thread_.wait();
        writer = new Writer(retryMs, failed);
        writer->store = &store;
    }
    writer_ = writer;
}

QueueKeeper::~QueueKeeper() {
    flushAndWait();
    if (writer_ != nullptr && writer_->thread() == &thread_) {
        QMetaObject::invokeMethod(
            writer_, [w = writer_] { delete w; }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    } else {
        delete writer_;
    }
    writer_ = nullptr;
}

void QueueKeeper::onWriter(std::function<void()> work, bool wait) {
    if (writer_ == nullptr) {
        return;
    }
    if (writer_->thread() == QThread::currentThread()) {
        work();
        return;
    }
    // Queued calls run in order: when a waited one has run, every write before it has too.
    QMetaObject::invokeMethod(writer_, std::move(work),
                              wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void QueueKeeper::flushAndWait() {
    flushNow();
    onWriter([w = writer_] { w->attempt(); }, true);
}

void QueueKeeper::writeFailed(const QString& why) {
    if (!told_) {
        told_ = true;
        Q_EMIT keepingFailed(why);
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
    onWriter(
        [w = writer_, rows, all, count] {
            w->downloads.add(rows, all, count);
            w->attempt();
        },
        false);
}

void QueueKeeper::write(const QList<QPair<int, AnalysisRecord>>& rows, bool all, int count) {
    onWriter(
        [w = writer_, rows, all, count] {
            w->records.add(rows, all, count);
            w->attempt();
        },
        false);
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
