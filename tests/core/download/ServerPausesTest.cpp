#include "core/download/ServerPauses.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include <time.h>

using namespace quillax;

namespace {

// 2026-12-10 12:00:00 UTC
constexpr qint64 kNow = 1'796'904'000'000;

struct RetryAfterCase {
    const char* what;
    const char* value;
    std::optional<qint64> expectedMs;
};

void PrintTo(const RetryAfterCase& c, std::ostream* os) {
    *os << c.what;
}

class RetryAfterValues : public ::testing::TestWithParam<RetryAfterCase> {};

TEST_P(RetryAfterValues, AreReadAsAWait) {
    const RetryAfterCase& c = GetParam();
    EXPECT_EQ(ParseRetryAfter(QByteArray(c.value), kNow), c.expectedMs) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetryAfterValues,
    ::testing::Values(RetryAfterCase{"seconds", "5", 5000}, RetryAfterCase{"zero", "0", 0},
                      RetryAfterCase{"spaces around", "  120 ", 120'000},
                      RetryAfterCase{"IMF date ahead", "Thu, 10 Dec 2026 12:00:30 GMT", 30'000},
                      RetryAfterCase{"RFC 850 date", "Thursday, 10-Dec-26 12:01:00 GMT", 60'000},
                      RetryAfterCase{"asctime date", "Thu Dec 10 12:00:07 2026", 7'000},
                      RetryAfterCase{"date in the past", "Wed, 09 Dec 2026 12:00:00 GMT", 0},
                      RetryAfterCase{"huge number stops at a bound", "99999999999999999999999999",
                                     10LL * 365 * 24 * 3600 * 1000},
                      RetryAfterCase{"negative", "-5", std::nullopt},
                      RetryAfterCase{"fraction", "1.5", std::nullopt},
                      RetryAfterCase{"junk", "soon", std::nullopt},
                      RetryAfterCase{"empty", "", std::nullopt},
                      RetryAfterCase{"date with junk", "Thu, 10 Dec 2026 12:00:30 GMT+hack",
                                     std::nullopt}));

// Sets the local zone for one test and puts the old one back.
class LocalZone {
public:
    explicit LocalZone(const char* zone)
        : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone() {
        if (had_) {
            qputenv("TZ", old_);
        } else {
            qunsetenv("TZ");
        }
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    bool had_;
    QByteArray old_;
};

// A Retry-After date is in GMT, whatever the local zone: in Berlin, 02:30 on the last Sunday of
// March does not exist as a local time and 02:30 on the last Sunday of October exists twice, yet
// both are ordinary instants in GMT.
TEST(RetryAfterDates, AreReadInGmtWhateverTheLocalZone) {
    const LocalZone berlin("Europe/Berlin");
    constexpr qint64 kSpring = 1'774'749'600'000; // 2026-03-29 02:00:00 UTC
    constexpr qint64 kAutumn = 1'792'893'600'000; // 2026-10-25 02:00:00 UTC
    const struct {
        const char* value;
        qint64 now;
    } cases[] = {
        {"Sun, 29 Mar 2026 02:30:00 GMT", kSpring}, {"Sunday, 29-Mar-26 02:30:00 GMT", kSpring},
        {"Sun Mar 29 02:30:00 2026", kSpring},      {"Sun, 25 Oct 2026 02:30:00 GMT", kAutumn},
        {"Sun Oct 25 02:30:00 2026", kAutumn},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseRetryAfter(QByteArray(c.value), c.now), 1'800'000) << c.value;
    }
}

TEST(ComeBackLater, WhichAnswersAndHowLong) {
    struct Case {
        int status;
        bool retryAfter;
        bool comeBack;
    };
    const Case cases[] = {
        {429, false, true},
        {503, false, true},
        {500, true, true},
        {502, true, true},
        {500, false, false},
        {200, true, false},
        {302, true, false},
        {401, true, false},
        {403, true, false},
        {404, false, false},
        {400, true, false},
        {410, false, false},
        // Not there and gone for good: final whatever the headers say.
        {404, true, false},
        {410, true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsComeBackLater(c.status, c.retryAfter), c.comeBack)
            << c.status << " retry-after " << c.retryAfter;
    }
    EXPECT_EQ(ComeBackLaterWaitMs(429, std::nullopt), 30'000);
    EXPECT_EQ(ComeBackLaterWaitMs(503, std::nullopt), 10'000);
    EXPECT_EQ(ComeBackLaterWaitMs(429, 2'000), 2'000);
}

// The row's waits for the server's asked ones: at least a second, at least twice the last, and
// nothing (the row gives up) at the tenth answer or past an hour in all.
TEST(ComeBackLater, TheRowsWaitsDoubleAndEnd) {
    struct Case {
        const char* what;
        std::vector<qint64> asked;
        std::vector<std::optional<qint64>> waits;
    };
    const std::optional<qint64> no;
    const Case cases[] = {
        {"zero ten times",
         std::vector<qint64>(10, 0),
         {1'000, 2'000, 4'000, 8'000, 16'000, 32'000, 64'000, 128'000, 256'000, no}},
        {"the server's longer wait wins", {0, 30'000, 0, 500}, {1'000, 30'000, 60'000, 120'000}},
        {"no more than an hour in all", {900'000, 900'000, 900'000}, {900'000, 1'800'000, no}},
        {"an hour exactly is still waited", {1'200'000, 1'200'000}, {1'200'000, 2'400'000}},
    };
    for (const Case& c : cases) {
        ComeBackStreak streak;
        std::vector<std::optional<qint64>> waits;
        for (const qint64 asked : c.asked) {
            waits.push_back(NextComeBackWaitMs(streak, asked));
        }
        EXPECT_EQ(waits, c.waits) << c.what;
        EXPECT_EQ(streak.answers, static_cast<int>(c.asked.size())) << c.what;
    }
}

TEST(AutoRetryDelay, DoublesFromFiveSecondsUpToTenMinutesWithinTheJitter) {
    const qint64 expected[] = {5'000, 10'000, 20'000, 40'000, 80'000, 160'000, 320'000, 600'000};
    for (int attempt = 1; attempt <= 8; ++attempt) {
        const qint64 base = expected[attempt - 1];
        EXPECT_EQ(AutoRetryDelayMs(attempt, 0.5), base) << attempt;
        EXPECT_EQ(AutoRetryDelayMs(attempt, 0.0), base * 8 / 10) << attempt;
        EXPECT_EQ(AutoRetryDelayMs(attempt, 0.999999), base * 12 / 10) << attempt;
    }
    EXPECT_EQ(AutoRetryDelayMs(50, 0.5), 600'000);
    EXPECT_EQ(AutoRetryDelayMs(0, 0.5), 5'000);
}

TEST(ServerPauses, PauseTheWholeServerAndLimitItAfterTooManyRequests) {
    const QString a = OriginOf(QUrl(QStringLiteral("http://Lib.example.org/a.pdf")));
    EXPECT_EQ(a, OriginOf(QUrl(QStringLiteral("http://lib.example.org:80/b.pdf"))));
    EXPECT_NE(a, OriginOf(QUrl(QStringLiteral("https://lib.example.org/a.pdf"))));
    EXPECT_NE(a, OriginOf(QUrl(QStringLiteral("http://lib.example.org:8080/a.pdf"))));

    ServerPauses pauses;
    pauses.pause(a, kNow + 5'000, true);
    pauses.pause(a, kNow + 2'000, false); // an earlier end does not shorten the pause
    EXPECT_TRUE(pauses.isPaused(a, kNow + 4'999));
    EXPECT_FALSE(pauses.isPaused(a, kNow + 5'000));
    EXPECT_EQ(pauses.longestRemainingMs(kNow + 1'000), 4'000);
    EXPECT_EQ(pauses.longestRemainingMs(kNow + 9'000), 0);
    const QString other = QStringLiteral("http://other:80");
    EXPECT_FALSE(pauses.isPaused(other, kNow));

    // One transfer at a time until ten in a row have succeeded; a new 429 starts the count again.
    EXPECT_EQ(pauses.transferLimit(a, 6), 1);
    EXPECT_EQ(pauses.transferLimit(other, 6), 6);
    for (int i = 0; i < 9; ++i) {
        pauses.succeeded(a);
    }
    pauses.pause(a, kNow, true);
    for (int i = 0; i < 9; ++i) {
        pauses.succeeded(a);
    }
    EXPECT_EQ(pauses.transferLimit(a, 6), 1);
    pauses.succeeded(a);
    EXPECT_EQ(pauses.transferLimit(a, 6), 6);
    // A 503 pauses without limiting.
    pauses.pause(other, kNow + 1'000, false);
    EXPECT_EQ(pauses.transferLimit(other, 6), 6);
}

// A server that lets one request through a second: the refusal that comes while one transfer at a
// time runs shows the spacing it keeps, and later requests keep it, so they meet no refusal.
TEST(ServerPauses, ARefusalBetweenSingleTransfersTeachesTheSpacingTheServerKeeps) {
    const QString a = QStringLiteral("http://lib:80");
    ServerPauses pauses;
    // Three at once at first: the refusal says nothing of the spacing, only that it is too many.
    pauses.sent(a, kNow);
    pauses.sent(a, kNow + 5);
    pauses.sent(a, kNow + 10);
    pauses.pause(a, kNow + 1'000, true);
    EXPECT_EQ(pauses.pace(a), 0);
    EXPECT_EQ(pauses.nextSendAt(a), kNow + 1'000);

    // One at a time: let through at +1000, the next one 20 ms later is refused until +2000.
    pauses.sent(a, kNow + 1'000);
    pauses.succeeded(a);
    pauses.sent(a, kNow + 1'020);
    pauses.pause(a, kNow + 2'000, true);
    EXPECT_EQ(pauses.pace(a), 1'000);
    pauses.sent(a, kNow + 2'000);
    EXPECT_EQ(pauses.nextSendAt(a), kNow + 3'000);
    // A 503 says nothing of the spacing; a shorter reading never shortens it.
    pauses.pause(a, kNow + 2'500, false);
    pauses.sent(a, kNow + 3'000);
    pauses.sent(a, kNow + 3'010);
    pauses.pause(a, kNow + 3'400, true);
    EXPECT_EQ(pauses.pace(a), 1'000);
    // A longer one does; an absurd one is cut to a minute.
    pauses.sent(a, kNow + 4'000);
    pauses.pause(a, kNow + 5'500, true);
    EXPECT_EQ(pauses.pace(a), 2'490);
    pauses.sent(a, kNow + 6'000);
    pauses.pause(a, kNow + 3'600'000, true);
    EXPECT_EQ(pauses.pace(a), 60'000);

    // A refusal long after the request before it (a long transfer, a run started again later)
    // says nothing of the spacing.
    ServerPauses later;
    later.sent(a, kNow);
    later.sent(a, kNow + 10);
    later.pause(a, kNow + 1'000, true); // too many at once: one at a time from now
    later.sent(a, kNow + 1'000);
    later.sent(a, kNow + 3'601'000); // an hour later
    later.pause(a, kNow + 3'602'000, true);
    EXPECT_EQ(later.pace(a), 0);
    // Other servers are not held.
    EXPECT_EQ(pauses.nextSendAt(QStringLiteral("http://other:80")), 0);
}

} // namespace
