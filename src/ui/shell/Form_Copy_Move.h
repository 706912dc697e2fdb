#pragma once
// The copy files dialog: copies a list of files into one destination folder, with a choice of
// what to do when a file of the same name is already there, and a progress bar. The cache
// viewer hands it the files to copy.

#include <QDialog>
#include <QStringList>
#include <array>
#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace quillax {

class SettingsStore;

/// Shows the dialog modal over `parent` for copying `files`, captioned with their number.
void ShowCopyFilesDialog(QWidget* parent, const QStringList& files);

class Form_Copy_Move : public QDialog {
    Q_OBJECT
public:
    /// Loads the remembered folders and the stored destination and option. `store` (not owned)
    /// and `folderListPath` replace the user's settings and SaveList.dat when given.
    explicit Form_Copy_Move(QWidget* parent = nullptr, SettingsStore* store = nullptr,
                            const QString& folderListPath = QString());
    ~Form_Copy_Move() override;

    /// One run over `FileList`; while a run is under way, stops it instead.
    void 执行();

    /// The source files, filled by the caller; emptied when the dialog closes.
    QStringList FileList;
    /// The destination folder of the last run, ending in "/".
    QString DestFolder;
    /// The same-name option, 1 to 5.
    int OpIndex = 4;
    /// True while a run is under way.
    bool Copying = false;

    QComboBox* destinationBox() const { return Combo1; }
    QPushButton* startButton() const { return Command1; }
    QRadioButton* optionButton(int index) const { return Option1.at(index - 1); }
    QProgressBar* progressBar() const { return ProgressBar1; }
    QLabel* currentFileLabel() const { return Label3; }
    QPushButton* browseButton() const { return Command3; }

Q_SIGNALS:
    /// A file's name is shown (1-based position); the event queue runs right after.
    void fileShown(int position);

protected:
    void done(int result) override;

private:
    void browse();

    std::unique_ptr<SettingsStore> ownStore_;
    SettingsStore* store_ = nullptr;
    QString folderListPath_;
    bool running_ = false;

    QLabel* Label1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* Command3 = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 5> Option1{};
    QLabel* Label2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
};

} // namespace quillax
