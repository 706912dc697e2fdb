#pragma once
// What a stored PDF really is: whether it opens and has pages, its metadata, and whether its
// first pages hold the row's title. Runs on any thread (the PDF library serialises itself), so a
// check never holds up the window; nothing stays open after it.

#include "core/files/TitleMatch.h"

#include <QString>

namespace quillax {

enum class PdfState {
    Fine,   ///< opens and has at least one page
    Broken, ///< does not open, or has no page
};

struct PdfCheckResult {
    PdfState state = PdfState::Broken;
    int pages = 0;
    QString title;  ///< metadata
    QString author; ///< metadata
    TitleMatch match;
};

/// Opens `path` and compares its metadata title and the text of its first two pages with the
/// row's `title`. A PDF without a text layer (a scan) gives TitleVerdict::Unknown.
PdfCheckResult CheckPdf(const QString& path, const QString& title);

} // namespace quillax
