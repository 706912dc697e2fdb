#pragma once
// The browser cache viewer: lists the embedded browser's cache (the running profile's entries,
// or the cache files of every user's profile), copies files out of it and deletes entries.

#include "core/search/BrowserCache.h"

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;
class QTreeView;

namespace quillax {

/// The running browser profile's cache, and where the other users' profiles are looked for.
CacheLocations CurrentCacheLocations();
/// The running browser profile's HTTP cache folder.
QString GetInternetCacheFolder();

/// Shows the viewer modal over `parent`.
void ShowBrowserCacheViewer(QWidget* parent);

/// Asks first; then empties the cache without showing the viewer: the running profile's
/// entries, then every user's cache files, then the bodies written out for copying, then the
/// browser's own clearing, so the running browser does not serve what was deleted. Writes
/// nothing. With `showMessage`, "IE缓存清空完毕！" follows when the walk ran. Returns whether it
/// ran (false when the user said no or the running profile's cache folder could not be read).
bool ClearBrowserCache(bool showMessage);
/// The same over the given locations.
bool ClearBrowserCache(bool showMessage, const CacheLocations& where);

class fIEcache : public QDialog {
    Q_OBJECT
public:
    /// Over the running profile's cache, or over `where` when given.
    explicit fIEcache(QWidget* parent = nullptr,
                      const std::optional<CacheLocations>& where = std::nullopt);

    BrowserCacheViewer* viewer() { return &viewer_; }
    QTreeView* cacheView() const { return ListView1; }
    QTreeView* userView() const { return ListView2; }
    QTreeView* folderView() const { return ListView3; }
    QLabel* countLabel() const { return Label1; }

    void Command1_Click(); ///< 查看我的缓存
    void Command7_Click(); ///< 查看所有用户缓存
    void Command6_Click(); ///< 复制选中...: starts the copy; the copy dialog follows
    QPushButton* copyButton() const { return Command6; }
    void Command2_Click(); ///< 删除所选文件
    void Command3_Click(); ///< 全部删除

private:
    QList<int> selectedRows() const;
    void fitColumns();

    BrowserCacheViewer viewer_;
    QTreeView* ListView1 = nullptr;
    QTreeView* ListView2 = nullptr;
    QTreeView* ListView3 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
};

} // namespace quillax
