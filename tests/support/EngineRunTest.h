#pragma once
// A run of the download engines against the test's own server, one fresh list, scheduler and
// folder per case, for tests that look at the rows and the exact files a run leaves.

#include "core/download/DownloadScheduler.h"
#include "core/files/FileNaming.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace quillax::test {

class EngineRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        timeouts.tickMs = 20;
        timeouts.headerWaitMs = 3000;
        timeouts.stallMs = 3000;
        timeouts.asyncStallMs = 3000;
        timeouts.stallCheckMs = 50;
        timeouts.fallbackWaitMs = 20000;
    }

    /// A fresh list, scheduler and folder for one case.
    void fresh(int method, DuplicateNamePolicy policy) {
        scheduler.reset();
        list = std::make_unique<DownloadListModel>();
        state = DownloadWindowState{};
        options = DownloadOptions{};
        options.method = method;
        options.threadCount = 2;
        options.policy = policy;
        dir = std::make_unique<QTemporaryDir>();
        folder = dir->path() + QLatin1Char('/');
        scheduler = std::make_unique<DownloadScheduler>(*list, state, options, timeouts);
        scheduler->pdfChecks().setAutomatic(false);
    }

    /// Runs the start timer and the monitor until every row has ended.
    bool runToEnd() {
        state.LastFinishMonotonicMs = MonotonicMs() - 1;
        scheduler->StartMonitor();
        scheduler->Start();
        const bool done = QTest::qWaitFor([&] { return list->检测是否下载列表完毕(); }, 30000);
        scheduler->StopTimers();
        return done;
    }

    QStringList files() const {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    QString at(const QString& name) const { return folder + name; }
    QString rowPath(int row) const {
        const DownloadItem& item = list->item(row);
        return ItemFilePath(item.folder, item.name, item.type);
    }

    TestHttpServer server;
    std::unique_ptr<DownloadListModel> list;
    DownloadWindowState state;
    DownloadOptions options;
    DownloadTimeouts timeouts;
    std::unique_ptr<DownloadScheduler> scheduler;
    std::unique_ptr<QTemporaryDir> dir;
    QString folder;
    RecordingMessageBoxes boxes;
};

} // namespace quillax::test
