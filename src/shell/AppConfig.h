#pragma once
// Configuration constants of the program. The addresses can be overridden through
// environment variables so that tests and demonstrations point the program at a local site.

#include <QString>

namespace quillax::config {

inline constexpr char kProductTitle[] = "Quillax";
inline constexpr char kExecutableName[] = "quillax";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 0;

/// "1.0.0": major.minor.revision.
QString versionText();

// Default addresses. They sit on the reserved .example domain until the maker's site exists.
inline constexpr char kDefaultMakerSite[] = "https://www.quillax.example/";
inline constexpr char kDefaultMakerSecondSite[] = "https://blog.quillax.example/";
inline constexpr char kDefaultUpdateNotice[] = "https://www.quillax.example/update/version.txt";
inline constexpr char kDefaultHelpPage[] = "https://www.quillax.example/help/";
inline constexpr char kDefaultCustomisePage[] = "https://www.quillax.example/custom/";
inline constexpr char kDefaultShopPage[] = "https://shop.quillax.example/";
inline constexpr char kDefaultMailAddress[] = "support@quillax.example";
inline constexpr char kDefaultSearchHome[] = "https://search.ebscohost.com/";

// The environment variables that override the addresses above.
inline constexpr char kEnvMakerSite[] = "QUILLAX_MAKER_SITE";
inline constexpr char kEnvMakerSecondSite[] = "QUILLAX_MAKER_SECOND_SITE";
inline constexpr char kEnvUpdateNotice[] = "QUILLAX_UPDATE_NOTICE";
inline constexpr char kEnvHelpPage[] = "QUILLAX_HELP_PAGE";
inline constexpr char kEnvCustomisePage[] = "QUILLAX_CUSTOMISE_PAGE";
inline constexpr char kEnvShopPage[] = "QUILLAX_SHOP_PAGE";
inline constexpr char kEnvMailAddress[] = "QUILLAX_MAIL_ADDRESS";
inline constexpr char kEnvSearchHome[] = "QUILLAX_SEARCH_HOME";

QString makerSite();
QString makerSecondSite();
QString updateNoticeAddress();
QString helpPage();
QString customisePage();
QString shopPage();
QString mailAddress();
QString searchHomePage();

/// The fixed promotional text of the download window's first status panel.
inline constexpr char kPromotionText[] = "Quillax 文献下载 — 访问作者网站";

} // namespace quillax::config
