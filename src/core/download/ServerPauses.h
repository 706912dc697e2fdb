#pragma once
// How the downloads stay polite to a server that pushes back. An answer that says "come back
// later" (429, 503, or a failure carrying Retry-After) pauses its whole server and sends the row
// back to the queue, each time for longer while the row meets such answers; failed rows that
// automatic re-download puts back wait longer each time; and a server that answered 429 gets one
// transfer at a time until it has served ten in a row, and from then on its requests are spaced as
// far apart as its refusals showed it needs.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace quillax {

/// The longest wait a server may ask for; a longer one fails the row instead of parking the
/// whole queue for hours.
inline constexpr qint64 kMaxServerWaitMs = 15LL * 60 * 1000;
/// Automatic re-downloads of one row before it stays failed.
inline constexpr int kMaxAutoAttempts = 5;
/// Downloads in a row from a server that answered 429 before it gets every thread again.
inline constexpr int kSuccessesToRecover = 10;
/// The shortest come-back-later wait: "0", a past date or the server's own "now" would
/// otherwise send the same request again at once.
inline constexpr qint64 kMinServerWaitMs = 1'000;
/// Come-back-later answers one row may meet before it fails; the last one is not waited for.
inline constexpr int kMaxComeBackAnswers = 10;
/// The most a row waits in all for come-back-later answers before it fails.
inline constexpr qint64 kMaxComeBackTotalMs = 60LL * 60 * 1000;

/// The come-back-later answers a row met since its last document or the user's last request
/// for it, and the waits they gave it.
struct ComeBackStreak {
    int answers = 0;
    qint64 lastWaitMs = 0;
    qint64 totalWaitMs = 0;
    bool operator==(const ComeBackStreak&) const = default;
};

/// Counts another come-back-later answer into `streak` and returns the row's wait: the
/// server's `askedMs`, but at least a second and at least twice the row's last wait. Nothing
/// when the row gives up: at its tenth such answer, or when the wait would take its waiting
/// past an hour in all.
std::optional<qint64> NextComeBackWaitMs(ComeBackStreak& streak, qint64 askedMs);

/// The milliseconds a Retry-After value asks for: whole seconds, or an HTTP date (the three
/// forms RFC 9110 allows, read in GMT whatever the local zone) taken against `nowEpochMs`; a
/// date in the past gives 0. Empty or unreadable: nothing.
std::optional<qint64> ParseRetryAfter(const QByteArray& value, qint64 nowEpochMs);

/// Whether an answer means "try again later" rather than a result: 429 and 503 always, any
/// other failing answer when it carries Retry-After, except 404 and 410, which are final.
bool IsComeBackLater(int httpStatus, bool hasRetryAfter);

/// The wait for a come-back-later answer: its Retry-After, else 30 s after a 429 and 10 s
/// otherwise.
qint64 ComeBackLaterWaitMs(int httpStatus, std::optional<qint64> retryAfterMs);

/// The wait before automatic re-download attempt `attempt` (1 for the first): 5 s, doubling each
/// time, capped at 10 minutes, spread by ±20 % with `jitter` in [0, 1) (0.5: none), so that rows
/// that failed together do not come back together.
qint64 AutoRetryDelayMs(int attempt, double jitter);

/// The wall clock (ms since the epoch) that pauses and retry times are measured on: wall time,
/// so that a kept queue's times still hold after a restart.
qint64 PauseNowEpochMs();
/// A number in [0, 1) that spreads the retry waits.
double PauseJitter();
/// Replaces the clock and the jitter (tests); empty functions bring back the real ones.
void SetPauseClock(std::function<qint64()> nowEpochMs, std::function<double()> jitter = {});

/// A server as the pauses count it: scheme, host and port.
QString OriginOf(const QUrl& url);

/// The pauses and limits per server, for one download list.
class ServerPauses {
public:
    /// The server asked for a pause until `untilEpochMs`; a later pause wins. After a 429 it
    /// gets one transfer at a time again.
    void pause(const QString& origin, qint64 untilEpochMs, bool tooManyRequests);
    /// A download from the server succeeded.
    void succeeded(const QString& origin);
    /// A request went out to the server at `nowEpochMs`.
    void sent(const QString& origin, qint64 nowEpochMs);
    /// Nothing new may be sent to the server before this time (0: nothing holds it).
    qint64 pausedUntil(const QString& origin) const;
    /// The spacing the server's refusals showed it needs between two requests (0: none known).
    qint64 pace(const QString& origin) const;
    /// The earliest time the next request may go to the server: its pause, and its pace after
    /// the last request sent (0: nothing holds it).
    qint64 nextSendAt(const QString& origin) const;
    bool isPaused(const QString& origin, qint64 nowEpochMs) const;
    /// How many transfers may run to the server at once, given the user's thread count.
    int transferLimit(const QString& origin, int userThreads) const;
    /// The latest pause still running at `nowEpochMs` over all servers, in ms; 0 when none.
    qint64 longestRemainingMs(qint64 nowEpochMs) const;
    void clear();

private:
    struct Server {
        qint64 pausedUntil = 0;
        bool limited = false; ///< answered 429 and has not served ten in a row since
        int successes = 0;
        qint64 lastSent = 0;   ///< when the latest request went out
        qint64 sentBefore = 0; ///< when the one before it went out
        qint64 pace = 0;
    };
    QHash<QString, Server> servers_;
};

} // namespace quillax
