#include "ui/search/fWebSearch.h"

// The search window's runs: taking result pages into the list, page by page for the add-all
// run, and analysing the list's records into download items.

#include "core/search/SearchCounts.h"
#include "core/settings/AppValues.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "platform/Clock.h"
#include "platform/DomDocument.h"
#include "platform/MessageBoxes.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/search/ResultPageReader.h"
#include "ui/shell/fSeleFileSavePath.h"

#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>

namespace quillax {

QString fWebSearch::addAllCaption(bool idle) {
    return idle ? QStringLiteral("加入全部到列表") : QStringLiteral("停止加入全部");
}

QString fWebSearch::actionFolder() const {
    return values_.PromptSavePath == 1 ? values_.SaveFolder : QString();
}

void fWebSearch::showSaveFolderChooser() {
    LoopGuard guard(this);
    fSeleFileSavePath::Show(this, settings_, values_);
}

void fWebSearch::加入本页到列表() {
    LoopGuard guard(this);
    TakeTally tally(list_);
    if (values_.PromptSavePath == 1) {
        showSaveFolderChooser();
    }
    ExtractResultPage(WebBrowser1->page(), list_, actionFolder());
    fitColumns();
    showNotice(tally.message());
}

void fWebSearch::setAddAllIdle(bool idle) {
    addAllRunning_ = !idle;
    Command4->setText(addAllCaption(idle));
    Command4->setStyleSheet(idle ? QString() : QStringLiteral("background-color: rgb(255, 0, 0);"));
}

void fWebSearch::加入全部到列表() {
    if (Command4->text() != addAllCaption(true)) {
        StopAddAll = true; // the running loop ends at its next check
        fitColumns();
        return;
    }
    LoopGuard guard(this);
    TakeTally tally(list_);
    setAddAllIdle(false);
    StopAddAll = false;
    if (values_.PromptSavePath == 1) {
        showSaveFolderChooser();
    }
    do {
        YieldOnce();
        if (StopAddAll || !下一页()) {
            break;
        }
        YieldOnce();
    } while (!StopAddAll);
    ExtractResultPage(WebBrowser1->page(), list_, actionFolder());
    setAddAllIdle(true);
    fitColumns();
    showNotice(tally.message());
}

bool fWebSearch::下一页() {
    LoopGuard guard(this);
    const QString folder = actionFolder();
    ExtractResultPage(WebBrowser1->page(), list_, folder);
    const auto finish = [&](bool result) {
        ExtractResultPage(WebBrowser1->page(), list_, folder);
        return result;
    };
    const DomDocument doc = WebBrowser1->Document();
    if (doc.isNull()) {
        return false;
    }
    const QList<DomHandle> footers =
        doc.getElementsByClassName(kDocumentScope, QStringLiteral("content-footer"));
    if (footers.isEmpty()) {
        return finish(false);
    }
    const QList<DomHandle> links = doc.getElementsByTagName(footers.first(), QStringLiteral("A"));
    DomHandle next = kNoElement;
    for (qsizetype i = links.size() - 1; i >= 0; --i) {
        if (TrimSpaces(doc.innerText(links[i]).toLower()) == QStringLiteral("下一个")) {
            next = links[i];
            break;
        }
    }
    if (next == kNoElement) {
        return finish(false);
    }
    const qint64 start = MonotonicMs();
    PageLoading = true;
    if (!doc.click(next)) {
        PageLoading = false;
        return finish(false);
    }
    YieldOnce();
    do {
        if (!WebBrowser1->Busy() && !PageLoading) {
            break;
        }
        YieldOnce();
        if (MonotonicMs() - start > timeouts_.pageLoadMs) {
            return finish(false);
        }
    } while (!StopAddAll);
    const qint64 pauseStart = MonotonicMs();
    const qint64 pause =
        static_cast<qint64>(Combo2->currentText().toInt()) * 1000 + timeouts_.pauseExtraMs;
    do {
        YieldOnce();
        if (MonotonicMs() - pauseStart >= pause) {
            break;
        }
    } while (!StopAddAll);
    return finish(true);
}

bool fWebSearch::加入下载列表(int row) {
    return analyseRow(row) != AnalysisOutcome::Failed;
}

AnalysisOutcome fWebSearch::analyseRow(int row) {
    LoopGuard guard(this);
    // A window closed during the fetch hands over only to a download window that is still open.
    return AnalyseRecordCounted(
        list_, row, [this]() -> DownloadQueue* { return DownloadWindowQueue(!closing_); }, values_);
}

void fWebSearch::runAnalysis(AnalysisRun run) {
    // One run at a time: a second one would hide the panel and stop the first when it ends.
    if (!AnalysisStopped) {
        return;
    }
    LoopGuard guard(this);
    AnalysisStopped = false;
    Command2->setEnabled(false);
    Label11->setText(QStringLiteral("正在分析,请稍候..."));
    PicPanPrograss->setGeometry(0, PicPanList->height() - 48, PicPanList->width(), 48);
    PicPanPrograss->show();
    PicPanPrograss->raise();
    YieldOnce();
    bool go = list_.count() > 0;
    if (go) {
        if (values_.PromptSavePath == 1) {
            values_.SaveFolderCancelled = false;
        } else {
            showSaveFolderChooser();
            go = !values_.SaveFolderCancelled;
        }
    }
    AnalysisTally tally;
    bool stopped = false;
    if (go) {
        const int n = list_.count();
        for (int row = 0; row < n && row < list_.count(); ++row) {
            if (RunVisits(run, list_, row, list_.selectionModel()->isRowSelected(row, {}))) {
                if (RunClearsStatus(run)) {
                    list_.setStatus(row, QString());
                }
                tally.count(analyseRow(row));
                YieldOnce();
            }
            if (AnalysisStopped) {
                stopped = row + 1 < n;
                break;
            }
        }
    }
    PicPanPrograss->hide();
    AnalysisStopped = true;
    Command2->setEnabled(true);
    if (go) {
        showNotice(tally.message(stopped));
    }
    显示下载窗口(false);
}

void fWebSearch::分析下载() {
    LoopGuard guard(this);
    Command2->setEnabled(false);
    if (list_.count() == 0) {
        ShowMessage(QStringLiteral("列表没有数据哦！"), MsgIcon::Information);
    } else if (!list_.selectionModel()->hasSelection()) {
        runAnalysis(AnalysisRun::All);
    } else {
        // The button stays off until the chosen run ends, or the menu closes without a choice.
        menu加入->popup(QCursor::pos());
        return;
    }
    Command2->setEnabled(true);
}

void fWebSearch::显示下载窗口(bool restore) {
    if (closing_) {
        return;
    }
    ShowDownloadWindow(restore ? DownloadWindowShow::Restored : DownloadWindowShow::KeepMinimised);
}

} // namespace quillax
