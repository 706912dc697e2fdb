#include "ui/search/ResultPageReader.h"

#include "platform/DomDocument.h"

#include <QVariantMap>

namespace quillax {

namespace {

// One pass over the document: every entry's links with their class, text and address. Reading
// them call by call would cost a round trip each.
const char* const kSnapshotScript = R"JS(
(function(){
  try {
    var out = { has: false, url: document.URL, entries: [] };
    var list = document.getElementById('resultListControl');
    if (!list) return out;
    out.has = true;
    var items = list.getElementsByClassName('result-list-li');
    for (var i = 0; i < items.length; i++) {
      var anchors = items[i].getElementsByTagName('A');
      var links = [];
      for (var j = 0; j < anchors.length; j++) {
        var a = anchors[j];
        links.push([String(a.className || ''), String(a.innerText || ''), String(a.href || '')]);
      }
      var info = items[i].getElementsByClassName('display-info');
      var lines = [];
      for (var k = 0; k < info.length; k++) lines.push(String(info[k].innerText || ''));
      out.entries.push({ links: links, info: lines.join('\n') });
    }
    return out;
  } catch (err) { return null; }
})()
)JS";

} // namespace

ResultPageSnapshot ReadResultPage(QWebEnginePage* page) {
    ResultPageSnapshot snapshot;
    const QVariantMap map = RunJavaScriptSync(page, QString::fromUtf8(kSnapshotScript)).toMap();
    if (map.isEmpty()) {
        return snapshot;
    }
    snapshot.hasResultList = map.value(QStringLiteral("has")).toBool();
    snapshot.url = map.value(QStringLiteral("url")).toString();
    const QVariantList entries = map.value(QStringLiteral("entries")).toList();
    for (const QVariant& e : entries) {
        ResultEntry entry;
        const QVariantMap fields = e.toMap();
        entry.infoText = fields.value(QStringLiteral("info")).toString();
        const QVariantList links = fields.value(QStringLiteral("links")).toList();
        for (const QVariant& l : links) {
            const QVariantList fields = l.toList();
            entry.links.append(EntryLink{fields.value(0).toString(), fields.value(1).toString(),
                                         fields.value(2).toString()});
        }
        snapshot.entries.append(entry);
    }
    return snapshot;
}

int ExtractResultPage(QWebEnginePage* page, AnalysisListModel& list, const QString& saveFolder) {
    return AddResultEntries(ReadResultPage(page), saveFolder, list);
}

} // namespace quillax
