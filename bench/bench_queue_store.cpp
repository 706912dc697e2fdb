// What keeping the queue costs the window: a 100,000-row download list with six transfers
// writing progress every 50 ms for 10 s, kept by the keeper that writes once a second. Prints
// the window thread's share of each flush (the writing runs on the keeper's thread) and the
// worst gap of a 10 ms timer; then the writing of six changed rows, and what a reordering of
// all rows costs the window thread with and without the keeper.

#include "core/download/DownloadListModel.h"
#include "core/store/ListStore.h"
#include "core/store/QueueKeeper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillax;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr int kRows = 100'000;
    QTemporaryDir tmp;
    ListStore store;
    if (store.open(tmp.path() + QStringLiteral("/queue.sqlite")).status == StoreOpen::Failed) {
        std::fprintf(stderr, "cannot open the store\n");
        return 1;
    }
    DownloadListModel list;
    QList<DownloadItem> items;
    for (int i = 0; i < kRows; ++i) {
        DownloadItem item;
        item.key = QStringLiteral("http://library.example.org/fulltext/%1.pdf").arg(i);
        item.name = QStringLiteral("A title of an article of moderate length, number %1").arg(i);
        item.type = QStringLiteral("pdf");
        item.folder = QStringLiteral("/home/user/Downloads/papers/");
        item.referrer = QStringLiteral("http://library.example.org/record?id=%1").arg(i);
        items.append(item);
    }
    QueueKeeper keeper(store);
    keeper.attachDownloads(&list);

    QElapsedTimer clock;
    clock.start();
    list.appendItems(items);
    const double appendMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    keeper.flushNow();
    const double handOverMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 - appendMs;
    keeper.flushAndWait();
    const double firstWriteMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;

    // Six rows in transfer, each writing its progress every 50 ms, moving on when done.
    std::vector<int> rows{0, 1, 2, 3, 4, 5};
    for (const int row : rows) {
        list.startRow(row);
    }
    int next = 6;
    qint64 step = 0;
    QTimer progress;
    progress.setInterval(50);
    QObject::connect(&progress, &QTimer::timeout, [&] {
        ++step;
        for (int& row : rows) {
            list.setText(row, DownloadListModel::ColReceived, QString::number(step * 1000));
            list.setText(row, DownloadListModel::ColPercent, QStringLiteral("%1%").arg(step % 100));
            if (step % 20 == 0) { // a transfer ends once a second and the next starts
                list.setStatus(row, ItemStatus::Finished);
                row = next++;
                list.startRow(row);
            }
        }
    });
    // The window thread's responsiveness: the worst gap of a 10 ms timer.
    qint64 lastTick = clock.elapsed();
    qint64 worstGap = 0;
    QTimer beat;
    beat.setInterval(10);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstGap = std::max(worstGap, now - lastTick);
        lastTick = now;
    });
    std::vector<double> flushes;
    QTimer measure; // the keeper's own flush, timed: the same call it makes once a second
    measure.setInterval(1000);
    QObject::connect(&measure, &QTimer::timeout, [&] {
        QElapsedTimer t;
        t.start();
        keeper.flushNow();
        flushes.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    });
    progress.start();
    beat.start();
    measure.start();
    QTimer::singleShot(10'000, &app, &QCoreApplication::quit);
    lastTick = clock.elapsed();
    QCoreApplication::exec();

    // The writing itself, on the keeper's thread: six changed rows, then a whole rewrite.
    std::vector<double> writes;
    for (int round = 0; round < 20; ++round) {
        for (int row = 0; row < 6; ++row) {
            list.setReason(1000 + round * 6 + row, QStringLiteral("round %1").arg(round));
        }
        QElapsedTimer t;
        t.start();
        keeper.flushAndWait();
        writes.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(writes.begin(), writes.end());
    QVector<int> reversed(kRows);
    for (int i = 0; i < kRows; ++i) {
        reversed[i] = kRows - 1 - i;
    }
    clock.restart();
    list.reorder(reversed); // the keeper copies the whole list at once on the window thread
    const double reorderMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    keeper.flushAndWait();
    const double rewriteMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 - reorderMs;
    keeper.attachDownloads(nullptr);
    clock.restart();
    list.reorder(reversed);
    const double unkeptReorderMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;

    std::sort(flushes.begin(), flushes.end());
    const double median = flushes.empty() ? 0 : flushes[flushes.size() / 2];
    const double worst = flushes.empty() ? 0 : flushes.back();
    std::printf("queue store, %d rows: added to the list in %.0f ms, handed to the writer in %.0f "
                "ms on the window thread, in the database after %.0f ms\n",
                kRows, appendMs, handOverMs, firstWriteMs);
    std::printf("running: %zu flushes, median %.2f ms, worst %.2f ms; worst 10 ms timer gap "
                "%lld ms\n",
                flushes.size(), median, worst, static_cast<long long>(worstGap));
    std::printf("writing six changed rows: median %.2f ms, worst %.2f ms (keeper's thread)\n",
                writes[writes.size() / 2], writes.back());
    std::printf("reordering all rows: %.0f ms on the window thread kept (%.0f ms unkept), %.0f ms "
                "more to rewrite the table on the keeper's thread\n",
                reorderMs, unkeptReorderMs, rewriteMs);
    return 0;
}
