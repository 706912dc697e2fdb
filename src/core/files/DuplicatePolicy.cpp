#include "core/files/DuplicatePolicy.h"

#include "core/files/FileNaming.h"
#include "core/settings/TextUtil.h"

namespace quillax {

namespace {
constexpr qint64 kLargestCounter = 1'000'000'000'000;
}

QString PolicyCaption(DuplicateNamePolicy policy) {
    switch (policy) {
    case DuplicateNamePolicy::Skip:
        return QStringLiteral("跳过");
    case DuplicateNamePolicy::Overwrite:
        return QStringLiteral("覆盖");
    case DuplicateNamePolicy::Rename:
        break;
    }
    return QStringLiteral("重命名");
}

QString 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                       DuplicateNamePolicy policy, QString* newName) {
    const QString dir = WithTrailingSlash(folder);
    // An empty type gives no trailing dot: "Report." would be a different file from "Report".
    const QString extension = type.isEmpty() ? QString() : QLatin1Char('.') + type;
    QString shown = name;
    QString candidate = name + extension;

    if (policy != DuplicateNamePolicy::Overwrite && PathOccupied(dir + candidate)) {
        QString base = name;
        qint64 counter = 0;
        const qsizetype open = base.lastIndexOf(QLatin1Char('['));
        const qsizetype close = base.lastIndexOf(QLatin1Char(']'));
        if (open >= 0 && close > open) {
            const QString inside = TrimSpaces(base.mid(open + 1, close - open - 1));
            bool ok = false;
            const qint64 value = IsCounterText(inside) ? inside.toLongLong(&ok) : 0;
            // A counter too large to count on from is kept as part of the name.
            if (ok && value < kLargestCounter) {
                counter = value;
                base = base.left(open); // text after the "]" goes as well
            }
        }
        base.replace(QLatin1Char('['), QStringLiteral("『"));
        base.replace(QLatin1Char(']'), QStringLiteral("』"));

        const auto numbered = [&base](qint64 i) {
            return base + QLatin1Char('[') + ZeroPadded(i, 3) + QLatin1Char(']');
        };
        shown = counter == 0 ? base : numbered(counter);
        candidate = shown + extension;
        while (PathOccupied(dir + candidate)) {
            ++counter;
            shown = numbered(counter);
            candidate = shown + extension;
        }
    }
    if (newName != nullptr) {
        *newName = shown;
    }
    return dir + candidate;
}

} // namespace quillax
