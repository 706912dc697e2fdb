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
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace quillax::e2e {

namespace {
constexpr int kPageLimitMs = 30'000;
} // namespace

QString ExpectedName(int record) {
    QString name = demo::RecordAt(record).title;
    name.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    name = name.simplified();
    for (const QChar c : {u'\\', u'/', u':', u'*', u'?', u'"', u'<', u'>', u'|'}) {
        name.remove(c);
    }
    while (name.startsWith(QLatin1Char('.'))) {
        name.remove(0, 1);
    }
    while (name.endsWith(QLatin1Char('.'))) {
        name.chop(1);
    }
    while (name.toUtf8().size() > 200) {
        name.chop(1);
    }
    return name;
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
    (void)QTest::qWaitFor([] { return LoadedDownloadWindow() == nullptr; }, 5000);
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
            EXPECT_FALSE(QFile::exists(dir + ExpectedName(n) + QStringLiteral(".pdf")));
            if (r.delivery == demo::Delivery::NotFound) {
                EXPECT_TRUE(texts.contains(QLatin1String("404")) ||
                            texts.contains(status_words::kFailed))
                    << "the row does not say why: " << texts.toStdString();
            }
            break;
        default:
            EXPECT_EQ(item.status, ItemStatus::Finished) << texts.toStdString();
            EXPECT_EQ(item.type, QStringLiteral("pdf"));
            EXPECT_EQ(item.folder, dir);
            if (r.title == demo::RecordAt(9).title) {
                sameTitleNames << item.name;
            } else {
                EXPECT_EQ(item.name, ExpectedName(n));
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
    if (sameTitleNames.size() == 2) {
        EXPECT_EQ(sameTitleNames.count(ExpectedName(9)), 1)
            << sameTitleNames.join(u',').toStdString();
        EXPECT_NE(sameTitleNames[0], sameTitleNames[1]);
        EXPECT_TRUE(sameTitleNames[0].startsWith(ExpectedName(9)));
        EXPECT_TRUE(sameTitleNames[1].startsWith(ExpectedName(9)));
    }
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
    (void)QTest::qWaitFor([&] { return window.statusPanelText(4) == list.summaryText(); }, 3000);
    EXPECT_EQ(window.statusPanelText(4),
              QStringLiteral("总数:%1 正在下载:0 等待:0 已完成:%2 失败:%3")
                  .arg(list.count())
                  .arg(finished)
                  .arg(failed));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("%1条").arg(list.count()));
}

} // namespace quillax::e2e
