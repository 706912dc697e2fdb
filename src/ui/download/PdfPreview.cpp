#include "ui/download/PdfPreview.h"

#include "core/files/FileNaming.h"

#include <QLabel>
#include <QPainter>
#include <QPdfDocument>
#include <QVBoxLayout>

namespace quillax {

namespace {
constexpr int kPaneWidth = 280;
constexpr int kPageWidth = kPaneWidth - 16;
} // namespace

QString ContentCheckText(ContentCheck check) {
    switch (check) {
    case ContentCheck::Matches:
        return QStringLiteral("内容与标题相符");
    case ContentCheck::Mismatch:
        return QStringLiteral("内容可能与标题不符");
    case ContentCheck::Unknown:
        return QStringLiteral("未知（没有可比较的文字）");
    case ContentCheck::None:
        break;
    }
    return QStringLiteral("未检查");
}

PdfPreview::PdfPreview(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PdfPreview"));
    setFixedWidth(kPaneWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    page_ = new QLabel(this);
    page_->setObjectName(QStringLiteral("PreviewPage"));
    page_->setAlignment(Qt::AlignCenter);
    page_->setFixedHeight(kPageWidth * 3 / 2);
    page_->setStyleSheet(QStringLiteral("background: #e8e8e8;"));
    info_ = new QLabel(this);
    info_->setObjectName(QStringLiteral("PreviewInfo"));
    info_->setWordWrap(true);
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(page_);
    layout->addWidget(info_);
    layout->addStretch();
    clear(QStringLiteral("选择一个已完成的PDF文件"));
}

QString PdfPreview::infoText() const {
    return info_->text();
}

bool PdfPreview::hasPage() const {
    return !page_->pixmap().isNull();
}

void PdfPreview::clear(const QString& why) {
    page_->setPixmap({});
    page_->setText(why);
    info_->clear();
}

void PdfPreview::showRow(const DownloadListModel& list, int row) {
    if (!isVisible()) {
        return; // a closed pane costs nothing
    }
    if (row < 0 || row >= list.count() || list.item(row).status != ItemStatus::Finished ||
        list.item(row).type.compare(u"pdf", Qt::CaseInsensitive) != 0) {
        clear(QStringLiteral("选择一个已完成的PDF文件"));
        return;
    }
    const DownloadItem& item = list.item(row);
    QPdfDocument document;
    if (document.load(ItemFilePath(item.folder, item.name, item.type)) !=
            QPdfDocument::Error::None ||
        document.pageCount() < 1) {
        clear(QStringLiteral("PDF文件打不开"));
        return;
    }
    // The page fits the box at its own proportions, on white: pages are drawn transparent.
    const QSizeF points = document.pagePointSize(0);
    QSize size(kPageWidth, kPageWidth * 3 / 2);
    if (points.width() > 0 && points.height() > 0) {
        size = points.scaled(QSizeF(size), Qt::KeepAspectRatio).toSize();
    }
    QImage page(size, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        painter.drawImage(0, 0, document.render(0, size));
    }
    page_->setText(QString());
    page_->setPixmap(QPixmap::fromImage(page));
    const auto field = [&](QPdfDocument::MetaDataField f) {
        const QString value = document.metaData(f).toString().simplified();
        return value.isEmpty() ? QStringLiteral("（无）") : value.toHtmlEscaped();
    };
    info_->setText(QStringLiteral("页数：%1<br>标题：%2<br>作者：%3<br>检查：%4")
                       .arg(document.pageCount())
                       .arg(field(QPdfDocument::MetaDataField::Title),
                            field(QPdfDocument::MetaDataField::Author),
                            ContentCheckText(item.contentCheck)));
    document.close();
}

} // namespace quillax
