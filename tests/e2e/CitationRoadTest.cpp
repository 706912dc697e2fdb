// Citations on the whole road: every result page of the demo site taken, analysed and downloaded
// through the real windows, then 导出引文 (RIS) and (BibTeX) from the download window's menu. The
// RIS file is read back and compared with the site's records field by field, each attached PDF
// by its SHA-256; the BibTeX file is read by Debian's BibTeX parser.

#include "E2eSupport.h"

#include "core/download/DownloadScheduler.h"
#include "core/download/PdfChecks.h"
#include "core/files/FileNaming.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::e2e;

namespace {

/// One RIS record: each tag's values in order.
using RisRecord = QHash<QString, QStringList>;

/// A small RIS reader: "TY  - " opens a record, "ER  - " closes it; every line must end with
/// CR LF and have the "XX  - " form.
QList<RisRecord> ReadRis(const QByteArray& bytes) {
    QList<RisRecord> records;
    RisRecord current;
    bool open = false;
    const QString text = QString::fromUtf8(bytes);
    EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n")) << "a line without CR LF";
    for (const QString& line : text.split(QStringLiteral("\r\n"))) {
        if (line.isEmpty()) {
            continue;
        }
        EXPECT_TRUE(line.size() >= 6 && line.mid(2, 4) == QLatin1String("  - "))
            << line.toStdString();
        const QString tag = line.left(2);
        const QString value = line.mid(6);
        if (tag == QLatin1String("TY")) {
            EXPECT_FALSE(open) << "TY inside a record";
            current = RisRecord();
            open = true;
        } else if (tag == QLatin1String("ER")) {
            EXPECT_TRUE(open) << "ER without TY";
            records << current;
            open = false;
            continue;
        }
        current[tag] << value;
    }
    EXPECT_FALSE(open) << "the last record is not closed";
    return records;
}

int RecordOfLink(const QString& link) {
    const qsizetype at = link.indexOf(QLatin1String("rec="));
    return at < 0 ? 0 : link.mid(at + 4).section(QLatin1Char('&'), 0, 0).toInt();
}

/// What the RIS record of site record `n` must hold.
void ExpectRecordAsOnTheSite(const RisRecord& ris, int n) {
    const demo::DemoRecord r = demo::RecordAt(n);
    const bool nothing = r.citationSource == demo::CitationSource::Nothing;
    const auto one = [&ris](const char* tag) { return ris.value(QLatin1String(tag)).value(0); };
    EXPECT_EQ(ris.value(QStringLiteral("TY")), QStringList{QStringLiteral("JOUR")});
    EXPECT_EQ(one("TI"), r.title.simplified());
    // Every source gives the authors in the same order: the page's tags in either name order,
    // the result line, or (for the record with neither) the PDF's metadata.
    EXPECT_EQ(ris.value(QStringLiteral("AU")), r.authors);
    EXPECT_EQ(one("PY"), nothing ? QString() : QString::number(r.year));
    EXPECT_EQ(one("JO"), nothing ? QString() : r.journal);
    EXPECT_EQ(one("VL"), nothing ? QString() : r.volume);
    EXPECT_EQ(one("IS"), nothing ? QString() : r.issue);
    EXPECT_EQ(one("SP"), nothing ? QString() : QString::number(r.firstPage));
    EXPECT_EQ(one("EP"), nothing ? QString() : QString::number(r.lastPage));
    const bool tagged = r.citationSource == demo::CitationSource::MetaTags ||
                        r.citationSource == demo::CitationSource::DublinCore;
    EXPECT_EQ(one("DO"), tagged ? r.doi : QString());
    EXPECT_EQ(one("SN"), r.citationSource == demo::CitationSource::MetaTags ? r.issn : QString());
    EXPECT_TRUE(one("UR").startsWith(QLatin1String("http://127.0.0.1:")))
        << one("UR").toStdString();
}

/// Reads a BibTeX file with Debian's parser; its entries as JSON objects.
QJsonArray ParseBibTex(const QString& path) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"PY(
import json, sys
import bibtexparser
with open(sys.argv[1], encoding="utf-8") as f:
    db = bibtexparser.load(f)
print(json.dumps(db.entries, ensure_ascii=False))
)PY"),
                                                      path});
    EXPECT_TRUE(python.waitForFinished(60'000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

/// The text a BibTeX value stands for, for the few escapes the demo's fields need.
QString Unescaped(QString value) {
    value.replace(QLatin1String("\\textbackslash{}"), QLatin1String("\\"));
    for (const char* c : {"&", "%", "$", "#", "_"}) {
        value.replace(QLatin1String("\\") + QLatin1String(c), QLatin1String(c));
    }
    return value;
}

/// The download window with 列表操作 open at 导出引文 (RIS), as the user sees it.
void SaveGuidePicture(fFileDownload* window, const QString& path) {
    window->resize(1000, 620);
    QMenuBar* bar = window->menuBar();
    QAction* listAction = MenuEntry(window, {QStringLiteral("列表操作(&D)")});
    QAction* risAction =
        MenuEntry(window, {QStringLiteral("列表操作(&D)"), QStringLiteral("导出引文 (RIS)")});
    ASSERT_TRUE(listAction != nullptr && risAction != nullptr);
    QMenu* menu = listAction->menu();
    QMenu* sub = risAction->menu();
    const QPoint at = bar->mapTo(window, bar->actionGeometry(listAction).bottomLeft());
    menu->popup(window->mapToGlobal(at));
    menu->setActiveAction(risAction);
    sub->popup(menu->mapToGlobal(menu->actionGeometry(risAction).topRight()));
    QTest::qWait(300);
    QPixmap shot = window->grab();
    QPainter painter(&shot);
    painter.drawPixmap(at, menu->grab());
    painter.drawPixmap(at + QPoint(menu->width() - 2, menu->actionGeometry(risAction).top()),
                       sub->grab());
    painter.end();
    sub->hide();
    menu->hide();
    EXPECT_TRUE(shot.save(path));
}

} // namespace

TEST(CitationRoad, BothExportsCarryTheSiteRecordsAndTheirStoredPdfs) {
    demo::DemoOptions options;
    options.records = 24; // every citation source and every fault of the site
    options.perPage = 8;
    options.loginGate = false;
    options.slowRecordMs = 300;
    options.dripIntervalMs = 20;
    ProgramRun run(options);
    SaveDialogs dialogs;
    ASSERT_TRUE(run.startAndOpenSearch());
    ASSERT_TRUE(run.search());
    run.chooserFolder = run.folder(QStringLiteral("papers"));
    auto* delay = run.searchWindow()->findChild<QComboBox*>(QStringLiteral("Combo2"));
    delay->setCurrentIndex(delay->findText(QStringLiteral("0")));
    QTest::mouseClick(run.searchButton("Command4"), Qt::LeftButton); // 加入全部到列表
    fFileDownload* downloads = run.analyse();
    ASSERT_NE(downloads, nullptr);
    ASSERT_TRUE(run.downloadAll(downloads, 120'000));
    // The record that has no citation on its pages gets its authors from its PDF's check.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return downloads->scheduler().pdfChecks().running() == 0; }, 30'000));

    const DownloadListModel& list = downloads->list();
    QHash<int, int> rowOfRecord;
    for (int row = 0; row < list.count(); ++row) {
        rowOfRecord.insert(RecordOfLink(list.item(row).referrer), row);
    }
    // Records 11 and 22 have only the result line, 13 nothing, 14 only Dublin Core.
    for (int n : {11, 13, 14, 22}) {
        ASSERT_TRUE(rowOfRecord.contains(n)) << n;
    }

    const QString listMenu = QStringLiteral("列表操作(&D)");
    const auto exportWith = [&](const QString& menu, const QString& which, const QString& file) {
        dialogs.savePath = run.folder(file);
        QAction* entry = MenuEntry(downloads, {listMenu, menu, which});
        EXPECT_NE(entry, nullptr) << menu.toStdString() << " → " << which.toStdString();
        if (entry != nullptr) {
            entry->trigger();
        }
        return test::ReadFile(dialogs.savePath);
    };

    // RIS of every row: one record per row in list order, each as on the site; the finished
    // rows' PDFs attached, whole.
    const QList<RisRecord> all = ReadRis(exportWith(
        QStringLiteral("导出引文 (RIS)"), QStringLiteral("全部"), QStringLiteral("all.ris")));
    EXPECT_EQ(dialogs.lastFilter, QStringLiteral("*.ris"));
    ASSERT_EQ(all.size(), list.count());
    int attached = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        const int n = RecordOfLink(item.referrer);
        SCOPED_TRACE(n);
        ExpectRecordAsOnTheSite(all[row], n);
        const QStringList l1 = all[row].value(QStringLiteral("L1"));
        if (item.status != ItemStatus::Finished) {
            EXPECT_TRUE(l1.isEmpty()); // 404 and cut-off PDFs: nothing stored, nothing attached
            continue;
        }
        ASSERT_EQ(l1.size(), 1);
        const QUrl address(l1.first());
        ASSERT_TRUE(address.isLocalFile()) << l1.first().toStdString();
        EXPECT_EQ(address.toLocalFile(), ItemFilePath(item.folder, item.name, item.type));
        EXPECT_EQ(FileHash(address.toLocalFile()), test::Sha256(demo::PdfBytes(n)));
        ++attached;
    }
    EXPECT_EQ(attached, list.statusCounts().finished);
    EXPECT_GE(attached, 15);

    // The finished rows only: exactly those, each with its PDF.
    const QList<RisRecord> finished =
        ReadRis(exportWith(QStringLiteral("导出引文 (RIS)"), QStringLiteral("已完成项"),
                           QStringLiteral("finished.ris")));
    ASSERT_EQ(finished.size(), attached);
    for (const RisRecord& r : finished) {
        EXPECT_EQ(r.value(QStringLiteral("L1")).size(), 1);
    }

    // A second export to the same file asks before replacing it; "no" leaves it as it was.
    run.boxes.answer = MsgResult::No;
    const QByteArray kept = test::ReadFile(run.folder(QStringLiteral("all.ris")));
    exportWith(QStringLiteral("导出引文 (RIS)"), QStringLiteral("已完成项"),
               QStringLiteral("all.ris"));
    EXPECT_TRUE(run.boxes.texts().contains(QStringLiteral("all.ris 已存在。\n要替换它吗？")));
    EXPECT_EQ(test::ReadFile(run.folder(QStringLiteral("all.ris"))), kept);
    run.boxes.answer = MsgResult::Yes;

    // BibTeX of every row, read by Debian's parser: an article per row with a key of its own,
    // the fields of the site's record and the stored PDF in the file field.
    exportWith(QStringLiteral("导出引文 (BibTeX)"), QStringLiteral("全部"),
               QStringLiteral("all.bib"));
    EXPECT_EQ(dialogs.lastFilter, QStringLiteral("*.bib"));
    const QJsonArray entries = ParseBibTex(run.folder(QStringLiteral("all.bib")));
    ASSERT_EQ(entries.size(), list.count());
    QSet<QString> keys;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        const int n = RecordOfLink(item.referrer);
        const demo::DemoRecord r = demo::RecordAt(n);
        SCOPED_TRACE(n);
        // The parser keeps the file's order.
        const QJsonObject e = entries[row].toObject();
        EXPECT_EQ(e.value(QStringLiteral("ENTRYTYPE")).toString(), QStringLiteral("article"));
        keys.insert(e.value(QStringLiteral("ID")).toString());
        EXPECT_EQ(Unescaped(e.value(QStringLiteral("title")).toString()), r.title.simplified());
        EXPECT_EQ(e.value(QStringLiteral("author")).toString(),
                  r.authors.join(QStringLiteral(" and ")));
        if (r.citationSource != demo::CitationSource::Nothing) {
            EXPECT_EQ(e.value(QStringLiteral("year")).toString(), QString::number(r.year));
            EXPECT_EQ(Unescaped(e.value(QStringLiteral("journal")).toString()), r.journal);
            EXPECT_EQ(e.value(QStringLiteral("pages")).toString(),
                      QStringLiteral("%1--%2").arg(r.firstPage).arg(r.lastPage));
        }
        QString file = e.value(QStringLiteral("file")).toString();
        if (item.status == ItemStatus::Finished) {
            ASSERT_TRUE(file.startsWith(QLatin1Char(':')) && file.endsWith(QLatin1String(":PDF")))
                << file.toStdString();
            file = file.mid(1).chopped(4).replace(QLatin1String("\\:"), QLatin1String(":"));
            file.replace(QLatin1String("\\;"), QLatin1String(";"));
            // The path exactly, two spaces in a row included (left by removed characters).
            EXPECT_EQ(file, ItemFilePath(item.folder, item.name, item.type));
            EXPECT_EQ(FileHash(file), test::Sha256(demo::PdfBytes(n)));
        } else {
            EXPECT_TRUE(file.isEmpty());
        }
    }
    EXPECT_EQ(keys.size(), list.count());

    if (qEnvironmentVariableIsSet("QUILLAX_SHOT_DIR")) { // the guide's picture and examples
        const QString dir = qEnvironmentVariable("QUILLAX_SHOT_DIR");
        SaveGuidePicture(downloads, dir + QStringLiteral("/citation-export.png"));
        for (const char* name : {"all.ris", "all.bib"}) {
            const QString target =
                dir + QStringLiteral("/citations-example.") + QString::fromLatin1(name).mid(4);
            QFile::remove(target);
            QFile::copy(run.folder(QString::fromLatin1(name)), target);
        }
    }
}
