#include "core/files/TitleMatch.h"

#include <QSet>
#include <QStringList>
#include <algorithm>

namespace quillax {

bool IsCjk(char32_t c) {
    return (c >= 0x3040 && c <= 0x30FF) || // Hiragana, Katakana
           (c >= 0x3400 && c <= 0x4DBF) || // CJK extension A
           (c >= 0x4E00 && c <= 0x9FFF) || // CJK unified ideographs
           (c >= 0xAC00 && c <= 0xD7AF) || // Hangul syllables
           (c >= 0xF900 && c <= 0xFAFF) || // CJK compatibility ideographs
           (c >= 0x20000 && c <= 0x2FA1F); // supplementary ideographs
}

bool HasCjk(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return IsCjk(c.unicode()); });
}

namespace {

bool isWordChar(char32_t c) {
    return QChar::isLetterOrNumber(c);
}

QString folded(const QString& text) {
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

// Words of at least three letters or digits: shorter ones ("in", "of", "no") are found inside
// almost any text and would make every paper look like the right one. CJK characters are left
// out (they are scored by pairs instead).
QStringList wordsOf(const QString& text) {
    QStringList words;
    QString current;
    const auto flush = [&] {
        if (current.size() >= 3) {
            words << current;
        }
        current.clear();
    };
    for (char32_t c : folded(text).toUcs4()) {
        if (isWordChar(c) && !IsCjk(c)) {
            current += QString::fromUcs4(&c, 1);
        } else {
            flush();
        }
    }
    flush();
    return words;
}

// Pairs of adjacent CJK characters, the text's punctuation and spaces left out first.
QSet<QString> cjkPairsOf(const QString& normalised) {
    QSet<QString> pairs;
    const QList<uint> chars = normalised.toUcs4();
    for (qsizetype i = 0; i + 1 < chars.size(); ++i) {
        if (IsCjk(chars[i]) && IsCjk(chars[i + 1])) {
            const char32_t pair[2] = {chars[i], chars[i + 1]};
            pairs.insert(QString::fromUcs4(pair, 2));
        }
    }
    return pairs;
}

int cjkCount(const QString& normalised) {
    int n = 0;
    for (char32_t c : normalised.toUcs4()) {
        n += IsCjk(c) ? 1 : 0;
    }
    return n;
}

// Words that half the titles of a field share ("a systematic review", "evidence from survey
// data") say nothing of which paper it is; left out, two papers of one field no longer look alike.
// A title made only of them keeps them.
bool isCommonWord(const QString& word) {
    static const QSet<QString> common = {
        QStringLiteral("the"),          QStringLiteral("and"),        QStringLiteral("for"),
        QStringLiteral("with"),         QStringLiteral("from"),       QStringLiteral("into"),
        QStringLiteral("its"),          QStringLiteral("their"),      QStringLiteral("between"),
        QStringLiteral("review"),       QStringLiteral("systematic"), QStringLiteral("study"),
        QStringLiteral("studies"),      QStringLiteral("analysis"),   QStringLiteral("case"),
        QStringLiteral("evidence"),     QStringLiteral("survey"),     QStringLiteral("data"),
        QStringLiteral("research"),     QStringLiteral("approach"),   QStringLiteral("comparative"),
        QStringLiteral("longitudinal"), QStringLiteral("effects"),    QStringLiteral("effect"),
        QStringLiteral("impact"),       QStringLiteral("role"),       QStringLiteral("using"),
        QStringLiteral("based"),        QStringLiteral("new"),        QStringLiteral("notes"),
    };
    return common.contains(word);
}

} // namespace

QString NormalisedForMatching(const QString& text) {
    QString out;
    for (char32_t c : folded(text).toUcs4()) {
        if (isWordChar(c)) {
            out += QString::fromUcs4(&c, 1);
        }
    }
    return out;
}

TitleMatch MatchTitle(const QString& title, const QString& pdfTitle, const QString& pdfText) {
    const QString haystack = pdfTitle + QLatin1Char('\n') + pdfText;
    const QString wantedNormalised = NormalisedForMatching(title);
    const QString haystackNormalised = NormalisedForMatching(haystack);
    TitleMatch result;
    if (wantedNormalised.isEmpty() || haystackNormalised.isEmpty()) {
        return result; // a scan, or a title with nothing to look for
    }
    int found = 0;
    int total = 0;
    if (cjkCount(wantedNormalised) * 2 >= wantedNormalised.size()) {
        const QSet<QString> have = cjkPairsOf(haystackNormalised);
        const QSet<QString> want = cjkPairsOf(wantedNormalised);
        total = static_cast<int>(want.size());
        for (const QString& pair : want) {
            found += have.contains(pair) ? 1 : 0;
        }
    }
    if (total == 0) {
        // Words are looked for in the text run together, so a word broken over two lines of a
        // PDF's text layer, or hyphenated there, is still found.
        const QStringList words = wordsOf(title);
        QSet<QString> want;
        for (const QString& word : words) {
            if (!isCommonWord(word)) {
                want.insert(word);
            }
        }
        if (want.isEmpty()) {
            want = QSet<QString>(words.cbegin(), words.cend());
        }
        total = static_cast<int>(want.size());
        for (const QString& word : want) {
            found += haystackNormalised.contains(word) ? 1 : 0;
        }
    }
    if (total == 0) {
        return result;
    }
    result.score = static_cast<double>(found) / total;
    result.verdict =
        result.score < kTitleMismatchBelow ? TitleVerdict::Mismatch : TitleVerdict::Matches;
    return result;
}

} // namespace quillax
