#include "core/download/DownloadScheduler.h"
#include "core/files/FileNaming.h"
#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/TextUtil.h"
#include "core/store/CrashDebris.h"
#include "core/store/ListStore.h"
#include "core/store/QueueKeeper.h"
#include "platform/QtMessageBoxes.h"
#include "platform/SingleInstance.h"
#include "platform/SoundPlayer.h"
#include "platform/UserDialogs.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fIEcache.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/ProgramIcon.h"
#include "ui/shell/QueueKeeping.h"
#include "ui/shell/WindowHelpers.h"
#include "ui/shell/WindowLinks.h"
#include "ui/shell/fCover.h"

#include <QApplication>
#include <QFileInfo>
#include <QWidget>
#include <unistd.h>

namespace {

// A later start asked for this run: its windows come forward, or the start window when none
// shows (all hidden behind the tray of a desktop, say).
void BringWindowsForward() {
    QWidget* last = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() ||
            !(window->windowType() == Qt::Window || window->windowType() == Qt::Dialog)) {
            continue;
        }
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->raise();
        last = window;
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        last = modal;
        modal->raise();
    }
    if (last == nullptr) {
        if (quillax::fCover* cover = quillax::fCover::instance()) {
            cover->show();
            cover->raise();
            last = cover;
        }
    }
    if (last != nullptr) {
        last->activateWindow();
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (geteuid() == 0) {
        // The browser engine refuses its sandbox to root.
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf8(quillax::config::kProductTitle));
    QApplication::setApplicationName(QString::fromUtf8(quillax::config::kProductTitle));
    QApplication::setApplicationVersion(quillax::config::versionText());
    QGuiApplication::setDesktopFileName(QString::fromUtf8(quillax::config::kExecutableName));
    QApplication::setWindowIcon(quillax::ProgramIcon());
    // The start window ends the program, not the last visible window: a hidden download
    // window may still be at work when the search window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's own buttons and dialogs speak the program's language.
    quillax::InstallChineseTranslations();
    // Open and save dialogs start in the download folder.
    quillax::SetDialogStartFolder(
        [] { return quillax::ExpandHomePath(quillax::Values().SaveFolder); });

    quillax::QtMessageBoxes messageBoxes;
    quillax::SetMessageBoxes(&messageBoxes);

    // One run per data folder: a second start brings the running one forward and ends before it
    // touches the kept queue, which the running one is writing.
    const QString queuePath = quillax::DefaultQueuePath();
    quillax::SingleInstance instance(QFileInfo(queuePath).absolutePath());
    const quillax::InstanceClaim claim = instance.claim();
    if (claim == quillax::InstanceClaim::HandedOver || claim == quillax::InstanceClaim::Running) {
        if (claim == quillax::InstanceClaim::Running) {
            quillax::ShowMessage(QStringLiteral("程序已经在运行。"), quillax::MsgIcon::Information);
        }
        quillax::SetMessageBoxes(nullptr);
        return 0;
    }
    QObject::connect(&instance, &quillax::SingleInstance::comeForwardRequested, &app,
                     &BringWindowsForward);

    // The sound output is looked for in the background, never on the window thread.
    quillax::PrepareSoundOutput();

    // The download window's menu reaches the search window's family through these.
    quillax::Links().openSearchWindow = [] { quillax::OpenSearchWindow(); };
    quillax::Links().clearBrowserCache = [] { quillax::ClearBrowserCache(true); };

    // The lists of the last run, kept on disk: offered back once, then kept as they change.
    quillax::SettingsStore settings;
    quillax::ListStore store;
    quillax::KeptQueue kept;
    if (claim == quillax::InstanceClaim::Ours) {
        kept = quillax::OpenKeptQueue(store, queuePath);
        // What the last run left beside the papers goes before anything downloads: no other run
        // of this data folder writes there now.
        quillax::RemoveCrashDebris(
            kept, {quillax::ExpandHomePath(settings.read(quillax::settings_keys::kSettings,
                                                         quillax::settings_keys::kSaveFolder,
                                                         quillax::DefaultSaveFolder()))});
    } else {
        quillax::ShowMessage(
            QStringLiteral("保存的下载列表暂时无法使用：无法在数据文件夹%1里建立锁文件"
                           "（磁盘已满或不可写入）。\n本次运行不保存下载列表。")
                .arg(QFileInfo(queuePath).absolutePath()),
            quillax::MsgIcon::Warning);
    }
    const quillax::config::KeptQueueChoice choice = quillax::config::keptQueueChoice();
    bool restore = false;
    if (const int unfinished = kept.unfinished(); unfinished > 0) {
        restore =
            choice == quillax::config::KeptQueueChoice::Restore ||
            choice == quillax::config::KeptQueueChoice::RestoreAndStart ||
            (choice == quillax::config::KeptQueueChoice::Ask &&
             quillax::ShowMessage(QStringLiteral("上次有%1项没有完成，要恢复吗？").arg(unfinished),
                                  quillax::MsgIcon::Question,
                                  quillax::MsgButtons::YesNo) == quillax::MsgResult::Yes);
    }
    if (!restore) {
        store.clearAll();
        kept = {};
    }
    quillax::QueueKeeper keeper(store);
    quillax::SetActiveQueueKeeper(&keeper);
    // The first search window takes back the kept analysis list, whoever opens it.
    quillax::SetRecordsToRestore(kept.records);

    int code = 0;
    {
        quillax::fCover cover(settings, quillax::Values());
        cover.setSearchWindowOpener([]() -> QWidget* { return quillax::OpenSearchWindow(); });
        QObject::connect(&cover, &quillax::fCover::closed, &app, &QCoreApplication::quit);
        cover.Form_Load();
        // The kept download items come back at once, in the download window.
        if (!kept.downloads.isEmpty()) {
            quillax::fFileDownload* window = quillax::EnsureDownloadWindow();
            quillax::RestoreKeptQueue({kept.downloads, {}}, &window->list(), nullptr);
            kept.downloads.clear();
            window->show();
            if (choice == quillax::config::KeptQueueChoice::RestoreAndStart) {
                window->scheduler().Start();
            }
        }
        code = QApplication::exec();
    } // the start window takes the work windows still alive with it
    keeper.flushAndWait();
    quillax::SetActiveQueueKeeper(nullptr);
    quillax::SetRecordsToRestore({});
    // Pages, views and then the browser profile go before the application object does.
    quillax::EndBrowserProfile();
    quillax::SetMessageBoxes(nullptr);
    return code;
}
