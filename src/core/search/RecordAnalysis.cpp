#include "core/search/RecordAnalysis.h"

#include "core/download/DownloadQueue.h"
#include "core/files/FileNaming.h"
#include "core/search/AnalysisListModel.h"
#include "core/search/CitationReading.h"
#include "core/search/HtmlTags.h"
#include "core/search/HttpFetch.h"
#include "core/settings/AppValues.h"
#include "core/settings/TextUtil.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>
#include <optional>

namespace quillax {

QString RemoveLineBreaks(const QString& text) {
    QString out = text;
    out.remove(QStringLiteral("\r\n"));
    out.remove(QLatin1Char('\r'));
    out.remove(QLatin1Char('\n'));
    out.remove(QChar(u'\0'));
    return out;
}

namespace {

// The value of the element whose id is "pdfUrl": its value, href or src, in that order.
std::optional<QString> pdfUrlValue(const QString& page) {
    // Only these attributes are held of each tag.
    static const QStringList read = {QStringLiteral("id"), QStringLiteral("value"),
                                     QStringLiteral("href"), QStringLiteral("src")};
    std::optional<QString> value;
    const auto visit = [&value](const HtmlTag& tag) {
        if (tag.attributes.value(QStringLiteral("id"))
                .compare(QLatin1String("pdfUrl"), Qt::CaseInsensitive) != 0) {
            return true;
        }
        for (const char* key : {"value", "href", "src"}) {
            const auto it = tag.attributes.constFind(QLatin1String(key));
            if (it != tag.attributes.cend()) {
                value = it->toString();
                break;
            }
        }
        return false;
    };
    ForEachHtmlTag(page, visit, SkipRawText::No, read);
    return value;
}

bool hasScheme(const QString& address) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return scheme.match(address).hasMatch();
}

bool isHttp(const QString& address) {
    return address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

} // namespace

QString FindPdfAddress(const QString& page, const QString& pageAddress) {
    const std::optional<QString> value = pdfUrlValue(page);
    if (!value) {
        return {};
    }
    QString address = *value;
    address.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive);
    // A line break inside the value is page layout, not the address's end.
    address.remove(QLatin1Char('\r'));
    address.remove(QLatin1Char('\n'));
    address = address.trimmed();
    // An address never holds these; a page that leaves its attribute unclosed ends here.
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar c = address.at(i);
        if (c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('\'') ||
            c == QLatin1Char('<') || c == QLatin1Char('>')) {
            address.truncate(i);
            break;
        }
    }
    address = RemoveUnsafeCharacters(address);
    if (address.isEmpty() || address.size() > kMaxPdfAddressChars) {
        return {};
    }
    if (!hasScheme(address)) {
        const QUrl base(pageAddress);
        if (!base.isValid() || !isHttp(pageAddress)) {
            return {};
        }
        address = base.resolved(QUrl(address, QUrl::TolerantMode)).toString(QUrl::FullyEncoded);
    }
    // Only web addresses are fetched: "javascript:", "file:" and the like fail the record.
    if (!isHttp(address) || address.size() > kMaxPdfAddressChars) {
        return {};
    }
    // The download item's key joins its addresses with "|".
    address.replace(QLatin1Char('|'), QLatin1String("%7C"));
    return address;
}

bool RunVisits(AnalysisRun run, const AnalysisListModel& list, int row, bool selected) {
    switch (run) {
    case AnalysisRun::Unanalysed:
        return list.record(row).status.isEmpty();
    case AnalysisRun::Failed:
        return list.record(row).status == QStringLiteral("失败");
    case AnalysisRun::Selected:
        return selected;
    case AnalysisRun::All:
        return true;
    }
    return false;
}

bool RunClearsStatus(AnalysisRun run) {
    return run != AnalysisRun::Unanalysed;
}

bool AnalyseRecord(AnalysisListModel& list, int row,
                   const std::function<DownloadQueue*()>& downloads, const AppValues& values) {
    if (row < 0 || row >= list.count()) {
        return false;
    }
    const AnalysisRecord record = list.record(row);
    const QString page = HttpGetText(record.link, QStringLiteral("utf-8"), record.pageUrl);
    // The row may have gone while the page was fetched (the window yields meanwhile).
    const int now = row < list.count() && list.record(row).link == record.link ? row : -1;
    const QString address = FindPdfAddress(page, record.link);
    if (address.isEmpty()) {
        list.setStatus(now, QStringLiteral("失败"));
        return false;
    }
    const QString title = TrimSpaces(RemoveLineBreaks(record.title));
    const QString folder = record.folder.isEmpty() ? values.SaveFolder : record.folder;
    const QString name = CleanFileName(values.UseOriginalFileName
                                           ? RemoveUnsafeCharacters(FileNameFromPath(address, true))
                                           : title);
    // The record page's meta tags first; the result entry's line fills in what they leave open.
    Citation citation = ReadCitationMeta(page);
    citation.fillMissingFrom(record.citation);
    if (citation.title.isEmpty()) {
        citation.title = title;
    }
    citation.recordUrl = record.link;
    if (citation.pdfUrl.isEmpty()) {
        citation.pdfUrl = address;
    }
    list.setCitation(now, citation);
    if (DownloadQueue* target = downloads()) {
        target->addItem(address, name, record.type, folder, record.link, citation);
    }
    list.setStatus(now, QStringLiteral("成功"));
    return true;
}

QString AnalysisExportText(const AnalysisListModel& list) {
    QString text;
    for (int row = 0; row < list.count(); ++row) {
        const AnalysisRecord& r = list.record(row);
        text += r.title + QStringLiteral("-【") + r.type + QStringLiteral("】") + r.status +
                QStringLiteral("\r\n");
    }
    return text;
}

QString ExportDoneMessage(qint64 bytes) {
    return QStringLiteral("保存文件完毕：") +
           QLocale(QLocale::English).toString(static_cast<double>(bytes) / 1024.0, 'f', 1) +
           QStringLiteral("KB");
}

QString SaveFailedMessage(const QString& path, const QString& reason) {
    return QStringLiteral("保存文件失败：") + path + QLatin1Char('\n') + reason;
}

QString WithUtf8Charset(const QString& html) {
    static const QRegularExpression declared(
        QStringLiteral(R"((<meta\b[^>]*?\bcharset\s*=\s*["']?)([^"'\s;/>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    QString out = html;
    if (out.contains(declared)) {
        out.replace(declared, QStringLiteral("\\1utf-8"));
        return out;
    }
    static const QRegularExpression head(QStringLiteral(R"(<head\b[^>]*>)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = head.match(out);
    const QString meta = QStringLiteral("<meta charset=\"utf-8\">");
    if (m.hasMatch()) {
        out.insert(m.capturedEnd(), meta);
    } else {
        out.prepend(meta);
    }
    return out;
}

int ClearAnalysisRows(AnalysisListModel& list, ClearKind kind, const QString& text) {
    const QString needle = text.toLower();
    return list.removeRowsWhere([&](int row) {
        const AnalysisRecord& r = list.record(row);
        switch (kind) {
        case ClearKind::Selected:
            return list.selectionModel()->isRowSelected(row, {});
        case ClearKind::Succeeded:
            return r.status == QStringLiteral("成功");
        case ClearKind::TitleContains:
            return r.title.toLower().contains(needle);
        case ClearKind::TitleLacks:
            return !r.title.toLower().contains(needle);
        case ClearKind::All:
            return true;
        }
        return false;
    });
}

} // namespace quillax
