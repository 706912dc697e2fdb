#pragma once
// The live page's document model, reached through JavaScript in an isolated world (the page's
// own scripts cannot interfere) and waited for on the GUI thread while the event queue runs.
// Elements are numbered handles into a registry of the current document: a handle of a page
// that has since been replaced finds nothing, and a failed call gives none or the empty text.

#include <QList>
#include <QString>
#include <QVariant>

class QWebEnginePage;

namespace quillax {

/// No element.
inline constexpr int kNoElement = -1;
/// The document itself, as the scope of a search.
inline constexpr int kDocumentScope = -2;
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

    int getElementById(const QString& id) const;
    QList<int> getElementsByClassName(int scope, const QString& name) const;
    QList<int> getElementsByTagName(int scope, const QString& tag) const;
    QString className(int element) const;
    QString innerText(int element) const;
    /// An anchor's address, as the page resolved it.
    QString href(int element) const;
    /// Clicks the element as a user would; false when there is no such element.
    bool click(int element) const;
    QString URL() const;
    /// The whole page source: `documentElement.outerHTML`.
    QString outerHTML() const;
    QString inputName(int element) const;
    QString inputType(int element) const;
    QString inputValue(int element) const;
    bool setInputValue(int element, const QString& value) const;

private:
    QVariant call(const QString& body) const;
    QString text(int element, const QString& expression) const;
    QList<int> handles(const QVariant& value) const;

    QWebEnginePage* page_;
};

} // namespace quillax
