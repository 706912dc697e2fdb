#include "core/settings/AppConfig.h"

#include <QtGlobal>

namespace quillax::config {

namespace {

QString fromEnvironment(const char* variable) {
    return qEnvironmentVariable(variable).trimmed();
}

QString asFolder(const QString& address) {
    if (address.isEmpty() || address.endsWith(QLatin1Char('/'))) {
        return address;
    }
    return address + QLatin1Char('/');
}

/// `page` on `site`, or empty when the site is not configured.
QString onSite(const QString& site, const QString& page) {
    return site.isEmpty() ? QString() : site + page;
}

} // namespace

QString versionText() {
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

KeptQueueChoice keptQueueChoice() {
    const QString choice = fromEnvironment(kEnvRestoreQueue).toLower();
    if (choice == QLatin1String("yes")) {
        return KeptQueueChoice::Restore;
    }
    if (choice == QLatin1String("start")) {
        return KeptQueueChoice::RestoreAndStart;
    }
    if (choice == QLatin1String("no")) {
        return KeptQueueChoice::Discard;
    }
    return KeptQueueChoice::Ask;
}

QString makerSite() {
    return asFolder(fromEnvironment(kEnvMakerSite));
}

QString makerSecondSite() {
    return asFolder(fromEnvironment(kEnvMakerSecondSite));
}

QString updateNoticeAddress() {
    const QString own = fromEnvironment(kEnvUpdateNotice);
    if (!own.isEmpty()) {
        return own;
    }
    return onSite(makerSite(), QString::fromUtf8(kProductFolder) + QLatin1Char('/') +
                                   QString::fromUtf8(kUpdateNoticeFile));
}

QString productPage() {
    return onSite(makerSite(), QString::fromUtf8(kExecutableName) + QLatin1Char('/'));
}

QString helpPage() {
    const QString own = fromEnvironment(kEnvHelpPage);
    return own.isEmpty() ? onSite(makerSecondSite(), QStringLiteral("askanswer.asp")) : own;
}

QString customisePage() {
    const QString own = fromEnvironment(kEnvCustomisePage);
    return own.isEmpty() ? onSite(makerSecondSite(), QStringLiteral("softmake.htm")) : own;
}

QString shopPage() {
    return fromEnvironment(kEnvShopPage);
}

QString mailAddress() {
    return fromEnvironment(kEnvMailAddress);
}

QString searchHomePage() {
    const QString own = fromEnvironment(kEnvSearchHome);
    return own.isEmpty() ? QString::fromUtf8(kDefaultSearchHome) : own;
}

} // namespace quillax::config
