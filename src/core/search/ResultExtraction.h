#pragma once
// Reading EBSCOhost result entries into the analysis list. The rules work on a plain snapshot
// of the page's entries, so they can be checked without a browser; the browser side only takes
// the snapshot.

#include <QString>
#include <QVector>

namespace quillax {

class AnalysisListModel;

/// One `A` element of a result entry, as the page shows it.
struct EntryLink {
    QString className;
    QString innerText;
    QString href;
};

/// One element of class "result-list-li": its `A` elements in document order.
struct ResultEntry {
    QVector<EntryLink> links;
    /// The entry's line with the authors, the source and the year (the text of its elements of
    /// class "display-info"), or empty.
    QString infoText;
};

/// What a result page holds: whether it has the element "resultListControl", its entries and
/// the document's address.
struct ResultPageSnapshot {
    bool hasResultList = false;
    QVector<ResultEntry> entries;
    QString url;
};

/// Adds the usable entries of `page` to `list` and returns how many were usable (duplicates
/// included). The title is the first link's text; the record link is the last further link of
/// class "record-type pdf-ft" whose text begins with "pdf" (both trimmed, lower-cased). What the
/// entry's line says of the paper goes with the record as its citation.
int AddResultEntries(const ResultPageSnapshot& page, const QString& saveFolder,
                     AnalysisListModel& list);

} // namespace quillax
