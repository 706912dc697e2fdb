#pragma once
// Stand-ins for what talks to the outside world, installed for the length of one test.

#include "platform/DesktopShell.h"
#include "platform/MessageBoxes.h"
#include "platform/SoundPlayer.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVector>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace quillax::test {

/// The SHA-256 of `bytes` in hex: stored files are compared whole, never by a prefix.
QByteArray Sha256(const QByteArray& bytes);
/// The SHA-256 of the file at `path` in hex, or "missing" when it cannot be read.
QByteArray FileSha256(const QString& path);

struct ShownMessage {
    QString text;
    MsgIcon icon;
    MsgButtons buttons;
};

/// Records every message and answers with `answer` (Yes unless set otherwise).
class RecordingMessageBoxes final : public MessageBoxes {
public:
    RecordingMessageBoxes() { previous_ = SetMessageBoxes(this); }
    ~RecordingMessageBoxes() override { SetMessageBoxes(previous_); }
    MsgResult show(const QString& text, MsgIcon icon, MsgButtons buttons) override {
        shown.append({text, icon, buttons});
        if (buttons == MsgButtons::Ok) {
            return MsgResult::Ok;
        }
        return answer;
    }
    QStringList texts() const {
        QStringList out;
        for (const ShownMessage& m : shown) {
            out << m.text;
        }
        return out;
    }

    QVector<ShownMessage> shown;
    MsgResult answer = MsgResult::Yes;

private:
    MessageBoxes* previous_ = nullptr;
};

/// Records what would be opened or started; each call succeeds unless told otherwise.
class RecordingShell final : public DesktopShell {
public:
    RecordingShell() { previous_ = SetShell(this); }
    ~RecordingShell() override { SetShell(previous_); }
    bool openUrl(const QUrl& url) override {
        opened << url;
        return openSucceeds;
    }
    bool startDetached(const QString& program, const QStringList& arguments) override {
        started << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return !failingPrograms.contains(program);
    }
    bool showItemInFolder(const QString& filePath) override {
        shownInFolder << filePath;
        return true;
    }
    /// Recorded in `started` like a detached start; answers from the event loop, as the
    /// desktop does, with failure for the programs in `failingPrograms`. An answer still
    /// pending when the stand-in goes is dropped.
    void run(const QString& program, const QStringList& arguments,
             std::function<void(bool)> done) override {
        started << (QStringList{program} + arguments).join(QLatin1Char(' '));
        const bool succeeded = !failingPrograms.contains(program);
        QTimer::singleShot(0, &answers_, [done = std::move(done), succeeded] { done(succeeded); });
    }

    QList<QUrl> opened;
    QStringList started;
    QStringList shownInFolder;
    bool openSucceeds = true;
    QStringList failingPrograms;

private:
    DesktopShell* previous_ = nullptr;
    QObject answers_;
};

class RecordingSounds final : public SoundPlayer {
public:
    RecordingSounds() { previous_ = SetSounds(this); }
    ~RecordingSounds() override { SetSounds(previous_); }
    void play(const QString& path) override { played << path; }

    QStringList played;

private:
    SoundPlayer* previous_ = nullptr;
};

/// File access as an ordinary user for as long as it lives, so that permission checks hold for
/// root too: as root, whom permissions do not stop, `paths` are handed to the user "nobody" and
/// this thread's file-system identity becomes that user's. Nothing changes for other users.
/// Set permissions on the paths after making it; the temporary folder's own clean-up runs as
/// root again once it has gone.
class AsUnprivileged {
public:
    explicit AsUnprivileged(const QStringList& paths);
    ~AsUnprivileged();
    AsUnprivileged(const AsUnprivileged&) = delete;
    AsUnprivileged& operator=(const AsUnprivileged&) = delete;
    /// True when the identity was changed (the test runs as root).
    bool switched() const { return switched_; }

private:
    bool switched_ = false;
};

/// Writes `bytes` to `path`, creating or replacing the file; false when it cannot.
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

/// Counts the paint events of the widgets it is installed on.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace quillax::test
