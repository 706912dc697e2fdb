#pragma once
// Checks the PDFs the list stores, off the window thread: a file that does not open fails its
// row ("PDF损坏") so it is fetched again like any failed row; a file whose first pages do not
// hold the row's title keeps its row finished but marked, so the user can look at it.

#include "core/download/DownloadListModel.h"
#include "core/files/PdfCheck.h"

#include <QObject>
#include <QThreadPool>

namespace quillax {

class PdfChecks : public QObject {
    Q_OBJECT
public:
    explicit PdfChecks(DownloadListModel& list, QObject* parent = nullptr);
    /// Waits for the checks still running; their results are dropped.
    ~PdfChecks() override;

    /// Checks the row's stored file when the row is finished and its file is a PDF; returns
    /// whether a check was started.
    bool check(int row);
    /// Whether every row that finishes is checked (`checkFinished`); on unless turned off.
    void setAutomatic(bool on) { automatic_ = on; }
    /// `check` for a row that just finished, when checks are automatic.
    bool checkFinished(int row) { return automatic_ && check(row); }
    /// Checks still running.
    int running() const { return running_; }

Q_SIGNALS:
    /// A check ended and its result was written into the row (not sent for a row that changed
    /// meanwhile).
    void checked(int row, const PdfCheckResult& result);
    /// No check is running any more.
    void idle();

private:
    void apply(const QString& key, const QString& path, const PdfCheckResult& result);
    void fillCitation(int row, const PdfCheckResult& result);

    DownloadListModel& list_;
    QThreadPool pool_;
    int running_ = 0;
    bool automatic_ = true;
};

/// The size column's text of a row whose PDF does not open.
inline const QString kPdfBroken = QStringLiteral("PDF损坏");

} // namespace quillax
