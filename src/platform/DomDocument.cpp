#include "platform/DomDocument.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <memory>

namespace quillax {

namespace {

// Defines the handle registry of the current document once, then runs the call's body.
// Defines the handle registry of the current document once, then runs the call's body. A handle
// carries the identity of its document (a random number the document draws once) above its
// position, so a handle kept across a navigation finds nothing in the next document.
const char* const kPrelude =
    "(function(){"
    "var R = window.__quillaxNodes || (window.__quillaxNodes = []);"
    "var D = window.__quillaxDoc || (window.__quillaxDoc = 1 + Math.floor(Math.random() * "
    "1048575));"
    "var B = 4294967296;"
    "function reg(e){ if(!e) return -1; var i = R.indexOf(e); if(i < 0){ "
    "R.push(e); i = R.length-1; } return D * B + i; }"
    "function get(h){ if(h === -2) return document; if(h < 0) return null;"
    " if(Math.floor(h / B) !== D) return null; return R[h % B] || null; }"
    "try { %1 } catch (err) { return null; }"
    "})()";

QString quoted(const QString& text) {
    return QString::fromUtf8(
               QJsonDocument::fromVariant(QVariantList{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

} // namespace

QVariant RunJavaScriptSync(QWebEnginePage* page, const QString& script, int timeoutMs) {
    if (page == nullptr) {
        return {};
    }
    struct State {
        QVariant result;
        bool done = false;
        QEventLoop* loop = nullptr;
    };
    // The callback may come after we gave up; it then finds the state but no loop.
    auto state = std::make_shared<State>();
    QEventLoop loop;
    state->loop = &loop;
    QPointer<QWebEnginePage> guard(page);
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [state](const QVariant& v) {
        state->result = v;
        state->done = true;
        if (state->loop != nullptr) {
            state->loop->quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (guard) {
        QObject::connect(guard, &QObject::destroyed, &loop, &QEventLoop::quit);
        // A document replaced during the call may never answer it: the call then finds none.
        QObject::connect(guard, &QWebEnginePage::loadStarted, &loop, &QEventLoop::quit);
        QObject::connect(guard, &QWebEnginePage::loadFinished, &loop, &QEventLoop::quit);
    }
    if (!state->done) {
        loop.exec();
    }
    state->loop = nullptr;
    return state->done ? state->result : QVariant();
}

QVariant DomDocument::call(const QString& body) const {
    return RunJavaScriptSync(page_, QString::fromLatin1(kPrelude).arg(body));
}

QList<DomHandle> DomDocument::handles(const QVariant& value) const {
    QList<DomHandle> out;
    const QVariantList list = value.toList();
    for (const QVariant& v : list) {
        out << static_cast<DomHandle>(v.toDouble());
    }
    return out;
}

DomHandle DomDocument::getElementById(const QString& id) const {
    const QVariant v =
        call(QStringLiteral("return reg(document.getElementById(%1));").arg(quoted(id)));
    return v.isValid() && !v.isNull() ? static_cast<DomHandle>(v.toDouble()) : kNoElement;
}

QList<DomHandle> DomDocument::getElementsByClassName(DomHandle scope, const QString& name) const {
    return handles(
        call(QStringLiteral("var s = get(%1); if(!s) return [];"
                            "return Array.prototype.map.call(s.getElementsByClassName(%2), reg);")
                 .arg(scope)
                 .arg(quoted(name))));
}

QList<DomHandle> DomDocument::getElementsByTagName(DomHandle scope, const QString& tag) const {
    return handles(
        call(QStringLiteral("var s = get(%1); if(!s) return [];"
                            "return Array.prototype.map.call(s.getElementsByTagName(%2), reg);")
                 .arg(scope)
                 .arg(quoted(tag))));
}

QString DomDocument::text(DomHandle element, const QString& expression) const {
    const QVariant v = call(QStringLiteral("var e = get(%1); if(!e || e === document) return ''; "
                                           "var v = %2; return v == null ? '' : String(v);")
                                .arg(element)
                                .arg(expression));
    return v.toString();
}

QString DomDocument::className(DomHandle element) const {
    return text(element, QStringLiteral("e.className"));
}
QString DomDocument::innerText(DomHandle element) const {
    return text(element, QStringLiteral("e.innerText"));
}
QString DomDocument::href(DomHandle element) const {
    return text(element, QStringLiteral("e.href"));
}
QString DomDocument::inputName(DomHandle element) const {
    return text(element, QStringLiteral("e.name"));
}
QString DomDocument::inputType(DomHandle element) const {
    return text(element, QStringLiteral("e.type"));
}
QString DomDocument::inputValue(DomHandle element) const {
    return text(element, QStringLiteral("e.value"));
}

bool DomDocument::setInputValue(DomHandle element, const QString& value) const {
    return call(QStringLiteral("var e = get(%1); if(!e || e === document) return false; e.value = "
                               "%2; return true;")
                    .arg(element)
                    .arg(quoted(value)))
        .toBool();
}

bool DomDocument::click(DomHandle element) const {
    // The click runs just after the answer, so the navigation it may start cannot swallow it.
    return call(QStringLiteral("var e = get(%1); if(!e || !e.click) return false;"
                               "setTimeout(function(){ e.click(); }, 0); return true;")
                    .arg(element))
        .toBool();
}

QString DomDocument::URL() const {
    return call(QStringLiteral("return document.URL;")).toString();
}

QString DomDocument::outerHTML() const {
    return call(QStringLiteral(
                    "return document.documentElement ? document.documentElement.outerHTML : '';"))
        .toString();
}

} // namespace quillax
