#include "core/download/ServerPauses.h"

#include "core/download/DownloadOptions.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace quillax {

namespace {

constexpr qint64 kDefaultWaitAfter429Ms = 30'000;
constexpr qint64 kDefaultWaitAfter503Ms = 10'000;
constexpr qint64 kFirstRetryDelayMs = 5'000;
constexpr qint64 kMaxRetryDelayMs = 10LL * 60 * 1000;
// A learned spacing longer than this is a misreading (a long transfer before the refusal).
constexpr qint64 kMaxPaceMs = 60'000;
// A value beyond this many seconds is surely over the cap; reading it stops here so that a
// huge number cannot overflow.
constexpr qint64 kSecondsReadLimit = 10LL * 365 * 24 * 3600;

// The three date forms of HTTP: IMF-fixdate, the obsolete RFC 850 form and asctime's. The day
// name is left out: a two-digit year reads as 19yy, whose weekday differs from the server's.
// Date and time are read apart and joined in UTC: read as one local time, a date that falls in
// the local zone's daylight-saving gap would not exist.
std::optional<QDateTime> parseHttpDate(const QString& text) {
    struct Form {
        QRegularExpression pattern; ///< captures the date, the time and (asctime) the year
        QString dateFormat;
    };
    static const Form kForms[] = {
        {QRegularExpression(
             QStringLiteral(R"(^(\d{1,2} [A-Za-z]{3} \d{4}) (\d\d:\d\d:\d\d) GMT$)")),
         QStringLiteral("d MMM yyyy")},
        {QRegularExpression(QStringLiteral(R"(^(\d{1,2}-[A-Za-z]{3}-\d\d) (\d\d:\d\d:\d\d) GMT$)")),
         QStringLiteral("d-MMM-yy")},
        {QRegularExpression(QStringLiteral(R"(^([A-Za-z]{3} \d{1,2}) (\d\d:\d\d:\d\d) (\d{4})$)")),
         QStringLiteral("MMM d yyyy")},
    };
    const QString simple = text.simplified();
    const qsizetype space = simple.indexOf(QLatin1Char(' '));
    if (space < 0) {
        return std::nullopt;
    }
    const QString withoutDay = simple.mid(space + 1);
    const QLocale c = QLocale::c();
    for (const Form& form : kForms) {
        const QRegularExpressionMatch match = form.pattern.match(withoutDay);
        if (!match.hasMatch()) {
            continue;
        }
        QString dateText = match.captured(1);
        if (match.lastCapturedIndex() == 3) {
            dateText += QLatin1Char(' ') + match.captured(3);
        }
        QDate date = c.toDate(dateText, form.dateFormat);
        const QTime time = c.toTime(match.captured(2), QStringLiteral("HH:mm:ss"));
        if (!date.isValid() || !time.isValid()) {
            return std::nullopt;
        }
        // The old form's two-digit year: the one within fifty years of now, a later one read
        // as the most recent past year with those digits.
        if (!form.dateFormat.contains(QLatin1String("yyyy"))) {
            const int thisYear = QDate::currentDate().year();
            int year = thisYear / 100 * 100 + date.year() % 100;
            if (year > thisYear + 50) {
                year -= 100;
            } else if (year < thisYear - 50) {
                year += 100;
            }
            date = QDate(year, date.month(), date.day());
        }
        return QDateTime(date, time, Qt::UTC);
    }
    return std::nullopt;
}

std::function<qint64()>& clockSlot() {
    static std::function<qint64()> clock;
    return clock;
}

std::function<double()>& jitterSlot() {
    static std::function<double()> jitter;
    return jitter;
}

} // namespace

qint64 PauseNowEpochMs() {
    return clockSlot() ? clockSlot()() : QDateTime::currentMSecsSinceEpoch();
}

double PauseJitter() {
    return jitterSlot() ? jitterSlot()() : QRandomGenerator::global()->generateDouble();
}

void SetPauseClock(std::function<qint64()> nowEpochMs, std::function<double()> jitter) {
    clockSlot() = std::move(nowEpochMs);
    jitterSlot() = std::move(jitter);
}

std::optional<qint64> ParseRetryAfter(const QByteArray& value, qint64 nowEpochMs) {
    const QByteArray text = value.trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        qint64 seconds = 0;
        for (const char c : text) {
            seconds = seconds * 10 + (c - '0');
            if (seconds > kSecondsReadLimit) {
                seconds = kSecondsReadLimit;
                break;
            }
        }
        return seconds * 1000;
    }
    const std::optional<QDateTime> at = parseHttpDate(QString::fromLatin1(text));
    if (!at) {
        return std::nullopt;
    }
    return std::max<qint64>(0, at->toMSecsSinceEpoch() - nowEpochMs);
}

bool IsComeBackLater(int httpStatus, bool hasRetryAfter) {
    if (httpStatus == 429 || httpStatus == 503) {
        return true;
    }
    // The file is not there: waiting will not bring it, whatever the server suggests.
    if (httpStatus == 404 || httpStatus == 410) {
        return false;
    }
    // Only an answer that would fail the row anyway: a 200 with Retry-After is still the file,
    // and a login page sent as 401 or 403 is still stored and recognised.
    return hasRetryAfter && FailedHttpStatus(httpStatus);
}

qint64 ComeBackLaterWaitMs(int httpStatus, std::optional<qint64> retryAfterMs) {
    if (retryAfterMs) {
        return *retryAfterMs;
    }
    return httpStatus == 429 ? kDefaultWaitAfter429Ms : kDefaultWaitAfter503Ms;
}

std::optional<qint64> NextComeBackWaitMs(ComeBackStreak& streak, qint64 askedMs) {
    ++streak.answers;
    if (streak.answers >= kMaxComeBackAnswers) {
        return std::nullopt;
    }
    const qint64 wait = std::max({askedMs, kMinServerWaitMs, 2 * streak.lastWaitMs});
    if (streak.totalWaitMs + wait > kMaxComeBackTotalMs) {
        return std::nullopt;
    }
    streak.lastWaitMs = wait;
    streak.totalWaitMs += wait;
    return wait;
}

qint64 AutoRetryDelayMs(int attempt, double jitter) {
    const int steps = std::clamp(attempt, 1, 30) - 1;
    const double base =
        std::min<double>(static_cast<double>(kFirstRetryDelayMs) * std::pow(2.0, steps),
                         static_cast<double>(kMaxRetryDelayMs));
    const double spread = 1.0 + 0.4 * (std::clamp(jitter, 0.0, 1.0) - 0.5); // 0.8 .. 1.2
    return static_cast<qint64>(std::llround(base * spread));
}

QString OriginOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    return scheme + QStringLiteral("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(port);
}

void ServerPauses::pause(const QString& origin, qint64 untilEpochMs, bool tooManyRequests) {
    Server& server = servers_[origin];
    server.pausedUntil = std::max(server.pausedUntil, untilEpochMs);
    // Read only when the refused request followed the one before it closely, within the wait
    // the server names: after a long transfer, or a run stopped and started again an hour
    // later, the gap says nothing of the server's spacing and would slow the list for good.
    if (tooManyRequests && server.limited && server.sentBefore > 0 &&
        server.lastSent - server.sentBefore <= untilEpochMs - server.lastSent) {
        // One transfer at a time: the request before the refused one is the one the server let
        // through, so the time from it to the end of the wait is the spacing the server keeps.
        // Without it, every request after a quick download would meet a refusal first.
        const qint64 spacing = std::clamp<qint64>(untilEpochMs - server.sentBefore, 0, kMaxPaceMs);
        server.pace = std::max(server.pace, spacing);
    }
    if (tooManyRequests) {
        server.limited = true;
        server.successes = 0;
    }
}

void ServerPauses::succeeded(const QString& origin) {
    const auto it = servers_.find(origin);
    if (it == servers_.end() || !it->limited) {
        return;
    }
    if (++it->successes >= kSuccessesToRecover) {
        it->limited = false;
        it->successes = 0;
    }
}

void ServerPauses::sent(const QString& origin, qint64 nowEpochMs) {
    Server& server = servers_[origin];
    server.sentBefore = server.lastSent;
    server.lastSent = nowEpochMs;
}

qint64 ServerPauses::pausedUntil(const QString& origin) const {
    return servers_.value(origin).pausedUntil;
}

qint64 ServerPauses::pace(const QString& origin) const {
    return servers_.value(origin).pace;
}

qint64 ServerPauses::nextSendAt(const QString& origin) const {
    const Server server = servers_.value(origin);
    const qint64 paced = server.pace > 0 ? server.lastSent + server.pace : 0;
    return std::max(server.pausedUntil, paced);
}

bool ServerPauses::isPaused(const QString& origin, qint64 nowEpochMs) const {
    return pausedUntil(origin) > nowEpochMs;
}

int ServerPauses::transferLimit(const QString& origin, int userThreads) const {
    return servers_.value(origin).limited ? 1 : userThreads;
}

qint64 ServerPauses::longestRemainingMs(qint64 nowEpochMs) const {
    qint64 longest = 0;
    for (const Server& server : servers_) {
        longest = std::max(longest, server.pausedUntil - nowEpochMs);
    }
    return longest;
}

void ServerPauses::clear() {
    servers_.clear();
}

} // namespace quillax
