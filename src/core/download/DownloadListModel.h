#pragma once
// The download list: the only store of download state. Each row is one file to fetch with
// its name, type, progress texts, folder, addresses (the unique key), referrer and status.

#include "core/download/DownloadQueue.h"
#include "core/download/ServerPauses.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QItemSelectionModel>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>
#include <array>
#include <functional>

namespace quillax {

/// Status of a download item: the row's picture, and nothing else decides it.
enum class ItemStatus : int { Waiting = 1, Downloading = 2, Finished = 3, Failed = 4 };

/// What the check of a stored PDF found about its content.
enum class ContentCheck : quint8 {
    None,     ///< not checked (no PDF, or not finished)
    Matches,  ///< the first pages hold the row's title
    Mismatch, ///< too little of the title is there: maybe another record's paper
    Unknown,  ///< no text to compare (a scan)
};

struct DownloadItem {
    QString name;     ///< base file name, never with the extension
    QString type;     ///< extension without the dot, may be empty
    QString size;     ///< expected bytes, a status word, or empty
    QString received; ///< bytes received, or empty
    QString percent;  ///< "37%", a status word, or empty
    QString folder;   ///< save folder
    QString key;      ///< one to three addresses joined by "|"; unique in the list
    QString referrer; ///< page the file was found on
    ItemStatus status = ItemStatus::Waiting;
    /// The row itself created the file at its current path (name, type and folder): only then
    /// may a re-download or a delete remove that file. Cleared when the path changes.
    bool createdFile = false;
    /// The row found its file already there and ended as skipped: the file is the row's when the
    /// user explicitly downloads it again or deletes it. Cleared when the path changes.
    bool adoptedFile = false;
    /// The row's own file that the running re-download replaces once its body is whole; empty
    /// when the row is not downloaded again over a file of its own.
    QString replacesPath;
    /// Why the last download of the row failed, in words for the user; empty otherwise.
    QString reason;
    /// Automatic re-downloads spent on the row since the user last asked for it.
    int autoAttempts = 0;
    /// Not sent before this time of day, as milliseconds since the epoch (UTC); 0: at once.
    /// A wall-clock time, so that a kept queue still knows it after a restart.
    qint64 notBefore = 0;
    /// The come-back-later answers the row met since its last document or the user's last
    /// request for it; too many fail the row.
    ComeBackStreak comeBack;
    /// Found by the check of the stored PDF; cleared when the row is downloaded again.
    ContentCheck contentCheck = ContentCheck::None;
    /// What is known of the paper, for the citation exports.
    Citation citation;
};

// Status words written into the text columns.
namespace status_words {
inline const QString kWaitRetry = QStringLiteral("等待重新下载");
inline const QString kUnknown = QStringLiteral("未知");
inline const QString kFailed = QStringLiteral("下载失败");
inline const QString kCancelled = QStringLiteral("下载取消");
inline const QString kBigFileSkipped = QStringLiteral("大文件，跳过");
inline const QString kCannotReplace = QStringLiteral("无法替换");
inline const QString kExistsSkipped = QStringLiteral("已存在，跳过");
/// The server asked for a pause; the row goes again once it is over.
inline const QString kWaitServer = QStringLiteral("等待服务器");
/// The row got the login page; it goes again once the automatic login is done.
inline const QString kWaitLogin = QStringLiteral("等待登录");
} // namespace status_words

/// Status panel 3 while a server's pause runs: how long is left, in whole seconds rounded up.
QString PauseText(qint64 remainingMs);

/// True for the web-page types "htm" and "html" (any case), and "xml" too when `withXml`.
bool IsWebPageType(const QString& type, bool withXml = false);

/// What the row's picture says beyond its status: a finished row whose file is a web page (a
/// login page instead of the paper), or one that stored nothing (skipped), is not a document.
enum class ItemMark { Status, WebPage, Skipped, Suspect };
ItemMark MarkOf(const DownloadItem& item);
/// The row's tool tip: what its mark means, or why it failed.
QString ItemToolTip(const DownloadItem& item);

// Reasons a download failed, as the row's tool tip and status panel 3 show them.
namespace reasons {
/// "服务器返回404"; 429 and 503 say that the server asks for a pause.
QString HttpStatus(int code);
/// "连接中断（已收到210KB，共390KB）", or without the total when none was announced.
QString CutShort(qint64 received, qint64 expected);
/// The server asked for a wait longer than the program keeps a row waiting.
QString ServerWaitTooLong(qint64 waitMs);
/// The network's own error, in words: refused, host not found, TLS, timeout...
QString NetworkError(int qtNetworkError);
inline const QString kFolderNotCreated = QStringLiteral("文件夹无法创建");
inline const QString kFolderNotWritable = QStringLiteral("文件夹不可写");
inline const QString kWriteFailed = QStringLiteral("写入文件失败（磁盘已满或不可写）");
inline const QString kCannotReplace = QStringLiteral("无法替换已有的同名文件");
inline const QString kNoAnswer = QStringLiteral("服务器没有响应");
inline const QString kStalled = QStringLiteral("超时：长时间没有收到数据");
inline const QString kStopped = QStringLiteral("下载已停止");
inline const QString kConflictingLengths = QStringLiteral("服务器给出的文件长度自相矛盾");
inline const QString kNothingArrived = QStringLiteral("没有收到任何数据");
/// The row's last automatic attempt brought a web page (a login page) instead of its file.
inline const QString kLoginPageInstead = QStringLiteral("收到的是登录页面，不是文件");
/// The row met come-back-later answers ten times, or waited an hour in all for them.
inline const QString kComeBackGaveUp = QStringLiteral("服务器多次要求稍后再试，已放弃");
} // namespace reasons

/// Per-status counts of the list.
struct StatusCounts {
    int total = 0;
    int waiting = 0;
    int downloading = 0;
    int finished = 0;
    int failed = 0;
    int webPages = 0; ///< finished rows whose file is a web page
    int skipped = 0;  ///< finished rows that stored nothing (already there, too big)
    int suspect = 0;  ///< finished PDFs whose content may not be the row's paper
};

class DownloadListModel : public QAbstractTableModel, public DownloadQueue {
    Q_OBJECT
public:
    enum Column { ColName, ColType, ColSize, ColReceived, ColPercent, ColFolder, ColumnCount };
    /// FileOwnerRole: which file the row owns changed (createdFile, adoptedFile, replacesPath);
    /// nothing shows it, but watchers of the list (the kept queue) must learn of it.
    enum Role { StatusRole = Qt::UserRole + 1, KeyRole, ReferrerRole, CitationRole, FileOwnerRole };

    explicit DownloadListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Adds a waiting row. Returns false, and adds nothing, when the key is already in the list.
    bool addItem(const QString& key, const QString& name, const QString& type,
                 const QString& folder, const QString& referrer,
                 const Citation& citation = {}) override;
    /// Appends kept rows as they were, in one change of the model; a row whose key the list
    /// already holds is left out. Returns how many were added.
    int appendItems(const QList<DownloadItem>& items);
    /// Removes every row.
    void clear();
    /// Removes the rows for which `remove(row)` is true in one change of the model; every key
    /// keeps finding its row. Returns how many were removed.
    int removeRowsWhere(const std::function<bool(int row)>& remove);
    /// Puts the rows in the order `order` gives (a permutation of the row numbers) in one change.
    void reorder(const QVector<int>& order);
    void setReferrer(int row, const QString& referrer);

    int count() const override { return static_cast<int>(items_.size()); }
    /// The row at `row` (0-based); the row must exist.
    const DownloadItem& item(int row) const { return items_.at(row); }
    /// Row of `key`, or -1.
    int rowOfKey(const QString& key) const { return keyIndex_.value(key, -1); }

    /// Writes one text column. Out-of-range rows are ignored. Progress columns (size, received,
    /// percent) notify views together, every `kProgressNotifyMs`, so transfers that write them
    /// per chunk do not repaint per chunk; the value itself is stored at once.
    void setText(int row, Column column, const QString& text);
    /// Sends the notices of progress columns that are still held back.
    void flushProgressNotices();
    void setStatus(int row, ItemStatus status);
    /// Marks the row as being downloaded, with its size, received and percent texts emptied.
    void startRow(int row);
    /// Replaces the key; refused (false) when another row holds the new key.
    bool setKey(int row, const QString& key);
    /// Records that the row's engine stored (or started) the file at the row's current path.
    void setCreatedFile(int row, bool created);
    /// Records that the row ended as skipped because its file was already there.
    void setAdoptedFile(int row, bool adopted);
    /// Sets or clears the path of the row's own file that a re-download replaces.
    void setReplacesPath(int row, const QString& path);
    /// Records why the row's download failed (shown as its tool tip); cleared when it starts.
    void setReason(int row, const QString& reason);
    void setContentCheck(int row, ContentCheck check);
    void setCitation(int row, const Citation& citation);
    /// The automatic attempts spent on the row, and when it may be sent again.
    void setAutoAttempts(int row, int attempts);
    void setNotBefore(int row, qint64 epochMs);
    void setComeBack(int row, const ComeBackStreak& streak);
    /// True when the file at the row's path may be removed or replaced on the row's behalf: the
    /// row created it (or adopted it, when the user asked explicitly), and no other row that is
    /// downloading or finished names the same path.
    bool mayDeleteFileOf(int row, bool explicitRequest = false) const;
    /// True when a row other than `exceptRow` that is downloading or finished names `path`.
    bool isLivePath(const QString& path, int exceptRow) const;

    /// The selection of the list. Views share it, so the model is the one store of it.
    QItemSelectionModel* selectionModel() { return &selection_; }
    bool isSelected(int row) const;
    void setSelected(int row, bool selected);
    /// Selects every row in one step.
    void selectAll();

    /// Rows whose Size, Received and Percent texts are all empty, whatever their status.
    int 统计未下载项数目() const;
    /// True when every row has status 3 or 4 (an empty list is finished).
    bool 检测是否下载列表完毕() const;
    /// Rows whose type is "htm" or "html" (any case), plus the other rows with status 4.
    int 统计出错和网页项数目() const;
    StatusCounts statusCounts() const;
    /// "总数:12 正在下载:3 等待:5 已完成:3 失败:1".
    QString summaryText() const;
    /// "12条".
    QString rowCountText() const;

    static constexpr int kProgressNotifyMs = 100;

private:
    bool validRow(int row) const { return row >= 0 && row < items_.size(); }
    void notifyProgress(int row);
    void notifyRow(int row, const QList<int>& roles);
    /// Sets a field of the row and tells the views with `roles`, when it changes.
    template <typename T>
    void setField(int row, T DownloadItem::*field, const T& value, const QList<int>& roles) {
        if (validRow(row) && items_[row].*field != value) {
            items_[row].*field = value;
            notifyRow(row, roles);
        }
    }

    QVector<DownloadItem> items_;
    QHash<QString, int> keyIndex_;
    QItemSelectionModel selection_;
    QSet<int> heldBack_; ///< rows whose progress notice waits for the timer
    /// For each item file path, how many rows that are downloading or finished name it: the
    /// delete rule asks this for every row of a walk, so it is kept up to date, not searched.
    QHash<QString, int> livePaths_;
    void countLive(const DownloadItem& item, int delta);
    void rebuildLivePaths();
    QTimer noticeTimer_;
};

/// The download window's values that go with the list.
struct DownloadWindowState {
    bool IsDownloading = false;
    /// Seconds since midnight when the last download ended (shown and compared as a time).
    float LastFinishTime = 0.0F;
    /// The same moment on the monotonic clock, in milliseconds: waits are measured with it,
    /// so that they do not break at midnight.
    qint64 LastFinishMonotonicMs = 0;
    /// Element k (1 to 6): 1-based list position of the row download thread k works on.
    std::array<int, 12> ThreadItemIndex{};
};

} // namespace quillax
