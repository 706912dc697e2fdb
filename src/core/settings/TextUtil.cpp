#include "core/settings/TextUtil.h"

#include <QDir>

namespace quillax {

QString TrimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) {
        ++begin;
    }
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) {
        --end;
    }
    return text.mid(begin, end - begin);
}

QString ZeroPadded(qint64 number, int digits) {
    return QStringLiteral("%1").arg(number, digits, 10, QLatin1Char('0'));
}

QString ExpandHomePath(const QString& path) {
    if (path == QLatin1String("~")) {
        return QDir::homePath();
    }
    if (path.startsWith(QLatin1String("~/"))) {
        return QDir::homePath() + path.mid(1);
    }
    return path;
}

} // namespace quillax
