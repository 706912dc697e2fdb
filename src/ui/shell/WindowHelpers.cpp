#include "ui/shell/WindowHelpers.h"

#include "core/settings/WindowPlacement.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLocale>
#include <QPalette>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QTranslator>
#include <QTreeView>
#include <QWidget>

namespace quillax {

bool InstallChineseTranslations() {
    static QTranslator* translator = nullptr;
    if (translator != nullptr) {
        return true;
    }
    auto* candidate = new QTranslator(QCoreApplication::instance());
    if (!candidate->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(candidate)) {
        delete candidate;
        return false;
    }
    translator = candidate;
    return true;
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    showElided();
}

QSize ElidedLabel::sizeHint() const {
    // Asks for no width of its own: the status bar's stretch gives it its share.
    return {1, QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    showElided();
}

void ElidedLabel::showElided() {
    QString line = full_;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    setText(fontMetrics().elidedText(line, Qt::ElideRight, std::max(0, contentsRect().width())));
}

bool IsWindowLoaded(const QString& name) {
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget* w : windows) {
        if (w->objectName().compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

namespace {

int columnCountOf(const QAbstractItemView* list) {
    return list->model() != nullptr ? list->model()->columnCount(list->rootIndex()) : 0;
}

int fittedWidth(QAbstractItemView* list, QHeaderView* header, int column, bool withHeader) {
    // Every row is measured: the view's own size hint samples only about the first thousand.
    int width = 0;
    const QAbstractItemModel* model = list->model();
    if (model != nullptr) {
        const QFontMetrics metrics(list->font());
        const int rows = model->rowCount(list->rootIndex());
        const int margin =
            2 * list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 8;
        for (int row = 0; row < rows; ++row) {
            const QModelIndex index = model->index(row, column, list->rootIndex());
            int cell =
                metrics.horizontalAdvance(model->data(index, Qt::DisplayRole).toString()) + margin;
            const QVariant icon = model->data(index, Qt::DecorationRole);
            if (icon.isValid() && !icon.isNull()) {
                cell += list->iconSize().isValid() ? list->iconSize().width() + 4 : 20;
            }
            width = std::max(width, cell);
        }
    }
    if (withHeader && header != nullptr) {
        width = std::max(width, header->sectionSizeHint(column));
    }
    return width;
}

} // namespace

void SetListColumnWidth(QAbstractItemView* list, int column, int width) {
    if (list == nullptr || column < 1 || column > columnCountOf(list)) {
        return;
    }
    const int index = column - 1;
    const bool fit = width == kFitContentsAndHeader || width == kFitContents;
    if (auto* tree = qobject_cast<QTreeView*>(list)) {
        tree->setColumnWidth(
            index,
            fit ? fittedWidth(tree, tree->header(), index, width == kFitContentsAndHeader) : width);
    } else if (auto* table = qobject_cast<QTableView*>(list)) {
        table->setColumnWidth(index, fit ? fittedWidth(table, table->horizontalHeader(), index,
                                                       width == kFitContentsAndHeader)
                                         : width);
    }
}

void SetAllListColumnWidths(QAbstractItemView* list, int width) {
    if (list == nullptr) {
        return;
    }
    const int columns = columnCountOf(list);
    for (int column = 1; column <= columns; ++column) {
        SetListColumnWidth(list, column, width);
    }
}

void PaintListStripes(QAbstractItemView* list) {
    if (list == nullptr) {
        return;
    }
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, QColor(231, 248, 237));
    palette.setColor(QPalette::AlternateBase, Qt::white);
    list->setPalette(palette);
    list->setAlternatingRowColors(true);
}

QString ScreenResolutionText(const QWidget* window) {
    const QScreen* screen = window != nullptr ? window->screen() : nullptr;
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return ResolutionText(0, 0);
    }
    const QSize size = screen->size();
    return ResolutionText(size.width(), size.height());
}

void SaveWindowPlacement(SettingsStore& store, QWidget* window) {
    if (window == nullptr) {
        return;
    }
    // The normal geometry is what the window returns to; pos() is the frame's place and
    // size() the client's, the same pair that move() and resize() take back.
    const QRect normal = window->isMaximized() ? window->normalGeometry() : window->geometry();
    Placement p;
    p.top = window->pos().y() * kTwipsPerPixel;
    p.left = window->pos().x() * kTwipsPerPixel;
    p.width = normal.width() * kTwipsPerPixel;
    p.height = normal.height() * kTwipsPerPixel;
    WritePlacement(store, window->objectName(), ScreenResolutionText(window), window->isMaximized(),
                   p);
}

void RestoreWindowPlacement(const SettingsStore& store, QWidget* window) {
    if (window == nullptr) {
        return;
    }
    // The resolution is compared for the screen that holds the stored place, which is the
    // screen the window was closed on: before it is shown a window belongs to the primary one.
    std::optional<Placement> placement;
    const auto screens = QGuiApplication::screens();
    for (const QScreen* screen : screens) {
        const QSize size = screen->size();
        const auto candidate =
            ReadPlacement(store, window->objectName(), ResolutionText(size.width(), size.height()));
        if (candidate && screen->geometry().contains(QPoint(candidate->left / kTwipsPerPixel,
                                                            candidate->top / kTwipsPerPixel))) {
            placement = candidate;
            break;
        }
    }
    if (!placement) {
        placement = ReadPlacement(store, window->objectName(), ScreenResolutionText(window));
    }
    if (!placement) {
        // The default size is what the window returns to when the user restores it, and what
        // it keeps on a desktop that cannot maximise.
        const Placement defaults;
        window->resize(defaults.width / kTwipsPerPixel, defaults.height / kTwipsPerPixel);
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
        return;
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMaximized);
    window->move(placement->left / kTwipsPerPixel, placement->top / kTwipsPerPixel);
    window->resize(placement->width / kTwipsPerPixel, placement->height / kTwipsPerPixel);
}

} // namespace quillax
