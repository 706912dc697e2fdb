#include "core/download/ListOperations.h"
#include "core/download/ServerPauses.h"

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadNeeded.h"
#include "core/files/FileNaming.h"
#include "core/files/HeaderTypes.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/TextUtil.h"

#include <algorithm>

#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace quillax {

namespace {

using Col = DownloadListModel::Column;

// A re-download keeps the row's own file until a whole new body replaces it: a retry that fails,
// or a stop, must not cost the user the file they had.
void keepForReplacement(DownloadListModel& list, int row, ListRequest by) {
    const DownloadItem& item = list.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (WebPageInsteadOfDocument(item)) {
        // The row holds the web page that came instead of its document: the document stays the
        // file to replace, and the page the row stored goes, so no stray page is left beside
        // the paper once it comes.
        if (list.mayDeleteFileOf(row, by == ListRequest::User) && FileExists(path) &&
            QFile::remove(path)) {
            list.setCreatedFile(row, false);
        }
        return;
    }
    if (list.mayDeleteFileOf(row, by == ListRequest::User) && FileExists(path)) {
        list.setReplacesPath(row, path);
    }
}

// An automatic re-download comes back later each time and gives up after a few: a row that
// keeps failing costs one request per step, never a tight loop. A user's request acts at once
// and starts the count again.
bool reset(DownloadListModel& list, int row, bool forceXxx, ListRequest by) {
    int attempts = 0;
    qint64 notBefore = 0;
    if (by == ListRequest::Automatic) {
        attempts = list.item(row).autoAttempts + 1;
        if (attempts > kMaxAutoAttempts) {
            return false;
        }
        notBefore = PauseNowEpochMs() + AutoRetryDelayMs(attempts, PauseJitter());
    }
    keepForReplacement(list, row, by);
    if (by == ListRequest::User) {
        list.setComeBack(row, {}); // the user asks anew: the server's refusals count afresh
    }
    list.setAutoAttempts(row, attempts);
    list.setNotBefore(row, notBefore);
    list.setStatus(row, ItemStatus::Waiting);
    if (forceXxx || IsWebPageType(list.item(row).type, false)) {
        list.setText(row, Col::ColType, QStringLiteral("xxx"));
    }
    list.setText(row, Col::ColSize, QString());
    list.setText(row, Col::ColReceived, QString());
    list.setText(row, Col::ColPercent,
                 by == ListRequest::Automatic ? status_words::kWaitRetry : QString());
    list.setKey(row, 对调url(list.item(row).key));
    return true;
}

} // namespace

bool WebPageInsteadOfDocument(const DownloadItem& item) {
    if (item.replacesPath.isEmpty() || !IsWebPageType(item.type, true)) {
        return false;
    }
    const QString oldType = SplitNameAndExtension(QFileInfo(item.replacesPath).fileName(), nullptr);
    return !IsWebPageType(oldType, true) &&
           item.replacesPath != ItemFilePath(item.folder, item.name, item.type) &&
           FileExists(item.replacesPath);
}

int SettleSkipsBehindPlaceholders(DownloadListModel& list) {
    int requeued = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        // A row skipped behind another row's placeholder: its length columns stay empty until
        // the paper it waited for is there.
        if (item.status != ItemStatus::Finished || item.percent != status_words::kExistsSkipped ||
            !item.size.isEmpty() || !item.adoptedFile) {
            continue;
        }
        const QString path = ItemFilePath(item.folder, item.name, item.type);
        if (FileExists(path) && !IsPlaceholderFile(path)) {
            const QString length = QString::number(QFileInfo(path).size());
            list.setText(row, Col::ColSize, length);
            list.setText(row, Col::ColReceived, length);
            continue;
        }
        if (list.isLivePath(path, row) && FileExists(path)) {
            continue; // still on its way
        }
        // The download it waited for failed: nothing stands there, and the row goes itself.
        list.setAdoptedFile(row, false);
        list.setStatus(row, ItemStatus::Waiting);
        list.setText(row, Col::ColPercent, QString());
        ++requeued;
    }
    return requeued;
}

void RequeueForLogin(DownloadListModel& list, int row) {
    if (row < 0 || row >= list.count()) {
        return;
    }
    keepForReplacement(list, row, ListRequest::Automatic);
    list.setNotBefore(row, 0);
    list.setStatus(row, ItemStatus::Waiting);
    list.setText(row, Col::ColType, QStringLiteral("xxx"));
    list.setText(row, Col::ColSize, QString());
    list.setText(row, Col::ColReceived, QString());
    list.setText(row, Col::ColPercent, status_words::kWaitLogin);
}

void 删除下载项文件(DownloadListModel& list, int row, ListRequest by) {
    if (row < 0 || row >= list.count()) {
        return;
    }
    // Only a file this row stored, and that no live row shares: a failed row's path can name a
    // finished row's file, a file being written, or a file the user put there.
    if (!list.mayDeleteFileOf(row, by == ListRequest::User)) {
        return;
    }
    const DownloadItem& item = list.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (FileExists(path)) {
        QFile::remove(path);
    }
    if (!FileExists(path)) {
        list.setCreatedFile(row, false);
        list.setAdoptedFile(row, false);
    }
}

QString FailRowWithoutFolder(DownloadListModel& list, int row, QString* made) {
    if (row < 0 || row >= list.count()) {
        return {};
    }
    const QString folder = EnsureFolderPath(list.item(row).folder);
    const QString why = folder.isEmpty()          ? reasons::kFolderNotCreated
                        : !FolderWritable(folder) ? reasons::kFolderNotWritable
                                                  : QString();
    if (!why.isEmpty()) {
        list.setText(row, Col::ColSize, status_words::kFailed);
        list.setReason(row, why);
        list.setStatus(row, ItemStatus::Failed);
    } else if (made != nullptr) {
        *made = folder;
    }
    return why;
}

void SettleReplacedFile(DownloadListModel& list, int row) {
    if (row < 0 || row >= list.count() || list.item(row).replacesPath.isEmpty()) {
        return;
    }
    const DownloadItem& item = list.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    // Until the row stored a new file, the old one is what the user has.
    if (item.status != ItemStatus::Finished || !item.createdFile || !FileExists(path)) {
        return;
    }
    // A web page that came instead of the document replaces nothing: the document stays, and
    // stays the file a later download of the row replaces.
    if (WebPageInsteadOfDocument(item)) {
        return;
    }
    const QString old = item.replacesPath;
    list.setReplacesPath(row, QString());
    if (old != path && FileExists(old) && !list.isLivePath(old, row)) {
        QFile::remove(old);
    }
}

int menu重新下载出错项(DownloadListModel& list, ListRequest by) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row).status == ItemStatus::Failed && reset(list, row, false, by)) {
            ++n;
        }
    }
    return n;
}

int menu重新下载文件类型为HTM和HTML项(DownloadListModel& list, ListRequest by) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        if ((item.status == ItemStatus::Finished || item.status == ItemStatus::Failed) &&
            IsWebPageType(item.type, true) && reset(list, row, true, by)) {
            ++n;
        }
    }
    return n;
}

namespace {

bool finishedOrFailed(const DownloadItem& item) {
    return item.status == ItemStatus::Finished || item.status == ItemStatus::Failed;
}

// A size text read as the list reads it: "," removed, a number in single precision.
bool sizeNumber(const QString& text, float* value) {
    double v = 0;
    QString cleaned = text;
    cleaned.remove(QLatin1Char(','));
    if (TrimSpaces(cleaned).isEmpty() || !ParseStoredNumber(cleaned, v)) {
        return false;
    }
    *value = static_cast<float>(v);
    return true;
}

} // namespace

int menu重新下载选中项(DownloadListModel& list) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        if (list.isSelected(row) && finishedOrFailed(list.item(row))) {
            reset(list, row, false, ListRequest::User);
            ++n;
        }
    }
    return n;
}

int menu重新下载出错项和网页项(DownloadListModel& list) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        if (item.status == ItemStatus::Failed ||
            (item.status == ItemStatus::Finished && IsWebPageType(item.type, false))) {
            reset(list, row, false, ListRequest::User);
            ++n;
        }
    }
    return n;
}

int menu重新下载文件大小小于指定数字的项(DownloadListModel& list, double bytes) {
    const float limit = static_cast<float>(bytes);
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        float size = 0;
        float received = 0;
        if (finishedOrFailed(item) && sizeNumber(item.size, &size) &&
            sizeNumber(item.received, &received) && size == received && size < limit) {
            reset(list, row, false, ListRequest::User);
            ++n;
        }
    }
    return n;
}

int ClearListItems(DownloadListModel& list, ListClear kind) {
    return list.removeRowsWhere([&](int row) {
        switch (kind) {
        case ListClear::Selected:
            return list.isSelected(row);
        case ListClear::Failed:
            return list.item(row).status == ItemStatus::Failed;
        case ListClear::Finished:
            return list.item(row).status == ItemStatus::Finished;
        case ListClear::All:
            return true;
        }
        return false;
    });
}

int DeleteItemFiles(DownloadListModel& list, bool webPages) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        const bool match = webPages ? finishedOrFailed(item) && IsWebPageType(item.type, true)
                                    : item.status == ItemStatus::Failed;
        if (!match) {
            continue;
        }
        list.setText(row, Col::ColSize, QString());
        list.setText(row, Col::ColReceived, QString());
        list.setText(row, Col::ColPercent, QString());
        删除下载项文件(list, row);
        ++n;
    }
    return n;
}

void 随机排序下载列表(DownloadListModel& list, const std::function<int(int n)>& random) {
    const int count = list.count();
    QVector<int> order(count);
    for (int i = 0; i < count; ++i) {
        order[i] = i;
    }
    // Each pass takes one of the items not yet moved and puts it behind all others.
    int moved = 0;
    for (int attempt = 1; count - moved >= 1 && attempt <= 10000; ++attempt) {
        const int r = random(count - moved);
        if (r < 0 || r >= count - moved) {
            continue;
        }
        const int item = order[r];
        order.remove(r);
        order.append(item);
        ++moved;
    }
    list.reorder(order);
}

void SortDownloadList(DownloadListModel& list, int column, bool descending) {
    const bool numeric = column == Col::ColSize || column == Col::ColReceived;
    const bool percent = column == Col::ColPercent;
    const auto textOf = [&](int row) -> QString {
        const DownloadItem& item = list.item(row);
        switch (column) {
        case Col::ColName:
            return item.name;
        case Col::ColType:
            return item.type;
        case Col::ColSize:
            return item.size;
        case Col::ColReceived:
            return item.received;
        case Col::ColPercent:
            return item.percent;
        case Col::ColFolder:
            return item.folder;
        default:
            return {};
        }
    };
    // Numbers are compared as twelve-digit texts among the other texts, as the list shows them.
    QVector<QString> keys(list.count());
    QVector<bool> isNumber(list.count(), false);
    QVector<qint64> numbers(list.count(), 0);
    for (int row = 0; row < list.count(); ++row) {
        QString text = textOf(row);
        if (numeric || percent) {
            QString bare = text;
            if (percent) {
                bare.remove(QLatin1Char('%'));
            }
            double value = 0;
            if (!TrimSpaces(bare).isEmpty() && ParseStoredNumber(bare, value) && value >= 0 &&
                value < 1e12) {
                numbers[row] = qRound64(value);
                isNumber[row] = true;
                text = QStringLiteral("%1").arg(numbers[row], 12, 10, QLatin1Char('0'));
            }
        }
        keys[row] = text;
    }
    // Texts in the user's language order (pinyin for Chinese titles), not by character code.
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QVector<QCollatorSortKey> sortKeys;
    sortKeys.reserve(keys.size());
    for (const QString& key : keys) {
        sortKeys.push_back(collator.sortKey(key));
    }
    QVector<int> order(list.count());
    for (int i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = sortKeys[a].compare(sortKeys[b]);
        return descending ? c > 0 : c < 0;
    });
    // The numbers are written back without leading zeros before the rows move.
    if (numeric || percent) {
        const Col col = static_cast<Col>(column);
        for (int row = 0; row < list.count(); ++row) {
            if (isNumber[row]) {
                list.setText(row, col,
                             QString::number(numbers[row]) +
                                 (percent ? QStringLiteral("%") : QString()));
            }
        }
    }
    list.reorder(order);
}

int 检查文件是否存在(DownloadListModel& list) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        if (item.status != ItemStatus::Downloading &&
            !FileExists(ItemFilePath(item.folder, item.name, item.type))) {
            list.setText(row, Col::ColPercent, QStringLiteral("不存在"));
            ++n;
        }
    }
    return n;
}

int ReplaceInAddresses(DownloadListModel& list, const QString& find, const QString& replacement) {
    if (find.isEmpty()) {
        return 0;
    }
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        const QString key =
            QString(list.item(row).key).replace(find, replacement, Qt::CaseInsensitive);
        if (key != list.item(row).key && list.setKey(row, key)) {
            ++n; // a key another item holds is refused: this item keeps its old addresses
        }
        list.setReferrer(
            row, QString(list.item(row).referrer).replace(find, replacement, Qt::CaseInsensitive));
    }
    return n;
}

QString ExportNamesText(const DownloadListModel& list, bool unfinishedOnly) {
    QString text;
    for (int row = 0; row < list.count(); ++row) {
        if (!unfinishedOnly || list.item(row).status != ItemStatus::Finished) {
            text += list.item(row).name + QStringLiteral("\r\n");
        }
    }
    return text;
}

QList<CitationEntry> CitationEntries(const DownloadListModel& list, bool finishedOnly) {
    // Only a PDF is attached, never a saved login page. A row skipped because its file was
    // there already names that file (the paper of an earlier run); one skipped for its size
    // stored nothing, so a file at its path is not its download.
    const auto attachable = [&list](int row) {
        const DownloadItem& item = list.item(row);
        return item.status == ItemStatus::Finished &&
               item.type.compare(u"pdf", Qt::CaseInsensitive) == 0 &&
               item.percent != status_words::kBigFileSkipped;
    };
    // Two rows of one name (skipped or overwritten as the same-name rule says) share one file,
    // which is at most one of their papers: it goes to the one row that wrote it, or to none.
    QHash<QString, int> naming;
    QHash<QString, int> writing;
    for (int row = 0; row < list.count(); ++row) {
        if (attachable(row)) {
            const DownloadItem& item = list.item(row);
            const QString path = ItemFilePath(item.folder, item.name, item.type);
            ++naming[path];
            writing[path] += item.createdFile ? 1 : 0;
        }
    }
    QList<CitationEntry> entries;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        if (finishedOnly && item.status != ItemStatus::Finished) {
            continue;
        }
        CitationEntry entry{item.citation, {}};
        if (entry.citation.title.isEmpty()) {
            entry.citation.title = item.name;
        }
        const QString path = ItemFilePath(item.folder, item.name, item.type);
        const bool owned =
            naming.value(path) == 1 || (item.createdFile && writing.value(path) == 1);
        // Our two-byte placeholder under the paper's name is no paper.
        if (attachable(row) && owned && FileExists(path) && !IsPlaceholderFile(path)) {
            entry.filePath = QFileInfo(path).absoluteFilePath();
        }
        entries << entry;
    }
    return entries;
}

bool RetryFailedItem(DownloadListModel& list, int row) {
    if (row < 0 || row >= list.count() || list.item(row).status != ItemStatus::Failed) {
        return false;
    }
    keepForReplacement(list, row, ListRequest::User);
    list.setComeBack(row, {});
    list.setAutoAttempts(row, 0);
    list.setNotBefore(row, 0);
    list.setStatus(row, ItemStatus::Waiting);
    list.setText(row, Col::ColSize, QString());
    list.setText(row, Col::ColReceived, QString());
    list.setText(row, Col::ColPercent, QString());
    return true;
}

} // namespace quillax
