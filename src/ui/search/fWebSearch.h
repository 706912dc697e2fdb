#pragma once
// The search window: the embedded browser above, the analysis list below, the buttons that take
// result pages into the list and turn records into download items.

#include "core/search/AnalysisListModel.h"
#include "core/search/RecordAnalysis.h"
#include "core/search/SearchCounts.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QTreeView;

namespace quillax {

class ElidedLabel;
class SettingsStore;
class WebBrowser;
struct AppValues;

/// Limits of the search window's waits; tests shorten them.
struct SearchTimeouts {
    int pageLoadMs = 60'000;  ///< a next page that takes longer ends the add-all run
    int pauseExtraMs = 1'000; ///< added to the chosen delay between two pages
};

class fWebSearch : public QMainWindow {
    Q_OBJECT
public:
    fWebSearch(SettingsStore& settings, AppValues& values, QWidget* parent = nullptr,
               const SearchTimeouts& timeouts = SearchTimeouts());
    ~fWebSearch() override;

    /// Shows the window and opens the search home page.
    void Open();

    AnalysisListModel& list() { return list_; }
    WebBrowser* browser() const { return WebBrowser1; }
    QTreeView* listView() const { return ListView1; }

    // The window's procedures.
    void 加入本页到列表();
    /// Starts the add-all run, or stops the one in progress.
    void 加入全部到列表();
    bool 下一页();
    bool 加入下载列表(int row);
    void runAnalysis(AnalysisRun run);
    void 分析下载();
    void 停止分析() { AnalysisStopped = true; }
    void 显示下载窗口(bool restore);
    void clearRows(ClearKind kind);
    void 导出数据();
    void 网页另存为();
    void 打开EBSCO首页();
    void 打开指定网址();
    bool 查找Combo1(const QString& address) const;
    /// Opens what the user typed into the address box, or says why it cannot.
    void 打开输入的网址();

    bool addAllRunning() const { return addAllRunning_; }
    bool analysing() const { return !AnalysisStopped; }
    /// Text of status panel 1, 2 or 3 (3: what the window's last action or page load did).
    QString statusPanelText(int panel) const;

Q_SIGNALS:
    /// The window has closed (it may still be waiting for its loops to return).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class LoopGuard;
    void buildUi();
    void buildMenus();
    void connectBrowser();
    void load();
    void layoutPanes();
    void showSaveFolderChooser();
    QString actionFolder() const;
    void refreshCount();
    void fitColumns();
    void setAddAllIdle(bool idle);
    /// The add-all button's caption while no run goes on, or while one does.
    static QString addAllCaption(bool idle);
    AnalysisOutcome analyseRow(int row);
    void showNotice(const QString& text);
    void showAddress();
    void onTitleChange(const QString& title);
    bool isMakerAddress(const QString& address) const;
    void deleteWhenIdle();

    SettingsStore& settings_;
    AppValues& values_;
    SearchTimeouts timeouts_;
    AnalysisListModel list_;

    bool StopAddAll = true;
    bool PageLoading = false;
    bool AnalysisStopped = true;
    bool addAllRunning_ = false;
    int loops_ = 0;        ///< procedures of this window that yield and have not returned
    bool closing_ = false; ///< closed: deleted once `loops_` is back to 0
    bool deleting_ = false;
    bool askingToClose_ = false;
    bool panesShared_ = false;     ///< the panes got their first shares
    bool pageFailedShown_ = false; ///< panel 3 tells of a page that could not be opened

    WebBrowser* WebBrowser1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* Command1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QSplitter* PicBar = nullptr;
    QWidget* PicPanWeb = nullptr;
    QWidget* PicPanList = nullptr;
    QTreeView* ListView1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command4 = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* Combo2 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command7 = nullptr;
    QFrame* PicPanPrograss = nullptr;
    QLabel* Label11 = nullptr;
    QPushButton* Command5 = nullptr;
    QLabel* panel1_ = nullptr;
    ElidedLabel* panel2_ = nullptr;
    ElidedLabel* panel3_ = nullptr;
    QMenu* menu加入 = nullptr;
    QMenu* menu清除 = nullptr;
};

/// Counts the window's procedures that yield to the event queue: the window is deleted only
/// once none of them is on the stack.
class fWebSearch::LoopGuard {
public:
    explicit LoopGuard(fWebSearch* w);
    ~LoopGuard();
    LoopGuard(const LoopGuard&) = delete;
    LoopGuard& operator=(const LoopGuard&) = delete;

private:
    QPointer<fWebSearch> window_;
};

/// The search window while it is loaded, or nullptr.
fWebSearch* LoadedSearchWindow();
/// Shows the search window, creating and opening it when none is loaded.
fWebSearch* OpenSearchWindow();

} // namespace quillax
