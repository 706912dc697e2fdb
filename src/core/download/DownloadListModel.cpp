#include "core/download/DownloadListModel.h"

#include <QSet>

#include "core/download/StatusIcons.h"
#include "core/files/FileNaming.h"

#include <QNetworkReply>
#include <utility>

namespace quillax {

namespace {

const std::array<QString, DownloadListModel::ColumnCount> kHeaders = {
    QStringLiteral("名称"),     QStringLiteral("类型"),   QStringLiteral("文件大小"),
    QStringLiteral("已下载数"), QStringLiteral("百分比"), QStringLiteral("保存路径"),
};

} // namespace

ItemMark MarkOf(const DownloadItem& item) {
    if (item.status != ItemStatus::Finished) {
        return ItemMark::Status;
    }
    if (item.percent == status_words::kExistsSkipped ||
        item.percent == status_words::kBigFileSkipped) {
        return ItemMark::Skipped;
    }
    if (IsWebPageType(item.type, true)) {
        return ItemMark::WebPage;
    }
    return item.contentCheck == ContentCheck::Mismatch ? ItemMark::Suspect : ItemMark::Status;
}

QString ItemToolTip(const DownloadItem& item) {
    switch (MarkOf(item)) {
    case ItemMark::WebPage:
        return QStringLiteral("收到的是网页，不是文档（常见于需要登录的网站）");
    case ItemMark::Skipped:
        return item.percent == status_words::kBigFileSkipped
                   ? QStringLiteral("文件超过大小限制，已跳过，没有保存")
                   : QStringLiteral("同名文件已存在，已跳过，没有下载");
    case ItemMark::Suspect:
        return QStringLiteral("PDF内容可能与标题不符，可能是别的文献");
    case ItemMark::Status:
        break;
    }
    return item.status == ItemStatus::Failed ? item.reason : QString();
}

namespace reasons {

QString HttpStatus(int code) {
    if (code == 429 || code == 503) {
        return QStringLiteral("服务器返回%1，要求暂停下载").arg(code);
    }
    return QStringLiteral("服务器返回%1").arg(code);
}

QString ServerWaitTooLong(qint64 waitMs) {
    const qint64 minutes = (waitMs + 59'999) / 60'000;
    return QStringLiteral("服务器要求等待%1分钟，超过15分钟，已放弃").arg(minutes);
}

QString CutShort(qint64 received, qint64 expected) {
    const auto kb = [](qint64 bytes) { return QString::number((bytes + 1023) / 1024); };
    if (expected > 0) {
        return QStringLiteral("连接中断（已收到%1KB，共%2KB）").arg(kb(received), kb(expected));
    }
    return QStringLiteral("连接中断（已收到%1KB）").arg(kb(received));
}

QString NetworkError(int qtNetworkError) {
    switch (static_cast<QNetworkReply::NetworkError>(qtNetworkError)) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("服务器拒绝连接");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("找不到服务器");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("连接超时");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("安全连接失败（证书无效）");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("连接被服务器关闭");
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("网址重定向次数过多");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("网址从https转向了http，已拒绝");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("代理服务器无法连接");
    case QNetworkReply::OperationCanceledError:
        return kStopped;
    default:
        return QStringLiteral("网络错误");
    }
}

} // namespace reasons

QString PauseText(qint64 remainingMs) {
    return QStringLiteral("服务器要求暂停下载，还需%1秒").arg((remainingMs + 999) / 1000);
}

bool IsWebPageType(const QString& type, bool withXml) {
    // Compared without lower-casing a copy: the list walk calls this for every row.
    return type.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0 ||
           type.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0 ||
           (withXml && type.compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0);
}

DownloadListModel::DownloadListModel(QObject* parent)
    : QAbstractTableModel(parent), selection_(this) {
    noticeTimer_.setSingleShot(true);
    noticeTimer_.setInterval(kProgressNotifyMs);
    connect(&noticeTimer_, &QTimer::timeout, this, &DownloadListModel::flushProgressNotices);
}

int DownloadListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int DownloadListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DownloadListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const DownloadItem& it = items_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColName:
            return it.name;
        case ColType:
            return it.type;
        case ColSize:
            return it.size;
        case ColReceived:
            return it.received;
        case ColPercent:
            return it.percent;
        case ColFolder:
            return it.folder;
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (index.column() != ColName) {
            return {};
        }
        switch (MarkOf(it)) {
        case ItemMark::WebPage:
            return StatusIcon(kWebPageMark);
        case ItemMark::Skipped:
            return StatusIcon(kSkippedMark);
        case ItemMark::Suspect:
            return StatusIcon(kSuspectMark);
        case ItemMark::Status:
            break;
        }
        return StatusIcon(static_cast<int>(it.status));
    case Qt::ToolTipRole: {
        const QString tip = ItemToolTip(it);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    case StatusRole:
        return static_cast<int>(it.status);
    case KeyRole:
        return it.key;
    case ReferrerRole:
        return it.referrer;
    default:
        return {};
    }
}

QVariant DownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount) {
        return kHeaders.at(static_cast<std::size_t>(section));
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags DownloadListModel::flags(const QModelIndex& index) const {
    // Names are never edited in place.
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

bool DownloadListModel::addItem(const QString& key, const QString& name, const QString& type,
                                const QString& folder, const QString& referrer,
                                const Citation& citation) {
    if (keyIndex_.contains(key)) {
        return false;
    }
    const int row = count();
    beginInsertRows({}, row, row);
    DownloadItem item;
    item.key = key;
    item.name = name;
    item.type = type;
    item.folder = folder;
    item.referrer = referrer;
    item.citation = citation;
    items_.append(std::move(item));
    keyIndex_.insert(key, row);
    endInsertRows();
    return true;
}

int DownloadListModel::appendItems(const QList<DownloadItem>& items) {
    QList<DownloadItem> fresh;
    QSet<QString> keys;
    for (const DownloadItem& item : items) {
        if (!keyIndex_.contains(item.key) && !keys.contains(item.key)) {
            keys.insert(item.key);
            fresh.append(item);
        }
    }
    if (fresh.isEmpty()) {
        return 0;
    }
    const int first = count();
    beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
    for (DownloadItem& item : fresh) {
        keyIndex_.insert(item.key, count());
        countLive(item, +1);
        items_.append(std::move(item));
    }
    endInsertRows();
    return static_cast<int>(fresh.size());
}

void DownloadListModel::clear() {
    beginResetModel();
    items_.clear();
    keyIndex_.clear();
    heldBack_.clear();
    livePaths_.clear();
    endResetModel();
}

int DownloadListModel::removeRowsWhere(const std::function<bool(int row)>& remove) {
    QVector<int> kept;
    kept.reserve(count());
    for (int row = 0; row < count(); ++row) {
        if (!remove(row)) {
            kept.append(row);
        }
    }
    const int removed = count() - static_cast<int>(kept.size());
    if (removed > 0) {
        reorder(kept);
    }
    return removed;
}

void DownloadListModel::reorder(const QVector<int>& order) {
    beginResetModel();
    QVector<DownloadItem> items;
    items.reserve(order.size());
    for (int row : order) {
        if (validRow(row)) {
            items.append(std::move(items_[row]));
        }
    }
    items_ = std::move(items);
    keyIndex_.clear();
    for (int row = 0; row < count(); ++row) {
        keyIndex_.insert(items_[row].key, row);
    }
    heldBack_.clear();
    rebuildLivePaths();
    endResetModel();
}

void DownloadListModel::setReferrer(int row, const QString& referrer) {
    if (validRow(row)) {
        items_[row].referrer = referrer;
    }
}

void DownloadListModel::notifyRow(int row, const QList<int>& roles) {
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), roles);
}

void DownloadListModel::notifyProgress(int row) {
    // Progress notices of all rows go out together from one timer, so views repaint at most
    // about ten times a second however many transfers write their rows.
    heldBack_.insert(row);
    if (!noticeTimer_.isActive()) {
        noticeTimer_.start();
    }
}

void DownloadListModel::flushProgressNotices() {
    noticeTimer_.stop();
    const QSet<int> rows = std::exchange(heldBack_, {});
    for (int row : rows) {
        if (validRow(row)) {
            notifyRow(row, {Qt::DisplayRole});
        }
    }
}

void DownloadListModel::setText(int row, Column column, const QString& text) {
    if (!validRow(row)) {
        return;
    }
    DownloadItem& it = items_[row];
    QString* field = nullptr;
    switch (column) {
    case ColName:
        field = &it.name;
        break;
    case ColType:
        field = &it.type;
        break;
    case ColSize:
        field = &it.size;
        break;
    case ColReceived:
        field = &it.received;
        break;
    case ColPercent:
        field = &it.percent;
        break;
    case ColFolder:
        field = &it.folder;
        break;
    default:
        return;
    }
    if (*field == text) {
        return;
    }
    if (column == ColName || column == ColType || column == ColFolder) {
        const QString before = ItemFilePath(it.folder, it.name, it.type);
        countLive(it, -1);
        *field = text;
        countLive(it, +1);
        // The file the row created stays where it was; the new path is not the row's file.
        if (ItemFilePath(it.folder, it.name, it.type) != before) {
            it.createdFile = false;
            it.adoptedFile = false;
        }
    }
    *field = text;
    if (column == ColSize || column == ColReceived || column == ColPercent) {
        notifyProgress(row);
        return;
    }
    const QModelIndex cell = index(row, column);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}

void DownloadListModel::setStatus(int row, ItemStatus status) {
    if (!validRow(row) || items_[row].status == status) {
        return;
    }
    countLive(items_[row], -1);
    items_[row].status = status;
    countLive(items_[row], +1);
    // A status change shows at once, with any progress text still held back for the row.
    if (heldBack_.remove(row)) {
        notifyRow(row, {Qt::DisplayRole, Qt::DecorationRole, StatusRole});
        return;
    }
    const QModelIndex cell = index(row, ColName);
    Q_EMIT dataChanged(cell, cell, {Qt::DecorationRole, StatusRole});
}

void DownloadListModel::startRow(int row) {
    setReason(row, QString());
    setContentCheck(row, ContentCheck::None);
    setStatus(row, ItemStatus::Downloading);
    setText(row, ColSize, QString());
    setText(row, ColReceived, QString());
    setText(row, ColPercent, QString());
}

bool DownloadListModel::setKey(int row, const QString& key) {
    if (!validRow(row)) {
        return false;
    }
    const int holder = rowOfKey(key);
    if (holder == row) {
        return true;
    }
    if (holder >= 0) {
        return false;
    }
    keyIndex_.remove(items_[row].key);
    items_[row].key = key;
    keyIndex_.insert(key, row);
    // Watchers of the list (the kept queue) learn of an address change like any other.
    notifyRow(row, {KeyRole});
    return true;
}

void DownloadListModel::setCreatedFile(int row, bool created) {
    setField(row, &DownloadItem::createdFile, created, {FileOwnerRole});
}

void DownloadListModel::setContentCheck(int row, ContentCheck check) {
    setField(row, &DownloadItem::contentCheck, check, {Qt::DecorationRole, Qt::ToolTipRole});
}

void DownloadListModel::setCitation(int row, const Citation& citation) {
    setField(row, &DownloadItem::citation, citation, {CitationRole});
}

void DownloadListModel::setReason(int row, const QString& reason) {
    setField(row, &DownloadItem::reason, reason, {Qt::ToolTipRole});
}

void DownloadListModel::setAutoAttempts(int row, int attempts) {
    setField(row, &DownloadItem::autoAttempts, attempts, {StatusRole});
}

void DownloadListModel::setNotBefore(int row, qint64 epochMs) {
    setField(row, &DownloadItem::notBefore, epochMs, {StatusRole});
}

void DownloadListModel::setComeBack(int row, const ComeBackStreak& streak) {
    setField(row, &DownloadItem::comeBack, streak, {StatusRole});
}

void DownloadListModel::setAdoptedFile(int row, bool adopted) {
    setField(row, &DownloadItem::adoptedFile, adopted, {FileOwnerRole});
}

void DownloadListModel::setReplacesPath(int row, const QString& path) {
    setField(row, &DownloadItem::replacesPath, path, {FileOwnerRole});
}

bool DownloadListModel::mayDeleteFileOf(int row, bool explicitRequest) const {
    if (!validRow(row) ||
        !(items_[row].createdFile || (explicitRequest && items_[row].adoptedFile))) {
        return false;
    }
    const DownloadItem& mine = items_[row];
    return !isLivePath(ItemFilePath(mine.folder, mine.name, mine.type), row);
}

bool DownloadListModel::isLivePath(const QString& path, int exceptRow) const {
    int n = livePaths_.value(path, 0);
    if (validRow(exceptRow)) {
        const DownloadItem& own = items_[exceptRow];
        const bool live =
            own.status == ItemStatus::Downloading || own.status == ItemStatus::Finished;
        n -= live && ItemFilePath(own.folder, own.name, own.type) == path ? 1 : 0;
    }
    return n > 0;
}

void DownloadListModel::countLive(const DownloadItem& item, int delta) {
    if (item.status != ItemStatus::Downloading && item.status != ItemStatus::Finished) {
        return;
    }
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    const int n = livePaths_.value(path, 0) + delta;
    if (n > 0) {
        livePaths_.insert(path, n);
    } else {
        livePaths_.remove(path);
    }
}

void DownloadListModel::rebuildLivePaths() {
    livePaths_.clear();
    for (const DownloadItem& item : items_) {
        countLive(item, +1);
    }
}

void DownloadListModel::selectAll() {
    if (count() > 0) {
        selection_.select(QItemSelection(index(0, 0), index(count() - 1, ColumnCount - 1)),
                          QItemSelectionModel::Select);
    }
}

bool DownloadListModel::isSelected(int row) const {
    return validRow(row) && selection_.isRowSelected(row, {});
}

void DownloadListModel::setSelected(int row, bool selected) {
    if (!validRow(row)) {
        return;
    }
    selection_.select(index(row, 0),
                      (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                          QItemSelectionModel::Rows);
}

int DownloadListModel::统计未下载项数目() const {
    int n = 0;
    for (const DownloadItem& it : items_) {
        if (it.size.isEmpty() && it.received.isEmpty() && it.percent.isEmpty()) {
            ++n;
        }
    }
    return n;
}

bool DownloadListModel::检测是否下载列表完毕() const {
    for (const DownloadItem& it : items_) {
        if (it.status != ItemStatus::Finished && it.status != ItemStatus::Failed) {
            return false;
        }
    }
    return true;
}

int DownloadListModel::统计出错和网页项数目() const {
    int n = 0;
    for (const DownloadItem& it : items_) {
        if (IsWebPageType(it.type) || it.status == ItemStatus::Failed) {
            ++n;
        }
    }
    return n;
}

StatusCounts DownloadListModel::statusCounts() const {
    StatusCounts counts;
    counts.total = count();
    for (const DownloadItem& it : items_) {
        switch (it.status) {
        case ItemStatus::Waiting:
            ++counts.waiting;
            break;
        case ItemStatus::Downloading:
            ++counts.downloading;
            break;
        case ItemStatus::Finished:
            ++counts.finished;
            switch (MarkOf(it)) {
            case ItemMark::WebPage:
                ++counts.webPages;
                break;
            case ItemMark::Skipped:
                ++counts.skipped;
                break;
            case ItemMark::Suspect:
                ++counts.suspect;
                break;
            case ItemMark::Status:
                break;
            }
            break;
        case ItemStatus::Failed:
            ++counts.failed;
            break;
        }
    }
    return counts;
}

QString DownloadListModel::summaryText() const {
    const StatusCounts c = statusCounts();
    QString text = QStringLiteral("总数:%1 正在下载:%2 等待:%3 已完成:%4 失败:%5")
                       .arg(c.total)
                       .arg(c.downloading)
                       .arg(c.waiting)
                       .arg(c.finished)
                       .arg(c.failed);
    // Finished rows that are no document are counted apart, so the finished count is not read
    // as the number of papers.
    if (c.webPages > 0 || c.skipped > 0) {
        text += QStringLiteral("（其中网页:%1 跳过:%2）").arg(c.webPages).arg(c.skipped);
    }
    if (c.suspect > 0) {
        text += QStringLiteral(" 内容可疑:%1").arg(c.suspect);
    }
    return text;
}

QString DownloadListModel::rowCountText() const {
    return QString::number(count()) + QStringLiteral("条");
}

} // namespace quillax
