#pragma once
// The per-user settings store: named text values in sections, written through at once.
// Numeric readers leave the value untouched when the stored text does not convert, so a
// damaged settings file reads as the values the program already holds.

#include <QString>
#include <memory>

class QSettings;

namespace quillax {

namespace settings_keys {
// Sections.
inline const QString kSettings = QStringLiteral("设置");
inline const QString kDownload = QStringLiteral("下载");
inline const QString kPatentDownload = QStringLiteral("专利下载");
inline const QString kWebSearch = QStringLiteral("fWebSearch");
inline const QString kFileDownload = QStringLiteral("fFileDownload");
inline const QString kCopyMove = QStringLiteral("Form_Copy_Move");
// Keys and their defaults.
inline const QString kMaxFileSize = QStringLiteral("文件最大值");
inline const QString kMaxFileSizeDefault = QStringLiteral("10");
inline const QString kDownloadMethod = QStringLiteral("下载方式");
inline const QString kDownloadMethodDefault = QStringLiteral("2");
inline const QString kProxyEnabled = QStringLiteral("代理服务器有效");
inline const QString kProxyEnabledDefault = QStringLiteral("0");
inline const QString kProxyAddress = QStringLiteral("代理服务器网址");
inline const QString kProxyPort = QStringLiteral("代理服务器端口");
inline const QString kPromptSavePath = QStringLiteral("提取网页信息时提示下载保存路径");
inline const QString kPromptSavePathDefault = QStringLiteral("1");
inline const QString kSaveFolder = QStringLiteral("下载文件保存路径");
inline const QString kThreads = QStringLiteral("线程");
inline const QString kThreadsDefault = QStringLiteral("2");
inline const QString kDuplicatePolicy = QStringLiteral("重复文件名设置");
inline const QString kDuplicatePolicyDefault = QStringLiteral("重命名");
inline const QString kSearchDelay = QStringLiteral("combo2");
inline const QString kSearchDelayDefault = QStringLiteral("10");
inline const QString kResolution = QStringLiteral("分辨率");
inline const QString kResolutionDefault = QStringLiteral("000");
inline const QString kTop = QStringLiteral("上");
inline const QString kLeft = QStringLiteral("左");
inline const QString kWidth = QStringLiteral("宽");
inline const QString kHeight = QStringLiteral("高");
inline const QString kCopyDestination = QStringLiteral("目的文件夹");
inline const QString kCopyOption = QStringLiteral("OpIndex");
inline const QString kCopyOptionDefault = QStringLiteral("4");
} // namespace settings_keys

class SettingsStore {
public:
    /// The user's store, named after the product title.
    SettingsStore();
    /// A store kept in the INI file at `iniPath`.
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    /// The stored text, or `defaultText` when the key was never written.
    QString read(const QString& section, const QString& key, const QString& defaultText) const;
    /// Stores `text` and writes it to disk at once. False when the file could not be written
    /// (windows ignore it: their settings writes fail silently).
    bool write(const QString& section, const QString& key, const QString& text);
    /// Stores a number as its shortest decimal text (1, 10, 12.5, 100000, 0.0001).
    bool writeNumber(const QString& section, const QString& key, double number);

    /// Reads a small integer (16-bit) within [minimum, maximum] into `value`; a text that is
    /// not such a number leaves `value` as it was. Returns whether `value` was set.
    bool readSmallInt(const QString& section, const QString& key, const QString& defaultText,
                      int& value, int minimum = -32768, int maximum = 32767) const;
    /// Reads a 32-bit integer into `value`, as above.
    bool readInt32(const QString& section, const QString& key, const QString& defaultText,
                   int& value) const;
    /// Reads a real number into `value`, as above.
    bool readReal(const QString& section, const QString& key, const QString& defaultText,
                  double& value) const;

    /// Where the values are kept.
    QString fileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};

/// The shortest decimal text that reads back as `number`, never in exponent form: 1, 10, 12.5,
/// 100000, 0.0001. Zero, -0 and values that are not finite give "0".
QString ShortestDecimalText(double number);

/// Converts a stored text to a number the way the readers do: spaces around it allowed,
/// C-locale decimal notation, finite. Integers round half to even.
bool ParseStoredNumber(const QString& text, double& number);

} // namespace quillax
