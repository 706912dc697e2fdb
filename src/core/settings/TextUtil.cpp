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

QString RemoveUnsafeCharacters(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7f && u < 0xa0);
        // Marks that turn the text around on screen, so that an address or a name reads
        // differently from what it is.
        const bool bidi = u == 0x061c || u == 0x200e || u == 0x200f ||
                          (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
        if (!control && !bidi) {
            out += c;
        }
    }
    return out;
}

} // namespace quillax
