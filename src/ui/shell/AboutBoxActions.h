#pragma once
// What the about box and the help menus open: the maker's pages, the suggestion mail and the
// system-information tool. A page whose address is not configured is not opened; menus and
// links ask `IsMakerPageConfigured` and disable themselves instead.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace quillax {

enum class MakerPage {
    Site,       ///< 岚舟软件 (作者网站)
    SecondSite, ///< 青禾软件 (作者网站)
    Product,    ///< 最新版本: the product page on the maker's site
    Help,       ///< 软件教程和问答
    Customise,  ///< 软件定制
    Shop,       ///< 岚舟软件淘宝店
};

/// The page's address; empty when it is not configured.
QString MakerPageAddress(MakerPage page);
bool IsMakerPageConfigured(MakerPage page);
/// Opens the page with `OpenInBrowser`: the product page with the desktop's default handler,
/// the others in a new browser window. Nothing happens when it is not configured.
void OpenMakerPage(MakerPage page);

/// Whether a mail address for suggestions is configured.
bool IsSuggestionMailConfigured();
/// "我要对[title]提建议"
QString SuggestionMailSubject(const QString& productTitle);
/// The prepared form, dated with `now` in `locale`'s short date and long time format.
QString SuggestionMailBody(const QString& productTitle, const QDateTime& now,
                           const QLocale& locale);
/// "mailto:" the address "?subject=" the subject "&body=" the body, percent-encoded.
QUrl SuggestionMailUrl(const QString& mailAddress, const QString& productTitle,
                       const QDateTime& now, const QLocale& locale);
/// Hands the suggestion mail for the product to the desktop, which opens the user's mail
/// program; nothing happens without a configured address or a mail program. `owner` is the
/// window the user asked from.
void ComposeSuggestionMail(QWidget* owner);

/// The system-information tools looked for on PATH, in this order, each with its arguments.
QList<QStringList> SystemInformationTools();
/// Starts the first system-information tool that starts; without one, shows
/// "此时系统信息不可用" with an OK button and no icon.
void StartSysInfo();

} // namespace quillax
