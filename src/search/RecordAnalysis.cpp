#include "search/RecordAnalysis.h"

#include "download/DownloadListModel.h"
#include "files/FileNaming.h"
#include "search/AnalysisListModel.h"
#include "search/HttpFetch.h"
#include "shell/AppValues.h"
#include "shell/TextUtil.h"

#include <QLocale>

namespace quillax {

QString RemoveLineBreaks(const QString& text) {
    QString out = text;
    out.remove(QStringLiteral("\r\n"));
    out.remove(QLatin1Char('\r'));
    out.remove(QLatin1Char('\n'));
    out.remove(QChar(u'\0'));
    return out;
}

QString FindPdfAddress(const QString& page) {
    const qsizetype marker = page.indexOf(QLatin1String("id=\"pdfUrl\""), 0, Qt::CaseInsensitive);
    if (marker < 0) {
        return {};
    }
    // Full-text servers answer over https as well as http: the first of either counts.
    const qsizetype from = marker + 6;
    const qsizetype http = page.indexOf(QLatin1String("http://"), from, Qt::CaseInsensitive);
    const qsizetype https = page.indexOf(QLatin1String("https://"), from, Qt::CaseInsensitive);
    qsizetype start = -1;
    if (http >= 0 && (https < 0 || http < https)) {
        start = http;
    } else {
        start = https;
    }
    if (start < 0) {
        return {};
    }
    const qsizetype quote = page.indexOf(QLatin1Char('"'), start);
    if (quote < 0) {
        return {};
    }
    QString address = page.mid(start, quote - start);
    // An address never holds these; a page that leaves its attribute unclosed ends here.
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar c = address.at(i);
        if (c.isSpace() || c == QLatin1Char('\'') || c == QLatin1Char('<') ||
            c == QLatin1Char('>')) {
            address.truncate(i);
            break;
        }
    }
    address.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive);
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
                   const std::function<DownloadListModel*()>& downloads, const AppValues& values) {
    if (row < 0 || row >= list.count()) {
        return false;
    }
    const AnalysisRecord record = list.record(row);
    const QString page = HttpGetText(record.link, QStringLiteral("utf-8"), record.pageUrl);
    // The row may have gone while the page was fetched (the window yields meanwhile).
    const int now = row < list.count() && list.record(row).link == record.link ? row : -1;
    const QString address = FindPdfAddress(page);
    if (address.isEmpty()) {
        list.setStatus(now, QStringLiteral("失败"));
        return false;
    }
    const QString title = TrimSpaces(RemoveLineBreaks(record.title));
    const QString folder = record.folder.isEmpty() ? values.SaveFolder : record.folder;
    const QString name =
        CleanFileName(values.UseOriginalFileName ? FileNameFromPath(address, true) : title);
    if (DownloadListModel* target = downloads()) {
        target->addItem(address, name, record.type, folder, record.link);
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
