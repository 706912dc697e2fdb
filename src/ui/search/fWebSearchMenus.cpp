#include "ui/search/fWebSearch.h"

// The search window's menus and what their entries do.

#include "core/search/RecordAnalysis.h"
#include "core/settings/AppConfig.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"
#include "platform/UserDialogs.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/search/fIEcache.h"
#include "ui/shell/AboutBoxActions.h"
#include "ui/shell/fOption.h"
#include "ui/shell/frmAbout.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QTreeView>

namespace quillax {

void fWebSearch::buildMenus() {
    menu加入 = new QMenu(QStringLiteral("加入"), this);
    menu加入->setObjectName(QStringLiteral("menu加入"));
    menu加入->addAction(QStringLiteral("分析未分析项"), this,
                        [this] { runAnalysis(AnalysisRun::Unanalysed); });
    menu加入->addAction(QStringLiteral("分析失败项"), this,
                        [this] { runAnalysis(AnalysisRun::Failed); });
    menu加入->addAction(QStringLiteral("分析选中项"), this,
                        [this] { runAnalysis(AnalysisRun::Selected); });
    menu加入->addAction(QStringLiteral("分析全部"), this,
                        [this] { runAnalysis(AnalysisRun::All); });
    // Dismissed without a choice: the button comes back. A chosen run has started by the time
    // this arrives, and gives the button back when it ends.
    connect(menu加入, &QMenu::aboutToHide, this, [this] {
        QTimer::singleShot(0, this, [this] {
            if (AnalysisStopped) {
                Command2->setEnabled(true);
            }
        });
    });

    QMenu* browse = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    browse->addAction(QStringLiteral("打开EBSCO首页"), this, [this] { 打开EBSCO首页(); });
    browse->addAction(QStringLiteral("打开指定网址..."), this, [this] { 打开指定网址(); });
    browse->addSeparator();
    browse->addAction(QStringLiteral("后退"), this, [this] { WebBrowser1->GoBack(); });
    browse->addAction(QStringLiteral("前进"), this, [this] { WebBrowser1->GoForward(); });
    browse->addSeparator();
    browse->addAction(QStringLiteral("关闭本窗口"), this, [this] { close(); });

    menu清除 = menuBar()->addMenu(QStringLiteral("清除(&C)"));
    menu清除->addAction(QStringLiteral("清除选中项"), this,
                        [this] { clearRows(ClearKind::Selected); });
    menu清除->addAction(QStringLiteral("清除分析成功项"), this,
                        [this] { clearRows(ClearKind::Succeeded); });
    menu清除->addAction(QStringLiteral("清除标题含指定字符项"), this,
                        [this] { clearRows(ClearKind::TitleContains); });
    menu清除->addAction(QStringLiteral("清除标题不含指定字符项"), this,
                        [this] { clearRows(ClearKind::TitleLacks); });
    menu清除->addAction(QStringLiteral("清空全部"), this, [this] { clearRows(ClearKind::All); });
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { menu清除->popup(ListView1->viewport()->mapToGlobal(at)); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->addAction(QStringLiteral("设置"), this, [this] {
        LoopGuard guard(this);
        fOption::Show(this, settings_, values_);
    });
    tools->addAction(QStringLiteral("打开下载窗口"), this,
                     [] { ShowDownloadWindow(DownloadWindowShow::Raised); });
    tools->addSeparator();
    tools->addAction(QStringLiteral("查看IE浏览器缓存"), this, [this] {
        LoopGuard guard(this);
        ShowBrowserCacheViewer(this);
    });
    tools->addAction(QStringLiteral("清空IE浏览器缓存"), this, [] { ClearBrowserCache(true); });
    tools->addAction(QStringLiteral("网页另存为"), this, [this] { 网页另存为(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(QStringLiteral("关于(&A)"), this, [this] {
        LoopGuard guard(this);
        ShowAboutBox(this);
    });
    help->addSeparator();
    AddMakerPageEntry(help, QStringLiteral("最新版本"), MakerPage::Product);
    QMenu* sites = help->addMenu(QStringLiteral("作者网站"));
    AddMakerPageEntry(sites, QStringLiteral("岚舟软件"), MakerPage::Site);
    AddMakerPageEntry(sites, QStringLiteral("青禾软件"), MakerPage::SecondSite);
    AddMakerPageEntry(help, QStringLiteral("软件定制"), MakerPage::Customise);
}

void fWebSearch::clearRows(ClearKind kind) {
    if (!AnalysisStopped) {
        ShowMessage(QStringLiteral("正在分析，不能清除！"), MsgIcon::Error);
        return;
    }
    LoopGuard guard(this);
    QString text;
    if (kind == ClearKind::TitleContains || kind == ClearKind::TitleLacks) {
        const std::optional<QString> answer = Dialogs().text(
            this, QStringLiteral("请输入指定字符："), QString::fromUtf8(config::kProductTitle));
        if (!answer || answer->isEmpty()) {
            return;
        }
        text = *answer;
    }
    if (kind == ClearKind::All &&
        ShowMessage(QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？"), MsgIcon::Question,
                    MsgButtons::YesNo) != MsgResult::Yes) {
        return;
    }
    ClearAnalysisRows(list_, kind, text);
    refreshCount();
}

void fWebSearch::导出数据() {
    if (list_.count() == 0) {
        return;
    }
    LoopGuard guard(this);
    const QString path =
        Dialogs().saveFileName(this, QStringLiteral("*.txt"), QStringLiteral("txt"));
    if (path.isEmpty() || !ConfirmReplace(path)) {
        return;
    }
    QSaveFile file(path);
    const QByteArray bytes = AnalysisExportText(list_).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        // The user must learn that the list is not on disk.
        ShowMessage(SaveFailedMessage(path, file.errorString()), MsgIcon::Error);
        return;
    }
    ShowMessage(ExportDoneMessage(QFileInfo(path).size()), MsgIcon::Information);
}

void fWebSearch::网页另存为() {
    LoopGuard guard(this);
    const QString source = WebBrowser1->Document().outerHTML();
    if (source.isEmpty()) {
        return; // no document
    }
    const QString path =
        Dialogs().saveFileName(this, QStringLiteral("*.htm"), QStringLiteral("htm"));
    if (path.isEmpty() || !ConfirmReplace(path)) {
        return;
    }
    QSaveFile file(path);
    // The source is written as UTF-8 and says so: a page that declared another charset would
    // otherwise open garbled.
    const QByteArray bytes = WithUtf8Charset(source).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ShowMessage(SaveFailedMessage(path, file.errorString()), MsgIcon::Error);
        return;
    }
    ShowMessage(QStringLiteral("已经保存！"), MsgIcon::Information);
}

void fWebSearch::打开EBSCO首页() {
    Check2->setChecked(true);
    WebBrowser1->setSilent(true);
    WebBrowser1->Navigate(config::searchHomePage());
}

void fWebSearch::打开指定网址() {
    LoopGuard guard(this);
    const std::optional<QString> answer =
        Dialogs().text(this, QStringLiteral("请输入需要打开的网址："), QStringLiteral("请输入..."));
    // A cancelled box answers with the empty text: the box is checked, nothing opens.
    const QString address = TrimSpaces(answer.value_or(QString()));
    Check2->setChecked(address.left(8).toLower() != QLatin1String("https://"));
    if (!address.isEmpty()) {
        WebBrowser1->Navigate(address);
    }
}

} // namespace quillax
