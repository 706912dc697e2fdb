#include "core/search/ResultExtraction.h"

#include "core/search/AnalysisListModel.h"
#include "core/search/CitationReading.h"
#include "core/settings/TextUtil.h"

namespace quillax {

int AddResultEntries(const ResultPageSnapshot& page, const QString& saveFolder,
                     AnalysisListModel& list) {
    if (!page.hasResultList) {
        return 0;
    }
    int found = 0;
    for (const ResultEntry& entry : page.entries) {
        if (entry.links.isEmpty()) {
            continue;
        }
        const QString title = TrimSpaces(entry.links.first().innerText);
        QString link;
        // The first link is the title; of the others, the last qualifying one wins.
        for (qsizetype i = 1; i < entry.links.size(); ++i) {
            const EntryLink& a = entry.links.at(i);
            if (TrimSpaces(a.className).toLower() == QLatin1String("record-type pdf-ft") &&
                TrimSpaces(a.innerText).toLower().left(3) == QLatin1String("pdf")) {
                link = TrimSpaces(a.href);
            }
        }
        if (title.isEmpty() || link.isEmpty()) {
            continue;
        }
        link.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive);
        Citation citation = ReadResultEntryLine(entry.infoText);
        citation.title = title;
        list.加入LV1(title, link, page.url, QStringLiteral("pdf"), saveFolder, citation);
        ++found;
    }
    return found;
}

} // namespace quillax
