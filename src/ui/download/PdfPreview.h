#pragma once
// The preview pane beside the download list: the selected finished PDF's first page, its page
// count, metadata title and author, and what the content check found. The file is opened only
// to draw it and closed at once; a hidden pane opens nothing.

#include "core/download/DownloadListModel.h"

#include <QWidget>

class QLabel;

namespace quillax {

class PdfPreview : public QWidget {
    Q_OBJECT
public:
    explicit PdfPreview(QWidget* parent = nullptr);

    /// Shows row `row` of `list` (nothing when it is no finished PDF, or the pane is hidden).
    void showRow(const DownloadListModel& list, int row);
    /// The text under the picture, for tests and tool tips.
    QString infoText() const;
    /// True when a page is drawn.
    bool hasPage() const;

private:
    void clear(const QString& why);

    QLabel* page_ = nullptr;
    QLabel* info_ = nullptr;
};

/// Words for a row's content check, as the preview shows them.
QString ContentCheckText(ContentCheck check);

} // namespace quillax
