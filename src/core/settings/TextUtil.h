#pragma once
// Small text rules shared by every subsystem.

#include <QString>

namespace quillax {

/// Removes leading and trailing space characters (U+0020) only; tabs and line breaks stay.
QString TrimSpaces(const QString& text);

/// `number` as decimal text with at least `digits` digits, zero-padded ("007").
QString ZeroPadded(qint64 number, int digits);

/// Removes control characters and the bidirectional marks and overrides.
QString RemoveUnsafeCharacters(const QString& text);

/// "~/x" and "~" stand for the home folder.
QString ExpandHomePath(const QString& path);

} // namespace quillax
