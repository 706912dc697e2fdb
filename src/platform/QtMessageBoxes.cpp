#include "platform/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace quillax {

MsgResult QtMessageBoxes::show(const QString& text, MsgIcon icon, MsgButtons buttons) {
    QMessageBox box(QApplication::activeWindow());
    // Titled with the product title, which the application set as its name.
    box.setWindowTitle(QApplication::applicationName());
    // Page-derived text must never be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::None:
        break;
    }
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        break;
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgResult::Yes;
    case QMessageBox::No:
        return MsgResult::No;
    case QMessageBox::Cancel:
        return MsgResult::Cancel;
    default:
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
}

} // namespace quillax
