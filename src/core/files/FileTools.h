#pragma once
// Tools for one stored file: show it in its folder and open it in the desktop's text editor,
// both without making the window wait for the desktop.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace quillax {

/// Asks the file manager over D-Bus to show `filePath` selected; when it does not answer or
/// refuses, opens the folder instead. `done(true)` once either worked, `done(false)` when
/// neither did; called later, from the event loop.
void ShowFileInFolderAsync(const QString& filePath, std::function<void(bool)> done);

/// The program and arguments that a desktop entry's Exec line gives for opening `path`
/// (field codes %f %F %u %U replaced by the path, the others dropped); nothing when the entry
/// has no usable Exec line.
std::optional<QStringList> CommandFromDesktopEntry(const QString& entryText, const QString& path);
/// Editors tried, in this order, when the desktop names no default for text files.
QStringList CommonTextEditors();
/// Opens `path` in the desktop's default application for text/plain, else in the first common
/// editor found on PATH; never through a shell. Returns at once.
void OpenInTextEditor(const QString& path);

} // namespace quillax
