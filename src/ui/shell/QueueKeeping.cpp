#include "ui/shell/QueueKeeping.h"

#include "platform/MessageBoxes.h"

namespace quillax {

namespace {
QueueKeeper* g_keeper = nullptr;
QList<AnalysisRecord> g_records;
} // namespace

QueueKeeper* ActiveQueueKeeper() {
    return g_keeper;
}

void SetActiveQueueKeeper(QueueKeeper* keeper) {
    g_keeper = keeper;
}

KeptQueue OpenKeptQueue(ListStore& store, const QString& path) {
    const StoreOpenResult opened = store.open(path);
    if (opened.status == StoreOpen::MovedAside) {
        ShowMessage(QStringLiteral("保存的下载列表无法读取，已移到：%1").arg(opened.movedTo),
                    MsgIcon::Warning);
    }
    return store.load();
}

void SetRecordsToRestore(const QList<AnalysisRecord>& records) {
    g_records = records;
}

int RestoreRecordsInto(AnalysisListModel& list) {
    const QList<AnalysisRecord> records = std::exchange(g_records, {});
    return RestoreKeptQueue({{}, records}, nullptr, &list);
}

} // namespace quillax
