#pragma once
// The rules of the update notice: which notice texts count, and when one names a newer version.

#include <QString>

namespace quillax {

/// A notice longer than this is not a version number.
inline constexpr int kMaxNoticeLength = 20;
/// A notice is a few bytes; a response larger than this is not one and is not even decoded.
inline constexpr int kMaxNoticeBytes = 1024;

/// The response as the notice to compare: spaces and line ends around it removed; empty when
/// nothing is left or it is longer than `kMaxNoticeLength` characters.
QString AcceptedNoticeText(const QString& response);

/// Whether `notice` has exactly three parts separated by ".", each a number, and names a
/// version above major.minor.revision. Both sides are a × 10,000,000 + b × 10,000 + c rounded
/// to single precision, as the published versions have always been compared.
bool IsNewerVersion(const QString& notice, int major, int minor, int revision);

/// "有最新版本：V1.1.120可以下载升级。"
QString UpdateNoticeCaption(const QString& notice);

} // namespace quillax
