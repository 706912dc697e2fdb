#include "core/download/PdfChecks.h"

#include "core/files/FileNaming.h"

namespace quillax {

namespace {
using Col = DownloadListModel::Column;

// Two at a time: a check reads the file and the first pages' text, and the window and the
// downloads keep the rest of a small machine.
constexpr int kParallelChecks = 2;
} // namespace

PdfChecks::PdfChecks(DownloadListModel& list, QObject* parent) : QObject(parent), list_(list) {
    pool_.setMaxThreadCount(kParallelChecks);
}

PdfChecks::~PdfChecks() {
    pool_.waitForDone();
}

bool PdfChecks::check(int row) {
    if (row < 0 || row >= list_.count()) {
        return false;
    }
    const DownloadItem& item = list_.item(row);
    if (item.status != ItemStatus::Finished ||
        item.type.compare(u"pdf", Qt::CaseInsensitive) != 0 || MarkOf(item) == ItemMark::Skipped) {
        return false;
    }
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    const QString key = item.key;
    // The row's name is its title as the list shows it (cut to the file-name limit): the
    // comparison allows for a cut title.
    const QString title = item.name;
    ++running_;
    pool_.start([this, key, path, title] {
        const PdfCheckResult result = CheckPdf(path, title);
        QMetaObject::invokeMethod(
            this, [this, key, path, result] { apply(key, path, result); }, Qt::QueuedConnection);
    });
    return true;
}

void PdfChecks::fillCitation(int row, const PdfCheckResult& result) {
    // The PDF's own metadata, for what the record page and the result entry left open.
    Citation fromPdf;
    fromPdf.title = CitationValue(result.title);
    fromPdf.authors = AuthorsFromPdfMetadata(result.author);
    Citation citation = list_.item(row).citation;
    citation.fillMissingFrom(fromPdf);
    list_.setCitation(row, citation);
}

void PdfChecks::apply(const QString& key, const QString& path, const PdfCheckResult& result) {
    --running_;
    const int row = list_.rowOfKey(key);
    if (row >= 0) {
        const DownloadItem& item = list_.item(row);
        // A row downloaded again, renamed or deleted meanwhile is not judged by an old file.
        if (item.status == ItemStatus::Finished &&
            ItemFilePath(item.folder, item.name, item.type) == path) {
            if (result.state == PdfState::Broken) {
                // The file stays: a re-download replaces it only with a whole new body.
                list_.setText(row, Col::ColSize, kPdfBroken);
                list_.setText(row, Col::ColReceived, QString());
                list_.setText(row, Col::ColPercent, QString());
                list_.setReason(row, QStringLiteral("PDF文件打不开或没有页面"));
                list_.setContentCheck(row, ContentCheck::None);
                list_.setStatus(row, ItemStatus::Failed);
            } else {
                // Another paper's metadata would lend the row a stranger's authors.
                if (result.match.verdict != TitleVerdict::Mismatch) {
                    fillCitation(row, result);
                }
                switch (result.match.verdict) {
                case TitleVerdict::Matches:
                    list_.setContentCheck(row, ContentCheck::Matches);
                    break;
                case TitleVerdict::Mismatch:
                    list_.setContentCheck(row, ContentCheck::Mismatch);
                    break;
                case TitleVerdict::Unknown:
                    list_.setContentCheck(row, ContentCheck::Unknown);
                    break;
                }
            }
            Q_EMIT checked(row, result);
        }
    }
    if (running_ == 0) {
        Q_EMIT idle();
    }
}

} // namespace quillax
