#pragma once
// A list view that gets rows or changes in a burst (an analysis handing over hundreds of records,
// six threads reporting progress) repaints a few times a second instead of once per change. A
// window that holds a browser view is composed through OpenGL, in software where there is no
// graphics card, so every repaint of it is dear; the model and what it says are not delayed.

#include <QObject>
#include <QPointer>
#include <QTimer>

class QAbstractItemModel;
class QAbstractItemView;

namespace quillax {

class RepaintBatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultIntervalMs = 100;

    /// Watches the view's model (set before) and holds the view's repaints for `intervalMs`
    /// after the first change of a burst. The view owns the batcher.
    explicit RepaintBatcher(QAbstractItemView* view, int intervalMs = kDefaultIntervalMs);
    /// Lets the held repaint happen now.
    void flushNow();
    bool holding() const { return timer_.isActive(); }

private:
    void changed();

    QPointer<QAbstractItemView> view_;
    QTimer timer_;
};

} // namespace quillax
