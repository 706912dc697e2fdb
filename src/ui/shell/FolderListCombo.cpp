#include "ui/shell/FolderListCombo.h"

#include "core/settings/FolderList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace quillax {

void RememberFolder(QComboBox* combo, const QString& folder) {
    if (combo == nullptr) {
        return;
    }
    QStringList folders;
    for (int i = 0; i < combo->count(); ++i) {
        folders << combo->itemText(i);
    }
    const QString text = combo->currentText();
    combo->clear();
    combo->addItems(RememberFolder(folders, folder));
    if (combo->isEditable()) {
        combo->setEditText(text);
    }
}

void LoadFolderList(QComboBox* combo, const QString& path) {
    if (combo == nullptr) {
        return;
    }
    const std::optional<QStringList> folders = ReadFolderList(path);
    if (!folders) {
        return;
    }
    const QString text = combo->currentText();
    combo->clear();
    combo->addItems(*folders);
    if (combo->isEditable()) {
        combo->setEditText(text);
    }
}

bool SaveFolderList(QComboBox* combo, const QString& path) {
    if (combo == nullptr) {
        return false;
    }
    QStringList folders;
    for (int i = 0; i < combo->count(); ++i) {
        folders << combo->itemText(i);
    }
    return WriteFolderList(path, folders);
}

void FitComboDropWidth(QComboBox* combo) {
    if (combo == nullptr || combo->count() == 0) {
        return;
    }
    QString longest;
    for (int i = 0; i < combo->count(); ++i) {
        const QString item = combo->itemText(i);
        if (item.size() > longest.size()) {
            longest = item;
        }
    }
    int width = QFontMetrics(combo->font()).horizontalAdvance(longest) + 7;
    if (combo->count() >= 9) {
        width += combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo);
    }
    QScreen* screen =
        combo->screen() != nullptr ? combo->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const int left = combo->mapToGlobal(QPoint(0, 0)).x();
        const int room = screen->availableGeometry().right() + 1 - left;
        if (room > 0) {
            width = std::min(width, room);
        }
    }
    combo->view()->setMinimumWidth(width);
}

} // namespace quillax
