#pragma once
// The folder boxes of the save-folder chooser and the copy dialog: filled from and written to a
// folder-list file, newest folder first, with a drop-down list wide enough to read.

#include "core/settings/FolderList.h"

#include <QString>

class QComboBox;

namespace quillax {

/// Puts `folder` first in the box's list, as `RememberFolder` does; the edit text stays.
void RememberFolder(QComboBox* combo, const QString& folder);

/// Fills the box's list from a folder-list file; a missing file leaves the box as it is.
void LoadFolderList(QComboBox* combo, const QString& path);
/// Writes the box's list to a folder-list file.
bool SaveFolderList(QComboBox* combo, const QString& path);

/// Widens the box's drop-down list to fit its longest item (the box keeps its own size), up to
/// the right edge of the screen.
void FitComboDropWidth(QComboBox* combo);

} // namespace quillax
