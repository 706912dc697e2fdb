#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QTime>

namespace quillax {

qint64 MonotonicMs() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

float SecondsSinceMidnight() {
    return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0F;
}

} // namespace quillax
