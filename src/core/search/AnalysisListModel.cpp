#include "core/search/AnalysisListModel.h"

#include <QSet>

#include <algorithm>
#include <array>

namespace quillax {

AnalysisListModel::AnalysisListModel(QObject* parent)
    : QAbstractTableModel(parent), selection_(this) {}

int AnalysisListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int AnalysisListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AnalysisListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const AnalysisRecord& r = records_.at(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case ColTitle:
            return r.title;
        case ColType:
            return r.type;
        case ColStatus:
            return r.status;
        case ColFolder:
            return r.folder;
        default:
            return {};
        }
    }
    // Long titles and folders are cut short in their columns; the tip shows them whole.
    if (role == Qt::ToolTipRole && (index.column() == ColTitle || index.column() == ColFolder)) {
        const QString& text = index.column() == ColTitle ? r.title : r.folder;
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    if (role == LinkRole) {
        return r.link;
    }
    if (role == PageUrlRole) {
        return r.pageUrl;
    }
    return {};
}

QVariant AnalysisListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<QString, ColumnCount> headers = {
        QStringLiteral("标题"), QStringLiteral("类型"), QStringLiteral("分析状态"),
        QStringLiteral("保存路径")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount) {
        return headers.at(static_cast<std::size_t>(section));
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags AnalysisListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

bool AnalysisListModel::加入LV1(const QString& title, const QString& link, const QString& pageUrl,
                                const QString& type, const QString& folder,
                                const Citation& citation) {
    if (keyIndex_.contains(link)) {
        Q_EMIT addRefused(link);
        return false;
    }
    const int row = count();
    beginInsertRows({}, row, row);
    records_.append(AnalysisRecord{title, link, type, QString(), folder, pageUrl, citation});
    keyIndex_.insert(link, row);
    endInsertRows();
    return true;
}

int AnalysisListModel::appendRecords(const QList<AnalysisRecord>& records) {
    QList<AnalysisRecord> fresh;
    QSet<QString> links;
    for (const AnalysisRecord& record : records) {
        if (!keyIndex_.contains(record.link) && !links.contains(record.link)) {
            links.insert(record.link);
            fresh.append(record);
        }
    }
    if (fresh.isEmpty()) {
        return 0;
    }
    const int first = count();
    beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
    for (AnalysisRecord& record : fresh) {
        keyIndex_.insert(record.link, count());
        records_.append(std::move(record));
    }
    endInsertRows();
    return static_cast<int>(fresh.size());
}

void AnalysisListModel::setStatus(int row, const QString& status) {
    if (row < 0 || row >= count() || records_[row].status == status) {
        return;
    }
    records_[row].status = status;
    const QModelIndex cell = index(row, ColStatus);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}

void AnalysisListModel::setCitation(int row, const Citation& citation) {
    if (row < 0 || row >= count() || records_[row].citation == citation) {
        return;
    }
    records_[row].citation = citation;
    // Not shown in a column; the kept queue hears of it.
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), {CitationRole});
}

int AnalysisListModel::removeRowsWhere(const std::function<bool(int row)>& remove) {
    QVector<bool> gone(count(), false);
    int removed = 0;
    for (int row = 0; row < count(); ++row) {
        gone[row] = remove(row);
        removed += gone[row] ? 1 : 0;
    }
    if (removed == 0) {
        return 0;
    }
    beginResetModel();
    QVector<AnalysisRecord> kept;
    kept.reserve(count() - removed);
    for (int row = 0; row < count(); ++row) {
        if (!gone[row]) {
            kept.append(std::move(records_[row]));
        }
    }
    records_ = std::move(kept);
    keyIndex_.clear();
    for (int row = 0; row < count(); ++row) {
        keyIndex_.insert(records_[row].link, row);
    }
    endResetModel();
    return removed;
}

int AnalysisListModel::unanalysedCount() const {
    return static_cast<int>(
        std::count_if(records_.cbegin(), records_.cend(),
                      [](const AnalysisRecord& r) { return r.status.isEmpty(); }));
}

void AnalysisListModel::clear() {
    beginResetModel();
    records_.clear();
    keyIndex_.clear();
    endResetModel();
}

} // namespace quillax
