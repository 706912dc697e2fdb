#pragma once
// The save-folder chooser: where downloads go and whether files take the title or the
// address's name; remembers the folder and keeps the list of recent folders.

#include <QDialog>

class QComboBox;
class QRadioButton;

namespace quillax {

class SettingsStore;
struct AppValues;

class fSeleFileSavePath : public QDialog {
    Q_OBJECT
public:
    fSeleFileSavePath(SettingsStore& settings, AppValues& values, QWidget* parent = nullptr);

    /// Shows a fresh chooser modally; the caller then reads `SaveFolderCancelled`, `SaveFolder`
    /// and `UseOriginalFileName`.
    static void Show(QWidget* parent, SettingsStore& settings, AppValues& values);

    /// 确定: false, with the dialog left open, when the folder cannot be made.
    bool 确定();
    void 取消();
    void 浏览();
    QComboBox* folderBox() const { return Combo1; }

private:
    SettingsStore& settings_;
    AppValues& values_;
    QComboBox* Combo1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
};

/// A folder chosen in the desktop's folder dialog, ending in "/": it opens on the parent of
/// `start`; cancelling gives `start` back unchanged.
QString BrowseForFolder(QWidget* owner, const QString& start, const QString& title,
                        bool includeFiles);
/// The folder the dialog opens on for `start`: its parent when `start` has a "/" before its last
/// character, the home folder for an empty text, and the home folder when that parent is gone.
QString BrowseStartFolder(const QString& start);

} // namespace quillax
