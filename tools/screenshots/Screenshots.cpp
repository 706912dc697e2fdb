// Walks through a researcher's session against an in-process demo site and grabs each window
// into a PNG for the user's guide: start window, search window with results and analysis,
// save-folder chooser, download window with rows in several states, login panel, options,
// about box, cache viewer and copy dialog.

#include "DemoSite.h"

#include "core/download/DownloadScheduler.h"
#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "platform/DomDocument.h"
#include "platform/MessageBoxes.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fIEcache.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/Form_Copy_Move.h"
#include "ui/shell/fCover.h"
#include "ui/shell/fOption.h"
#include "ui/shell/fSeleFileSavePath.h"
#include "ui/shell/frmAbout.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <functional>
#include <unistd.h>

using namespace quillax;

namespace {

QString g_out;
int g_failures = 0;

void fail(const QString& what) {
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(what));
    ++g_failures;
}

/// Message boxes never block the walk: questions are answered yes, the text is logged.
class AnsweringBoxes final : public MessageBoxes {
public:
    MsgResult show(const QString& text, MsgIcon, MsgButtons buttons) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Yes;
    }
};

bool waitFor(const std::function<bool()>& done, int limitMs) {
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void pause(int ms) {
    waitFor([] { return false; }, ms);
}

void save(QWidget* window, const QString& name) {
    if (window == nullptr) {
        fail(QStringLiteral("no window for ") + name);
        return;
    }
    pause(300); // the last paints and the browser's frame
    const QString path = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!window->grab().save(path)) {
        fail(QStringLiteral("cannot write ") + path);
    } else {
        std::fprintf(stderr, "wrote %s\n", qPrintable(path));
    }
}

/// Grabs the modal dialog that `open` shows, then closes it.
void saveModal(const QString& name, const std::function<void()>& open) {
    QTimer::singleShot(800, [name] {
        QWidget* dialog = QApplication::activeModalWidget();
        save(dialog, name);
        if (auto* d = qobject_cast<QDialog*>(dialog)) {
            d->reject();
        } else if (dialog != nullptr) {
            dialog->close();
        }
    });
    open();
}

bool pageReady(WebBrowser* browser, const QString& urlPart) {
    return waitFor(
        [&] {
            if (browser->Busy() || !browser->url().toString().contains(urlPart)) {
                return false;
            }
            return RunJavaScriptSync(
                       browser->browserPage(),
                       QStringLiteral("document.body ? "
                                      "document.body.getAttribute('data-ready') : ''"),
                       2000)
                       .toString() == QLatin1String("1");
        },
        30'000);
}

QPushButton* button(QWidget* window, const char* name) {
    return window->findChild<QPushButton*>(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillax-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // A home of its own: settings, browser profile and downloads of the walk stay out of the
    // user's.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quillax-screenshots-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CACHE_HOME");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf8(config::kProductTitle));
    QApplication::setApplicationName(QString::fromUtf8(config::kProductTitle));
    QApplication::setQuitOnLastWindowClosed(false);
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    QApplication::setFont(font);
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(g_out);

    AnsweringBoxes boxes;
    SetMessageBoxes(&boxes);

    demo::DemoOptions options;
    options.records = 24;
    options.perPage = 8;
    options.loginGate = false;
    options.slowRecordMs = 500;
    options.dripIntervalMs = 20;
    demo::DemoSite site(options);
    if (!site.start()) {
        fail(QStringLiteral("the demo site did not start"));
        return 1;
    }
    qputenv("QUILLAX_SEARCH_HOME", site.baseUrl().toUtf8());
    const QString papers = home.path() + QStringLiteral("/Papers");

    SettingsStore settings;
    settings.write(settings_keys::kSettings, settings_keys::kPromptSavePath, QStringLiteral("1"));
    {
        fCover cover(settings, Values());
        cover.setSearchWindowOpener([]() -> QWidget* { return OpenSearchWindow(); });
        cover.Form_Load();
        waitFor([&] { return cover.isLoadFinished(); }, 20'000);
        save(&cover, QStringLiteral("start-window"));

        // The search window: the home page, a search, every result page, the analysis.
        button(&cover, "Command1")->click();
        fWebSearch* search = LoadedSearchWindow();
        if (search == nullptr || !pageReady(search->browser(), site.baseUrl())) {
            fail(QStringLiteral("the search window did not open the home page"));
            return 1;
        }
        search->resize(1200, 820);
        const DomDocument doc = search->browser()->Document();
        doc.click(doc.getElementById(QStringLiteral("SearchButton")));
        pageReady(search->browser(), QStringLiteral("/results"));
        search->findChild<QComboBox*>(QStringLiteral("Combo2"))->setCurrentIndex(0);
        bool chooserSaved = false;
        QTimer chooserWatch;
        chooserWatch.setInterval(100);
        QObject::connect(&chooserWatch, &QTimer::timeout, [&] {
            auto* chooser = qobject_cast<fSeleFileSavePath*>(QApplication::activeModalWidget());
            if (chooser == nullptr || chooserSaved) {
                return;
            }
            chooserSaved = true;
            chooser->folderBox()->setEditText(papers);
            save(chooser, QStringLiteral("save-folder-chooser"));
            chooser->确定();
        });
        chooserWatch.start();
        // The chooser asks for the folder when the pages are taken.
        button(search, "Command4")->click(); // returns when every page is taken
        button(search, "Command2")->click(); // returns when every record is analysed
        chooserWatch.stop();
        fFileDownload* downloads = LoadedDownloadWindow();
        if (downloads == nullptr) {
            fail(QStringLiteral("no download window after the analysis"));
            return 1;
        }
        search->listView()->scrollToBottom();
        save(search, QStringLiteral("search-window"));

        // The download window: a run under method 2 with three threads, then the 404 row put
        // back into the queue, so finished, failed and waiting rows show together.
        downloads->resize(1100, 720);
        downloads->findChild<QRadioButton*>(QStringLiteral("Option3"))->setChecked(true);
        if (downloads->options().method != 2) {
            button(downloads, "Command26")->click();
        }
        downloads->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(2);
        button(downloads, "Command4")->click();
        waitFor(
            [&] {
                return !downloads->scheduler().isRunning() && !downloads->downloadRunning() &&
                       downloads->list().检测是否下载列表完毕();
            },
            120'000);
        const int retry = downloads->list().rowOfKey(site.pdfAddress(15));
        downloads->itemDoubleClicked(retry);
        downloads->显示下载统计();
        downloads->listView()->scrollTo(downloads->list().index(retry, 0));
        save(downloads, QStringLiteral("download-window"));

        saveModal(QStringLiteral("options-dialog"),
                  [&] { fOption::Show(downloads, settings, Values()); });
        saveModal(QStringLiteral("about-box"), [&] { ShowAboutBox(downloads); });

        QStringList stored;
        for (int row = 0; row < downloads->list().count(); ++row) {
            const DownloadItem& item = downloads->list().item(row);
            if (item.status == ItemStatus::Finished) {
                stored << item.folder + item.name + QLatin1Char('.') + item.type;
            }
        }
        saveModal(QStringLiteral("copy-dialog"),
                  [&] { ShowCopyFilesDialog(downloads, stored.mid(0, 6)); });
        {
            fIEcache cache(downloads);
            cache.resize(900, 560);
            cache.show();
            cache.Command1_Click();
            save(&cache, QStringLiteral("cache-viewer"));
            cache.close();
        }

        // The login panel over the list, filled in, showing the site's login page.
        button(downloads, "Command1")->click();
        LoginPanel* panel = downloads->loginPanel();
        panel->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(site.loginUrl());
        panel->findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(site.options().account);
        panel->findChild<QLineEdit*>(QStringLiteral("Text3"))->setText(site.options().password);
        panel->findChild<QCheckBox*>(QStringLiteral("Check2"))->click();
        panel->浏览();
        pageReady(panel->browser(), QStringLiteral("/login"));
        save(downloads, QStringLiteral("login-panel"));
        panel->关闭();

        downloads->close();
        search->close();
        waitFor([] { return LoadedDownloadWindow() == nullptr && LoadedSearchWindow() == nullptr; },
                10'000);
        pause(300);
        cover.close();
    }
    SetMessageBoxes(nullptr);
    return g_failures == 0 ? 0 : 1;
}
