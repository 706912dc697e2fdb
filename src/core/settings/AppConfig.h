#pragma once
// Configuration constants of the program. The maker's addresses exist only where their
// environment variables set them: an address that is not configured is empty, and whatever
// would open it is disabled, so the program never calls on a site that is not there. Tests and
// the demonstration point the program at a local site this way.

#include <QString>

namespace quillax::config {

inline constexpr char kProductTitle[] = "Quillax";
inline constexpr char kExecutableName[] = "quillax";
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 0;

/// "1.0.0": major.minor.revision.
QString versionText();

/// The folder of this product on the maker's site, where the update notice lives.
inline constexpr char kProductFolder[] = "Quillax";
/// The update notice's file name in the product folder.
inline constexpr char kUpdateNoticeFile[] = "newver.txt";

/// The search home page has a real default; every maker's address is empty unless set.
inline constexpr char kDefaultSearchHome[] = "https://search.ebscohost.com/";

// The environment variables that configure the addresses.
inline constexpr char kEnvMakerSite[] = "QUILLAX_MAKER_SITE";
inline constexpr char kEnvMakerSecondSite[] = "QUILLAX_MAKER_SECOND_SITE";
inline constexpr char kEnvUpdateNotice[] = "QUILLAX_UPDATE_NOTICE";
inline constexpr char kEnvHelpPage[] = "QUILLAX_HELP_PAGE";
inline constexpr char kEnvCustomisePage[] = "QUILLAX_CUSTOMISE_PAGE";
inline constexpr char kEnvShopPage[] = "QUILLAX_SHOP_PAGE";
inline constexpr char kEnvMailAddress[] = "QUILLAX_MAIL_ADDRESS";
inline constexpr char kEnvSearchHome[] = "QUILLAX_SEARCH_HOME";
/// For unattended restarts: "yes" restores the kept lists without asking, "start" also starts
/// downloading them, "no" discards them; unset or anything else: the program asks.
inline constexpr char kEnvRestoreQueue[] = "QUILLAX_RESTORE_QUEUE";

/// What to do with the lists kept from the last run.
enum class KeptQueueChoice { Ask, Restore, RestoreAndStart, Discard };
KeptQueueChoice keptQueueChoice();

/// The maker's site, ending in "/"; empty when not configured.
QString makerSite();
/// The maker's second site, ending in "/"; empty when not configured.
QString makerSecondSite();
/// The update notice: its own variable, else "newver.txt" in the product folder of the maker's
/// site; empty when neither is configured.
QString updateNoticeAddress();
/// The product page: the maker's site, the executable's name and "/"; empty when the site is
/// not configured.
QString productPage();
/// Questions and answers: its own variable, else "askanswer.asp" on the second site.
QString helpPage();
/// Made-to-order software: its own variable, else "softmake.htm" on the second site.
QString customisePage();
/// The maker's shop; empty when not configured.
QString shopPage();
/// The maker's mail address; empty when not configured.
QString mailAddress();
QString searchHomePage();

/// The fixed promotional text of the download window's first status panel.
inline constexpr char kPromotionText[] = "Quillax 文献下载 — 访问作者网站";

} // namespace quillax::config
