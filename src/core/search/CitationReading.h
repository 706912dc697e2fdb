#pragma once
// What a record says about its paper, for the citation exports: the record page's citation meta
// tags, and the line of a result entry with the authors, the source and the year.

#include "core/files/Citation.h"

namespace quillax {

/// The record page's "citation_*" meta tags, with the Dublin Core forms ("DC.title",
/// "DC.creator", …) for what they leave open. Character references are decoded, spaces tidied;
/// the record and its result entry fill in the rest.
Citation ReadCitationMeta(const QString& page);

/// The authors, journal, year, volume, issue and pages of a result entry's text, as result lists
/// write them: "作者: Smith, John; Doe, Jane. 来源: Journal of X. Mar2011, Vol. 12 Issue 3,
/// p45-67." (the English "By:" and "In:"/"Source:" as well, parts also parted by " · ").
Citation ReadResultEntryLine(const QString& text);

} // namespace quillax
