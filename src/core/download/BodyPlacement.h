#pragma once
// Where a whole body may be stored. A file already at the target is replaced only by a body of
// the target's own type as its content shows, and a web page never takes a document's name: a
// login page that arrives instead of a PDF is kept under a web-page name of its own, and the
// user's file stays as it was until a real document replaces it.

#include <QString>

namespace quillax {

/// The path the whole body in `partPath` is to take instead of `targetPath`: a web page for a
/// document's name goes beside it under a web-page name of its own; otherwise `targetPath`
/// itself when it is free (or holds only our placeholder), when the body's content shows its
/// type, or when the body shows no known type and neither does the file there; else a free
/// name beside it (with the body's own type where it shows one).
/// `ownOldFile` is the row's earlier file, which a body of its type may replace (empty when there
/// is none). Pure file reads: safe on any thread.
QString PlaceForBody(const QString& partPath, const QString& targetPath, const QString& ownOldFile);

} // namespace quillax
