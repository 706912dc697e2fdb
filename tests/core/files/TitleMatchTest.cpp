// Whether a PDF's text holds its row's title: a table of real-looking cases with the verdict each
// must give. The scores are printed: they are what the threshold was chosen from.

#include "core/files/TitleMatch.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace quillax;

namespace {

struct Case {
    const char* what;
    const char* title;    ///< the row's title, from the result page
    const char* pdfTitle; ///< the PDF's metadata title
    const char* pdfText;  ///< the text of its first pages
    TitleVerdict verdict;
};

const char kOtherPaper[] =
    "Bibliometric indicators in medicine: a case study\nJ. Smith, K. Lee\nAbstract. We count "
    "citations to clinical trials published between 2001 and 2010 and compare the indicators "
    "with expert judgement. The study finds that field normalisation matters.\n1 Introduction";

const Case kCases[] = {
    {"Latin, the title on the first page", "Preprint servers in linguistics: a systematic review",
     "", "Preprint servers in linguistics:\na systematic review\nA. Author\nAbstract ...",
     TitleVerdict::Matches},
    {"Latin, words hyphenated and broken over lines", "Preprint servers in linguistics", "",
     "Pre-\nprint ser-\nvers in lin-\nguistics\nAbstract", TitleVerdict::Matches},
    {"Latin, ligatures in the text layer", "Scientific findings on open data", "",
     "Scienti\xef\xac\x81\x63 \xef\xac\x81ndings on open data", TitleVerdict::Matches},
    {"Latin, the subtitle cut off on the page",
     "Open access publishing in materials science: a comparative analysis of ten journals", "",
     "Open access publishing in materials science\nB. Writer\nWe compare journals ...",
     TitleVerdict::Matches},
    {"Latin, the row's title cut to the file-name limit",
     "A very long title about the measurement of research impact across disciplines, countries "
     "and decades, with notes on data quality, coverage of the indexes, field normalisation and "
     "the limits of every s",
     "A very long title about the measurement of research impact across disciplines, countries "
     "and decades, with notes on data quality, coverage of the indexes, field normalisation and "
     "the limits of every single indicator that is used today",
     "", TitleVerdict::Matches},
    {"Latin, only the metadata title", "Editorial notes on open citation data",
     "Editorial: notes on open citation data", "", TitleVerdict::Matches},
    {"Latin, the wrong paper of the same field", "Peer review in economics: a systematic review",
     "", kOtherPaper, TitleVerdict::Mismatch},
    {"Latin, the wrong paper sharing common words",
     "Bibliometric indicators for library discovery systems: evidence from survey data", "",
     "Peer review in economics: evidence from survey data\nAbstract. We survey 400 economists.",
     TitleVerdict::Mismatch},
    {"CJK, the title on the first page", "数字图书馆：读者行为分析调查？“问卷”与访谈", "",
     "数字图书馆: 读者行为分析调查?\n\"问卷\"与访谈\n摘要：本文……", TitleVerdict::Matches},
    {"CJK, full-width and ASCII marks differ", "引文网络对材料科学的影响研究（第2号）", "",
     "引文网络对材料科学的影响研究(第2号)\n作者", TitleVerdict::Matches},
    {"CJK, the wrong paper with the same boilerplate", "数字阅读行为对高等教育的影响研究", "",
     "引文网络对材料科学的影响研究\n摘要：本文研究引文网络的结构及其影响。",
     TitleVerdict::Mismatch},
    {"mixed, a Latin name in a CJK title", "CiteSpace在图书情报学中的应用研究", "",
     "CiteSpace 在图书情报学中的应用研究\n摘要", TitleVerdict::Matches},
    {"a title made only of common words", "A systematic review", "",
     "A systematic review\nAbstract", TitleVerdict::Matches},
    {"a scan: no text and no metadata title", "Peer review in economics", "", "",
     TitleVerdict::Unknown},
    {"a scan: only white space in the text layer", "数字阅读行为对高等教育的影响研究", "",
     " \n\n \t", TitleVerdict::Unknown},
    {"a title with nothing to look for", "(no. 1)", "", kOtherPaper, TitleVerdict::Unknown},
};

TEST(TitleMatch, EachCaseGetsItsVerdict) {
    for (const Case& c : kCases) {
        const TitleMatch m = MatchTitle(QString::fromUtf8(c.title), QString::fromUtf8(c.pdfTitle),
                                        QString::fromUtf8(c.pdfText));
        std::printf("%-52s score %.2f\n", c.what, m.score);
        EXPECT_EQ(m.verdict, c.verdict) << c.what << ": score " << m.score;
    }
}

TEST(TitleMatch, NormalisingFoldsCaseWidthAndMarks) {
    EXPECT_EQ(NormalisedForMatching(QStringLiteral("Ａ／Ｂ Testing: “Why?”")),
              QStringLiteral("abtestingwhy"));
    // Qt folds case simply (ß stays ß), the same on both sides; a ligature is two letters.
    EXPECT_EQ(NormalisedForMatching(QStringLiteral("STRAẞE ﬁnal")), QStringLiteral("straßefinal"));
    EXPECT_EQ(NormalisedForMatching(QStringLiteral("（第２号）")), QStringLiteral("第2号"));
}

} // namespace
