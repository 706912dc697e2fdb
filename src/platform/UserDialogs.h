#pragma once
// The desktop's file, folder and input dialogs. Every window asks through here, so tests answer
// instead of a person.

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace quillax {

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    /// A file name to save to, with `defaultSuffix` appended when the name has none; empty when
    /// cancelled. It does not ask about an existing file: `ConfirmReplace` does that for the
    /// final name.
    virtual QString saveFileName(QWidget* parent, const QString& filter,
                                 const QString& defaultSuffix) = 0;
    /// An existing file to open; empty when cancelled.
    virtual QString openFileName(QWidget* parent, const QString& filter) = 0;
    /// A folder; empty when cancelled.
    virtual QString folder(QWidget* parent, const QString& title, const QString& start) = 0;
    /// A line of text; nothing when cancelled.
    virtual std::optional<QString> text(QWidget* parent, const QString& prompt,
                                        const QString& title) = 0;
};

/// The installed dialogs, or the desktop's own.
UserDialogs& Dialogs();
/// Installs `dialogs` (not owned) and returns the previous ones; nullptr restores the desktop's.
UserDialogs* SetDialogs(UserDialogs* dialogs);

/// Where the open and save dialogs start: the folder `folder` names (the download folder) when it
/// exists, else the home folder; never the folder the program happened to be started in.
void SetDialogStartFolder(std::function<QString()> folder);
QString DialogStartFolder();

/// Asks before an existing file at `path` is replaced; true when there is none or the user
/// agreed.
bool ConfirmReplace(const QString& path);

} // namespace quillax
