#pragma once
// What the end-to-end tests share: a run of the program in this process (start window, search
// window, download window) against an in-process demo site, driven through the real controls,
// and the check of what a download run left on disk.

#include "DemoSite.h"
#include "TestSupport.h"

#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "platform/UserDialogs.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <optional>

class QAction;
class QMainWindow;
class QPushButton;

namespace quillax {
class fCover;
class fWebSearch;
class fFileDownload;
} // namespace quillax

namespace quillax::e2e {

/// The file name the demo title of `record` (1 to 24) must give, written out. Records 9 and 10
/// share the title "Book Review": the name given here is the plain one.
QString StoredName(int record);

/// The entry reached through `path` of menu texts in the window's menu bar (the first text names
/// the menu bar's entry), or nullptr.
QAction* MenuEntry(QMainWindow* window, const QStringList& path);

/// SHA-256 of a whole file, or empty when it cannot be read.
QByteArray FileHash(const QString& path);

/// Answers the file dialogs: every save goes to `savePath`; the filter asked for is kept.
class SaveDialogs final : public UserDialogs {
public:
    SaveDialogs() { previous_ = SetDialogs(this); }
    ~SaveDialogs() override { SetDialogs(previous_); }
    QString saveFileName(QWidget*, const QString& filter, const QString&) override {
        lastFilter = filter;
        return savePath;
    }
    QString openFileName(QWidget*, const QString&) override { return {}; }
    QString folder(QWidget*, const QString&, const QString&) override { return {}; }
    std::optional<QString> text(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    QString savePath;
    QString lastFilter;

private:
    UserDialogs* previous_ = nullptr;
};

/// The program as a user starts it: settings in a folder of the test, the start window loaded,
/// 资料检索下载 opening the real search window on the demo site's home page.
class ProgramRun {
public:
    explicit ProgramRun(const demo::DemoOptions& options);
    ~ProgramRun();

    /// Start window loaded, 资料检索下载 clicked, the search window on the home page.
    bool startAndOpenSearch();
    /// Presses the home page's 检索 button and waits for the first result page.
    bool search();
    /// Clicks a link of the result page whose address contains `part` and waits for the page.
    bool followResultLink(const QString& part);
    /// Clicks 分析下载 and returns the download window it shows.
    fFileDownload* analyse();
    /// Clicks 开始下载 and waits until every row has ended and nothing runs any more.
    bool downloadAll(fFileDownload* window, int limitMs);
    /// Waits until every row has ended and nothing runs any more.
    static bool waitForDownloads(fFileDownload* window, int limitMs);

    QPushButton* searchButton(const char* name) const;
    QPushButton* downloadButton(fFileDownload* window, const char* name) const;

    demo::DemoSite& site() { return *site_; }
    fCover& cover() { return *cover_; }
    fWebSearch* searchWindow() const;
    QString folder(const QString& name) const { return home_.path() + QLatin1Char('/') + name; }

    /// Every save-folder chooser that opens is answered with this folder.
    QString chooserFolder;
    int choosersAnswered = 0;
    test::RecordingMessageBoxes boxes;
    test::RecordingShell shell;
    test::RecordingSounds sounds;

private:
    bool waitForPage(const std::function<bool(const QString&)>& accept);

    QTemporaryDir home_;
    QTimer chooserWatch_;
    std::unique_ptr<demo::DemoSite> site_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<fCover> cover_;
    AppValues savedValues_;
};

/// What one download run left: one row per record with a PDF, each finished as a PDF named
/// after its cleaned title with the site's exact bytes, or failed as the site's faults demand;
/// nothing else in the folder; the status bar agreeing with the rows. `records` is the set of
/// record numbers that were analysed.
void CheckStoredRun(fFileDownload& window, demo::DemoSite& site, const QString& folder,
                    const QVector<int>& records);

/// Records analysed from `records` that end up as download items (a PDF address of their own).
QVector<int> ItemRecords(const QVector<int>& records);

} // namespace quillax::e2e
