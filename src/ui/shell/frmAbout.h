#pragma once
// The about box: product title and version, the system description, the maker and the maker's
// links, and the system-information tool. The links underline themselves under the mouse.

#include "ui/shell/AboutBoxActions.h"

#include <QDialog>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;

namespace quillax {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    /// Places the underline under `label`, from its left to its right edge, and shows it.
    void 模拟网址下划线(QLabel* label);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QLabel* link(const QString& caption, const QString& address, bool configured);
    void linkClicked(QLabel* label);

    QLabel* lsoftname = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblSystem = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label4 = nullptr;
    QFrame* Line2 = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
};

/// Shows the about box modally over `parent`: the 关于 entries of the windows' menus.
void ShowAboutBox(QWidget* parent);

/// Adds to `menu` an entry `caption` that opens the maker's `page`; the entry is disabled when
/// the page is not configured.
QAction* AddMakerPageEntry(QMenu* menu, const QString& caption, MakerPage page);
/// Adds the entry 给软件作者建议, which composes the suggestion mail for `owner`; disabled
/// when no mail address is configured.
QAction* AddSuggestionMailEntry(QMenu* menu, QWidget* owner);

} // namespace quillax
