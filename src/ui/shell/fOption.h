#pragma once
// The options dialog: download method, proxy server, save-folder prompting and size limit.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace quillax {

class SettingsStore;
struct AppValues;

class fOption : public QDialog {
    Q_OBJECT
public:
    fOption(SettingsStore& settings, AppValues& values, QWidget* parent = nullptr);

    /// Shows a fresh dialog modally.
    static void Show(QWidget* parent, SettingsStore& settings, AppValues& values);

    /// 确定: writes every field, pushes the method into the open download window, closes.
    void 确定();

private:
    SettingsStore& settings_;
    AppValues& values_;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QLineEdit* Text6 = nullptr;
    QLineEdit* Text8 = nullptr;
    QCheckBox* Check2 = nullptr;
    QLineEdit* Text1 = nullptr;
};

} // namespace quillax
