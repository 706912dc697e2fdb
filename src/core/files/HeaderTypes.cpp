#include "core/files/HeaderTypes.h"

#include "core/settings/TextUtil.h"

#include <QStringList>
#include <QUrl>
#include <array>

namespace quillax {

namespace {

// The leading run of ASCII letters, or empty when it is longer than five letters.
QString extensionFilter(const QString& text) {
    qsizetype n = 0;
    while (n < text.size()) {
        const char16_t c = text.at(n).unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) {
            break;
        }
        ++n;
    }
    return n > kMaxHeaderExtensionLetters ? QString() : text.left(n);
}

struct TypeRow {
    const char* major;
    std::initializer_list<const char*> subtypes;
    const char* extension; ///< nullptr: the subtype itself
};

// First matching row wins.
const std::array kTypeTable = {
    TypeRow{"application", {"octet-stream"}, ""},
    TypeRow{"application", {"x-shockwave-flash"}, "swf"},
    TypeRow{"application", {"x-javascript"}, "js"},
    TypeRow{"application", {"vnd.rn-realmedia"}, "rm"},
    TypeRow{"application", {"vnd.ms-wpl"}, "wpl"},
    TypeRow{"application", {"kdh"}, "kdh"},
    TypeRow{"application", {"caj"}, "caj"},
    TypeRow{"application", {"pdf"}, "pdf"},
    TypeRow{"application", {"caa"}, "caa"},
    TypeRow{"application", {"nh"}, "nh"},
    TypeRow{"application", {"vnd.ms-works"}, "wps"},
    TypeRow{"application", {"ppt", "vnd.ms-powerpoint"}, "ppt"},
    TypeRow{"application", {"doc", "msword"}, "doc"},
    TypeRow{"application",
            {"docx", "vnd.openxmlformats-officedocument.wordprocessingml.document"},
            "docx"},
    TypeRow{"application", {"rtf"}, "rtf"},
    TypeRow{"application", {"xls", "vnd.ms-excel", "x-excel"}, "xls"},
    TypeRow{
        "application", {"xlsx", "vnd.openxmlformats-officedocument.spreadsheetml.sheet"}, "xlsx"},
    TypeRow{"application",
            {"pptx", "vnd.openxmlformats-officedocument.presentationml.presentation"},
            "pptx"},
    TypeRow{"application", {"pps"}, "pps"},
    TypeRow{"application",
            {"ppsx", "vnd.openxmlformats-officedocument.presentationml.slideshow"},
            "ppsx"},
    TypeRow{"application", {"dll", "x-msdownload"}, "dll"},
    TypeRow{"application", {"tar", "x-tar"}, "tar"},
    TypeRow{"application", {"tgz", "x-compressed"}, "tgz"},
    TypeRow{"application", {"zip", "x-zip-compressed"}, "zip"},
    TypeRow{"application", {"z", "x-compress"}, "z"},
    TypeRow{"text", {"html", "txt", "htm", "xml", "css"}, nullptr},
    TypeRow{"text", {"plain"}, "txt"},
    TypeRow{"image", {"jpg", "jpeg", "gif", "png", "bmp", "tif", "pjpeg", "g3fax", "ief"}, nullptr},
    TypeRow{"image", {"tiff"}, "tif"},
    TypeRow{"image", {"x-png"}, "png"},
    TypeRow{"image", {"x-ms-bmp"}, "bmp"},
    TypeRow{"image", {"x-icon"}, "ico"},
    TypeRow{"video", {"mpeg"}, "mpeg"},
    TypeRow{"video", {"mpeg4"}, "mp4"},
    TypeRow{"video", {"x-msvideo"}, "avi"},
    TypeRow{"video", {"x-ms-asf"}, "asf"},
    TypeRow{"video", {"x-ms-wmv"}, "wmv"},
    TypeRow{"video", {"quicktime"}, "mov"},
    TypeRow{"audio", {"amr"}, "amr"},
    TypeRow{"audio", {"x-ms-wma"}, "wma"},
    TypeRow{"audio", {"x-wav"}, "wav"},
    TypeRow{"audio", {"x-pn-realaudio"}, "ram"},
    TypeRow{"audio", {"midi"}, "mid"},
    TypeRow{"audio", {"x-mpegurl"}, "mpeg"},
    TypeRow{"message", {"rfc822"}, "mht"},
};

QString lookUpExtension(const QString& major, const QString& subtype) {
    bool majorListed = false;
    for (const TypeRow& row : kTypeTable) {
        if (major != QLatin1String(row.major)) {
            continue;
        }
        majorListed = true;
        for (const char* s : row.subtypes) {
            if (subtype == QLatin1String(s)) {
                return row.extension == nullptr ? subtype : QString::fromLatin1(row.extension);
            }
        }
    }
    if (majorListed && (subtype.isEmpty() || subtype == QLatin1String("*"))) {
        return {};
    }
    return subtype;
}

} // namespace

QString 选择url(const QString& addressList) {
    return addressList.section(QLatin1Char('|'), 0, 0);
}

QString 对调url(const QString& addressList) {
    const QStringList parts = addressList.split(QLatin1Char('|'));
    if (parts.size() == 2) {
        return parts.at(1) + QLatin1Char('|') + parts.at(0);
    }
    if (parts.size() == 3) {
        return parts.at(2) + QLatin1Char('|') + parts.at(0) + QLatin1Char('|') + parts.at(1);
    }
    return addressList;
}

QString BrowsableAddress(const QString& text) {
    const QString first = 选择url(text).trimmed();
    const bool web = first.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                     first.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    return web && QUrl(first).isValid() ? first : QString();
}

QString SiteRootOfUrl(const QString& address) {
    const qsizetype p = address.indexOf(QLatin1String("://"));
    if (p >= 0) {
        const qsizetype slash = address.indexOf(QLatin1Char('/'), p + 3);
        return slash > p + 3 ? address.left(slash) : address;
    }
    // Without a scheme the host must be longer than two characters to count as one.
    const qsizetype slash = address.indexOf(QLatin1Char('/'));
    return slash >= 3 ? address.left(slash) : address;
}

QString StripLineBreaks(const QString& text) {
    QString result = text;
    result.remove(QStringLiteral("\r\n"));
    for (const QChar c : {QChar(u'\0'), QChar(u'\n'), QChar(u'\r'), QChar(u'\t')}) {
        result.remove(c);
    }
    return TrimSpaces(result);
}

QString ExtensionFromContentType(const QString& mediaType) {
    const QStringList pieces = mediaType.split(QLatin1Char('/'));
    const QString major = TrimSpaces(pieces.at(0)).toLower();
    if (pieces.size() != 2) {
        return extensionFilter(major);
    }
    QString subtype = TrimSpaces(pieces.at(1));
    subtype.remove(QLatin1Char(' '));
    return extensionFilter(lookUpExtension(major, subtype.toLower()));
}

QString HeaderValue(const QString& headerBlock, const QString& name) {
    const QString prefix = name.toLower() + QLatin1Char(':');
    const QStringList lines = headerBlock.split(QStringLiteral("\r\n"));
    for (const QString& line : lines) {
        const QString trimmed = TrimSpaces(line);
        if (trimmed.left(prefix.size()).toLower() == prefix) {
            return TrimSpaces(trimmed.mid(prefix.size()));
        }
    }
    return {};
}

QString 从网络文件Header获取ContentDisposition(const QString& headerBlock) {
    return HeaderValue(headerBlock, QStringLiteral("content-disposition"));
}

QString 从下载头信息ContentDisposition获取文件名(const QString& disposition) {
    const QString value = TrimSpaces(disposition);
    const QLatin1String key("filename=");
    const qsizetype at = value.indexOf(key, 0, Qt::CaseInsensitive);
    if (at < 0) {
        return {};
    }
    QString name = TrimSpaces(value.mid(at + key.size()));
    const qsizetype semicolon = name.indexOf(QLatin1Char(';'));
    if (semicolon >= 0) {
        name = TrimSpaces(name.left(semicolon));
    }
    name.remove(QLatin1Char('"'));
    name.remove(QLatin1Char('\''));
    name = StripLineBreaks(name);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) {
        return {};
    }
    return extensionFilter(TrimSpaces(name.mid(dot + 1)));
}

HeaderTypeDecision DecideTypeFromHeaders(const QString& headerBlock, const QString& currentType) {
    HeaderTypeDecision decision;
    const QStringList pieces = TrimSpaces(HeaderValue(headerBlock, QStringLiteral("content-type")))
                                   .split(QLatin1Char(';'));
    const QString mediaType = TrimSpaces(pieces.at(0));
    if (pieces.size() > 1) {
        const QString parameter = TrimSpaces(pieces.at(1));
        if (parameter.left(8).toLower() == QLatin1String("charset=")) {
            decision.charset = parameter.mid(8);
        }
    }
    QString extension = mediaType.isEmpty() ? QString() : ExtensionFromContentType(mediaType);
    if (extension.isEmpty()) {
        extension = 从下载头信息ContentDisposition获取文件名(
            从网络文件Header获取ContentDisposition(headerBlock));
    }
    if (extension.isEmpty() && !decision.charset.isEmpty()) {
        extension = QStringLiteral("htm");
    }
    decision.type = extension.isEmpty() ? currentType : extension;
    return decision;
}

} // namespace quillax
