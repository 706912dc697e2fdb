#pragma once
// The desktop's shell: opening files and addresses with their default programs, starting a
// program, revealing a file in the file manager. Injected so tests record instead of launching.

#include <QString>
#include <QStringList>
#include <functional>

class QUrl;

namespace quillax {

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    /// Opens `url` with the desktop's default handler; true when the desktop accepted it.
    virtual bool openUrl(const QUrl& url) = 0;
    /// Starts `program` detached; false when it cannot be started (for instance, not installed).
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    /// Asks the file manager to show `filePath` selected in its folder; true when it accepted.
    virtual bool showItemInFolder(const QString& filePath) = 0;
    /// Runs `program` and returns at once; `done` is called later, from the event loop, with
    /// true when the program ran and ended with exit status 0, false otherwise (not found,
    /// failed to start, crashed or ended with another status).
    virtual void run(const QString& program, const QStringList& arguments,
                     std::function<void(bool succeeded)> done) = 0;
};

/// The shell in use: the installed one, or the real desktop's.
DesktopShell& Shell();
/// Installs `shell` (not owned) and returns the previous one; nullptr restores the real desktop.
DesktopShell* SetShell(DesktopShell* shell);

} // namespace quillax
