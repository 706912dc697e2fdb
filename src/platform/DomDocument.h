#pragma once
// The live page's document model, reached through JavaScript in an isolated world (the page's
// own scripts cannot interfere) and waited for on the GUI thread while the event queue runs.
// Elements are handles into a registry of the current document that carry the document's
// identity: a handle of a page that has since been replaced finds nothing, and a failed call gives
// none or the empty text.

#include <QList>
#include <QString>
#include <QVariant>

class QWebEnginePage;

namespace quillax {

/// An element of one document: the document's identity and the element's number in it.
using DomHandle = qint64;
/// No element.
inline constexpr DomHandle kNoElement = -1;
/// The document itself, as the scope of a search.
inline constexpr DomHandle kDocumentScope = -2;
/// Longest wait for one document call.
inline constexpr int kDomCallTimeoutMs = 5000;

/// Runs `script` in the isolated world of `page` and waits for its result while yielding; an
/// invalid value when the page is gone, the script failed or `timeoutMs` passed.
QVariant RunJavaScriptSync(QWebEnginePage* page, const QString& script,
                           int timeoutMs = kDomCallTimeoutMs);

class DomDocument {
public:
    explicit DomDocument(QWebEnginePage* page) : page_(page) {}

    bool isNull() const { return page_ == nullptr; }

    DomHandle getElementById(const QString& id) const;
    QList<DomHandle> getElementsByClassName(DomHandle scope, const QString& name) const;
    QList<DomHandle> getElementsByTagName(DomHandle scope, const QString& tag) const;
    QString className(DomHandle element) const;
    QString innerText(DomHandle element) const;
    /// An anchor's address, as the page resolved it.
    QString href(DomHandle element) const;
    /// Clicks the element as a user would; false when there is no such element.
    bool click(DomHandle element) const;
    QString URL() const;
    /// The whole page source: `documentElement.outerHTML`.
    QString outerHTML() const;
    QString inputName(DomHandle element) const;
    QString inputType(DomHandle element) const;
    QString inputValue(DomHandle element) const;
    bool setInputValue(DomHandle element, const QString& value) const;

private:
    QVariant call(const QString& body) const;
    QString text(DomHandle element, const QString& expression) const;
    QList<DomHandle> handles(const QVariant& value) const;

    QWebEnginePage* page_;
};

} // namespace quillax
