#pragma once
// The analysis list: the records taken from result pages, each with its title, PDF full-text
// link (the unique key), type, analysis status, save folder and the page it was taken from.

#include "core/files/Citation.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QItemSelectionModel>
#include <QString>
#include <QVector>
#include <functional>

namespace quillax {

struct AnalysisRecord {
    QString title;
    QString link;    ///< the record's full-text link; unique in the list
    QString type;    ///< always "pdf" for records from result pages
    QString status;  ///< "", "成功" or "失败"
    QString folder;  ///< save folder chosen when the record was taken, or empty
    QString pageUrl; ///< the result page's address, sent as the referrer later
    /// What the result entry and, once analysed, the record page say of the paper.
    Citation citation;
};

class AnalysisListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColTitle, ColType, ColStatus, ColFolder, ColumnCount };
    enum Role { LinkRole = Qt::UserRole + 1, PageUrlRole, CitationRole };

    explicit AnalysisListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Adds a record at the end; false, and nothing stored, when the link is already a key.
    bool 加入LV1(const QString& title, const QString& link, const QString& pageUrl,
                 const QString& type, const QString& folder, const Citation& citation = {});
    void setStatus(int row, const QString& status);
    void setCitation(int row, const Citation& citation);
    /// Appends kept records as they were, in one change; a link already held is left out.
    /// Returns how many were added.
    int appendRecords(const QList<AnalysisRecord>& records);
    void clear();
    /// Removes every row for which `remove(row)` is true, in one change of the model, keeping
    /// the key index true; returns how many were removed.
    int removeRowsWhere(const std::function<bool(int row)>& remove);

    int count() const { return static_cast<int>(records_.size()); }
    const AnalysisRecord& record(int row) const { return records_.at(row); }
    QItemSelectionModel* selectionModel() { return &selection_; }
    /// The row count label's text: the number of rows.
    QString rowCountText() const { return QString::number(count()); }
    /// Rows not analysed yet (empty status).
    int unanalysedCount() const;

Q_SIGNALS:
    /// `加入LV1` refused `link`: the list already holds it.
    void addRefused(const QString& link);

private:
    QVector<AnalysisRecord> records_;
    QHash<QString, int> keyIndex_;
    QItemSelectionModel selection_;
};

} // namespace quillax
