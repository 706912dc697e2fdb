#pragma once
// What the program knows of a paper for a reference manager: its title, authors, date, journal
// and the rest, collected from the record page, the result entry and the stored PDF. Plain
// data: it travels with the analysis row and the download item and is kept with the queue.

#include <QString>
#include <QStringList>

namespace quillax {

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
    /// Fills every empty field (and the authors, when none are known) from `other`.
    void fillMissingFrom(const Citation& other);
    bool operator==(const Citation&) const = default;
};

/// One author's name in its parts. `family` alone for a name that is one piece.
struct AuthorName {
    QString family;
    QString given;
};

/// Reads "Family, Given", "Given Family" (with "van", "de" and the like kept with the family
/// name) and CJK names (one piece). Spaces are tidied; an empty text gives empty parts.
AuthorName SplitAuthorName(const QString& name);
/// The name as the reference formats write it: "Family, Given", or the one piece.
QString NormalisedAuthor(const QString& name);

/// The authors in a PDF's metadata author text, which parts them by ";" or " and ".
QStringList AuthorsFromPdfMetadata(const QString& author);

/// The DOI in `text` ("doi:10.…", "https://doi.org/10.…" or "10.…"), or empty.
QString DoiIn(const QString& text);

/// The citation as compact JSON for the kept queue; an empty citation gives an empty text.
QString CitationToJson(const Citation& citation);
/// The citation from `CitationToJson`'s text; anything unreadable gives an empty citation.
Citation CitationFromJson(const QString& json);

} // namespace quillax
