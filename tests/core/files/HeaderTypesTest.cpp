#include "core/files/HeaderTypes.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace quillax;

namespace {
QString q(const char* s) {
    return QString::fromUtf8(s);
}
} // namespace

TEST(ExtensionFromContentType, FollowsTheTableTheGeneralRuleAndTheFilter) {
    const std::pair<const char*, const char*> cases[] = {
        {"application/pdf", "pdf"},
        {"Application/PDF", "pdf"},
        {"pdf", "pdf"},
        {"text/html", "html"},
        {"text/plain", "txt"},
        {"image/tiff", "tif"},
        {"application/octet-stream", ""},
        {"application/*", ""},
        {"application/", ""},
        {"application/vnd.ms-powerpoint", "ppt"},
        {"application/vnd.rn-realmedia", "rm"},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
        {"application/x-excel", "xls"},
        {"image/g3fax", "g"},
        {"text/javascript", ""},
        {"application/x-gzip", "x"},
        {"image/pjpeg", "pjpeg"},
        {"image/x-icon", "ico"},
        {"video/mpeg4", "mp"}, // the filter keeps the leading letters of "mp4"
        {"audio/x-mpegurl", "mpeg"},
        {"message/rfc822", "mht"},
        {" application / x - shockwave - flash ", "swf"}, // spaces inside the subtype go
        {"foo/bar", "bar"},                               // an unlisted major type
        {"foo/*", ""},
        {"a/b/c", "a"}, // more than one "/": the major type
        {"", ""},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(ExtensionFromContentType(q(value)), q(expected)) << value;
    }
}

TEST(ContentDisposition, TheFileNamesExtensionThroughTheFilter) {
    const std::pair<const char*, const char*> cases[] = {
        {"attachment; filename=\"a.caj\"", "caj"},
        {"attachment; FILENAME='paper.PDF1'", "PDF"},
        {"attachment; filename=data.abcdefg", ""},
        {"attachment; filename*=UTF-8''x.pdf", ""},
        {"inline; filename=report.v2.doc; size=100", "doc"},
        {"attachment; filename=noextension", ""},
        {"attachment; filename=\"a\tb.p\r\ndf\"", "pdf"},
        {"", ""},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(从下载头信息ContentDisposition获取文件名(q(value)), q(expected)) << value;
    }
    const QString block =
        q("HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n  CONTENT-DISPOSITION:  "
          "attachment; filename=x.pdf  \r\nContent-Length: 5");
    EXPECT_EQ(从网络文件Header获取ContentDisposition(block), q("attachment; filename=x.pdf"));
    EXPECT_EQ(从网络文件Header获取ContentDisposition(q("HTTP/1.1 200 OK\r\n")), QString());
}

TEST(DecideTypeFromHeaders, ContentTypeThenDispositionThenCharset) {
    struct Case {
        const char* headers;
        const char* current;
        const char* type;
        const char* charset;
    };
    const Case cases[] = {
        {"Content-Type: application/pdf", "xxx", "pdf", ""},
        {"Content-Type: application/octet-stream\r\nContent-Disposition: attachment; "
         "filename=\"a.caj\"",
         "pdf", "caj", ""},
        {"Content-Type: text/xyz; charset=gbk", "pdf", "xyz", "gbk"},
        {"Content-Type: text/javascript; charset=utf-8", "pdf", "htm", "utf-8"},
        {"Content-Type: text/javascript", "pdf", "pdf", ""},
        {"Content-Type: text/javascript;charset=UTF-8", "", "htm", "UTF-8"},
        {"Content-Type: text/javascript; boundary=x; charset=utf-8", "pdf", "pdf", ""},
        {"Content-Length: 10", "doc", "doc", ""},
        {"Content-Type: ", "doc", "doc", ""},
    };
    for (const Case& c : cases) {
        const QString block = q("HTTP/1.1 200 OK\r\n") + q(c.headers);
        const HeaderTypeDecision d = DecideTypeFromHeaders(block, q(c.current));
        EXPECT_EQ(d.type, q(c.type)) << c.headers;
        EXPECT_EQ(d.charset, q(c.charset)) << c.headers;
    }
}

TEST(AddressList, PicksAndRotates) {
    EXPECT_EQ(选择url(q("a|b|c")), q("a"));
    EXPECT_EQ(选择url(q("a")), q("a"));
    EXPECT_EQ(对调url(q("a|b")), q("b|a"));
    EXPECT_EQ(对调url(q("a|b|c")), q("c|a|b"));
    EXPECT_EQ(对调url(对调url(对调url(q("a|b|c")))), q("a|b|c"));
    EXPECT_EQ(对调url(q("a")), q("a"));
    EXPECT_EQ(对调url(q("a|b|c|d")), q("a|b|c|d"));
}

// A click on status panel 2 opens only the first alternative of a key, and only a web address.
TEST(AddressList, TheBrowsableAddressOfAPanelText) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://a.example/x.pdf|http://b.example/y.pdf", "http://a.example/x.pdf"},
        {"HTTPS://a.example/p?x=1", "HTTPS://a.example/p?x=1"},
        {"file:///etc/passwd|http://b.example/", ""},
        {"javascript:alert(1)", ""},
        {"正在下载:Paper", ""},
        {"/home/user/12345/Paper.pdf", ""},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(BrowsableAddress(q(text)), q(expected)) << text;
    }
}

TEST(SiteRootOfUrl, SchemeAndHost) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://content.example/pdf/a.pdf", "https://content.example"},
        {"https://content.example", "https://content.example"},
        {"https:///path", "https:///path"},
        {"host.example/x/y", "host.example"},
        {"ab/c", "ab/c"},
        {"abc/d", "abc"},
    };
    for (const auto& [address, expected] : cases) {
        EXPECT_EQ(SiteRootOfUrl(q(address)), q(expected)) << address;
    }
}

TEST(StripLineBreaks, RemovesBreaksNulAndTabsThenTrims) {
    EXPECT_EQ(StripLineBreaks(q("  a\r\nb\nc\rd\te  ") + QChar(u'\0')), q("abcde"));
}
