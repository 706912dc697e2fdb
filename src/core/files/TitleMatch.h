#pragma once
// Whether a stored PDF is the paper its row names: how much of the row's title its text holds.
// Databases sometimes serve another record's full text under a record; nobody opens three
// hundred files to find out, so the text of the first pages is compared with the title.

#include <QString>

namespace quillax {

enum class TitleVerdict {
    Matches,  ///< enough of the title is in the text
    Mismatch, ///< clearly too little of it: the content may not be the record's paper
    Unknown,  ///< the file has no text to compare (a scan) or the title has nothing to look for
};

struct TitleMatch {
    TitleVerdict verdict = TitleVerdict::Unknown;
    double score = 0; ///< the share of the title found, 0 to 1
};

/// True for the characters of CJK scripts (Han, kana, Hangul), which write words without spaces.
bool IsCjk(char32_t c);
/// True when any character of `text` is one of those.
bool HasCjk(const QString& text);

/// The text as the comparison sees it: Unicode NFKC, case-folded, with every character that is
/// not a letter or a digit removed (spaces and punctuation included).
QString NormalisedForMatching(const QString& text);

/// Compares a row's title with the PDF's metadata title and the text of its first pages. A title
/// mostly in CJK script is scored by its pairs of adjacent characters, any other by its words;
/// the score is the share of them found in the text.
TitleMatch MatchTitle(const QString& title, const QString& pdfTitle, const QString& pdfText);

/// Below this share of the title found, the content is taken for another paper. From the table
/// of cases in the tests: the right paper scores 1.0, or 0.86 when its page leaves the subtitle
/// out; another paper scores 0.0 when it shares only the field's common words ("a systematic
/// review", "evidence from survey data", which are not counted) and 0.27 with the CJK
/// boilerplate ("……的影响研究"). Half sits well inside that gap.
inline constexpr double kTitleMismatchBelow = 0.5;

} // namespace quillax
