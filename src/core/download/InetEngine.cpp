#include "core/download/InetEngine.h"
#include "core/download/DownloadNeeded.h"

#include "core/download/BodyWriter.h"
#include "core/download/ListOperations.h"
#include "core/download/ReplyReading.h"
#include "core/download/ServerPauses.h"

#include "core/download/StoredTypeCorrection.h"
#include "core/files/FileNaming.h"
#include "core/files/HeaderTypes.h"
#include "core/files/TypeRecognition.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "platform/Network.h"
#include "platform/SocketGet.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QNetworkReply>

namespace quillax {

namespace {

using Col = DownloadListModel::Column;

// While data flows, the loop still lets the window run at least this often.
constexpr qint64 kYieldEveryMs = 10;
// Longest single wait for data, so the stall and stop checks run regularly.
constexpr int kWaitSliceMs = 100;
constexpr int kHeaderWaitSliceMs = 1000;

bool numericText(const QString& text, double* value) {
    double v = 0;
    if (!ParseStoredNumber(text, v) || v < 0) {
        return false;
    }
    *value = v;
    return true;
}

} // namespace

qint64 WholePercent(double received, double size) {
    return static_cast<qint64>(static_cast<float>(received) / static_cast<float>(size) * 100.0F);
}

QString PercentText(double received, double size) {
    return QString::number(WholePercent(received, size)) + QLatin1Char('%');
}

InetEngine::InetEngine(DownloadListModel& list, DownloadWindowState& state,
                       const DownloadOptions& options, const DownloadTimeouts& timeouts,
                       QObject* parent)
    : QObject(parent), list_(list), state_(state), options_(options), timeouts_(timeouts) {}

InetEngine::~InetEngine() {
    dropReply();
}

QString InetEngine::StateText(int state, int responseCode, const QString& responseText) {
    static const char* const kTexts[] = {
        "0 无状态可报告。",
        "1 正在查询所指定的主机的 IP 地址...",
        "2 已成功地找到所指定的主机的 IP 地址。",
        "3 正在与主机连接...",
        "4 已与主机连接成功。",
        "5 正在向主机发送请求...",
        "6 发送请求已成功。",
        "7 正在接收主机的响应...",
        "8 已成功地接收到主机的响应。",
        "9 正在解除与主机的连接...",
        "10 已成功地与主机解除了连接。",
    };
    const QString codeAndText = QString::number(responseCode) + QLatin1Char(':') + responseText;
    if (state >= 0 && state <= 10) {
        return QString::fromUtf8(kTexts[state]);
    }
    if (state == 11) {
        return QStringLiteral("11 与主机通讯时出现了错误:") + codeAndText;
    }
    if (state == 12) {
        return QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。");
    }
    return codeAndText;
}

bool InetEngine::StillExecuting() const {
    // Data that arrived but is not yet written is still part of the request in progress.
    return transferring_ || (reply_ && !reply_->isFinished());
}

void InetEngine::Cancel() {
    if (reply_ && !reply_->isFinished()) {
        reply_->abort();
    }
}

void InetEngine::dropReply() {
    AbandonGet(reply_, this);
}

QNetworkProxy InetEngine::transferProxy() const {
    // Only this engine goes through the configured proxy.
    if (options_.proxyEnabled != 1) {
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    bool ok = false;
    const quint16 port = TrimSpaces(options_.proxyPort).toUShort(&ok);
    return QNetworkProxy(QNetworkProxy::HttpProxy, TrimSpaces(options_.proxyAddress),
                         ok ? port : 80);
}

void InetEngine::watchStates(SocketGet* get) {
    const auto show = [this](int state) { Q_EMIT statusPanelText(3, StateText(state, 0, {})); };
    connect(get, &SocketGet::connecting, this, [show] { show(3); });
    connect(get, &SocketGet::requestSent, this, [show] { show(6); });
    connect(get, &SocketGet::headReady, this, [show] { show(7); });
    connect(get, &SocketGet::finished, this, [this, get] {
        if (get->result() == SocketGet::Result::Whole) {
            Q_EMIT statusPanelText(3, StateText(12, 0, {}));
        } else if (get->result() != SocketGet::Result::Aborted) {
            const int error = get->result() == SocketGet::Result::Cut
                                  ? QNetworkReply::RemoteHostClosedError
                                  : get->error();
            Q_EMIT statusPanelText(3, StateText(11, error, reasons::NetworkError(error)));
        }
    });
    show(1);
}

SocketGet* InetEngine::send(const QUrl& url, const QString& referrer) {
    // Read from the socket directly: Qt's own reader can take a chunked body cut by a closed
    // connection for a whole one.
    auto* get = new SocketGet(this);
    watchStates(get);
    get->start(url, referrer.toUtf8(), NetworkManager().cookieJar(), transferProxy(), -1);
    return get;
}

bool InetEngine::waitForHeaders(SocketGet* get) {
    const qint64 deadline = MonotonicMs() + timeouts_.headerWaitMs;
    QPointer<SocketGet> guard(get);
    while (guard && !guard->isFinished() && guard->status() == 0) {
        const qint64 left = deadline - MonotonicMs();
        if (left <= 0) {
            return false;
        }
        // The read's own signals end the wait early; the slice only bounds the deadline check.
        WaitOn(guard, static_cast<int>(std::min<qint64>(left, kHeaderWaitSliceMs)));
    }
    return guard != nullptr;
}

bool InetEngine::Inet下载当前文件(int row) {
    if (row < 0 || row >= list_.count()) {
        return false;
    }
    if (StillExecuting() || state_.IsDownloading) {
        list_.setStatus(row, ItemStatus::Waiting);
        list_.setText(row, Col::ColSize, status_words::kWaitRetry);
        return false;
    }
    state_.IsDownloading = true;
    transferring_ = true;
    const bool result = Inet下载文件(row);
    transferring_ = false;
    state_.IsDownloading = false;
    return result;
}

void InetEngine::finish(int row) {
    dropReply();
    list_.flushProgressNotices();
    const DownloadItem& item = list_.item(row);
    // A failure is never announced as a finished download.
    Q_EMIT statusPanelText(2, (item.status == ItemStatus::Failed ? QStringLiteral("下载失败:")
                                                                 : QStringLiteral("完成下载:")) +
                                  item.name);
    if (item.status == ItemStatus::Failed && !item.reason.isEmpty()) {
        Q_EMIT statusPanelText(3, item.reason);
    }
    state_.LastFinishTime = SecondsSinceMidnight();
    state_.LastFinishMonotonicMs = MonotonicMs();
    const bool webPage = IsWebPageType(item.type, true);
    if (options_.sounds) {
        if (webPage) {
            Q_EMIT soundRequested(kSoundItemDone);
        }
        if (item.status == ItemStatus::Failed) {
            Q_EMIT soundRequested(kSoundFailed);
        }
    }
    Q_EMIT transferEnded(row);
}

bool InetEngine::Inet下载文件(int row) {
    if (row < 0 || row >= list_.count()) {
        return false;
    }
    qint64 lastGrowth = MonotonicMs();
    const QString address = 选择url(list_.item(row).key);
    state_.IsDownloading = true;
    Q_EMIT statusPanelText(2, QStringLiteral("正在下载:") + list_.item(row).name);

    // A folder that cannot take the file fails the row before anything is fetched: the server
    // is not asked for a file that could not be stored.
    if (!FailRowWithoutFolder(list_, row).isEmpty()) {
        finish(row);
        return false;
    }
    const QString referrer =
        list_.item(row).referrer.isEmpty() ? SiteRootOfUrl(address) : list_.item(row).referrer;
    dropReply();
    reply_ = send(QUrl(address), referrer);
    const bool gotHeaders = waitForHeaders(reply_);

    const QString block = gotHeaders && reply_ ? HeaderBlock(*reply_) : QString();
    if (block.isEmpty() || RedirectRefused(reply_)) {
        list_.setReason(row, reply_ && reply_->error() != QNetworkReply::NoError &&
                                     !reply_->conflictingLengths()
                                 ? reasons::NetworkError(reply_->error())
                                 : reasons::kNoAnswer);
        list_.setStatus(row, ItemStatus::Failed);
        finish(row);
        return false;
    }

    double expected = 0;
    // The length the body is read by: none under chunked framing, which overrides it.
    if (reply_->contentLength() > 0) {
        expected = static_cast<double>(reply_->contentLength());
    }
    if (const int code = reply_->status();
        IsComeBackLater(code, !reply_->rawHeader("Retry-After").isNull())) {
        // Not a result but "try again later": nothing is stored, and the server gets its pause.
        const qint64 wait = ComeBackLaterWaitMs(
            code, ParseRetryAfter(reply_->rawHeader("Retry-After"), PauseNowEpochMs()));
        dropReply();
        state_.LastFinishTime = SecondsSinceMidnight();
        state_.LastFinishMonotonicMs = MonotonicMs();
        Q_EMIT comeBackLater(row, code, wait);
        return false;
    }
    if (const int code = reply_->status(); FailedHttpStatus(code)) {
        // The server says the file is not there or it failed: its page is not the file.
        list_.setText(row, Col::ColSize, status_words::kFailed);
        list_.setReason(row, reasons::HttpStatus(code));
        list_.setStatus(row, ItemStatus::Failed);
        finish(row);
        return false;
    }
    if (reply_->conflictingLengths()) {
        // A server that announces two lengths cannot be trusted with either.
        list_.setText(row, Col::ColSize, status_words::kFailed);
        list_.setReason(row, reasons::kConflictingLengths);
        list_.setStatus(row, ItemStatus::Failed);
        finish(row);
        return false;
    }
    if (expected / 1024.0 / 1024.0 > options_.maxFileSizeMB) {
        list_.setStatus(row, ItemStatus::Finished);
        list_.setText(row, Col::ColPercent, status_words::kBigFileSkipped);
        finish(row);
        return true;
    }
    const HeaderTypeDecision decision = DecideTypeFromHeaders(block, list_.item(row).type);
    const QString statusLine = block.section(QStringLiteral("\r\n"), 0, 0);
    const bool status200 = statusLine.contains(QLatin1String("200")) &&
                           statusLine.contains(QLatin1String("ok"), Qt::CaseInsensitive);

    // Prepare the row: a clean name, an existing folder, the type from the headers.
    const QString name = ItemNameOrFallback(list_.item(row).name, address);
    list_.setText(row, Col::ColName, name);
    const QString folder = EnsureFolderPath(list_.item(row).folder);
    if (folder.isEmpty()) {
        // The folder cannot be created: nothing may be written anywhere else instead.
        list_.setText(row, Col::ColSize, status_words::kFailed);
        list_.setReason(row, reasons::kFolderNotCreated);
        list_.setStatus(row, ItemStatus::Failed);
        finish(row);
        return false;
    }
    list_.setText(row, Col::ColFolder, WithTrailingSlash(folder));
    list_.setText(row, Col::ColType, decision.type);

    QString path;
    const bool replacesOwn =
        ItemFilePath(list_.item(row).folder, name, decision.type) == list_.item(row).replacesPath;
    if (options_.policy == DuplicateNamePolicy::Rename && !replacesOwn) {
        QString newName;
        path =
            重命名保存路径(list_.item(row).folder, name, decision.type, options_.policy, &newName);
        list_.setText(row, Col::ColName, newName);
    } else {
        path = ItemFilePath(list_.item(row).folder, name, decision.type);
    }

    if (options_.policy == DuplicateNamePolicy::Skip &&
        !确定是需要下载(list_, row, options_.policy)) {
        // The headers changed the type to one whose file is already there: skipping never
        // deletes it; the row ends as skipped.
        finish(row);
        return true;
    }
    // A file already at the path (under 覆盖, or the row's own on a re-download) stays until the
    // whole new body replaces it in one rename: a failed or stopped download leaves it as it was.
    if (!(expected > 0 || status200)) {
        const bool result = Inet整体下载文件(row, path);
        纠正下载项类型(list_, row);
        SettleReplacedFile(list_, row);
        finish(row);
        return result;
    }

    list_.setText(row, Col::ColSize,
                  expected > 0 ? QString::number(static_cast<qint64>(expected))
                               : status_words::kUnknown);
    list_.setText(row, Col::ColReceived, QStringLiteral("0"));
    QCoreApplication::processEvents();
    BodyWriter file(path, list_.item(row).replacesPath);
    file.open();
    if (!file.healthy()) {
        list_.setText(row, Col::ColSize, status_words::kFailed);
        list_.setReason(row, reasons::kFolderNotWritable);
        list_.setStatus(row, ItemStatus::Failed);
        finish(row);
        return false;
    }

    enum class End { Complete, BigFile, Failed, Cancelled };
    End end = End::Failed;
    QString why; // the reason of a failed end
    qint64 written = 0;
    qint64 received = 0;
    qint64 lastYield = MonotonicMs();
    qint64 shownPercent = -1;
    const double limitBytes = options_.maxFileBytes();
    while (true) {
        QByteArray chunk;
        const bool ended = !reply_ || (reply_->isFinished() && reply_->bytesAvailable() == 0);
        if (reply_ && reply_->bytesAvailable() > 0) {
            chunk = reply_->read(kChunkBytes);
        } else if (!ended) {
            WaitOn(reply_, kWaitSliceMs);
            lastYield = MonotonicMs();
        }
        if (!chunk.isEmpty()) {
            file.write(chunk);
            if (!file.healthy()) {
                end = End::Failed; // the disk refused the data
                why = reasons::kWriteFailed;
                break;
            }
            written += chunk.size();
            if (MonotonicMs() - lastYield >= kYieldEveryMs) {
                QCoreApplication::processEvents();
                lastYield = MonotonicMs();
            }
        }
        if (written > received) {
            received = written;
            lastGrowth = MonotonicMs();
            list_.setText(row, Col::ColReceived, QString::number(received));
            if (expected > 0) {
                // The size column holds the expected size: the percentage text changes only
                // when its whole number does.
                const qint64 whole = WholePercent(static_cast<double>(received), expected);
                if (whole != shownPercent) {
                    shownPercent = whole;
                    list_.setText(row, Col::ColPercent, QString::number(whole) + QLatin1Char('%'));
                }
            }
        }
        if (expected > 0 && written >= expected) {
            end = End::Complete;
            break;
        }
        // Stop clears the flag and aborts the request: the abort must read as a cancellation.
        if (!state_.IsDownloading) {
            end = End::Cancelled;
            break;
        }
        if (ended) {
            // With a length, the connection ended short of it: waiting out the stall limit
            // could not bring the rest. Without one, only the end of the connection tells, and
            // an end the network reports as an error means the body is cut short.
            const bool broken = reply_ && reply_->result() != SocketGet::Result::Whole;
            end = expected > 0 || broken ? End::Failed : End::Complete;
            why = reasons::CutShort(written, static_cast<qint64>(expected));
            break;
        }
        if (expected <= 0 && static_cast<double>(written) > limitBytes) {
            end = End::BigFile;
            break;
        }
        if (MonotonicMs() - lastGrowth > timeouts_.stallMs) {
            end = End::Failed;
            why = reasons::kStalled;
            break;
        }
    }

    if (end == End::Failed && RedirectRefused(reply_)) {
        // The headers seen were a step of a refused redirect chain: nothing was answered.
        const int error = reply_->error();
        Cancel();
        file.discard();
        list_.setReason(row, reasons::NetworkError(error));
        list_.setText(row, Col::ColSize, QString());
        list_.setText(row, Col::ColReceived, QString());
        list_.setText(row, Col::ColPercent, QString());
        list_.setStatus(row, ItemStatus::Failed);
        finish(row);
        return false;
    }
    switch (end) {
    case End::Complete: {
        if (!file.commitNow()) {
            // The body is whole but could not take the file's place.
            Cancel();
            const bool blocked = FileExists(path);
            list_.setText(row, Col::ColSize, status_words::kFailed);
            list_.setReason(row, reasons::kCannotReplace);
            if (blocked) {
                list_.setText(row, Col::ColPercent, status_words::kCannotReplace);
            }
            list_.setStatus(row, ItemStatus::Failed);
            finish(row);
            return false;
        }
        // A web page, or a body of another type than the file there, stands beside it.
        FollowStoredFile(list_, row, file.committedPath());
        list_.setCreatedFile(row, true);
        // The whole body is in even when the reply has not yet said that it ended.
        Q_EMIT statusPanelText(3, StateText(12, 0, {}));
        list_.setStatus(row, ItemStatus::Finished);
        double value = 0;
        if (list_.item(row).size == status_words::kUnknown &&
            numericText(list_.item(row).received, &value)) {
            list_.setText(row, Col::ColSize, list_.item(row).received);
            list_.setText(row, Col::ColPercent, QStringLiteral("100%"));
        }
        dropReply();
        纠正下载项类型(list_, row);
        SettleReplacedFile(list_, row);
        finish(row);
        return true;
    }
    case End::BigFile:
        Cancel();
        // A cut body under the article's title would pass for the paper: nothing is kept.
        file.discard();
        list_.setStatus(row, ItemStatus::Finished);
        list_.setText(row, Col::ColPercent, status_words::kBigFileSkipped);
        finish(row);
        return true;
    case End::Failed:
    case End::Cancelled:
        Cancel();
        file.discard();
        list_.setReason(row, end == End::Cancelled ? reasons::kStopped : why);
        list_.setText(row, Col::ColSize,
                      end == End::Failed ? status_words::kFailed : status_words::kCancelled);
        list_.setStatus(row, ItemStatus::Failed);
        finish(row);
        return false;
    }
    return false;
}

bool InetEngine::Inet整体下载文件(int row, const QString& path) {
    list_.setText(row, Col::ColSize, status_words::kUnknown);
    dropReply();
    QCoreApplication::processEvents();

    // The whole body, read from the socket so that a chunked body cut by a closed connection
    // is known as cut (Qt's reader can take it for whole), and bounded by the size limit so a
    // server without a length cannot fill the memory. Only a body that ended as its framing
    // says is stored.
    enum class End { Complete, TooBig, Failed, Cancelled };
    End end = End::Failed;
    QString why = reasons::kNothingArrived;
    const QNetworkProxy proxy = transferProxy();
    SocketGet get;
    get.start(QUrl(选择url(list_.item(row).key)), QByteArray(), NetworkManager().cookieJar(), proxy,
              static_cast<qint64>(std::min(options_.maxFileBytes(), 1.0e15)));
    const qint64 deadline = MonotonicMs() + timeouts_.fallbackWaitMs;
    QByteArray body;
    // Taken as it arrives: the read holds back once a megabyte waits unread.
    while (!get.isFinished() || get.bytesAvailable() > 0) {
        body += get.readAll();
        if (get.isFinished()) {
            continue;
        }
        // Stop clears the flag: the read ends as a cancellation.
        if (!state_.IsDownloading) {
            get.abort();
            end = End::Cancelled;
            break;
        }
        if (MonotonicMs() > deadline) {
            get.abort();
            why = reasons::kStalled;
            break;
        }
        WaitOn(&get, kWaitSliceMs);
    }
    const int code = get.status();
    switch (get.result()) {
    case SocketGet::Result::Whole:
        end = FailedHttpStatus(code) ? End::Failed : End::Complete;
        why = FailedHttpStatus(code) ? reasons::HttpStatus(code) : reasons::kNothingArrived;
        break;
    case SocketGet::Result::TooBig:
        end = End::TooBig;
        break;
    case SocketGet::Result::Cut:
        why = reasons::CutShort(get.received(), get.contentLength());
        break;
    case SocketGet::Result::Failed:
        why = get.error() == QNetworkReply::ProtocolFailure && get.contentLength() < 0 &&
                      !get.rawHeader("Content-Length").isEmpty()
                  ? reasons::kConflictingLengths
                  : reasons::NetworkError(get.error());
        break;
    default:
        break;
    }
    Cancel();
    dropReply();
    QCoreApplication::processEvents();

    if (end == End::TooBig) {
        list_.setStatus(row, ItemStatus::Finished);
        list_.setText(row, Col::ColPercent, status_words::kBigFileSkipped);
        return true;
    }
    if (end == End::Complete && body.size() >= 2) {
        // Through a part file as every body: it takes the place of a file there only when it
        // may (see `PlaceForBody`).
        BodyWriter out(path, list_.item(row).replacesPath);
        out.open();
        out.write(body);
        if (out.commitNow()) {
            FollowStoredFile(list_, row, out.committedPath());
            list_.setCreatedFile(row, true);
            list_.setText(row, Col::ColSize,
                          QString::number(QFileInfo(out.committedPath()).size()));
            list_.setText(row, Col::ColReceived, QString::number(body.size()));
            list_.setText(row, Col::ColPercent, QStringLiteral("100%"));
            list_.setStatus(row, ItemStatus::Finished);
            return true;
        }
    }
    // Nothing of a cut-short body is written: the row fails, a Stop reading as a cancellation.
    list_.setReason(row, end == End::Cancelled                      ? reasons::kStopped
                         : end == End::Complete && body.size() >= 2 ? reasons::kWriteFailed
                                                                    : why);
    list_.setText(row, Col::ColSize, end == End::Cancelled ? status_words::kCancelled : QString());
    list_.setText(row, Col::ColReceived, QString());
    list_.setText(row, Col::ColPercent, QString());
    list_.setStatus(row, ItemStatus::Failed);
    return false;
}

} // namespace quillax
