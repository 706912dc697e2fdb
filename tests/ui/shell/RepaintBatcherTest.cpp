// A list that gets its rows one event-loop pass at a time repaints once per batch, not once per
// row, while the model itself says everything at once.

#include "ui/shell/RepaintBatcher.h"
#include "TestSupport.h"
#include "core/download/DownloadListModel.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace quillax;

namespace {

TEST(RepaintBatcher, RowsArrivingPassByPassReachTheScreenInOneRepaint) {
    DownloadListModel list;
    QAbstractItemModelTester tester(&list);
    QTreeView view;
    view.setModel(&list);
    view.resize(600, 400);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    // A batch as long as the test: every repaint during the burst is one too many.
    auto* batcher = new RepaintBatcher(&view, 600'000);
    test::PaintCounter counter;
    view.viewport()->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    for (int i = 0; i < 40; ++i) {
        list.addItem(QStringLiteral("http://lib/%1.pdf").arg(i), QStringLiteral("Paper %1").arg(i),
                     QStringLiteral("pdf"), QStringLiteral("/tmp/"), {});
        list.setText(i, DownloadListModel::ColPercent, QStringLiteral("50%"));
        QCoreApplication::processEvents(); // one pass per row, as an analysis hands them over
        ASSERT_EQ(list.count(), i + 1);    // the model is not held back
    }
    EXPECT_TRUE(batcher->holding());
    EXPECT_EQ(counter.paints, 0);

    // The rows' progress notices go out first, so none of them arrives after the flush and opens
    // a new batch on a slow machine.
    list.flushProgressNotices();
    batcher->flushNow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_LE(counter.paints, 2);
    EXPECT_FALSE(batcher->holding());
    EXPECT_TRUE(view.viewport()->updatesEnabled());
    // The next change opens a new batch (progress reaches views on the model's own beat).
    list.setText(0, DownloadListModel::ColPercent, QStringLiteral("100%"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return batcher->holding(); }, 5000));
}

TEST(RepaintBatcher, AHiddenViewIsNotHeld) {
    DownloadListModel list;
    QTreeView view;
    view.setModel(&list);
    auto* batcher = new RepaintBatcher(&view);
    list.addItem(QStringLiteral("http://lib/1.pdf"), QStringLiteral("Paper"), QStringLiteral("pdf"),
                 QStringLiteral("/tmp/"), {});
    EXPECT_FALSE(batcher->holding());
    EXPECT_TRUE(view.viewport()->updatesEnabled());
}

} // namespace
