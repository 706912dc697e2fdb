#include "ui/shell/AboutBoxActions.h"

#include "core/settings/AppConfig.h"
#include "core/settings/ShellHelpers.h"
#include "platform/DesktopShell.h"
#include "platform/MessageBoxes.h"

namespace quillax {

QString MakerPageAddress(MakerPage page) {
    switch (page) {
    case MakerPage::Site:
        return config::makerSite();
    case MakerPage::SecondSite:
        return config::makerSecondSite();
    case MakerPage::Product:
        return config::productPage();
    case MakerPage::Help:
        return config::helpPage();
    case MakerPage::Customise:
        return config::customisePage();
    case MakerPage::Shop:
        return config::shopPage();
    }
    return {};
}

bool IsMakerPageConfigured(MakerPage page) {
    return !MakerPageAddress(page).isEmpty();
}

void OpenMakerPage(MakerPage page) {
    const QString address = MakerPageAddress(page);
    if (address.isEmpty()) {
        return;
    }
    OpenInBrowser(address, page != MakerPage::Product);
}

bool IsSuggestionMailConfigured() {
    return !config::mailAddress().isEmpty();
}

QString SuggestionMailSubject(const QString& productTitle) {
    return QStringLiteral("我要对[") + productTitle + QStringLiteral("]提建议");
}

QString SuggestionMailBody(const QString& productTitle, const QDateTime& now,
                           const QLocale& locale) {
    const auto blanks = [](int n) { return QString(n, QLatin1Char(' ')); };
    return QStringLiteral("软件名称：") + productTitle + QStringLiteral(" 姓名：") + blanks(10) +
           QStringLiteral(" Email：") + blanks(11) + QStringLiteral(" 联系地址：") + blanks(11) +
           QStringLiteral(" 邮编：") + blanks(14) + QStringLiteral(" 电话：") + blanks(20) +
           QStringLiteral(" 日期：") + locale.toString(now.date(), QLocale::ShortFormat) +
           QLatin1Char(' ') + locale.toString(now.time(), QLocale::LongFormat);
}

QUrl SuggestionMailUrl(const QString& mailAddress, const QString& productTitle,
                       const QDateTime& now, const QLocale& locale) {
    const QByteArray link =
        "mailto:" + QUrl::toPercentEncoding(mailAddress, "@") +
        "?subject=" + QUrl::toPercentEncoding(SuggestionMailSubject(productTitle)) +
        "&body=" + QUrl::toPercentEncoding(SuggestionMailBody(productTitle, now, locale));
    return QUrl::fromEncoded(link, QUrl::StrictMode);
}

void ComposeSuggestionMail(QWidget* /*owner*/) {
    const QString mail = config::mailAddress();
    if (mail.isEmpty()) {
        return;
    }
    Shell().openUrl(SuggestionMailUrl(mail, QString::fromUtf8(config::kProductTitle),
                                      QDateTime::currentDateTime(), QLocale::system()));
}

QList<QStringList> SystemInformationTools() {
    return {
        {QStringLiteral("hardinfo2")},
        {QStringLiteral("hardinfo")},
        {QStringLiteral("kinfocenter")},
        {QStringLiteral("gnome-control-center"), QStringLiteral("info-overview")},
        {QStringLiteral("xfce4-about")},
        {QStringLiteral("cpu-x")},
    };
}

void StartSysInfo() {
    for (const QStringList& tool : SystemInformationTools()) {
        if (Shell().startDetached(tool.first(), tool.mid(1))) {
            return;
        }
    }
    ShowMessage(QStringLiteral("此时系统信息不可用"), MsgIcon::None, MsgButtons::Ok);
}

} // namespace quillax
