#pragma once
// Result pages shaped like EBSCOhost's classic result list, with the markup around the entries
// that real pages carry: scripts, facets, other links, a footer with page links.

#include <QByteArray>
#include <QString>
#include <QVector>

namespace quillax::test {

struct FixtureLink {
    QByteArray cssClass; ///< the class attribute as written
    QByteArray text;
    QByteArray href; ///< as written in the source (entities and all)
};

struct FixtureEntry {
    QVector<FixtureLink> links; ///< in document order; the first is usually the title link
};

/// A normal entry: title link, author link, HTML full text, and the PDF full-text link.
FixtureEntry NormalEntry(int n);

/// The whole page for `entries`.
QByteArray ResultPage(const QVector<FixtureEntry>& entries, bool withResultList = true);

} // namespace quillax::test
