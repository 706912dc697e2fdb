#pragma once
// Helpers that several windows share: is a window loaded, column widths of a list, the
// striped list background, and the download window's placement.

#include <QLabel>
#include <QString>

class QAbstractItemView;
class QWidget;

namespace quillax {

class SettingsStore;

/// Fits a column to the wider of its contents and its header.
inline constexpr int kFitContentsAndHeader = -2;
/// Fits a column to its contents alone.
inline constexpr int kFitContents = -1;

/// True when a top-level window whose object name equals `name` (ignoring case) exists,
/// shown or hidden.
bool IsWindowLoaded(const QString& name);

/// Sets the width in pixels of column `column` (counted from 1) of a list shown as a table;
/// `kFitContentsAndHeader` and `kFitContents` fit it. Other columns and views are left alone.
void SetListColumnWidth(QAbstractItemView* list, int column, int width);
/// `SetListColumnWidth` for every column in order.
void SetAllListColumnWidths(QAbstractItemView* list, int width);

/// Gives a list its striped rows: light green (231, 248, 237) and white, starting with green.
void PaintListStripes(QAbstractItemView* list);

/// A status-bar text that never widens its window: shown elided to the room it has, whole in
/// its tool tip. Read it back with `fullText`.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    QString fullText() const { return full_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showElided();
    QString full_;
};

/// Loads Qt's own Chinese texts (OK, Cancel, Yes, No, the file dialogs) into the application:
/// everything else the user sees is Chinese. False when the translations are not installed.
bool InstallChineseTranslations();

/// "1920*1080" for the screen that shows `window` (the primary screen when it has none).
QString ScreenResolutionText(const QWidget* window);
/// Stores the window's place in the section named after the window.
void SaveWindowPlacement(SettingsStore& store, QWidget* window);
/// Restores the stored place when the screen resolution is unchanged; else shows maximised.
void RestoreWindowPlacement(const SettingsStore& store, QWidget* window);

} // namespace quillax
