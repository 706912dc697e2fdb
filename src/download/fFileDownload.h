#pragma once
// The download window: the download options, the download list and the status bar.

#include "download/DownloadListModel.h"
#include "files/DuplicatePolicy.h"

#include <QMainWindow>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeView;

namespace quillax {

class SettingsStore;
struct AppValues;

class fFileDownload : public QMainWindow {
    Q_OBJECT
public:
    fFileDownload(SettingsStore& settings, AppValues& values, QWidget* parent = nullptr);
    ~fFileDownload() override;

    DownloadListModel& list() { return list_; }
    DownloadWindowState& state() { return state_; }
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
    void switchDownloadMethod();
    void showDownloadMethod();

    SettingsStore& settings_;
    AppValues& values_;
    DownloadListModel list_;
    DownloadWindowState state_;

    QLabel* Label7 = nullptr;
    QPushButton* Command26 = nullptr;
    QComboBox* Combo1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QLabel* Label1 = nullptr;
    QTreeView* ListView3 = nullptr;
    QLabel* panels_[4] = {};
    QTimer* Timer1 = nullptr;
};

} // namespace quillax
