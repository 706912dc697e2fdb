#include "core/files/CitationExport.h"

#include "core/download/DownloadListModel.h"
#include "core/download/ListOperations.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillax;

namespace {

Citation full() {
    Citation c;
    c.title = QStringLiteral("Citation networks in medicine:\r\na review");
    c.authors = {QStringLiteral("Smith, John"), QStringLiteral("Jane Doe"), QStringLiteral("王芳"),
                 QStringLiteral("Research and Development Group")};
    c.date = QStringLiteral("Mar2011");
    c.journal = QStringLiteral("Research & Practice: 100% open");
    c.volume = QStringLiteral("12");
    c.issue = QStringLiteral("3");
    c.firstPage = QStringLiteral("45");
    c.lastPage = QStringLiteral("67");
    c.doi = QStringLiteral("10.5555/qx_2011.1");
    c.issn = QStringLiteral("1751-1577");
    c.recordUrl = QStringLiteral("http://lib.example/record?rec=1&db=demo");
    return c;
}

} // namespace

TEST(CitationExport, RisWritesEveryFieldWithCrLfAndTheFileAddress) {
    Citation sparse;
    sparse.title = QStringLiteral("数字图书馆：读者行为分析");
    const QByteArray ris = RisText(
        {{full(), QStringLiteral("/tmp/论文 #1/Citation networks.pdf")}, {sparse, QString()}});
    const QByteArray want = "TY  - JOUR\r\n"
                            "TI  - Citation networks in medicine: a review\r\n"
                            "AU  - Smith, John\r\n"
                            "AU  - Doe, Jane\r\n"
                            "AU  - \xE7\x8E\x8B\xE8\x8A\xB3\r\n"
                            "AU  - Research and Development Group\r\n"
                            "PY  - 2011\r\n"
                            "JO  - Research & Practice: 100% open\r\n"
                            "VL  - 12\r\n"
                            "IS  - 3\r\n"
                            "SP  - 45\r\n"
                            "EP  - 67\r\n"
                            "DO  - 10.5555/qx_2011.1\r\n"
                            "SN  - 1751-1577\r\n"
                            "UR  - http://lib.example/record?rec=1&db=demo\r\n"
                            // The file address: spaces and "#" encoded, the CJK name as it is.
                            "L1  - file:///tmp/\xE8\xAE\xBA\xE6\x96\x87%20%231/"
                            "Citation%20networks.pdf\r\n"
                            "ER  - \r\n";
    EXPECT_TRUE(ris.startsWith(want)) << ris.constData();
    EXPECT_TRUE(ris.contains("ER  - \r\n\r\nTY  - JOUR\r\nTI  - " +
                             QStringLiteral("数字图书馆：读者行为分析").toUtf8() +
                             "\r\nER  - \r\n\r\n"))
        << ris.constData();
    // Every line ends with CR LF; no bare LF anywhere.
    EXPECT_EQ(ris.count('\n'), ris.count("\r\n"));
    EXPECT_TRUE(RisText({}).isEmpty());
}

TEST(CitationExport, BibTexEscapesWhatLatexReads) {
    const std::pair<const char*, const char*> cases[] = {
        {"R&D 100% $5 #1 a_b", R"(R\&D 100\% \$5 \#1 a\_b)"},
        {R"(A\B)", R"(A\textbackslash{}B)"},
        {"{unbalanced", R"(\textbraceleft{}unbalanced)"},
        {"x~y^z", R"(x\textasciitilde{}y\textasciicircum{}z)"},
        {"line\r\nbreak\ttab", "line break tab"},
        {R"("quoted" O'Brien <i>)", R"("quoted" O'Brien <i>)"},
        {"数字图书馆：读者", "数字图书馆：读者"},
        {"Müller", "Müller"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(BibTexEscape(QString::fromUtf8(in)), QString::fromUtf8(out));
    }
}

TEST(CitationExport, BibTexKeysAreStableAndLetteredOnAClash) {
    struct Case {
        const char* author;
        const char* date;
        const char* title;
        const char* stem;
    };
    const Case cases[] = {
        {"Smith, John", "2011-03-15", "Citation networks", "smith2011citation"},
        {"John Smith", "Mar2011", "The citation of data", "smith2011citation"},
        {"Müller, Jürgen", "2009", "Über Zitate", "muller2009uber"},
        {"Strauß, Anna", "2009", "A study", "strauss2009study"},
        {"O'Brien, Seán", "2001", "An essay", "obrien2001essay"},
        {"Ludwig van Beethoven", "1998", "3D printing", "vanbeethoven19983d"},
        {"王芳", "2011", "数字图书馆：读者行为分析", "王芳2011数字图书"},
        {"", "2011", "Book Review", "anon2011book"},
        {"Smith, J.", "", "Book Review", "smithndbook"},
        {"Smith, J.", "2011", "", "smith2011"},
        {"-", "", "?", "anonnd"},
        {"김철수", "2011", "한국어 논문", "김철수2011한국어"},
        {"\U00020BB7田, 花子", "2011", "\U00020BB7野家の研究", "\U00020BB7田2011\U00020BB7野家の"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        Citation citation;
        if (*c.author != '\0') {
            citation.authors = {QString::fromUtf8(c.author)};
        }
        citation.date = QString::fromUtf8(c.date);
        citation.title = QString::fromUtf8(c.title);
        EXPECT_EQ(BibTexKeyStem(citation), QString::fromUtf8(c.stem));
    }

    Citation a;
    a.authors = {QStringLiteral("Smith, John")};
    a.date = QStringLiteral("2011");
    a.title = QStringLiteral("Book Review");
    Citation other = a;
    other.title = QStringLiteral("Booka"); // a stem that looks like a lettered key
    const QStringList keys = BibTexKeys({a, other, a, a});
    EXPECT_EQ(keys,
              (QStringList{QStringLiteral("smith2011book"), QStringLiteral("smith2011booka"),
                           QStringLiteral("smith2011bookb"), QStringLiteral("smith2011bookc")}));
    // The same list gives the same keys.
    EXPECT_EQ(BibTexKeys({a, other, a, a}), keys);
    QList<Citation> many(30, a);
    const QStringList lettered = BibTexKeys(many);
    EXPECT_EQ(lettered.at(26), QStringLiteral("smith2011bookz"));
    EXPECT_EQ(lettered.at(27), QStringLiteral("smith2011bookaa"));
    EXPECT_EQ(QSet<QString>(lettered.begin(), lettered.end()).size(), 30);
}

TEST(CitationExport, BibTexNamesNeverSplitOrBreak) {
    struct Case {
        const char* author;
        const char* written;
    };
    const Case cases[] = {
        {"Smith, John, Jr., PhD", "Smith, {John, Jr., PhD}"},
        {"and", "{and}"},
        {"Research and Development Group", "{Research and Development Group}"},
        {"Brown, Anne and Bob", "Brown, {Anne and Bob}"},
        {"O'Brien, Seán", "O'Brien, Seán"},
        {"Max Planck Society", "{Max Planck Society}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.author);
        Citation citation;
        citation.title = QStringLiteral("T");
        citation.authors = {QString::fromUtf8(c.author), QStringLiteral("Doe, Jane")};
        const QString text = QString::fromUtf8(BibTexText({{citation, {}}}));
        EXPECT_TRUE(text.contains(QStringLiteral("  author = {") + QString::fromUtf8(c.written) +
                                  QStringLiteral(" and Doe, Jane},")))
            << text.toStdString();
    }
}

TEST(CitationExport, BibTexEntriesCarryEveryFieldAndTheFile) {
    Citation bare;
    bare.title = QStringLiteral("Untitled {draft");
    const QString text =
        QString::fromUtf8(BibTexText({{full(), QStringLiteral("/home/u/论文/a:b;c  d.pdf")},
                                      {bare, QStringLiteral("/home/u/{odd.pdf")}}));
    const QString want = QStringLiteral(
        "@article{smith2011citation,\n"
        "  author = {Smith, John and Doe, Jane and 王芳 and {Research and Development Group}},\n"
        "  title = {Citation networks in medicine: a review},\n"
        "  journal = {Research \\& Practice: 100\\% open},\n"
        "  year = {2011},\n"
        "  volume = {12},\n"
        "  number = {3},\n"
        "  pages = {45--67},\n"
        "  doi = {10.5555/qx_2011.1},\n"
        "  issn = {1751-1577},\n"
        "  url = {http://lib.example/record?rec=1&db=demo},\n"
        "  file = {:/home/u/论文/a\\:b\\;c  d.pdf:PDF}\n"
        "}\n\n"
        // A path whose braces would break the entry is left out rather than written broken.
        "@article{anonnduntitled,\n"
        "  title = {Untitled \\textbraceleft{}draft}\n"
        "}\n\n");
    EXPECT_EQ(text, want);
}

// Which rows get their file attached: finished PDFs on disk, and a file two rows share only
// for the one row that wrote it.
TEST(CitationEntries, AttachOnlyARowsOwnStoredPdf) {
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    for (const char* name : {"A.pdf", "Editorial.pdf", "Login.htm", "Big.pdf"}) {
        QFile f(folder + QString::fromLatin1(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n");
    }
    DownloadListModel list;
    QAbstractItemModelTester tester(&list);
    const auto add = [&](const char* key, const char* name, const char* type, ItemStatus status,
                         bool created, const QString& percent = QStringLiteral("100%")) {
        Citation c;
        c.title = QString::fromLatin1(name) + QStringLiteral(" paper");
        list.addItem(QString::fromLatin1(key), QString::fromLatin1(name), QString::fromLatin1(type),
                     folder, {}, c);
        const int row = list.count() - 1;
        list.setStatus(row, status);
        list.setCreatedFile(row, created);
        list.setText(row, DownloadListModel::ColPercent, percent);
    };
    add("u1", "A", "pdf", ItemStatus::Finished, true);
    add("u2", "Editorial", "pdf", ItemStatus::Finished, true);
    add("u3", "Editorial", "pdf", ItemStatus::Finished, false, QStringLiteral("已存在，跳过"));
    add("u4", "Login", "htm", ItemStatus::Finished, true);
    add("u5", "Big", "pdf", ItemStatus::Finished, false, QStringLiteral("大文件，跳过"));
    add("u6", "Gone", "pdf", ItemStatus::Finished, true); // its file was removed
    add("u7", "Waiting", "pdf", ItemStatus::Waiting, false, QString());

    const QList<CitationEntry> all = CitationEntries(list, false);
    ASSERT_EQ(all.size(), 7);
    const QStringList attached = [&] {
        QStringList out;
        for (const CitationEntry& e : all) {
            out << QFileInfo(e.filePath).fileName();
        }
        return out;
    }();
    EXPECT_EQ(attached, (QStringList{QStringLiteral("A.pdf"), QStringLiteral("Editorial.pdf"),
                                     QString(), QString(), QString(), QString(), QString()}));
    EXPECT_EQ(all[6].citation.title, QStringLiteral("Waiting paper"));
    EXPECT_EQ(CitationEntries(list, true).size(), 6);

    // The file of a row that found it there already is its own when no other row names it.
    list.removeRowsWhere([](int row) { return row == 1; });
    EXPECT_EQ(QFileInfo(CitationEntries(list, true).at(1).filePath).fileName(),
              QStringLiteral("Editorial.pdf"));
}
