#pragma once
// Writing citations as RIS and BibTeX, the two formats every reference manager imports, each
// entry with the stored PDF attached.

#include "core/files/Citation.h"

#include <QByteArray>
#include <QList>

namespace quillax {

enum class CitationFormat { Ris, BibTex };

/// One paper to export: what is known of it, and its stored PDF (empty when none is stored).
struct CitationEntry {
    Citation citation;
    QString filePath;
};

/// RIS in UTF-8 with CR LF: a "TY  - JOUR" … "ER  - " block per entry, with the stored PDF
/// as an "L1" file address. Line breaks inside a value become spaces; empty fields are left out.
QByteArray RisText(const QList<CitationEntry>& entries);

/// The text with what LaTeX reads as commands or breaks escaped, braces kept balanced.
QString BibTexEscape(const QString& text);
/// The key's stem: first author's family name, year and first title word, folded to letters and
/// digits ("smith2011citation"); "anon" without an author, "nd" without a year.
QString BibTexKeyStem(const Citation& citation);
/// Keys for the citations in order: the stem, with "a", "b", … added on a clash, so the same
/// list always gets the same keys.
QStringList BibTexKeys(const QList<Citation>& citations);
/// "@article" entries in UTF-8, with `file = {:path:PDF}` for a stored PDF.
QByteArray BibTexText(const QList<CitationEntry>& entries);
/// The entries in `format`.
QByteArray CitationText(CitationFormat format, const QList<CitationEntry>& entries);

} // namespace quillax
