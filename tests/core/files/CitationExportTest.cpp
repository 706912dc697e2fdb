#include "core/files/CitationExport.h"

#include <QSet>
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
