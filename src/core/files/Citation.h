#pragma once
// What the program knows of a paper for a reference manager: its title, authors, date, journal
// and the rest, collected from the record page, the result entry and the stored PDF. Plain
// data: it travels with the analysis row and the download item and is kept with the queue.

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace quillax {

/// Longest value kept of a field (a title, a journal, one author's name) ...
inline constexpr qsizetype kMaxCitationChars = 2000;
/// ... and most authors kept of one record: a source that repeats a name without end is cut.
inline constexpr qsizetype kMaxCitationAuthors = 1000;

struct Citation {
    QString title;
    QStringList authors; ///< "Family, Given", or the name as one piece (CJK names, bodies)
    QString date;        ///< as the source gives it ("2011-03-15", "Mar2011", "2011")
    QString journal;
    QString volume;
    QString issue;
    QString firstPage;
    QString lastPage;
    QString doi; ///< "10.…", without "doi:" or the resolver address
    QString issn;
    QString recordUrl; ///< the record page
    QString pdfUrl;    ///< the PDF address the record page names

    bool isEmpty() const;
    /// The four-digit year in `date`, or empty.
    QString year() const;
    /// Fills every empty field (and the authors, when none are known) from `other`; a date
    /// without a year counts as empty.
    void fillMissingFrom(const Citation& other);
    bool operator==(const Citation&) const = default;
};

/// A four-digit year from 1500 to 2099 standing alone ("Mar2011" holds one, "20110315" none).
const QRegularExpression& YearPattern();

/// A value as a citation keeps it: white space and line breaks as single spaces, control
/// characters and turning marks removed, cut to `kMaxCitationChars`.
QString CitationValue(const QString& text);

/// True for the name of a group or an institution as author ("Research and Development Group",
/// "University of California"): one name, not given and family names.
bool IsInstitution(const QString& name);

/// One author's name in its parts. `family` alone for a name that is one piece.
struct AuthorName {
    QString family;
    QString given;
};

/// Reads "Family, Given", "Given Family" (with "van", "de" and the like kept with the family
/// name, "Jr." with the given names), "Family AB" (initials after the name), and CJK names and
/// institutions (one piece). Spaces are tidied; an empty text gives empty parts.
AuthorName SplitAuthorName(const QString& name);
/// The name as the reference formats write it: "Family, Given", or the one piece.
QString NormalisedAuthor(const QString& name);

/// The authors in a PDF's metadata author text, which parts them by ";" or " and "; each a
/// `CitationValue`, at most `kMaxCitationAuthors`.
QStringList AuthorsFromPdfMetadata(const QString& author);

/// The DOI in `text` ("doi:10.…", "https://doi.org/10.…" or "10.…"), or empty.
QString DoiIn(const QString& text);

/// The citation as compact JSON for the kept queue; an empty citation gives an empty text.
QString CitationToJson(const Citation& citation);
/// The citation from `CitationToJson`'s text; anything unreadable gives an empty citation.
Citation CitationFromJson(const QString& json);

} // namespace quillax
