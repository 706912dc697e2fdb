#pragma once
// The dialog that replaces a text in every download address of the list.

#include <QDialog>

class QLineEdit;

namespace quillax {

class DownloadListModel;

class UrlReplace : public QDialog {
    Q_OBJECT
public:
    UrlReplace(DownloadListModel& list, QWidget* parent = nullptr);
    /// 替换: false, and the dialog stays, when there is nothing to find.
    bool 替换();
    QLineEdit* findBox() const { return Text1; }
    QLineEdit* replaceBox() const { return Text2; }

private:
    DownloadListModel& list_;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
};

} // namespace quillax
