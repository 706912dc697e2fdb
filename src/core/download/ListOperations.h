#pragma once
// Operations on the download list that put items back into the queue.

#include "core/files/CitationExport.h"

#include <QString>
#include <functional>

namespace quillax {

class DownloadListModel;
struct DownloadItem;

/// Who asked for a re-download or a delete: a file the row found already there (and skipped)
/// counts as the row's own only when the user asked.
enum class ListRequest { User, Automatic };

/// Deletes the file at the item's path when the item created it (or adopted it, on the user's
/// request) and no other row that is downloading or finished names the same path; nothing else.
void 删除下载项文件(DownloadListModel& list, int row, ListRequest by = ListRequest::User);

/// Puts failed items (status 4) back to waiting and makes their next alternative address
/// current. A file of the item's own stays until the new body replaces it whole: a failed or
/// stopped re-download leaves it as it was. Returns how many were reset.
int menu重新下载出错项(DownloadListModel& list, ListRequest by = ListRequest::User);
/// The same for finished or failed web-page items (type htm, html or xml), whose type becomes
/// "xxx" so the next download takes its type from the server again.
int menu重新下载文件类型为HTM和HTML项(DownloadListModel& list, ListRequest by = ListRequest::User);
/// Puts a row that came back as a web page (a login page) back to waiting for the login that
/// is running, without spending an automatic attempt: its type becomes "xxx" again, and a file
/// of its own stays until a whole new body replaces it.
void RequeueForLogin(DownloadListModel& list, int row);
/// Makes the row's folder and checks that a file can be created there, before anything is
/// fetched for it. When it cannot, the row fails with its reason, which is returned; otherwise
/// the result is empty and `made` (when given) receives the folder as made.
QString FailRowWithoutFolder(DownloadListModel& list, int row, QString* made = nullptr);
/// After a download ended: once the row stored a whole new body, the file of its own that the
/// body replaces is removed when it stood at another path (its type changed), unless a live row
/// names it; the row then replaces nothing any more.
void SettleReplacedFile(DownloadListModel& list, int row);
/// Rows skipped under 跳过 behind another row's placeholder: once the paper is there they get
/// its length; when the download they waited for failed and left nothing, they go back to
/// waiting and fetch their own. Returns how many went back.
int SettleSkipsBehindPlaceholders(DownloadListModel& list);
/// True when the row holds a web page (a login page) that came instead of its document, which
/// still stands at its own path and stays there until a real document replaces it.
bool WebPageInsteadOfDocument(const DownloadItem& item);

/// The same for selected items with status 3 or 4.
int menu重新下载选中项(DownloadListModel& list);
/// Failed items, and finished items of type htm or html.
int menu重新下载出错项和网页项(DownloadListModel& list);
/// Finished or failed items whose Size and Received (with "," removed) are equal numbers below
/// `bytes` (all read in single precision): complete files smaller than that.
int menu重新下载文件大小小于指定数字的项(DownloadListModel& list, double bytes);

/// Which items a clear entry removes.
enum class ListClear { Selected, Failed, Finished, All };
/// Removes the items of `kind`; returns how many.
int ClearListItems(DownloadListModel& list, ListClear kind);

/// Empties the progress columns of web-page items (htm, html, xml; status 3 or 4), or of failed
/// items (`webPages` false), and deletes their own files; the items stay. Returns how many.
int DeleteItemFiles(DownloadListModel& list, bool webPages);

/// Moves items, picked at random among those not yet moved, behind all others: at most 10000
/// passes, so longer lists are shuffled in part. `random(n)` gives a whole number in [0, n).
void 随机排序下载列表(DownloadListModel& list, const std::function<int(int n)>& random);

/// Sorts by `column`: sizes and percentages by number (padded to twelve digits, texts that
/// are no number among them by text), other columns by text in the order of the user's language,
/// ignoring case. Numbers are written back without leading zeros.
void SortDownloadList(DownloadListModel& list, int column, bool descending);

/// Writes "不存在" into the percentage of every item without a file at its path.
int 检查文件是否存在(DownloadListModel& list);

/// Replaces `find` (ignoring case) by `replacement` in every item's addresses and referrer. An
/// item whose new addresses would equal another item's keeps its old addresses. Returns how
/// many address lists changed.
int ReplaceInAddresses(DownloadListModel& list, const QString& find, const QString& replacement);

/// The names of all items, or of those not finished, one per line with CR LF.
QString ExportNamesText(const DownloadListModel& list, bool unfinishedOnly);

/// What the citation exports write: every item, or the finished ones, in list order, each with
/// its stored PDF when it is finished and its PDF is on disk; the row's name stands for a title
/// that nothing gave.
QList<CitationEntry> CitationEntries(const DownloadListModel& list, bool finishedOnly);

/// A double click on a failed item: its own file goes, and it waits to be downloaded again.
bool RetryFailedItem(DownloadListModel& list, int row);

} // namespace quillax
