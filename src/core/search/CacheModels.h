#pragma once
// The cache viewer's lists: the cache files or entries, the users and the cache folders.

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QVector>

namespace quillax {

// ---------------------------------------------------------------------------------------------
// Lists

inline const QString kMyCacheTag = QStringLiteral("我的缓存");
inline const QString kAllCachesTag = QStringLiteral("所有缓存");
inline const QString kUserRowPrefix = QStringLiteral("用户:");

struct CacheRow {
    QString address; ///< "用户:" + user name in the all-users view
    QString type;
    qint64 size = -1;       ///< -1: no local file; for an entry, the size of its stored body
    QString filePath;       ///< for an entry, its main file, when its body can be copied out
    QStringList entryFiles; ///< the cache entry's own files, its main file first
    QString entryRoot;      ///< the folder they lie in
    QString fileRoot;       ///< the folder `filePath` lies in
};

class CacheListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColUrl, ColType, ColSize, ColFilePath, ColumnCount };

    explicit CacheListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Stable; sizes compare as numbers (a row without size as 0), other columns as text
    /// ignoring case.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// A header click: descending first, then the other way at each click.
    void sortByHeaderClick(int column);
    Qt::SortOrder lastSortOrder() const { return lastOrder_; }

    void setRows(QVector<CacheRow> rows);
    void append(const CacheRow& row);
    void setLocalFile(int row, const QString& path, qint64 size, const QString& root);
    void clear();
    int count() const { return static_cast<int>(rows_.size()); }
    const CacheRow& row(int r) const { return rows_.at(r); }

private:
    QVector<CacheRow> rows_;
    Qt::SortOrder lastOrder_ = Qt::AscendingOrder;
};

/// A list of text rows with fixed headers, for the users and folders lists.
class TextRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    TextRowsModel(QStringList headers, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void append(const QStringList& cells);
    void clear();
    int count() const { return static_cast<int>(rows_.size()); }
    QString text(int row, int column) const;

private:
    QStringList headers_;
    QVector<QStringList> rows_;
};

/// The users list: profiles that have a cache folder.
class CacheUserListModel : public TextRowsModel {
    Q_OBJECT
public:
    enum Column { ColUser, ColFolder, ColumnCount };
    explicit CacheUserListModel(QObject* parent = nullptr);
};

/// Every cache folder found below the profiles' cache folders.
class CacheFolderListModel : public TextRowsModel {
    Q_OBJECT
public:
    enum Column { ColFolder, ColumnCount };
    explicit CacheFolderListModel(QObject* parent = nullptr);
};

} // namespace quillax
