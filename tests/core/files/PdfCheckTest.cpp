// The check of a stored PDF against the real PDF library: the demo site's PDFs open and hold
// their titles, another record's PDF is caught, damaged files and pages that only say PDF are
// broken, a scan is not judged, and checks run side by side off the window thread.

#include "core/files/PdfCheck.h"
#include "DemoSite.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <future>
#include <vector>

using namespace quillax;

namespace {

class PdfCheckTest : public ::testing::Test {
protected:
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = dir.path() + QLatin1Char('/') + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(PdfCheckTest, TheRecordsOwnPdfHoldsItsTitleAndAnotherRecordsDoesNot) {
    const QString own = file(QStringLiteral("1.pdf"), demo::PdfBytes(1));
    const PdfCheckResult right = CheckPdf(own, demo::RecordAt(1).title);
    EXPECT_EQ(right.state, PdfState::Fine);
    EXPECT_EQ(right.pages, 1);
    EXPECT_EQ(right.title, demo::RecordAt(1).title.simplified());
    EXPECT_EQ(right.match.verdict, TitleVerdict::Matches) << right.match.score;

    // A CJK title too.
    const QString cjk = file(QStringLiteral("2.pdf"), demo::PdfBytes(2));
    EXPECT_EQ(CheckPdf(cjk, demo::RecordAt(2).title).match.verdict, TitleVerdict::Matches);

    // The database served record 1's PDF for record 17.
    const PdfCheckResult wrong = CheckPdf(own, demo::RecordAt(17).title);
    EXPECT_EQ(wrong.state, PdfState::Fine);
    EXPECT_EQ(wrong.match.verdict, TitleVerdict::Mismatch) << wrong.match.score;
}

TEST_F(PdfCheckTest, WhatDoesNotOpenOrHasNoPageIsBroken) {
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"a PDF signature over junk", QByteArray("%PDF-1.4\n") + QByteArray(4096, '\x7f')},
        {"an error page", "<html><body>Session expired</body></html>"},
        {"an empty file", ""},
        {"the header alone", "%PDF-1.7\n%%EOF\n"},
    };
    for (const auto& c : cases) {
        const PdfCheckResult r =
            CheckPdf(file(QStringLiteral("x.pdf"), c.bytes), QStringLiteral("T"));
        EXPECT_EQ(r.state, PdfState::Broken) << c.what;
    }
    EXPECT_EQ(CheckPdf(dir.path() + QStringLiteral("/missing.pdf"), {}).state, PdfState::Broken);
}

TEST_F(PdfCheckTest, AScanIsNotJudged) {
    const PdfCheckResult r =
        CheckPdf(file(QStringLiteral("scan.pdf"), demo::PdfWithoutText()), demo::RecordAt(1).title);
    EXPECT_EQ(r.state, PdfState::Fine);
    EXPECT_EQ(r.pages, 1);
    EXPECT_EQ(r.match.verdict, TitleVerdict::Unknown);
}

TEST_F(PdfCheckTest, SixChecksRunSideBySideOffTheWindowThread) {
    std::vector<QString> paths;
    for (int n = 1; n <= 6; ++n) {
        paths.push_back(file(QStringLiteral("%1.pdf").arg(n), demo::PdfBytes(n)));
    }
    std::vector<std::future<PdfCheckResult>> checks;
    for (int i = 0; i < 6; ++i) {
        checks.push_back(std::async(std::launch::async, [&, i] {
            return CheckPdf(paths[static_cast<std::size_t>(i)], demo::RecordAt(i + 1).title);
        }));
    }
    for (int i = 0; i < 6; ++i) {
        const PdfCheckResult r = checks[static_cast<std::size_t>(i)].get();
        EXPECT_EQ(r.state, PdfState::Fine) << i + 1;
        EXPECT_EQ(r.match.verdict, TitleVerdict::Matches) << i + 1 << ": " << r.match.score;
    }
}

} // namespace
