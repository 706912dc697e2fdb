#pragma once
// Turning analysis records into download items: the PDF address on a record page, the cleaned
// title, the hand-over to the download list; and the analysis list's export and clear rules.

#include "core/settings/TextUtil.h"

#include <QString>
#include <functional>

namespace quillax {

class AnalysisListModel;
class DownloadQueue;
struct AppValues;

/// Removes every CR LF pair, then every remaining CR, LF and NUL.
QString RemoveLineBreaks(const QString& text);

/// Longest PDF address taken from a record page; a longer one fails the record.
inline constexpr qsizetype kMaxPdfAddressChars = 8 * 1024;

/// The PDF address of a record page: the value (or href, or src) of the element whose id is
/// "pdfUrl" (letter case ignored), with "&amp;" replaced by "&", line breaks, control characters
/// and bidirectional marks removed, ending at whitespace or a quotation mark, resolved against
/// `pageAddress` when relative, and "|" written as "%7C". Empty when the page has no such
/// element, or its address is not http(s) or longer than `kMaxPdfAddressChars`.
QString FindPdfAddress(const QString& page, const QString& pageAddress = {});

/// The four analysis runs, and which rows each visits.
enum class AnalysisRun { Unanalysed, Failed, Selected, All };
/// True when `run` analyses `row`; `selected` is whether the row is selected.
bool RunVisits(AnalysisRun run, const AnalysisListModel& list, int row, bool selected);
/// True when `run` clears a row's status before analysing it.
bool RunClearsStatus(AnalysisRun run);

/// Fetches row `row`'s record page (the result page as referrer), finds the PDF address and adds
/// a download item for it to the queue `downloads` gives once the page is in (the download
/// window is made sure of only then, as it may close while the page is fetched); writes "成功" or
/// "失败" into the row. True when a PDF address was found (also when the download list already had
/// it).
bool AnalyseRecord(AnalysisListModel& list, int row,
                   const std::function<DownloadQueue*()>& downloads, const AppValues& values);

/// The export of the analysis list: per row, title + "-【" + type + "】" + status + CR LF.
QString AnalysisExportText(const AnalysisListModel& list);
/// "保存文件完毕：1,234.5KB" for a file of `bytes`.
QString ExportDoneMessage(qint64 bytes);
/// "保存文件失败：" + the path + the reason on a line of its own.
QString SaveFailedMessage(const QString& path, const QString& reason);
/// The page source declaring the UTF-8 charset: a charset in a meta element is rewritten,
/// and a page without one gets `<meta charset="utf-8">` at the start of its head.
QString WithUtf8Charset(const QString& html);

/// Which rows a clear action removes.
enum class ClearKind { Selected, Succeeded, TitleContains, TitleLacks, All };
/// Removes the rows of `kind` (`text` for the two title kinds, compared ignoring case; `isSelected`
/// for the selected rows) and returns how many were removed.
int ClearAnalysisRows(AnalysisListModel& list, ClearKind kind, const QString& text = {});

} // namespace quillax
