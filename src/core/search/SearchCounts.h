#pragma once
// Counts of what the search window's actions did, and the status bar texts that report them:
// how many records a take added or found already listed, how an analysis run went.

#include "core/download/DownloadQueue.h"
#include "core/search/AnalysisListModel.h"
#include "core/search/RecordAnalysis.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <functional>

namespace quillax {

/// Watches the analysis list while a take (one page, or every page) runs. A record met several
/// times in one take (the same page read again, or shown on two pages) counts once: as added
/// when this take added it, as a duplicate when the list held it before.
class TakeTally {
public:
    explicit TakeTally(AnalysisListModel& list) : list_(list) {
        inserted_ = QObject::connect(&list, &QAbstractItemModel::rowsInserted, &list,
                                     [this](const QModelIndex&, int first, int last) {
                                         for (int row = first; row <= last; ++row) {
                                             added_.insert(list_.record(row).link);
                                         }
                                     });
        refused_ = QObject::connect(&list, &AnalysisListModel::addRefused, &list,
                                    [this](const QString& link) { refusedLinks_.insert(link); });
    }
    ~TakeTally() {
        QObject::disconnect(inserted_);
        QObject::disconnect(refused_);
    }
    TakeTally(const TakeTally&) = delete;
    TakeTally& operator=(const TakeTally&) = delete;

    int added() const { return static_cast<int>(added_.size()); }
    int duplicates() const {
        int n = 0;
        for (const QString& link : refusedLinks_) {
            n += added_.contains(link) ? 0 : 1;
        }
        return n;
    }
    /// "加入53条（重复4条）"; a take that met no record says so.
    QString message() const {
        if (added() == 0 && duplicates() == 0) {
            return QStringLiteral("没有找到可加入的记录");
        }
        QString text = QStringLiteral("加入%1条").arg(added());
        if (duplicates() > 0) {
            text += QStringLiteral("（重复%1条）").arg(duplicates());
        }
        return text;
    }

private:
    AnalysisListModel& list_;
    QSet<QString> added_;
    QSet<QString> refusedLinks_;
    QMetaObject::Connection inserted_;
    QMetaObject::Connection refused_;
};

/// How one record's analysis ended. Merged: its PDF address was already a download item, so
/// no second item was added.
enum class AnalysisOutcome { Failed, Added, Merged };

/// `AnalyseRecord`, telling a new download item from a PDF address the list already held. The
/// list refuses a key it holds, so an add that leaves its row count unchanged was refused.
inline AnalysisOutcome AnalyseRecordCounted(AnalysisListModel& list, int row,
                                            const std::function<DownloadQueue*()>& downloads,
                                            const AppValues& values) {
    DownloadQueue* target = nullptr;
    // A queue that is also an object (the download list) is watched: it may go with its window.
    QPointer<QObject> alive;
    bool watched = false;
    int before = 0;
    const bool found = AnalyseRecord(
        list, row,
        [&]() -> DownloadQueue* {
            target = downloads();
            alive = dynamic_cast<QObject*>(target);
            watched = alive != nullptr;
            before = target != nullptr ? target->count() : 0;
            return target;
        },
        values);
    if (!found) {
        return AnalysisOutcome::Failed;
    }
    const bool there = target != nullptr && (!watched || alive);
    return there && target->count() == before ? AnalysisOutcome::Merged : AnalysisOutcome::Added;
}

struct AnalysisTally {
    int succeeded = 0; ///< merged records included
    int failed = 0;
    int merged = 0;

    void count(AnalysisOutcome outcome) {
        succeeded += outcome == AnalysisOutcome::Failed ? 0 : 1;
        failed += outcome == AnalysisOutcome::Failed ? 1 : 0;
        merged += outcome == AnalysisOutcome::Merged ? 1 : 0;
    }
    /// "分析完成：成功50，失败3，其中2条为相同PDF合并"; "分析已停止：..." after 停止.
    QString message(bool stopped) const {
        QString text = (stopped ? QStringLiteral("分析已停止：") : QStringLiteral("分析完成：")) +
                       QStringLiteral("成功%1，失败%2").arg(succeeded).arg(failed);
        if (merged > 0) {
            text += QStringLiteral("，其中%1条为相同PDF合并").arg(merged);
        }
        return text;
    }
};

/// The question before a window with unanalysed rows closes.
inline QString UnanalysedCloseQuestion(int rows) {
    return QStringLiteral("分析列表中还有%1条未分析，确定要关闭吗？").arg(rows);
}

/// The status bar text for a page the browser could not open.
inline QString PageFailedNotice(const QString& address) {
    return QStringLiteral("网页无法打开：") + address;
}

} // namespace quillax
