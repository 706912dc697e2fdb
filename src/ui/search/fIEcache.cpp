#include "ui/search/fIEcache.h"

#include "core/settings/AppConfig.h"
#include "platform/MessageBoxes.h"
#include "platform/WebBrowser.h"
#include "ui/shell/Form_Copy_Move.h"
#include "ui/shell/WindowHelpers.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWebEngineProfile>

#include <algorithm>

namespace quillax {

namespace {

QTreeView* makeList(QWidget* parent, const QString& name, QAbstractItemModel* model) {
    auto* view = new QTreeView(parent);
    view->setObjectName(name);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setItemsExpandable(false);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setModel(model);
    PaintListStripes(view);
    return view;
}

} // namespace

CacheLocations CurrentCacheLocations() {
    return DefaultCacheLocations(BrowserProfile()->cachePath());
}

QString GetInternetCacheFolder() {
    return CurrentCacheLocations().cacheFolder;
}

void ShowBrowserCacheViewer(QWidget* parent) {
    fIEcache viewer(parent);
    viewer.exec();
}

bool ClearBrowserCache(bool showMessage) {
    return ClearBrowserCache(showMessage, CurrentCacheLocations());
}

bool ClearBrowserCache(bool showMessage, const CacheLocations& where) {
    // It deletes in every user's cache this program can reach: never without the user's word.
    if (ShowMessage(QStringLiteral("确定要清空浏览器缓存吗？"), MsgIcon::Question,
                    MsgButtons::YesNo) != MsgResult::Yes) {
        return false;
    }
    BrowserCacheViewer viewer(where);
    const bool ran = viewer.查看我的缓存();
    viewer.全部删除();
    viewer.查看所有用户缓存();
    viewer.全部删除();
    // Bodies once written out of the cache for copying are cache contents too.
    viewer.discardCopiedBodies();
    // The browser keeps an index of its entries in memory; it must forget them too.
    ClearBrowserHttpCache();
    if (ran && showMessage) {
        ShowMessage(QStringLiteral("IE缓存清空完毕！"), MsgIcon::Information);
    }
    return ran;
}

fIEcache::fIEcache(QWidget* parent, const std::optional<CacheLocations>& where)
    : QDialog(parent), viewer_(where ? *where : CurrentCacheLocations()) {
    setObjectName(QStringLiteral("fIEcache"));
    setWindowTitle(QStringLiteral("IE浏览器Cookie 缓存和历史列表") + QLatin1Char('-') +
                   QString::fromUtf8(config::kProductTitle));
    setModal(true);

    Command1 = new QPushButton(QStringLiteral("查看我的缓存"), this);
    Command7 = new QPushButton(QStringLiteral("查看所有用户缓存"), this);
    Command6 = new QPushButton(QStringLiteral("复制选中..."), this);
    Command2 = new QPushButton(QStringLiteral("删除所选文件"), this);
    Command3 = new QPushButton(QStringLiteral("全部删除"), this);
    Command4 = new QPushButton(QStringLiteral("关闭"), this);
    Label1 = new QLabel(viewer_.label(), this);
    Label1->setTextFormat(Qt::PlainText);

    ListView1 = makeList(this, QStringLiteral("ListView1"), viewer_.cacheList());
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setSortIndicatorShown(true);
    ListView1->header()->setSortIndicator(-1, Qt::AscendingOrder); // unsorted until a click
    ListView2 = makeList(this, QStringLiteral("ListView2"), viewer_.userList());
    ListView3 = makeList(this, QStringLiteral("ListView3"), viewer_.folderList());

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {Command1, Command7, Command6, Command2, Command3}) {
        buttons->addWidget(b);
    }
    buttons->addSpacing(12);
    buttons->addWidget(Label1);
    buttons->addStretch();
    buttons->addWidget(Command4);

    auto* lower = new QSplitter(Qt::Horizontal, this);
    lower->addWidget(ListView2);
    lower->addWidget(ListView3);
    lower->setStretchFactor(0, 1);
    lower->setStretchFactor(1, 2);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(ListView1);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(split, 1);
    resize(900, 600);

    connect(&viewer_, &BrowserCacheViewer::labelChanged, Label1, &QLabel::setText);
    connect(&viewer_, &BrowserCacheViewer::listsFilled, this, [this] { fitColumns(); });
    connect(&viewer_, &BrowserCacheViewer::copyFinished, this,
            [this](const QStringList& paths, const QString& refusal) {
                Command6->setEnabled(true);
                if (!refusal.isEmpty()) {
                    ShowMessage(refusal, MsgIcon::Error);
                    return;
                }
                ShowCopyFilesDialog(this, paths);
                viewer_.discardCopiedBodies();
            });
    connect(ListView1->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        viewer_.cacheList()->sortByHeaderClick(column);
        ListView1->header()->setSortIndicator(column, viewer_.cacheList()->lastSortOrder());
    });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command7, &QPushButton::clicked, this, [this] { Command7_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { close(); });
}

void fIEcache::fitColumns() {
    for (QTreeView* view : {ListView1, ListView2, ListView3}) {
        SetAllListColumnWidths(view, kFitContentsAndHeader);
    }
}

QList<int> fIEcache::selectedRows() const {
    QList<int> rows;
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    for (const QModelIndex& index : selected) {
        rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void fIEcache::Command1_Click() {
    viewer_.查看我的缓存();
}

void fIEcache::Command7_Click() {
    viewer_.查看所有用户缓存();
}

void fIEcache::Command6_Click() {
    // The copy dialog opens when the selected bodies are written out.
    if (viewer_.复制选中(selectedRows())) {
        Command6->setEnabled(false);
    }
}

void fIEcache::Command2_Click() {
    viewer_.删除所选文件(selectedRows());
}

void fIEcache::Command3_Click() {
    viewer_.全部删除();
}

} // namespace quillax
