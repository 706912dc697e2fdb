#include "E2eSupport.h"

#include "core/download/DownloadScheduler.h"
#include "platform/DomDocument.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/fCover.h"
#include "ui/shell/fSeleFileSavePath.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace quillax::e2e {

namespace {
constexpr int kPageLimitMs = 30'000;
} // namespace

QString StoredName(int record) {
    // The demo's titles, cleaned for the file system: ASCII \ / : * ? " < > | go, full-width
    // marks stay, the title is one line, and at most 200 UTF-8 bytes are kept.
    static const QHash<int, QString> names = {
        {1, QStringLiteral("Preprint servers in linguistics a systematic review (no. 1)")},
        {2, QStringLiteral("引文网络对材料科学的影响研究（第2号）")},
        {3, QStringLiteral("Risk AB testing  why draft  final in citation studies")},
        {5, QStringLiteral("A very long title about the measurement of research impact across "
                           "disciplines, countries and decades, with notes on data quality, "
                           "coverage of the indexes, field normalisation and the limits of every "
                           "s")},
        {7, QStringLiteral("Editorial notes on open citation data")},
        {9, QStringLiteral("Book Review")},
        {10, QStringLiteral("Book Review")},
        {11, QStringLiteral("Bibliometric indicators in medicine a case study (no. 11)")},
        {12, QStringLiteral("数字图书馆：读者行为分析调查？“问卷”与访谈")},
        {13, QStringLiteral(
                 "Library discovery systems in medicine evidence from survey data (no. 13)")},
        {14, QStringLiteral("数字阅读行为对高等教育的影响研究（第14号）")},
        {15, QStringLiteral("Preprint servers in economics evidence from survey data (no. 15)")},
        {16, QStringLiteral("学术交流模式对医学研究的影响研究（第16号）")},
        {17, QStringLiteral("Peer review in economics a systematic review (no. 17)")},
        {18, QStringLiteral("科研数据共享对心理学的影响研究（第18号）")},
        {19, QStringLiteral("Scholarly communication in economics a longitudinal study (no. 19)")},
        {20, QStringLiteral("引文网络对计算机科学的影响研究（第20号）")},
        {22, QStringLiteral("图书馆发现系统对经济学的影响研究（第22号）")},
        {23, QStringLiteral(
                 "Open access publishing in materials science a comparative analysis (no. 23)")},
        {24, QStringLiteral("数字阅读行为对高等教育的影响研究（第24号）")},
    };
    const auto it = names.constFind(record);
    if (it == names.constEnd()) {
        ADD_FAILURE() << "no written-out name for record " << record;
        return {};
    }
    return *it;
}

QAction* MenuEntry(QMainWindow* window, const QStringList& path) {
    if (window == nullptr || path.isEmpty()) {
        return nullptr;
    }
    QList<QAction*> actions = window->menuBar()->actions();
    for (qsizetype i = 0; i < path.size(); ++i) {
        QAction* found = nullptr;
        for (QAction* action : actions) {
            if (action->text() == path[i]) {
                found = action;
                break;
            }
        }
        if (found == nullptr || i + 1 == path.size()) {
            return found;
        }
        if (found->menu() == nullptr) {
            return nullptr;
        }
        actions = found->menu()->actions();
    }
    return nullptr;
}

QByteArray FileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

QVector<int> ItemRecords(const QVector<int>& records) {
    QVector<int> out;
    for (int n : records) {
        const demo::DemoRecord r = demo::RecordAt(n);
        if (r.fullText != demo::FullText::Pdf || !r.hasPdfUrl) {
            continue;
        }
        // A PDF that an earlier record already brought is the same item.
        if (r.pdfNumber != n && records.contains(r.pdfNumber)) {
            continue;
        }
        out << n;
    }
    return out;
}

ProgramRun::ProgramRun(const demo::DemoOptions& options)
    : site_(std::make_unique<demo::DemoSite>(options)) {
    savedValues_ = Values();
    if (!site_->start()) {
        ADD_FAILURE() << "the demo site did not start";
    }
    qputenv("QUILLAX_SEARCH_HOME", site_->baseUrl().toUtf8());
    // The same settings file the program's windows read: the chooser is to be asked.
    settings_ = std::make_unique<SettingsStore>();
    // The chooser is modal: it is answered from a timer while the button that opened it waits.
    chooserWatch_.setInterval(50);
    QObject::connect(&chooserWatch_, &QTimer::timeout, [this] {
        auto* chooser = qobject_cast<fSeleFileSavePath*>(QApplication::activeModalWidget());
        if (chooser == nullptr || !chooser->isVisible()) {
            return;
        }
        ++choosersAnswered;
        chooser->folderBox()->setEditText(chooserFolder);
        for (QPushButton* button : chooser->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("确定")) {
                QTest::mouseClick(button, Qt::LeftButton);
                break;
            }
        }
    });
    chooserWatch_.start();
    settings_->write(settings_keys::kSettings, settings_keys::kPromptSavePath, QStringLiteral("1"));
}

ProgramRun::~ProgramRun() {
    if (fFileDownload* downloads = LoadedDownloadWindow()) {
        boxes.answer = MsgResult::Yes;
        downloads->close();
    }
    if (fWebSearch* search = LoadedSearchWindow()) {
        search->close();
    }
    // Let the closed windows return from their loops and delete themselves.
    EXPECT_TRUE(QTest::qWaitFor([] { return LoadedDownloadWindow() == nullptr; }, 5000))
        << "the download window did not close";
    QTest::qWait(100);
    cover_.reset();
    Values() = savedValues_;
    qunsetenv("QUILLAX_SEARCH_HOME");
}

fWebSearch* ProgramRun::searchWindow() const {
    return LoadedSearchWindow();
}

QPushButton* ProgramRun::searchButton(const char* name) const {
    fWebSearch* w = searchWindow();
    return w != nullptr ? w->findChild<QPushButton*>(QString::fromLatin1(name)) : nullptr;
}

QPushButton* ProgramRun::downloadButton(fFileDownload* window, const char* name) const {
    return window != nullptr ? window->findChild<QPushButton*>(QString::fromLatin1(name)) : nullptr;
}

bool ProgramRun::waitForPage(const std::function<bool(const QString&)>& accept) {
    return QTest::qWaitFor(
        [&] {
            fWebSearch* w = searchWindow();
            if (w == nullptr || w->browser()->Busy() || !accept(w->browser()->url().toString())) {
                return false;
            }
            // The demo pages mark their end once the whole document is there.
            const QVariant ready = RunJavaScriptSync(
                w->browser()->browserPage(),
                QStringLiteral("document.body ? document.body.getAttribute('data-ready') : ''"),
                2000);
            return ready.toString() == QLatin1String("1");
        },
        kPageLimitMs);
}

bool ProgramRun::startAndOpenSearch() {
    cover_ = std::make_unique<fCover>(*settings_, Values());
    cover_->setSearchWindowOpener([]() -> QWidget* { return OpenSearchWindow(); });
    cover_->Form_Load();
    if (!QTest::qWaitFor([this] { return cover_->isLoadFinished(); }, 20'000)) {
        ADD_FAILURE() << "the start window did not finish loading";
        return false;
    }
    auto* open = cover_->findChild<QPushButton*>(QStringLiteral("Command1"));
    if (open == nullptr || open->text() != QStringLiteral("资料检索下载") || !open->isEnabled()) {
        ADD_FAILURE() << "no enabled 资料检索下载 button";
        return false;
    }
    QTest::mouseClick(open, Qt::LeftButton);
    const QString home = site_->baseUrl();
    if (!waitForPage([&](const QString& url) { return url == home; })) {
        ADD_FAILURE() << "the search window did not show the home page";
        return false;
    }
    return true;
}

bool ProgramRun::search() {
    const DomDocument doc = searchWindow()->browser()->Document();
    const DomHandle button = doc.getElementById(QStringLiteral("SearchButton"));
    if (button == kNoElement || !doc.click(button)) {
        ADD_FAILURE() << "no 检索 button on the home page";
        return false;
    }
    return waitForPage([](const QString& url) { return url.contains(QLatin1String("/results")); });
}

bool ProgramRun::followResultLink(const QString& part) {
    const QString script =
        QStringLiteral(
            "(function(){var a=Array.prototype.find.call(document.links,"
            "function(l){return l.href.indexOf('%1')>=0;});"
            "if(!a){return false;} setTimeout(function(){a.click();},0); return true;})()")
            .arg(part);
    // The page may still be on its way: the link is looked for until it is there.
    const bool clicked = QTest::qWaitFor(
        [&] {
            return RunJavaScriptSync(searchWindow()->browser()->browserPage(), script).toBool();
        },
        20'000);
    if (!clicked) {
        ADD_FAILURE() << "no link to " << part.toStdString();
        return false;
    }
    return waitForPage([&](const QString& url) { return url.contains(part); });
}

fFileDownload* ProgramRun::analyse() {
    QTest::mouseClick(searchButton("Command2"), Qt::LeftButton); // returns when analysed
    return LoadedDownloadWindow();
}

bool ProgramRun::downloadAll(fFileDownload* window, int limitMs) {
    QTest::mouseClick(downloadButton(window, "Command4"), Qt::LeftButton);
    return waitForDownloads(window, limitMs);
}

bool ProgramRun::waitForDownloads(fFileDownload* window, int limitMs) {
    return QTest::qWaitFor(
        [window] {
            return !window->scheduler().isRunning() && !window->downloadRunning() &&
                   window->list().检测是否下载列表完毕();
        },
        limitMs);
}

void CheckStoredRun(fFileDownload& window, demo::DemoSite& site, const QString& folder,
                    const QVector<int>& records) {
    const DownloadListModel& list = window.list();
    const QVector<int> items = ItemRecords(records);
    EXPECT_EQ(list.count(), items.size());
    const QString dir = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    QSet<QString> expectedFiles;
    QStringList sameTitleNames;
    for (int n : items) {
        SCOPED_TRACE(QStringLiteral("record %1").arg(n).toStdString());
        const demo::DemoRecord r = demo::RecordAt(n);
        const int row = list.rowOfKey(site.pdfAddress(n));
        ASSERT_GE(row, 0);
        const DownloadItem& item = list.item(row);
        const QString texts = QStringList{item.size, item.received, item.percent}.join(u'|');
        const QString path = dir + item.name + QLatin1Char('.') + item.type;
        switch (r.delivery) {
        case demo::Delivery::NotFound:
        case demo::Delivery::Truncated:
            EXPECT_EQ(item.status, ItemStatus::Failed) << texts.toStdString();
            // Nothing of the broken transfer stays under the row's name.
            EXPECT_FALSE(QFile::exists(path)) << path.toStdString();
            EXPECT_FALSE(QFile::exists(dir + StoredName(n) + QStringLiteral(".pdf")));
            EXPECT_EQ(item.size, QStringLiteral("下载失败"));
            if (r.delivery == demo::Delivery::NotFound) {
                EXPECT_EQ(item.reason, QStringLiteral("服务器返回404"));
            }
            break;
        default:
            EXPECT_EQ(item.status, ItemStatus::Finished) << texts.toStdString();
            EXPECT_EQ(item.type, QStringLiteral("pdf"));
            EXPECT_EQ(item.folder, dir);
            if (n == 9 || n == 10) {
                sameTitleNames << item.name;
            } else {
                EXPECT_EQ(item.name, StoredName(n));
            }
            EXPECT_EQ(FileHash(path), QCryptographicHash::hash(demo::PdfBytes(r.pdfNumber),
                                                               QCryptographicHash::Sha256)
                                          .toHex())
                << path.toStdString();
            expectedFiles.insert(path);
            break;
        }
    }
    // The two records with one title under 重命名: two files, two names.
    const bool bothSameTitles = items.contains(9) && items.contains(10);
    const QStringList sameTitleExpected =
        bothSameTitles
            ? QStringList{QStringLiteral("Book Review"), QStringLiteral("Book Review[001]")}
        : items.contains(9) || items.contains(10) ? QStringList{QStringLiteral("Book Review")}
                                                  : QStringList();
    sameTitleNames.sort();
    EXPECT_EQ(sameTitleNames, sameTitleExpected);
    // Nothing else in the folder: no part file, no placeholder, no page stored for a PDF.
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        EXPECT_TRUE(expectedFiles.contains(file)) << "left in the folder: " << file.toStdString();
    }
    // The status bar and the row count say what the rows say.
    const StatusCounts counts = list.statusCounts();
    int finished = 0;
    int failed = 0;
    for (int row = 0; row < list.count(); ++row) {
        finished += list.item(row).status == ItemStatus::Finished ? 1 : 0;
        failed += list.item(row).status == ItemStatus::Failed ? 1 : 0;
    }
    EXPECT_EQ(counts.finished, finished);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window.statusPanelText(4) == list.summaryText(); }, 3000));
    EXPECT_EQ(window.statusPanelText(4),
              QStringLiteral("总数:%1 正在下载:0 等待:0 已完成:%2 失败:%3")
                  .arg(list.count())
                  .arg(finished)
                  .arg(failed));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("%1条").arg(list.count()));
}

} // namespace quillax::e2e
