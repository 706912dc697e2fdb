#pragma once
// The download window: the download options, the download list and the status bar.

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadOptions.h"
#include "core/download/ListOperations.h"
#include "core/files/DuplicatePolicy.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QMenu;
class QTimer;
class QTreeView;

namespace quillax {

class DownloadScheduler;
class ElidedLabel;
class LoginPanel;
class PdfPreview;
struct LoginTimeouts;
class SettingsStore;
struct AppValues;

class fFileDownload : public QMainWindow {
    Q_OBJECT
public:
    fFileDownload(SettingsStore& settings, AppValues& values, QWidget* parent = nullptr,
                  const DownloadTimeouts& timeouts = DownloadTimeouts(),
                  const LoginTimeouts* loginTimeouts = nullptr);
    ~fFileDownload() override;

    DownloadListModel& list() { return list_; }
    DownloadWindowState& state() { return state_; }
    DownloadScheduler& scheduler() { return *scheduler_; }
    /// The window's choices as the scheduler and the engines see them.
    const DownloadOptions& options() const { return options_; }
    QTreeView* listView() const { return ListView3; }

    /// The same-name policy chosen by the option buttons.
    DuplicateNamePolicy duplicatePolicy() const;
    void setDuplicatePolicy(DuplicateNamePolicy policy);

    bool 确定是需要下载(int row);
    QString 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                           QString* newName) const;
    /// Writes the summary into the fourth status panel.
    void 显示下载统计();
    /// Refreshes the row count label ("12条").
    void refreshRowCount();
    /// The method chosen in the options dialog: the label shows it, the thread-count box is
    /// enabled (set to "1") for method 2 and disabled for method 1.
    void ApplyDownloadMethod(int method);
    /// Takes up changed options (proxy, size limit) for the next downloads.
    void RefreshOptions();

    LoginPanel* loginPanel() const { return PicWebBK; }
    /// The download runs: the start timer is on, a single-stream transfer is executing, or a
    /// thread is busy. Operations that reorder or shorten the list refuse then.
    bool downloadRunning();
    /// The start timer is on or an engine writes rows by position.
    bool busyGuard();

    // List operations of the menus, each with its guard and message.
    void 清除(ListClear kind);
    void 随机排序列表();
    void 检查并纠正磁盘文件类型();
    /// Checks the selected finished PDFs again.
    void 检查PDF内容();
    /// Selects the rows whose PDF may be another paper, and only those.
    void 选择内容可疑项();
    /// The preview pane beside the list (hidden until the user opens it).
    PdfPreview* preview() const { return preview_; }
    QAction* previewAction() const { return menuPDF预览; }
    void 打开文件判断类型();
    void 文件大小小于指定数字的项();
    void 导出名称(bool unfinishedOnly);
    /// Writes the citations of all items, or of the finished ones, for a reference manager.
    void 导出引文(CitationFormat format, bool finishedOnly);
    /// Asks for the file (and whether to replace it) and writes `bytes` to it.
    void saveExport(const QString& suffix, const QByteArray& bytes);
    void 打开下载文件();
    void 打开所在文件夹();
    void 用记事本打开文件();
    void 复制名称();
    void 批量替换网址();
    void columnClicked(int column);
    void itemDoubleClicked(int row);
    void itemClicked(int row);
    /// The list's right-button menu, enabled as the download state allows.
    QMenu* listMenu() const { return menu下载; }
    void prepareListMenu();

    /// Text of status panels 1 to 4.
    QString statusPanelText(int panel) const;
    void setStatusPanelText(int panel, const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildUi();
    void load();
    void 初始化下载列表();
    void buildMenus();
    void connectScheduler();
    void switchDownloadMethod();
    void showDownloadMethod();
    /// Copies the controls' current choices into the options object.
    void syncOptions();
    int selectedRow() const;
    /// The selected item's file; empty, after "该文件不存在！", when it has none.
    QString selectedFile();
    void deleteWhenIdle();

    SettingsStore& settings_;
    AppValues& values_;
    DownloadListModel list_;
    DownloadWindowState state_;
    DownloadOptions options_;
    DownloadTimeouts timeouts_;
    std::unique_ptr<DownloadScheduler> scheduler_;

    QLabel* Label7 = nullptr;
    QPushButton* Command26 = nullptr;
    QComboBox* Combo1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QComboBox* Combo2 = nullptr;
    QCheckBox* Check3 = nullptr;
    QComboBox* Combo4 = nullptr;
    QCheckBox* Check4 = nullptr;
    QCheckBox* Check5 = nullptr;
    QCheckBox* Check6 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command31 = nullptr;
    QLabel* Shape1 = nullptr;
    QLabel* Label1 = nullptr;
    QTreeView* ListView3 = nullptr;
    ElidedLabel* panels_[4] = {};
    LoginPanel* PicWebBK = nullptr;
    PdfPreview* preview_ = nullptr;
    QAction* menuPDF预览 = nullptr;
    QPushButton* Command1 = nullptr;
    QMenu* menu下载 = nullptr;
    QAction* menu清除 = nullptr;
    QAction* menu清空 = nullptr;
    QAction* menu全选 = nullptr;
    QAction* menu停止下载 = nullptr;
    bool sortDescending_ = false;
    bool closing_ = false;
    QTimer* idleCheck_ = nullptr;
    QAction* menu下载全部 = nullptr;
    QAction* menu自动定位到下载项 = nullptr;
};

} // namespace quillax
