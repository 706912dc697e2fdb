#include "core/search/CitationReading.h"
#include "core/search/RecordAnalysis.h"

#include <QFile>
#include <functional>
#include <gtest/gtest.h>

using namespace quillax;

// The tables name only the fields a case expects; the others are empty on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

QString page(const char* head) {
    return QStringLiteral("<html><head><title>记录</title>") + QString::fromUtf8(head) +
           QStringLiteral("</head><body><p>正文</p></body></html>");
}

void expectSame(const Citation& got, const Citation& want) {
    EXPECT_EQ(got.title, want.title);
    EXPECT_EQ(got.authors, want.authors);
    EXPECT_EQ(got.date, want.date);
    EXPECT_EQ(got.journal, want.journal);
    EXPECT_EQ(got.volume, want.volume);
    EXPECT_EQ(got.issue, want.issue);
    EXPECT_EQ(got.firstPage, want.firstPage);
    EXPECT_EQ(got.lastPage, want.lastPage);
    EXPECT_EQ(got.doi, want.doi);
    EXPECT_EQ(got.issn, want.issn);
    EXPECT_EQ(got.pdfUrl, want.pdfUrl);
}

/// A line of /proc/self/status in MiB ("VmRSS:" now, "VmHWM:" the peak since the last reset).
double statusMiB(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

/// How far the resident memory rose above what it was while `work` ran, in MiB.
double peakGrowthMiB(const std::function<void()>& work) {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    EXPECT_TRUE(refs.open(QIODevice::WriteOnly) && refs.write("5") == 1); // the peak starts anew
    refs.close();
    const double before = statusMiB("VmRSS:");
    work();
    return statusMiB("VmHWM:") - before;
}

} // namespace

TEST(CitationMeta, ReadsTheTagsAsReferenceManagersDo) {
    struct Case {
        const char* what;
        const char* head;
        Citation want;
    };
    const Case cases[] = {
        {"every field, authors repeated in order",
         R"(<meta name="citation_title" content="Citation networks in medicine">
            <meta name="citation_author" content="Smith, John">
            <meta name="citation_author" content="Doe, Jane">
            <meta name="citation_author" content="Lee, A.">
            <meta name="citation_publication_date" content="2011/03/15">
            <meta name="citation_journal_title" content="Journal of Informetrics">
            <meta name="citation_volume" content="12"><meta name="citation_issue" content="3">
            <meta name="citation_firstpage" content="45"><meta name="citation_lastpage" content="67">
            <meta name="citation_doi" content="10.5555/qx.2011.1">
            <meta name="citation_issn" content="1751-1577">
            <meta name="citation_pdf_url" content="http://lib.example/pdf/1.pdf">)",
         {.title = QStringLiteral("Citation networks in medicine"),
          .authors = {QStringLiteral("Smith, John"), QStringLiteral("Doe, Jane"),
                      QStringLiteral("Lee, A.")},
          .date = QStringLiteral("2011/03/15"),
          .journal = QStringLiteral("Journal of Informetrics"),
          .volume = QStringLiteral("12"),
          .issue = QStringLiteral("3"),
          .firstPage = QStringLiteral("45"),
          .lastPage = QStringLiteral("67"),
          .doi = QStringLiteral("10.5555/qx.2011.1"),
          .issn = QStringLiteral("1751-1577"),
          .pdfUrl = QStringLiteral("http://lib.example/pdf/1.pdf")}},
        {"names in both orders and CJK names kept as written",
         R"(<meta name="citation_author" content="John Smith">
            <meta name="citation_author" content="王芳">
            <meta name="citation_author" content="  Ludwig   van Beethoven ">)",
         {.authors = {QStringLiteral("John Smith"), QStringLiteral("王芳"),
                      QStringLiteral("Ludwig van Beethoven")}}},
        {"references decoded, markup in a value left as text",
         R"(<meta name="citation_title" content="Risk &amp; return: &quot;why?&quot; &lt;draft&gt; &eacute;t&#233; &#x4E2D;文 <b>">)",
         {.title = QStringLiteral(R"(Risk & return: "why?" <draft> été 中文 <b>)")}},
        {"the publication date wins over the other dates, whatever the order",
         R"(<meta name="citation_online_date" content="2010-12-01">
            <meta name="citation_date" content="March 2011">
            <meta name="citation_publication_date" content="2011">)",
         {.date = QStringLiteral("2011")}},
        {"a missing field stays empty, an empty tag is no value",
         R"(<meta name="citation_title" content="T"><meta name="citation_volume" content="  ">)",
         {.title = QStringLiteral("T")}},
        {"Dublin Core for what the citation tags leave open",
         R"(<meta name="citation_title" content="From citation tags">
            <meta name="DC.title" content="From Dublin Core">
            <meta name="DC.creator" content="Müller, Jürgen">
            <meta name="DC.creator" content="O'Brien, Seán">
            <meta name="dc.date" content="2009-05">
            <meta name="DC.source" content="Research &amp; Practice">
            <meta name="DC.identifier" content="urn:isbn:123">
            <meta name="DC.identifier" content="doi:10.1000/XYZ.9.">)",
         {.title = QStringLiteral("From citation tags"),
          .authors = {QStringLiteral("Müller, Jürgen"), QStringLiteral("O'Brien, Seán")},
          .date = QStringLiteral("2009-05"),
          .journal = QStringLiteral("Research & Practice"),
          .doi = QStringLiteral("10.1000/XYZ.9")}},
        {"Dublin Core authors only when no citation author",
         R"(<meta name="citation_author" content="Smith, John">
            <meta name="DC.creator" content="Other, Person">
            <meta name="DC.identifier" content="https://doi.org/10.1000/XYZ.9.">)",
         {.authors = {QStringLiteral("Smith, John")}, .doi = QStringLiteral("10.1000/XYZ.9")}},
        {"tag and attribute spellings of real pages",
         R"(<META NAME='Citation_Title' CONTENT='Single quoted'>
            <meta content="Put first" name="citation_journal_title"/>
            <meta property="citation_volume" content=7>
            <meta name="citation_authors" content="Smith, John; Doe, Jane">
            <!-- <meta name="citation_issue" content="commented out"> -->)",
         {.title = QStringLiteral("Single quoted"),
          .authors = {QStringLiteral("Smith, John"), QStringLiteral("Doe, Jane")},
          .journal = QStringLiteral("Put first"),
          .volume = QStringLiteral("7")}},
        {"control characters and turning marks removed",
         "<meta name=\"citation_title\" content=\"A\tline\xE2\x80\xAE broken\x01 \">",
         {.title = QStringLiteral("A line broken")}},
        {"tags written inside a script or a style are no tags",
         R"(<script>var s = '<meta name="citation_title" content="Spoof">';</script>
            <style>/* <meta name=citation_author content=Evil> */</style>
            <script/><meta name="citation_author" content="Fake"></script>
            <noscript><meta name="citation_author" content="Fake too"></noscript>
            <script>/* </scripts> <meta name="citation_author" content="Fake three"> */</SCRIPT >
            <meta name="citation_title" content="Real">
            <meta name="citation_author" content="Smith, John">)",
         {.title = QStringLiteral("Real"), .authors = {QStringLiteral("Smith, John")}}},
        {"a reference that names no character",
         R"(<meta name="citation_title" content="A&#x110000;B&#xD800;C">)",
         {.title = QStringLiteral("A\uFFFDB\uFFFDC")}},
        {"old DOIs with brackets and angle brackets",
         R"(<meta name="citation_doi" content="doi:10.1002/(SICI)1097-4636(199706)35:4&lt;447::AID-JBM5&gt;3.0.CO;2-D">)",
         {.doi = QStringLiteral("10.1002/(SICI)1097-4636(199706)35:4<447::AID-JBM5>3.0.CO;2-D")}},
        {"a date without a year gives way to a later date tag",
         R"(<meta name="citation_publication_date" content="n.d.">
            <meta name="citation_date" content="2011/05/01">)",
         {.date = QStringLiteral("2011/05/01")}},
        {"a page without tags", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectSame(ReadCitationMeta(page(c.head)), c.want);
    }
    // A hostile page: a title of megabytes and authors without end are cut, not kept whole.
    QString flood = QStringLiteral("<meta name=\"citation_title\" content=\"") +
                    QString(3'000'000, QLatin1Char('x')) + QStringLiteral("\">");
    for (int i = 0; i < 3000; ++i) {
        flood += QStringLiteral("<meta name=\"citation_author\" content=\"A%1\">").arg(i);
    }
    const Citation cut = ReadCitationMeta(flood);
    EXPECT_EQ(cut.title.size(), kMaxCitationChars);
    EXPECT_EQ(cut.authors.size(), kMaxCitationAuthors);
    EXPECT_EQ(cut.authors.first(), QStringLiteral("A0"));
    // A page that breaks off inside a tag gives what came before it.
    EXPECT_EQ(ReadCitationMeta(
                  QStringLiteral("<meta name=\"citation_title\" content=\"Whole\"><meta name=\""))
                  .title,
              QStringLiteral("Whole"));
}

// Hostile record pages, as large as a fetch may be or larger: the PDF address and the tags
// after the flood are still read, authors stop at the cap, and the reading holds little beside
// the page, however many authors or attributes it repeats.
TEST(CitationMeta, AHostilePageIsReadWholeInLittleMemory) {
    const QString pdfLink = QStringLiteral("<a id=\"pdfUrl\" href=\"/pdf/1.pdf\">PDF</a>");
    const QString title = QStringLiteral("<meta name=\"citation_title\" content=\"Hostile\">");
    const QString tail =
        QStringLiteral("<script><meta name=\"citation_author\" content=\"Fake\"></script>"
                       "<meta name=\"citation_doi\" content=\"10.5555/end\">");
    const QString authorList = QStringLiteral("<meta name=\"citation_authors\" content=\"") +
                               QStringLiteral("A;").repeated(1000) + QStringLiteral("\">");
    QString attributes = QStringLiteral("<p");
    for (int i = 0; attributes.size() < 8 * 1024 * 1024; ++i) {
        attributes += QStringLiteral(" a") + QString::number(i);
    }
    struct Case {
        const char* what;
        QString page;
        QStringList authors;
    };
    const Case cases[] = {
        {"10,000 author lists of 2,000 characters",
         title + pdfLink + authorList.repeated(10'000) + tail,
         QStringList(kMaxCitationAuthors, QStringLiteral("A"))},
        {"one tag of a million attributes before the PDF link",
         attributes + QStringLiteral(">") + title + pdfLink + tail,
         {}},
        {"560,000 empty titles after the PDF link",
         title + pdfLink + QStringLiteral("<title></title>").repeated(8 * 1024 * 1024 / 15) + tail,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QString address;
        Citation read;
        const double grew = peakGrowthMiB([&] {
            address = FindPdfAddress(c.page, QStringLiteral("http://lib.example/record/1"));
            read = ReadCitationMeta(c.page);
        });
        EXPECT_EQ(address, QStringLiteral("http://lib.example/pdf/1.pdf"));
        EXPECT_EQ(read.title, QStringLiteral("Hostile"));
        EXPECT_EQ(read.doi, QStringLiteral("10.5555/end"));
        EXPECT_EQ(read.authors, c.authors);
        // The page itself takes 16 to 40 MiB.
        EXPECT_LT(grew, 64.0);
    }
}

TEST(CitationMeta, NamesAndDatesAreReadInTheCommonForms) {
    struct Name {
        const char* written;
        const char* family;
        const char* given;
        const char* normalised;
    };
    const Name names[] = {
        {"Smith, John", "Smith", "John", "Smith, John"},
        {"John Smith", "Smith", "John", "Smith, John"},
        {"John  Q.  Smith", "Smith", "John Q.", "Smith, John Q."},
        {"Ludwig van Beethoven", "van Beethoven", "Ludwig", "van Beethoven, Ludwig"},
        {"Gabriel García Márquez", "Márquez", "Gabriel García", "Márquez, Gabriel García"},
        {"王芳", "王芳", "", "王芳"},
        {"欧阳 修", "欧阳", "修", "欧阳, 修"},
        {"Plato", "Plato", "", "Plato"},
        {"John Smith Jr.", "Smith", "John Jr.", "Smith, John Jr."},
        {"Smith JA", "Smith", "JA", "Smith, JA"},
        {"van Beethoven", "van Beethoven", "", "van Beethoven"},
        {", John", "John", "", "John"},
        {"University of California, Berkeley", "University of California, Berkeley", "",
         "University of California, Berkeley"},
        {"Centers for Disease Control and Prevention", "Centers for Disease Control and Prevention",
         "", "Centers for Disease Control and Prevention"},
        {"Research and Development Group", "Research and Development Group", "",
         "Research and Development Group"},
        {"World Health Organization", "World Health Organization", "", "World Health Organization"},
        {"  ", "", "", ""},
    };
    for (const Name& n : names) {
        SCOPED_TRACE(n.written);
        const AuthorName parts = SplitAuthorName(QString::fromUtf8(n.written));
        EXPECT_EQ(parts.family, QString::fromUtf8(n.family));
        EXPECT_EQ(parts.given, QString::fromUtf8(n.given));
        EXPECT_EQ(NormalisedAuthor(QString::fromUtf8(n.written)), QString::fromUtf8(n.normalised));
    }
    const std::pair<const char*, const char*> dates[] = {
        {"2011-03-15", "2011"}, {"2011/03/15", "2011"}, {"15 March 2011", "2011"},
        {"Mar2011", "2011"},    {"2011年3月", "2011"},  {"Spring 1998", "1998"},
        {"20110315", ""},       {"n.d.", ""},           {"", ""},
    };
    for (const auto& [date, year] : dates) {
        SCOPED_TRACE(date);
        Citation c;
        c.date = QString::fromUtf8(date);
        EXPECT_EQ(c.year(), QString::fromUtf8(year));
    }
    EXPECT_EQ(AuthorsFromPdfMetadata(QStringLiteral("Smith, John; Doe, Jane")),
              (QStringList{QStringLiteral("Smith, John"), QStringLiteral("Doe, Jane")}));
    EXPECT_EQ(AuthorsFromPdfMetadata(QStringLiteral("John Smith and Jane Doe")),
              (QStringList{QStringLiteral("John Smith"), QStringLiteral("Jane Doe")}));
    EXPECT_TRUE(AuthorsFromPdfMetadata(QStringLiteral(" ; ")).isEmpty());
    EXPECT_EQ(AuthorsFromPdfMetadata(QStringLiteral("A\u202E B\x01;") + QString(5000, u';') +
                                     QStringLiteral("a;").repeated(3000))
                  .size(),
              kMaxCitationAuthors);
    EXPECT_EQ(AuthorsFromPdfMetadata(QStringLiteral("A\u202E B\x01")).value(0),
              QStringLiteral("A B"));

    // A date without a year gives way to a source that has one; a year stays.
    Citation undated;
    undated.date = QStringLiteral("n.d.");
    Citation dated;
    dated.date = QStringLiteral("2011");
    undated.fillMissingFrom(dated);
    EXPECT_EQ(undated.date, QStringLiteral("2011"));
    Citation older;
    older.date = QStringLiteral("Mar2009");
    older.fillMissingFrom(dated);
    EXPECT_EQ(older.date, QStringLiteral("Mar2009"));
}

TEST(CitationMeta, TheResultEntryLineGivesAuthorsSourceAndYear) {
    struct Case {
        const char* what;
        const char* line;
        Citation want;
    };
    const Case cases[] = {
        {"English labels",
         "By: Smith, John; Doe, J. In: Journal of Informetrics. Mar2011, Vol. 12 Issue 3, "
         "p45-67. 23p.",
         {.authors = {QStringLiteral("Smith, John"), QStringLiteral("Doe, J.")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Journal of Informetrics"),
          .volume = QStringLiteral("12"),
          .issue = QStringLiteral("3"),
          .firstPage = QStringLiteral("45"),
          .lastPage = QStringLiteral("67")}},
        {"Chinese labels, as the demo library writes them",
         "作者: Smith, John; 王芳. 来源: 图书情报工作. 2011, Vol. 16 Issue 4, p120-131.",
         {.authors = {QStringLiteral("Smith, John"), QStringLiteral("王芳")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("图书情报工作"),
          .volume = QStringLiteral("16"),
          .issue = QStringLiteral("4"),
          .firstPage = QStringLiteral("120"),
          .lastPage = QStringLiteral("131")}},
        {"Chinese volume and issue words",
         "作者：李明；王芳 · 来源：情报学报，2019年第38卷第2期，页 5-9",
         {.authors = {QStringLiteral("李明"), QStringLiteral("王芳")},
          .date = QStringLiteral("2019"),
          .journal = QStringLiteral("情报学报"),
          .volume = QStringLiteral("38"),
          .issue = QStringLiteral("2"),
          .firstPage = QStringLiteral("5"),
          .lastPage = QStringLiteral("9")}},
        {"parts parted by dots, no source label",
         "作者: Author 1 · 学术期刊 · 2001",
         {.authors = {QStringLiteral("Author 1")},
          .date = QStringLiteral("2001"),
          .journal = QStringLiteral("学术期刊")}},
        {"a journal whose name starts like a month, one page, a DOI",
         "By: Lee, Ann. In: Journal of Marketing. 2011, Vol. 5 Issue 1, p1. DOI: 10.5555/jm.5.1.",
         {.authors = {QStringLiteral("Lee, Ann")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Journal of Marketing"),
          .volume = QStringLiteral("5"),
          .issue = QStringLiteral("1"),
          .firstPage = QStringLiteral("1"),
          .doi = QStringLiteral("10.5555/jm.5.1")}},
        {"the year is no volume",
         "作者: Smith, John; Doe, K. 来源: J. Vol. 1999 Issue 2, p1523-1530, 2011",
         {.authors = {QStringLiteral("Smith, John"), QStringLiteral("Doe, K.")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("J"),
          .volume = QStringLiteral("1999"),
          .issue = QStringLiteral("2"),
          .firstPage = QStringLiteral("1523"),
          .lastPage = QStringLiteral("1530")}},
        {"the year is no part of the journal's name",
         "By: Lee, Ann. Source: Journal of 1984 Studies. Mar2011, Vol. 3 Issue 1",
         {.authors = {QStringLiteral("Lee, Ann")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Journal of 1984 Studies"),
          .volume = QStringLiteral("3"),
          .issue = QStringLiteral("1")}},
        {"authors parted by commas or by and",
         "By: Smith, J., Doe, K., Lee, M. In: Nature. 2011",
         {.authors = {QStringLiteral("Smith, J."), QStringLiteral("Doe, K."),
                      QStringLiteral("Lee, M.")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Nature")}},
        {"authors parted by and, an institution kept whole",
         "By John Smith and Jane Doe; Research and Development Group · Nature · 2011",
         {.authors = {QStringLiteral("John Smith"), QStringLiteral("Jane Doe"),
                      QStringLiteral("Research and Development Group")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Nature")}},
        {"\"By\" inside a journal's name is no author",
         "来源: Learning By Doing Quarterly. 2011",
         {.date = QStringLiteral("2011"),
          .journal = QStringLiteral("Learning By Doing Quarterly")}},
        {"a month after the year, numbers after it",
         "In: Sci Rep. 2019 Jun 5;9(1):1800.",
         {.date = QStringLiteral("2019"), .journal = QStringLiteral("Sci Rep")}},
        {"an ISO date, a page number like a year",
         "来源: 计算机学报, 2011-03-15, 34(2): 1999",
         {.date = QStringLiteral("2011"), .journal = QStringLiteral("计算机学报")}},
        {"names parted by commas, each whole",
         "By: John Smith, Jane Doe, Lee Park, Ann Roe. In: Nature. 2011",
         {.authors = {QStringLiteral("John Smith"), QStringLiteral("Jane Doe"),
                      QStringLiteral("Lee Park"), QStringLiteral("Ann Roe")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Nature")}},
        {"CJK names parted by commas",
         "作者: 王芳, 李明, 张伟, 刘洋",
         {.authors = {QStringLiteral("王芳"), QStringLiteral("李明"), QStringLiteral("张伟"),
                      QStringLiteral("刘洋")}}},
        {"pairs with a last and",
         "By: Smith, J., Doe, K., and Lee, M. In: Nature. 2011",
         {.authors = {QStringLiteral("Smith, J."), QStringLiteral("Doe, K."),
                      QStringLiteral("Lee, M.")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Nature")}},
        {"an institution with and",
         "By: Centers for Disease Control and Prevention. In: MMWR. 2020",
         {.authors = {QStringLiteral("Centers for Disease Control and Prevention")},
          .date = QStringLiteral("2020"),
          .journal = QStringLiteral("MMWR")}},
        {"By on a line of its own",
         "学术期刊\nBy John Smith and Jane Doe · Nature · 2011",
         {.authors = {QStringLiteral("John Smith"), QStringLiteral("Jane Doe")},
          .date = QStringLiteral("2011"),
          .journal = QStringLiteral("Nature")}},
        {"journal names with Issue and p53 in them",
         "In: Cell Cycle p53 Issue Reports. 2011, Vol. 2 Issue 1, p5-9. DOI：10.1000/abc，第3期",
         {.date = QStringLiteral("2011"),
          .journal = QStringLiteral("Cell Cycle p53 Issue Reports"),
          .volume = QStringLiteral("2"),
          .issue = QStringLiteral("1"),
          .firstPage = QStringLiteral("5"),
          .lastPage = QStringLiteral("9"),
          .doi = QStringLiteral("10.1000/abc")}},
        {"a page range and no year",
         "In: J X, pp. 2001-2010",
         {.journal = QStringLiteral("J X"),
          .firstPage = QStringLiteral("2001"),
          .lastPage = QStringLiteral("2010")}},
        {"only a year", "2004", {.date = QStringLiteral("2004")}},
        {"nothing to read", "学术期刊", {}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectSame(ReadResultEntryLine(QString::fromUtf8(c.line)), c.want);
    }
}
