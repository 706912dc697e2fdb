#include "core/search/CacheModels.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quillax {

CacheListModel::CacheListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CacheListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int CacheListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CacheListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        role != Qt::DisplayRole) {
        return {};
    }
    const CacheRow& r = rows_.at(index.row());
    switch (index.column()) {
    case ColUrl:
        return r.address;
    case ColType:
        return r.type;
    case ColSize:
        return r.size < 0 ? QString() : QString::number(r.size);
    case ColFilePath:
        return r.filePath;
    default:
        return {};
    }
}

QVariant CacheListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<QString, ColumnCount> headers = {
        QStringLiteral("URL"), QStringLiteral("TYPE"), QStringLiteral("SIZE(Byte)"),
        QStringLiteral("FilePath")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount) {
        return headers.at(static_cast<std::size_t>(section));
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags CacheListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void CacheListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount) {
        return;
    }
    lastOrder_ = order;
    QVector<int> order_(count());
    for (int i = 0; i < count(); ++i) {
        order_[i] = i;
    }
    auto less = [&](int a, int b) {
        const CacheRow& x = rows_.at(a);
        const CacheRow& y = rows_.at(b);
        switch (column) {
        case ColSize:
            return std::max<qint64>(x.size, 0) < std::max<qint64>(y.size, 0);
        case ColType:
            return x.type.compare(y.type, Qt::CaseInsensitive) < 0;
        case ColFilePath:
            return x.filePath.compare(y.filePath, Qt::CaseInsensitive) < 0;
        default:
            return x.address.compare(y.address, Qt::CaseInsensitive) < 0;
        }
    };
    if (order == Qt::AscendingOrder) {
        std::stable_sort(order_.begin(), order_.end(), less);
    } else {
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) { return less(b, a); });
    }
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QVector<int> newRowOf(count());
    QVector<CacheRow> sorted;
    sorted.reserve(count());
    for (int i = 0; i < count(); ++i) {
        newRowOf[order_[i]] = i;
        sorted.append(rows_.at(order_[i]));
    }
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& idx : before) {
        after.append(index(newRowOf.at(idx.row()), idx.column()));
    }
    rows_ = std::move(sorted);
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CacheListModel::sortByHeaderClick(int column) {
    sort(column, lastOrder_ == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CacheListModel::setRows(QVector<CacheRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void CacheListModel::append(const CacheRow& row) {
    beginInsertRows({}, count(), count());
    rows_.append(row);
    endInsertRows();
}

void CacheListModel::setLocalFile(int row, const QString& path, qint64 size, const QString& root) {
    if (row < 0 || row >= count()) {
        return;
    }
    rows_[row].filePath = path;
    rows_[row].size = size;
    rows_[row].fileRoot = root;
    Q_EMIT dataChanged(index(row, ColSize), index(row, ColFilePath), {Qt::DisplayRole});
}

void CacheListModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

// ---------------------------------------------------------------------------------------------

TextRowsModel::TextRowsModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

int TextRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int TextRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TextRowsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        role != Qt::DisplayRole) {
        return {};
    }
    return text(index.row(), index.column());
}

QVariant TextRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < headers_.size()) {
        return headers_.at(section);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TextRowsModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void TextRowsModel::append(const QStringList& cells) {
    beginInsertRows({}, count(), count());
    rows_.append(cells);
    endInsertRows();
}

void TextRowsModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

QString TextRowsModel::text(int row, int column) const {
    if (row < 0 || row >= count() || column < 0 || column >= rows_.at(row).size()) {
        return {};
    }
    return rows_.at(row).at(column);
}

CacheUserListModel::CacheUserListModel(QObject* parent)
    : TextRowsModel({QStringLiteral("用户名"), QStringLiteral("文件夹")}, parent) {}

CacheFolderListModel::CacheFolderListModel(QObject* parent)
    : TextRowsModel({QStringLiteral("文件夹")}, parent) {}

} // namespace quillax
