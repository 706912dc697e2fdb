#include "ui/shell/QueueKeeping.h"

#include "core/store/QueueKeeper.h"
#include "platform/MessageBoxes.h"

#include <QFileInfo>
#include <utility>

namespace quillax {

namespace {
QueueKeeper* g_keeper = nullptr;
QMetaObject::Connection g_told;
QList<AnalysisRecord> g_records;
} // namespace

QueueKeeper* ActiveQueueKeeper() {
    return g_keeper;
}

void SetActiveQueueKeeper(QueueKeeper* keeper) {
    QObject::disconnect(g_told);
    g_keeper = keeper;
    if (keeper != nullptr) {
        g_told =
            QObject::connect(keeper, &QueueKeeper::keepingFailed, keeper, [](const QString& why) {
                ShowMessage(QStringLiteral("下载列表暂时无法保存：%1\n"
                                           "程序会继续尝试保存。")
                                .arg(why),
                            MsgIcon::Warning);
            });
    }
}

KeptQueue OpenKeptQueue(ListStore& store, const QString& path) {
    const StoreOpenResult opened = store.open(path);
    const QString notKept = QStringLiteral("本次运行不保存下载列表。");
    QString text;
    if (!opened.movedTo.isEmpty()) {
        text = QStringLiteral("保存的下载列表无法读取，已移到：%1").arg(opened.movedTo);
        if (opened.status == StoreOpen::Failed) {
            text += QStringLiteral("\n新的下载列表无法建立：%1\n").arg(opened.error) + notKept;
        }
    } else if (opened.status == StoreOpen::Failed) {
        text = QFileInfo::exists(path)
                   ? QStringLiteral("保存的下载列表暂时无法读取：%1\n文件留在原处：%2\n")
                             .arg(opened.error, path) +
                         notKept
                   : QStringLiteral("下载列表无法保存：%1\n").arg(opened.error) + notKept;
    }
    if (!text.isEmpty()) {
        ShowMessage(text, MsgIcon::Warning);
    }
    return store.load();
}

void SetRecordsToRestore(const QList<AnalysisRecord>& records) {
    g_records = records;
}

int RestoreRecordsInto(AnalysisListModel& list) {
    const QList<AnalysisRecord> records = std::exchange(g_records, {});
    return records.isEmpty() ? 0 : RestoreKeptQueue({{}, records}, nullptr, &list);
}

} // namespace quillax
