// Measures what the monitor's once-a-second tick costs: one walk of the whole download list
// for the counts and the summary, at 1,000, 10,000 and 100,000 rows, and adding the rows.
// Goal: the walk over 100,000 rows stays under 10 ms.

#include "core/download/DownloadListModel.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace quillax;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void fill(DownloadListModel& list, int rows) {
    for (int i = 0; i < rows; ++i) {
        list.addItem(
            QStringLiteral("https://content.example/pdf/%1.pdf|https://mirror.example/%1").arg(i),
            QStringLiteral("An article title of ordinary length number %1").arg(i),
            (i % 7 == 0) ? QStringLiteral("HTM") : QStringLiteral("pdf"),
            QStringLiteral("/home/user/12345/"),
            QStringLiteral("https://search.example/record/%1").arg(i));
        const auto status = static_cast<ItemStatus>(1 + i % 4);
        list.setStatus(i, status);
        if (status != ItemStatus::Waiting) {
            list.setText(i, DownloadListModel::ColSize, QStringLiteral("1048576"));
            list.setText(i, DownloadListModel::ColReceived, QStringLiteral("524288"));
            list.setText(i, DownloadListModel::ColPercent, QStringLiteral("50%"));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("%-10s %14s %16s %16s\n", "rows", "add rows (ms)", "walk median (ms)",
                "walk worst (ms)");
    for (int rows : {1000, 10000, 100000}) {
        DownloadListModel list;
        const auto addStart = Clock::now();
        fill(list, rows);
        const double addMs = msSince(addStart);

        std::vector<double> walks;
        volatile int sink = 0;
        for (int run = 0; run < 21; ++run) {
            const auto start = Clock::now();
            sink = sink + list.统计未下载项数目();
            sink = sink + (list.检测是否下载列表完毕() ? 1 : 0);
            sink = sink + list.统计出错和网页项数目();
            sink = sink + static_cast<int>(list.summaryText().size());
            walks.push_back(msSince(start));
        }
        std::sort(walks.begin(), walks.end());
        std::printf("%-10d %14.2f %16.3f %16.3f\n", rows, addMs, walks[walks.size() / 2],
                    walks.back());
    }
    return 0;
}
