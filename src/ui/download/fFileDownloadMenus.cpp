// The download window's menus and the handlers its menu entries and list clicks call.
#include "ui/download/fFileDownload.h"

#include "core/download/DownloadScheduler.h"
#include "core/download/StoredTypeCorrection.h"
#include "core/files/FileNaming.h"
#include "core/files/FileTools.h"
#include "core/files/HeaderTypes.h"
#include "core/files/TypeRecognition.h"
#include "core/settings/AppConfig.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "platform/DesktopShell.h"
#include "platform/MessageBoxes.h"
#include "platform/UserDialogs.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/PdfPreview.h"
#include "ui/download/UrlReplace.h"
#include "ui/shell/AboutBoxActions.h"
#include "ui/shell/WindowHelpers.h"
#include "ui/shell/WindowLinks.h"
#include "ui/shell/fOption.h"
#include "ui/shell/frmAbout.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QShortcut>
#include <QTreeView>
#include <QUrl>

#include <functional>

namespace quillax {

void fFileDownload::buildMenus() {
    menu下载 = menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    QMenu* m = menu下载;
    menu全选 = m->addAction(QStringLiteral("全选"), this, [this] { list_.selectAll(); });
    m->addAction(QStringLiteral("全不选"), this,
                 [this] { list_.selectionModel()->clearSelection(); });
    m->addAction(QStringLiteral("随机排序列表(打乱)"), this, [this] { 随机排序列表(); });
    m->addAction(QStringLiteral("自动调整列宽"), this, [this] {
        SetAllListColumnWidths(ListView3, kFitContentsAndHeader);
        PaintListStripes(ListView3);
    });
    m->addSeparator();
    // Re-downloads change rows in place and never touch one that is downloading.
    QMenu* again = m->addMenu(QStringLiteral("重新下载"));
    const auto redo = [this](const std::function<int(DownloadListModel&)>& op) {
        QCoreApplication::processEvents();
        ListView3->setUpdatesEnabled(false);
        op(list_);
        ListView3->setUpdatesEnabled(true);
        显示下载统计();
    };
    again->addAction(QStringLiteral("选中项"), this, [redo] { redo(menu重新下载选中项); });
    again->addAction(QStringLiteral("出错项"), this,
                     [redo] { redo([](DownloadListModel& l) { return menu重新下载出错项(l); }); });
    again->addAction(QStringLiteral("网页类型文件(HTM/HTML/xml)项"), this, [redo] {
        redo([](DownloadListModel& l) { return menu重新下载文件类型为HTM和HTML项(l); });
    });
    again->addAction(QStringLiteral("重新下载出错项和网页类型文件项"), this,
                     [redo] { redo(menu重新下载出错项和网页项); });
    again->addAction(QStringLiteral("文件大小小于指定数字的项"), this,
                     [this] { 文件大小小于指定数字的项(); });
    m->addSeparator();
    QMenu* clearMenu = m->addMenu(QStringLiteral("清除"));
    menu清除 = clearMenu->menuAction();
    clearMenu->addAction(QStringLiteral("选中项"), this, [this] { 清除(ListClear::Selected); });
    clearMenu->addAction(QStringLiteral("全部出错项"), this, [this] { 清除(ListClear::Failed); });
    clearMenu->addAction(QStringLiteral("完成项"), this, [this] { 清除(ListClear::Finished); });
    menu清空 = m->addAction(QStringLiteral("清空"), this, [this] { 清除(ListClear::All); });
    QMenu* deleteMenu = m->addMenu(QStringLiteral("删除文件"));
    deleteMenu->addAction(QStringLiteral("网页类型文件(HTM/HTML/xml)项"), this,
                          [this] { DeleteItemFiles(list_, true); });
    deleteMenu->addAction(QStringLiteral("出错项"), this,
                          [this] { DeleteItemFiles(list_, false); });
    m->addSeparator();
    menu下载全部 = m->addAction(QStringLiteral("开始下载"), this, [this] { scheduler_->Start(); });
    menu停止下载 = m->addAction(QStringLiteral("停止下载"), this, [this] { scheduler_->Stop(); });
    m->addAction(QStringLiteral("取消下载选中项"), this, [this] { scheduler_->CancelSelected(); });
    m->addSeparator();
    m->addAction(QStringLiteral("打开下载文件"), this, [this] { 打开下载文件(); });
    m->addAction(QStringLiteral("打开所在文件夹"), this, [this] { 打开所在文件夹(); });
    m->addAction(QStringLiteral("用记事本打开文件"), this, [this] { 用记事本打开文件(); });
    m->addSeparator();
    m->addAction(QStringLiteral("复制名称"), this, [this] { 复制名称(); });
    m->addAction(QStringLiteral("批量替换网址"), this, [this] { 批量替换网址(); });
    QMenu* exportMenu = m->addMenu(QStringLiteral("导出名称"));
    exportMenu->addAction(QStringLiteral("全部"), this, [this] { 导出名称(false); });
    exportMenu->addAction(QStringLiteral("未完成项"), this, [this] { 导出名称(true); });
    // Reference managers import these, with the stored PDFs attached.
    for (const auto& [caption, format] :
         {std::pair{QStringLiteral("导出引文 (RIS)"), CitationFormat::Ris},
          std::pair{QStringLiteral("导出引文 (BibTeX)"), CitationFormat::BibTex}}) {
        QMenu* citations = m->addMenu(caption);
        citations->addAction(QStringLiteral("全部"), this,
                             [this, format] { 导出引文(format, false); });
        citations->addAction(QStringLiteral("已完成项"), this,
                             [this, format] { 导出引文(format, true); });
    }
    m->addSeparator();
    m->addAction(QStringLiteral("关闭本下载窗口"), this, &QWidget::close);

    QMenu* windows = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    windows->addAction(QStringLiteral("资料检索分析窗口"), this, [] {
        if (Links().openSearchWindow) {
            Links().openSearchWindow();
        }
    });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->addAction(QStringLiteral("设置"), this,
                     [this] { fOption::Show(this, settings_, values_); });
    menu自动定位到下载项 = tools->addAction(QStringLiteral("自动定位到下载项"));
    menu自动定位到下载项->setCheckable(true);
    connect(menu自动定位到下载项, &QAction::toggled, this, [this] { syncOptions(); });
    tools->addSeparator();
    tools->addAction(QStringLiteral("检查文件是否存在"), this, [this] { 检查文件是否存在(list_); });
    tools->addAction(QStringLiteral("检查并纠正磁盘文件类型"), this,
                     [this] { 检查并纠正磁盘文件类型(); });
    tools->addAction(QStringLiteral("检查PDF内容"), this, [this] { 检查PDF内容(); });
    tools->addAction(QStringLiteral("选择内容可疑项"), this, [this] { 选择内容可疑项(); });
    menuPDF预览 = tools->addAction(QStringLiteral("PDF预览"));
    menuPDF预览->setCheckable(true);
    menuPDF预览->setToolTip(QStringLiteral("在列表旁显示选中PDF的第一页（空格键打开或关闭）"));
    connect(menuPDF预览, &QAction::toggled, this, [this](bool on) {
        preview_->setVisible(on);
        if (on) {
            preview_->showRow(list_, list_.selectionModel()->currentIndex().row());
        }
    });
    // As desktop file managers do: the space key on a row opens and closes the preview.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), ListView3);
    space->setContext(Qt::WidgetShortcut);
    connect(space, &QShortcut::activated, menuPDF预览, &QAction::toggle);
    connect(list_.selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { preview_->showRow(list_, current.row()); });
    connect(&scheduler_->pdfChecks(), &PdfChecks::checked, this, [this](int row) {
        if (row == list_.selectionModel()->currentIndex().row()) {
            preview_->showRow(list_, row);
        }
    });
    tools->addSeparator();
    tools->addAction(QStringLiteral("清空IE浏览器缓存"), this, [] {
        if (Links().clearBrowserCache) {
            Links().clearBrowserCache();
        }
    });
    tools->addAction(QStringLiteral("打开文件判断类型"), this, [this] { 打开文件判断类型(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(QStringLiteral("关于"), this, [this] { ShowAboutBox(this); });
    help->addSeparator();
    AddMakerPageEntry(help, QStringLiteral("最新版本"), MakerPage::Product);
    AddMakerPageEntry(help, QStringLiteral("岚舟软件淘宝店"), MakerPage::Shop);
    QMenu* sites = help->addMenu(QStringLiteral("作者网站"));
    connect(sites, &QMenu::aboutToShow, this, [] { OpenMakerPage(MakerPage::SecondSite); });
    AddMakerPageEntry(sites, QStringLiteral("岚舟软件"), MakerPage::Site);
    AddMakerPageEntry(sites, QStringLiteral("青禾软件"), MakerPage::SecondSite);
    AddMakerPageEntry(help, QStringLiteral("软件教程和问答"), MakerPage::Help);
    AddMakerPageEntry(help, QStringLiteral("软件定制"), MakerPage::Customise);
    AddSuggestionMailEntry(help, this);

    connect(ListView3, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        prepareListMenu();
        menu下载->popup(ListView3->viewport()->mapToGlobal(at));
    });
    connect(ListView3->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { columnClicked(column); });
    connect(ListView3, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { itemDoubleClicked(index.row()); });
    connect(ListView3, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { itemClicked(index.row()); });
    // A failed row, once selected, says why in panel 3 (by mouse or by keys).
    connect(ListView3->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                const int row = current.row();
                if (row >= 0 && row < list_.count() &&
                    list_.item(row).status == ItemStatus::Failed &&
                    !list_.item(row).reason.isEmpty()) {
                    setStatusPanelText(3, list_.item(row).reason);
                }
            });
    connect(Command1, &QPushButton::clicked, this, [this] {
        const int row = selectedRow();
        PicWebBK->网页登录(row >= 0 ? 选择url(list_.item(row).key) : QString());
    });
}

namespace {
const QString kStopFirst = QStringLiteral("停止下载以后，才能执行此操作！");
}

void fFileDownload::清除(ListClear kind) {
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    if (kind == ListClear::All && ShowMessage(QStringLiteral("您确定要清空列表的所有信息吗？"),
                                              MsgIcon::None, MsgButtons::YesNo) != MsgResult::Yes) {
        return;
    }
    // Downloads may have started while the question was open.
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    ClearListItems(list_, kind);
    refreshRowCount();
    显示下载统计();
}

void fFileDownload::随机排序列表() {
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    随机排序下载列表(
        list_, [](int n) { return static_cast<int>(QRandomGenerator::global()->bounded(n)); });
    ShowMessage(QStringLiteral("随机排序完成！"), MsgIcon::Information);
}

void fFileDownload::检查并纠正磁盘文件类型() {
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    const int corrected = CorrectStoredFileTypes(list_);
    ShowMessage(QStringLiteral("纠正文件类型：") + QString::number(corrected) +
                    QStringLiteral("个."),
                MsgIcon::Information);
}

void fFileDownload::打开文件判断类型() {
    // "*" offers every file: downloads without a type have no dot in their names.
    const QString path = Dialogs().openFileName(this, QStringLiteral("* (*)"));
    if (path.isEmpty()) {
        return;
    }
    const QString type = 打开文件判断文件类型(path);
    ShowMessage(type.isEmpty() ? QStringLiteral("目前还无法判断。")
                               : QStringLiteral("文件类型为：") + type,
                MsgIcon::Information);
}

void fFileDownload::文件大小小于指定数字的项() {
    const std::optional<QString> answer = Dialogs().text(this, QStringLiteral("请输入数字："),
                                                         QString::fromUtf8(config::kProductTitle));
    double bytes = 0;
    if (!answer || TrimSpaces(*answer).isEmpty() || !ParseStoredNumber(*answer, bytes)) {
        return;
    }
    QCoreApplication::processEvents();
    menu重新下载文件大小小于指定数字的项(list_, bytes);
    显示下载统计();
}

void fFileDownload::导出名称(bool unfinishedOnly) {
    if (list_.count() == 0) {
        return;
    }
    saveExport(QStringLiteral("txt"), ExportNamesText(list_, unfinishedOnly).toUtf8());
}

void fFileDownload::saveExport(const QString& suffix, const QByteArray& bytes) {
    const QString path = Dialogs().saveFileName(this, QStringLiteral("*.") + suffix, suffix);
    if (path.isEmpty() || !ConfirmReplace(path)) {
        return;
    }
    // Written whole or not at all: a file the user had keeps its bytes when writing fails.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ShowMessage(file.errorString(), MsgIcon::Error);
    }
}

void fFileDownload::导出引文(CitationFormat format, bool finishedOnly) {
    if (list_.count() == 0) {
        return;
    }
    const QList<CitationEntry> entries = CitationEntries(list_, finishedOnly);
    if (entries.isEmpty()) {
        ShowMessage(QStringLiteral("没有已完成的项可以导出！"), MsgIcon::Information);
        return;
    }
    saveExport(format == CitationFormat::Ris ? QStringLiteral("ris") : QStringLiteral("bib"),
               CitationText(format, entries));
}

QString fFileDownload::selectedFile() {
    const int row = selectedRow();
    if (row < 0) {
        return {};
    }
    const DownloadItem& item = list_.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (!FileExists(path)) {
        ShowMessage(QStringLiteral("该文件不存在！"), MsgIcon::Error);
        return {};
    }
    return path;
}

void fFileDownload::打开下载文件() {
    const QString path = selectedFile();
    if (!path.isEmpty()) {
        OpenWithDefaultProgram(path);
    }
}

void fFileDownload::打开所在文件夹() {
    const int row = selectedRow();
    if (row < 0) {
        return;
    }
    const DownloadItem& item = list_.item(row);
    if (!QFileInfo(item.folder).isDir()) {
        ShowMessage(QStringLiteral("文件夹不存在！"), MsgIcon::Error);
        return;
    }
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (!FileExists(path)) {
        Shell().openUrl(QUrl::fromLocalFile(QFileInfo(item.folder).absoluteFilePath()));
        return;
    }
    // The file manager may take its time to answer: the window does not wait for it.
    QPointer<fFileDownload> self(this);
    ShowFileInFolderAsync(path, [self](bool shown) {
        if (!shown && self) {
            ShowMessage(QStringLiteral("打开失败！"), MsgIcon::Error);
        }
    });
}

void fFileDownload::用记事本打开文件() {
    const QString path = selectedFile();
    if (path.isEmpty()) {
        return;
    }
    if (QFileInfo(path).size() > 2048LL * 1024) {
        ShowMessage(QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！"), MsgIcon::Error);
        return;
    }
    OpenInTextEditor(path);
}

void fFileDownload::复制名称() {
    const int row = selectedRow();
    if (row < 0) {
        return;
    }
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(list_.item(row).name);
}

void fFileDownload::批量替换网址() {
    UrlReplace dialog(list_, this);
    dialog.exec();
}

void fFileDownload::columnClicked(int column) {
    if (busyGuard()) {
        ShowMessage(QStringLiteral("停止下载后方可排序！"), MsgIcon::Information);
        return;
    }
    sortDescending_ = !sortDescending_;
    SortDownloadList(list_, column, sortDescending_);
}

void fFileDownload::itemDoubleClicked(int row) {
    if (row < 0 || row >= list_.count()) {
        return;
    }
    const DownloadItem& item = list_.item(row);
    if (item.status == ItemStatus::Finished) {
        OpenWithDefaultProgram(ItemFilePath(item.folder, item.name, item.type));
    } else if (item.status == ItemStatus::Failed) {
        // Only a file the row itself stored, and no other row owns, is removed.
        RetryFailedItem(list_, row);
        显示下载统计();
    }
}

void fFileDownload::itemClicked(int row) {
    if (row < 0 || row >= list_.count()) {
        return;
    }
    const DownloadItem& item = list_.item(row);
    // The item click would show the file's path, but the list's click that follows replaces it
    // with the key, which is also copied: only the key stays.
    setStatusPanelText(2, item.key);
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(item.key);
}

void fFileDownload::prepareListMenu() {
    const bool busy = busyGuard();
    menu清除->setEnabled(!busy);
    menu清空->setEnabled(!busy);
    menu全选->setEnabled(!busy);
    menu停止下载->setEnabled(busy);
}

void fFileDownload::检查PDF内容() {
    int started = 0;
    for (int row = 0; row < list_.count(); ++row) {
        if (list_.isSelected(row) && scheduler_->pdfChecks().check(row)) {
            ++started;
        }
    }
    setStatusPanelText(2, started > 0 ? QStringLiteral("正在检查%1个PDF文件").arg(started)
                                      : QStringLiteral("选中项中没有已完成的PDF文件"));
}

void fFileDownload::选择内容可疑项() {
    int found = 0;
    for (int row = 0; row < list_.count(); ++row) {
        const bool suspect = MarkOf(list_.item(row)) == ItemMark::Suspect;
        list_.setSelected(row, suspect);
        found += suspect ? 1 : 0;
    }
    setStatusPanelText(2, QStringLiteral("内容可疑项:%1").arg(found));
}

} // namespace quillax
