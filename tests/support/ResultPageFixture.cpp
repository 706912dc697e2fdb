#include "ResultPageFixture.h"

namespace quillax::test {

FixtureEntry NormalEntry(int n) {
    const QByteArray i = QByteArray::number(n);
    return FixtureEntry{{
        {"title-link color-p4", "Deep learning for citation analysis, part " + i,
         "/ehost/detail/detail?vid=3&amp;sid=ab12-" + i + "&amp;bdata=JnNpdGU9ZWhvc3Q"},
        {"", "Zhang, Wei", "/ehost/results?vid=4&amp;bquery=AR+%22Zhang%22"},
        {"record-type html-ft", "HTML Full Text", "/ehost/detail/detail?vid=5&amp;sid=ab12-" + i},
        {"record-type pdf-ft", "PDF Full Text",
         "/ehost/pdfviewer/pdfviewer?vid=6&amp;sid=ab12-" + i},
    }};
}

QByteArray ResultPage(const QVector<FixtureEntry>& entries, bool withResultList) {
    QByteArray html = R"HTML(<!DOCTYPE html>
<html lang="zh-cn"><head><meta charset="utf-8">
<title>EBSCOhost: 结果: citation analysis</title>
<link rel="stylesheet" type="text/css" href="/ehost/css/site.css">
<script type="text/javascript">
  var ep = { clientData: { pageSize: 50, currentPage: 1 } };
  function __doPostBack(target, argument) { document.forms[0].submit(); }
  // A page script that breaks: extraction must not care.
  ep.clientData.missing.property = 1;
</script>
</head>
<body class="ehost">
<div id="header"><a href="/ehost/search/basic">新检索</a> <a href="/ehost/publications">出版物</a>
  <a href="javascript:void(0)" onclick="window.open('/help')">帮助</a></div>
<form name="aspnetForm" method="post" action="/ehost/results">
<div id="content">
  <div class="result-list-facets"><h3>精确检索结果</h3>
    <a class="facet" href="/ehost/results?limiter=FT">全文</a>
    <a class="record-type pdf-ft" href="/not-an-entry.pdf">PDF Full Text</a></div>
)HTML";
    if (withResultList) {
        html +=
            R"HTML(  <div id="resultListControl" class="result-list-wrapper"><ul class="result-list">
)HTML";
        int n = 1;
        for (const FixtureEntry& entry : entries) {
            html += "    <li class=\"result-list-li\"><span class=\"record-index\">" +
                    QByteArray::number(n++) + ".</span><div class=\"result-list-record\">\n      ";
            for (const FixtureLink& link : entry.links) {
                html += "<a class=\"" + link.cssClass + "\" href=\"" + link.href + "\">" +
                        link.text + "</a>\n      ";
            }
            html += "<div class=\"display-info\">学术期刊 <span>2024</span></div></div></li>\n";
        }
        html += "  </ul></div>\n";
    }
    html += R"HTML(  <div class="content-footer"><a href="/ehost/results?page=1">上一个</a>
    <a href="/ehost/results?page=2">下一个</a></div>
</div></form>
<script>document.title = document.title;</script>
</body></html>
)HTML";
    return html;
}

} // namespace quillax::test
