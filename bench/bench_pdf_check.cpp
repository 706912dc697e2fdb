// The check of stored PDFs, on a typical article: twenty pages of text with the title on the
// first. Prints the time of one check (median of 25), the worst gap of a 10 ms timer on the
// window thread while six checks run through the list's checker, and the resident memory before
// and after them. Goals: a check under 50 ms, the worst gap under 50 ms, nothing held after.

#include "core/download/PdfChecks.h"

#include "BenchSupport.h"
#include "DemoSite.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillax;

namespace {

const QString kTitle = QStringLiteral("Open peer review and the quality of reports in ecology");

/// A PDF of `pages` pages of text; the first page carries the title.
QByteArray ArticlePdf(int pages) {
    QList<QByteArray> contents;
    for (int p = 0; p < pages; ++p) {
        QByteArray text = "BT /F1 10 Tf 50 800 Td\n";
        if (p == 0) {
            text += "/F1 16 Tf (" + kTitle.toLatin1() + ") Tj 0 -30 Td /F1 10 Tf\n";
        }
        for (int line = 0; line < 60; ++line) {
            text += "(Line " + QByteArray::number(line) + " of page " + QByteArray::number(p + 1) +
                    ": reviewers, editors and authors weigh the evidence in turn.) Tj 0 -12 Td\n";
        }
        contents << text + "ET\n";
    }
    return demo::PdfOfPages(contents);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    const QByteArray pdf = ArticlePdf(20);
    DownloadListModel list;
    for (int k = 1; k <= 6; ++k) {
        const QString name = kTitle + QStringLiteral(" %1").arg(k);
        QFile f(tmp.path() + QLatin1Char('/') + name + QStringLiteral(".pdf"));
        if (!f.open(QIODevice::WriteOnly) || f.write(pdf) != pdf.size()) {
            std::printf("cannot write the test PDFs in %s\n", qPrintable(tmp.path()));
            return 1;
        }
        f.close();
        list.addItem(QStringLiteral("http://example.org/%1.pdf").arg(k), name,
                     QStringLiteral("pdf"), tmp.path() + QLatin1Char('/'), QString());
        list.setStatus(k - 1, ItemStatus::Finished);
    }
    const QString first =
        tmp.path() + QLatin1Char('/') + list.item(0).name + QStringLiteral(".pdf");

    // 1. One check, on this thread, median of 25 after one to warm the library up.
    PdfCheckResult result = CheckPdf(first, kTitle);
    std::vector<double> ms;
    for (int i = 0; i < 25; ++i) {
        QElapsedTimer t;
        t.start();
        result = CheckPdf(first, kTitle);
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("one check, %d pages, %lld KB: %.1f ms (median of 25; fastest %.1f, slowest "
                "%.1f), verdict %s, score %.2f\n",
                result.pages, static_cast<long long>(pdf.size() / 1024), ms[ms.size() / 2],
                ms.front(), ms.back(),
                result.match.verdict == TitleVerdict::Matches ? "matches" : "not matching",
                result.match.score);

    // 2. Six checks through the list's checker while a 10 ms timer runs on this thread.
    PdfChecks checks(list);
    QTest::qWait(100);
    const double rssBefore = bench::ProcStatusMiB("VmRSS:");
    double rssAfterFirst = 0;
    qint64 worstGap = 0;
    for (int round = 0; round < 5; ++round) {
        if (round == 1) { // the checker's threads have started and the library is warm
            QTest::qWait(100);
            rssAfterFirst = bench::ProcStatusMiB("VmRSS:");
        }
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            worstGap = std::max(worstGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        timer.start(10);
        for (int row = 0; row < list.count(); ++row) {
            checks.check(row);
        }
        while (checks.running() > 0) {
            QTest::qWait(1);
        }
        timer.stop();
    }
    QTest::qWait(200);
    const double rssAfter = bench::ProcStatusMiB("VmRSS:");
    int matching = 0;
    for (int row = 0; row < list.count(); ++row) {
        matching += list.item(row).contentCheck == ContentCheck::Matches ? 1 : 0;
    }
    std::printf("six checks at once, 5 rounds: worst gap of the window thread's 10 ms timer "
                "%lld ms; %d of 6 rows match\n",
                static_cast<long long>(worstGap), matching);
    // Growth from the first round to the last is what the checks would keep.
    std::printf("resident memory: %.1f MiB before the checks, %.1f MiB after the first six "
                "(the checker's threads start), %.1f MiB after 24 more (%+.1f)\n",
                rssBefore, rssAfterFirst, rssAfter, rssAfter - rssAfterFirst);
    return 0;
}
