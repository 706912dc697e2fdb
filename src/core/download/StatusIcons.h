#pragma once
// The four 16×16 status pictures of the download list, in status-code order 1 to 4.

#include <QIcon>

namespace quillax {

/// The marks of finished rows that hold no document: a web page, and a skipped row.
inline constexpr int kWebPageMark = 5;
inline constexpr int kSkippedMark = 6;
/// The mark of a finished PDF whose content may be another paper.
inline constexpr int kSuspectMark = 7;

/// Picture for status code 1 (pause bars), 2 (play triangle), 3 (green tick), 4 (red cross),
/// the marks 5 (orange page with angle brackets), 6 (grey arrow over a bar) and
/// 7 (amber warning triangle); a null icon
/// for any other code. Needs a running GUI application.
QIcon StatusIcon(int statusCode);

} // namespace quillax
