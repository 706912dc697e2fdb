#pragma once
// What an address typed into the search window's address box opens: web pages only, with
// "https://" assumed when the user gives no scheme.

#include <QRegularExpression>
#include <QString>
#include <QUrl>

namespace quillax {

struct TypedAddress {
    enum Kind {
        Empty,   ///< nothing typed: nothing happens
        Web,     ///< `url` is the http(s) page to open
        NotWeb,  ///< another scheme (javascript:, file:, about:, ftp:, ...)
        Invalid, ///< http(s), but no usable address (no host, a host with spaces)
    };
    Kind kind = Empty;
    QUrl url;
};

/// Reads the address box's text. "host:port/..." is a host with a port, not a scheme.
inline TypedAddress ReadTypedAddress(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        return {};
    }
    static const QRegularExpression schemed(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):(.*)$"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression port(QStringLiteral("^[0-9]+([/?#].*)?$"),
                                         QRegularExpression::DotMatchesEverythingOption);
    QString scheme;
    const QRegularExpressionMatch m = schemed.match(text);
    if (m.hasMatch() &&
        (m.captured(2).startsWith(QLatin1String("//")) || !port.match(m.captured(2)).hasMatch())) {
        scheme = m.captured(1).toLower();
    }
    QString address = text;
    if (scheme.isEmpty()) {
        address = (text.startsWith(QLatin1String("//")) ? QStringLiteral("https:")
                                                        : QStringLiteral("https://")) +
                  text;
    } else if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        return {TypedAddress::NotWeb, {}};
    }
    const QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty()) {
        return {TypedAddress::Invalid, {}};
    }
    return {TypedAddress::Web, url};
}

/// What the user is told when the typed text opens nothing; empty when it opens a page.
inline QString TypedAddressMessage(TypedAddress::Kind kind) {
    switch (kind) {
    case TypedAddress::NotWeb:
        return QStringLiteral("只能打开http或https网址");
    case TypedAddress::Invalid:
        return QStringLiteral("网址不正确，请检查后重新输入");
    case TypedAddress::Empty:
    case TypedAddress::Web:
        break;
    }
    return {};
}

} // namespace quillax
