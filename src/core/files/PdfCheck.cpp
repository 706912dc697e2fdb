#include "core/files/PdfCheck.h"

#include <QPdfDocument>
#include <QPdfSelection>

namespace quillax {

namespace {
// The title is on the first page, sometimes after a cover page.
constexpr int kPagesRead = 2;
} // namespace

PdfCheckResult CheckPdf(const QString& path, const QString& title) {
    PdfCheckResult result;
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1) {
        return result;
    }
    result.state = PdfState::Fine;
    result.pages = document.pageCount();
    result.title = document.metaData(QPdfDocument::MetaDataField::Title).toString().trimmed();
    result.author = document.metaData(QPdfDocument::MetaDataField::Author).toString().trimmed();
    QString text;
    for (int page = 0; page < std::min(kPagesRead, result.pages); ++page) {
        text += document.getAllText(page).text() + QLatin1Char('\n');
    }
    document.close();
    result.match = MatchTitle(title, result.title, text);
    return result;
}

} // namespace quillax
