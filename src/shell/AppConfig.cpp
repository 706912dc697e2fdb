#include "shell/AppConfig.h"

#include <QtGlobal>

namespace quillax::config {

namespace {
QString fromEnvironment(const char* variable, const char* fallback) {
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? QString::fromUtf8(fallback) : value;
}
} // namespace

QString versionText() {
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

QString makerSite() {
    return fromEnvironment(kEnvMakerSite, kDefaultMakerSite);
}
QString makerSecondSite() {
    return fromEnvironment(kEnvMakerSecondSite, kDefaultMakerSecondSite);
}
QString updateNoticeAddress() {
    return fromEnvironment(kEnvUpdateNotice, kDefaultUpdateNotice);
}
QString helpPage() {
    return fromEnvironment(kEnvHelpPage, kDefaultHelpPage);
}
QString customisePage() {
    return fromEnvironment(kEnvCustomisePage, kDefaultCustomisePage);
}
QString shopPage() {
    return fromEnvironment(kEnvShopPage, kDefaultShopPage);
}
QString mailAddress() {
    return fromEnvironment(kEnvMailAddress, kDefaultMailAddress);
}
QString searchHomePage() {
    return fromEnvironment(kEnvSearchHome, kDefaultSearchHome);
}

} // namespace quillax::config
