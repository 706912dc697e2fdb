#include "ui/shell/RepaintBatcher.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>

namespace quillax {

RepaintBatcher::RepaintBatcher(QAbstractItemView* view, int intervalMs)
    : QObject(view), view_(view) {
    timer_.setSingleShot(true);
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &RepaintBatcher::flushNow);
    QAbstractItemModel* model = view->model();
    if (model == nullptr) {
        return;
    }
    connect(model, &QAbstractItemModel::rowsInserted, this, &RepaintBatcher::changed);
    connect(model, &QAbstractItemModel::dataChanged, this, &RepaintBatcher::changed);
}

void RepaintBatcher::changed() {
    if (view_ == nullptr || timer_.isActive() || !view_->isVisible()) {
        return;
    }
    // Held from the first change; re-enabling repaints the whole viewport once.
    view_->viewport()->setUpdatesEnabled(false);
    timer_.start();
}

void RepaintBatcher::flushNow() {
    timer_.stop();
    if (view_ != nullptr) {
        view_->viewport()->setUpdatesEnabled(true);
    }
}

} // namespace quillax
