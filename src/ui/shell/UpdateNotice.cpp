#include "ui/shell/UpdateNotice.h"

#include <QStringList>
#include <cmath>
#include <optional>

namespace quillax {

namespace {

std::optional<double> numberOf(const QString& part) {
    bool ok = false;
    const double value = part.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

float versionValue(double major, double minor, double revision) {
    return static_cast<float>(major * 10'000'000.0 + minor * 10'000.0 + revision);
}

} // namespace

QString AcceptedNoticeText(const QString& response) {
    qsizetype begin = 0;
    qsizetype end = response.size();
    const auto blank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
    };
    while (begin < end && blank(response.at(begin))) {
        ++begin;
    }
    while (end > begin && blank(response.at(end - 1))) {
        --end;
    }
    const QString text = response.mid(begin, end - begin);
    return text.size() > kMaxNoticeLength ? QString() : text;
}

bool IsNewerVersion(const QString& notice, int major, int minor, int revision) {
    const QStringList parts = notice.split(QLatin1Char('.'));
    if (parts.size() != 3) {
        return false;
    }
    double numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        const std::optional<double> number = numberOf(parts[i]);
        if (!number) {
            return false;
        }
        numbers[i] = *number;
    }
    return versionValue(numbers[0], numbers[1], numbers[2]) > versionValue(major, minor, revision);
}

QString UpdateNoticeCaption(const QString& notice) {
    return QStringLiteral("有最新版本：V") + notice + QStringLiteral("可以下载升级。");
}

} // namespace quillax
