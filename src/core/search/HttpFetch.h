#pragma once
// Fetching a page as text, blocking the caller while the window keeps running.

#include <QString>

namespace quillax {

/// The limit on one page fetch.
inline constexpr int kHttpGetTextTimeoutMs = 60'000;

/// The body of `address` decoded with `charset`, fetched with "Referer" = `referrer` (set even
/// when empty). Any completed response counts, an error page too; the empty text when none
/// completed within `timeoutMs`. Yields to the event queue while it waits, without spinning.
QString HttpGetText(const QString& address, const QString& charset, const QString& referrer,
                    int timeoutMs = kHttpGetTextTimeoutMs);

} // namespace quillax
