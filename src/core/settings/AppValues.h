#pragma once
// Values that the whole program shares while it runs: the options read from the settings
// store and the save-folder choice.

#include <QString>

namespace quillax {

class SettingsStore;

struct AppValues {
    double MaxFileSizeMB = 10;
    int DownloadMethod = 2; ///< 1 single stream, 2 parallel threads
    int ProxyEnabled = 0;
    QString ProxyAddress;
    QString ProxyPort;
    int PromptSavePath = 1;
    QString SaveFolder; ///< first read when the save-folder dialog loads
    bool UseOriginalFileName = false;
    bool SaveFolderCancelled = false;
    QString DuplicateNamePolicy = QStringLiteral("重命名");
};

/// The program's one instance.
AppValues& Values();

/// Reads the options that start-up loads (size limit, method, proxy, save-folder prompt).
void ReadStartupSettings(const SettingsStore& store, AppValues& values);

/// The download folder used until the user chooses one: "12345/" in the home folder.
QString DefaultSaveFolder();

/// The per-user folder for the files the program writes for itself (sounds, folder list).
QString ProgramDataFolder();

} // namespace quillax
