#pragma once
// Takes the result entries out of the page a browser shows.

#include "core/search/ResultExtraction.h"

class QWebEnginePage;

namespace quillax {

class AnalysisListModel;

/// The entries of the page, read in one pass of the page's document.
ResultPageSnapshot ReadResultPage(QWebEnginePage* page);

/// Reads the page and adds its usable entries to `list` (see `AddResultEntries`).
int ExtractResultPage(QWebEnginePage* page, AnalysisListModel& list, const QString& saveFolder);

} // namespace quillax
