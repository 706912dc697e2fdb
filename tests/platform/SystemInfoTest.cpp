#include "platform/SystemInfo.h"
#include "core/settings/BrowserEmulation.h"
#include "platform/Registry.h"

#include "ShellTestSupport.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quillax;
using namespace quillax::reg;

namespace {

const QString kCurrentVersion = QStringLiteral("HKEY_LOCAL_MACHINE\\") + kCurrentVersionKey;

Value text(const QString& t) {
    Value v;
    v.text = t;
    return v;
}

Value dword(qint32 n) {
    Value v;
    v.type = Value::Dword;
    v.number = n;
    return v;
}

} // namespace

TEST(RegistryPaths, RootsAndSplitting) {
    EXPECT_EQ(RegRootFromName(QStringLiteral("HKEY_CLASSES_ROOT")), 0x80000000u);
    EXPECT_EQ(RegRootFromName(QStringLiteral("HKEY_LOCAL_MACHINE")), 0x80000002u);
    EXPECT_EQ(RegRootFromName(QStringLiteral("HKEY_DYN_DATA")), 0x80000006u);
    EXPECT_EQ(RegRootFromName(QStringLiteral("hkey_local_machine")), 0u);
    EXPECT_EQ(RegRootFromName(QStringLiteral("HKEY_NOWHERE")), 0u);

    struct Case {
        QString path;
        quint32 root;
        QString rest;
    };
    const Case cases[] = {
        {QStringLiteral("HKEY_CURRENT_USER"), 0x80000001u, QString()},
        {QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B"), 0x80000002u,
         QStringLiteral("SOFTWARE\\A\\B")},
        // No root name: left alone.
        {QStringLiteral("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"), 0u,
         QStringLiteral("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion")},
        // Ending in "\": left alone.
        {QStringLiteral("HKEY_USERS\\x\\"), 0u, QStringLiteral("HKEY_USERS\\x\\")},
        // A root name that is not known still gives up its part of the path.
        {QStringLiteral("HKEY_NOWHERE\\x"), 0u, QStringLiteral("x")},
    };
    for (const Case& c : cases) {
        QString path = c.path;
        EXPECT_EQ(RegSplitPath(path), c.root) << c.path.toStdString();
        EXPECT_EQ(path, c.rest) << c.path.toStdString();
    }
}

TEST(RegistryValues, ReadsWritesAndRemovesInTheirOwnFile) {
    const QString withZero = QStringLiteral("  Name") + QChar(0) + QStringLiteral("cut  ");
    test::ScratchRegistry registry({{kCurrentVersion,
                                     {{QStringLiteral("ProductName"), text(withZero)},
                                      {QStringLiteral("Long"), text(QString(255, 'x'))},
                                      {QStringLiteral("UBR"), dword(-5)}}}});
    // Text values: cut at the zero, trimmed; a key with no such value is "Error".
    EXPECT_EQ(RegReadString(kCurrentVersion, QStringLiteral("productname")),
              QStringLiteral("Name"));
    EXPECT_EQ(RegReadString(kCurrentVersion, QStringLiteral("Missing")), kError);
    // 255 characters and the closing zero do not fit the 255-byte buffer.
    EXPECT_EQ(RegReadString(kCurrentVersion, QStringLiteral("Long")), kError);
    EXPECT_EQ(RegReadString(kCurrentVersion, QStringLiteral("UBR")), kError);
    EXPECT_EQ(RegReadDword(kCurrentVersion, QStringLiteral("UBR")), QStringLiteral("-5"));
    EXPECT_EQ(RegReadDword(kCurrentVersion, QStringLiteral("ProductName")), kError);
    // No root: the empty text, not "Error".
    EXPECT_EQ(RegReadString(QStringLiteral("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"),
                            QStringLiteral("ProductName")),
              QString());
    EXPECT_EQ(RegReadDword(QStringLiteral("HKEY_NOWHERE\\x"), QStringLiteral("v")), QString());

    // Written values live in the stand-in's own file, with "\" kept inside the key's name.
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quillax\\Test");
    EXPECT_TRUE(RegWriteDword(key, QStringLiteral("Count"), 42));
    EXPECT_TRUE(RegWriteDword(key, QStringLiteral("count"), 43)); // names ignore case
    EXPECT_EQ(RegReadDword(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\quillax\\test"),
                           QStringLiteral("COUNT")),
              QStringLiteral("43"));
    EXPECT_TRUE(test::ReadFile(registry.filePath())
                    .contains(R"("HKEY_CURRENT_USER\\Software\\Quillax\\Test")"));
    QString value;
    EXPECT_TRUE(GetKeyValue(kCurrentUser, QStringLiteral("Software\\Quillax\\Test"),
                            QStringLiteral("Count"), value));
    EXPECT_EQ(value, QStringLiteral("43"));
    EXPECT_FALSE(RegWriteDword(QStringLiteral("Software\\NoRoot"), QStringLiteral("v"), 1));
    EXPECT_FALSE(RegWriteDword(kCurrentVersion, QStringLiteral("UBR"), 1)); // the system's own

    RegRemoveValue(kCurrentUser, QStringLiteral("Software\\Quillax\\Test"),
                   QStringLiteral("Count"));
    EXPECT_EQ(RegReadDword(key, QStringLiteral("Count")), kError);
    EXPECT_FALSE(GetKeyValue(kCurrentUser, QStringLiteral("Software\\Quillax\\Test"),
                             QStringLiteral("Count"), value));
    EXPECT_TRUE(value.isEmpty());
    RegRemoveValue(kCurrentUser, QStringLiteral("Nowhere"), QStringLiteral("x")); // silent

    // A damaged file reads as empty and is replaced by the next write.
    ASSERT_TRUE(test::WriteFile(registry.filePath(), QByteArray("\x00\xff{not json", 11)));
    EXPECT_EQ(RegReadDword(key, QStringLiteral("Count")), kError);
    EXPECT_TRUE(RegWriteDword(key, QStringLiteral("Count"), 7));
    EXPECT_EQ(RegReadDword(key, QStringLiteral("Count")), QStringLiteral("7"));
}

// A file the program cannot read as its own still holds the user's other values: a write moves
// it aside whole and never over an earlier copy.
TEST(RegistryValues, DamagedFileIsMovedAsideBeforeAWrite) {
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quillax\\Test");
    const QByteArray healthy =
        R"({"HKEY_CURRENT_USER\\Other": {"Keep": 5}, "HKEY_CURRENT_USER\\Software\\Quillax\\Test": {"Old": 1}})";
    struct Case {
        const char* what;
        QByteArray bytes;
        bool otherValuesKept; ///< the file could still be read, so its other values stay
    };
    const Case cases[] = {
        {"missing its last brace", healthy.chopped(1), false},
        {"not JSON at all", QByteArray("\x00\xff{not json", 11), false},
        {"a list, not an object", QByteArray("[1, 2, 3]"), false},
        {"larger than a registry file", "{\"pad\": \"" + QByteArray(1100 * 1024, 'x') + "\"}",
         false},
        {"the key's entry not a set of values",
         R"({"HKEY_CURRENT_USER\\Other": {"Keep": 5}, "HKEY_CURRENT_USER\\Software\\Quillax\\Test": 9})",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchRegistry registry;
        const QDir folder = QFileInfo(registry.filePath()).absoluteDir();
        const QStringList asidePattern{QStringLiteral("registry.json.damaged-*")};
        ASSERT_TRUE(test::WriteFile(registry.filePath(), c.bytes));

        EXPECT_TRUE(RegWriteDword(key, QStringLiteral("Count"), 7));
        EXPECT_EQ(RegReadDword(key, QStringLiteral("Count")), QStringLiteral("7"));
        EXPECT_EQ(RegReadDword(QStringLiteral("HKEY_CURRENT_USER\\Other"), QStringLiteral("Keep")),
                  c.otherValuesKept ? QStringLiteral("5") : kError);
        const QStringList aside = folder.entryList(asidePattern, QDir::Files);
        ASSERT_EQ(aside.size(), 1);
        const QByteArray firstCopy = test::ReadFile(folder.filePath(aside.first()));
        EXPECT_EQ(QCryptographicHash::hash(firstCopy, QCryptographicHash::Sha256),
                  QCryptographicHash::hash(c.bytes, QCryptographicHash::Sha256));

        // Damaged again within the same second: a second copy, the first left as it was.
        ASSERT_TRUE(test::WriteFile(registry.filePath(), "{"));
        EXPECT_TRUE(RegWriteDword(key, QStringLiteral("Count"), 8));
        EXPECT_EQ(RegReadDword(key, QStringLiteral("Count")), QStringLiteral("8"));
        EXPECT_EQ(folder.entryList(asidePattern, QDir::Files).size(), 2);
        EXPECT_EQ(QCryptographicHash::hash(test::ReadFile(folder.filePath(aside.first())),
                                           QCryptographicHash::Sha256),
                  QCryptographicHash::hash(c.bytes, QCryptographicHash::Sha256));
    }

    // A sound file, or an empty one, is written in place: nothing is moved aside.
    for (const QByteArray& bytes : {healthy, QByteArray()}) {
        test::ScratchRegistry registry;
        ASSERT_TRUE(test::WriteFile(registry.filePath(), bytes));
        EXPECT_TRUE(RegWriteDword(key, QStringLiteral("Count"), 3));
        EXPECT_EQ(RegReadDword(key, QStringLiteral("Count")), QStringLiteral("3"));
        EXPECT_EQ(RegReadDword(key, QStringLiteral("Old")),
                  bytes.isEmpty() ? kError : QStringLiteral("1"));
        EXPECT_TRUE(QFileInfo(registry.filePath())
                        .absoluteDir()
                        .entryList({QStringLiteral("registry.json.damaged-*")}, QDir::Files)
                        .isEmpty());
    }
}

TEST(SystemVersionText, ComposedByItsRules) {
    const QString error = kError;
    struct Case {
        const char* what;
        VersionKeyTexts keys;
        QString expected;
    };
    const Case cases[] = {
        {"current system",
         {QStringLiteral("Windows 10 Pro"), QStringLiteral("6.3"), QStringLiteral("19045"),
          QStringLiteral("2009"), QStringLiteral("19041.vb_release"), error,
          QStringLiteral("3803")},
         QStringLiteral("Windows 10 Pro 版本:2009 (内部版本:19045.3803)")},
        {"no UBR, a CSDVersion",
         {QStringLiteral("Microsoft Windows XP"), QStringLiteral("5.1"), QStringLiteral("2600"),
          QStringLiteral("2009"), QStringLiteral("2600.xpsp"), QStringLiteral("Service Pack 3"),
          error},
         QStringLiteral("Microsoft Windows XP 版本:2009 (内部版本:2600.xpsp : Service Pack 3)")},
        {"no UBR, no CSDVersion: BuildLab alone",
         {QStringLiteral("Debian GNU/Linux 12 (bookworm)"), QStringLiteral("6.1"),
          QStringLiteral("6.1.0-18-amd64"), QStringLiteral("12"), QStringLiteral("6.1.0-18-amd64"),
          error, error},
         QStringLiteral("Debian GNU/Linux 12 (bookworm) 版本:12 (内部版本:6.1.0-18-amd64)")},
        {"no ReleaseId: CurrentVersion",
         {QStringLiteral("Arch Linux"), QStringLiteral("6.7"), QStringLiteral("6.7.4-arch1-1"),
          error, QStringLiteral("6.7.4-arch1-1"), error, error},
         QStringLiteral("Arch Linux 版本:6.7 (内部版本:6.7.4-arch1-1)")},
        {"no ProductName: the edition text",
         {error, QStringLiteral("6.1"), QStringLiteral("x"), QStringLiteral("12"),
          QStringLiteral("x"), error, error},
         QStringLiteral("EDITION")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComposeSystemVersionText(c.keys, QStringLiteral("EDITION")), c.expected)
            << c.what;
    }
    EXPECT_EQ(WithBitness(QStringLiteral("X"), QStringLiteral("64")), QStringLiteral("X[64位]"));
}

TEST(SystemVersionText, WindowsEditionTables) {
    const auto nt = [](quint32 major, quint32 minor, quint32 build) {
        EditionInputs in;
        in.platformId = 2;
        in.major = major;
        in.minor = minor;
        in.build = build;
        return in;
    };
    struct Case {
        EditionInputs in;
        QString expected;
    };
    std::vector<Case> cases;
    {
        EditionInputs in = nt(6, 3, 9600);
        in.fileVersion = QStringLiteral("10.0.19041.3636");
        cases.push_back({in, QStringLiteral("Windows 10.0.19041.3636")});
        in.fileVersion = QStringLiteral("6.3.9600.17415");
        cases.push_back({in, QStringLiteral("Windows 8.1 [6.3.9600.17415]")});
        in.fileVersion = QStringLiteral("6.1.7601"); // three parts: the version record decides
        in.editionCode = 1;
        cases.push_back({in, QStringLiteral("Windows 8.1 Ultimate Edition [Version: 6.3.9600]")});
    }
    {
        EditionInputs in;
        in.platformId = 0;
        in.major = 7;
        cases.push_back({in, QStringLiteral("DOS [Version: 7.0.0]")});
        in.platformId = 1;
        in.major = 4;
        in.servicePackText = QStringLiteral("C");
        cases.push_back({in, QStringLiteral("Windows 95 OSR2 [Version: 4.0.0]")});
        in.minor = 10;
        in.servicePackText = QStringLiteral("A");
        cases.push_back({in, QStringLiteral("Windows 98 SE [Version: 4.10.0]")});
        in.minor = 90;
        cases.push_back({in, QStringLiteral("Windows Millennium Edition [Version: 4.90.0]")});
        in.minor = 20; // not named: empty
        cases.push_back({in, QStringLiteral(" [Version: 4.20.0]")});
    }
    {
        EditionInputs in = nt(5, 1, 2600);
        in.suiteMask = 512;
        in.servicePackMajor = 3;
        cases.push_back({in, QStringLiteral("Windows XP Home Service Pack 3 [Version: 5.1.2600]")});
        in = nt(5, 2, 3790);
        in.suiteMask = 274;
        in.servicePackMajor = 2;
        in.servicePackMinor = 1;
        cases.push_back(
            {in, QStringLiteral("Windows Server 2003 R2 Enterprise Service Pack 2.1 [Version: "
                                "5.2.3790]")});
        in = nt(5, 0, 2195);
        in.suiteMask = 130; // masks compare whole
        cases.push_back({in, QStringLiteral("Windows 2000 [Version: 5.0.2195]")});
        in = nt(6, 1, 7601);
        in.productType = 3;
        in.editionCode = 10;
        cases.push_back({in, QStringLiteral("Windows Server 2008 R2 Server Enterprise Edition "
                                            "(full installation) [Version: 6.1.7601]")});
        in = nt(6, 0, 6002);
        in.editionCode = 0xABCDABCD;
        cases.push_back({in, QStringLiteral("Windows Vista Not activated product [Version: "
                                            "6.0.6002]")});
        in = nt(6, 9, 1);
        in.editionCode = 99; // not in the table: no edition
        cases.push_back({in, QStringLiteral("未知系统  [Version: 6.9.1]")});
        in = nt(4, 0, 1381);
        cases.push_back({in, QStringLiteral("Windows NT 4.0 [Version: 4.0.1381]")});
        in = nt(7, 0, 1); // major above 6: not named
        cases.push_back({in, QStringLiteral(" [Version: 7.0.1]")});
    }
    {
        EditionInputs in;
        in.platformId = 3;
        in.major = 6;
        in.minor = 1;
        in.build = 0;
        cases.push_back({in, QStringLiteral("Unknown System Version! [Version: 6.1.0]")});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(ComposeWindowsEditionText(c.in), c.expected);
    }
    EXPECT_EQ(EditionName(28), QStringLiteral("Ultimate Edition (N)"));
    EXPECT_EQ(EditionName(29), QString());
}

TEST(SystemVersionText, FromOsReleaseAndUname) {
    const QByteArray debian = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                              "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
                              "VERSION=\"12 (bookworm)\"\nID=debian\n";
    const KernelFacts kernel{QStringLiteral("6.1.0-18-amd64"),
                             QStringLiteral("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"),
                             QStringLiteral("x86_64")};
    {
        test::ScratchRegistry registry(SystemRegistryKeys(ParseOsRelease(debian), kernel));
        EXPECT_EQ(
            GetSystemVersionText(),
            QStringLiteral("Debian GNU/Linux 12 (bookworm) 版本:12 (内部版本:6.1.0-18-amd64)"));
    }
    {
        // A rolling release without VERSION_ID shows the kernel's major.minor.
        test::ScratchRegistry registry(
            SystemRegistryKeys(ParseOsRelease("NAME=\"Arch Linux\"\n"), kernel));
        EXPECT_EQ(GetSystemVersionText(),
                  QStringLiteral("Arch Linux 版本:6.1 (内部版本:6.1.0-18-amd64)"));
    }
    // Without a product name the fall-back text names no platform and gives the numbers.
    EXPECT_EQ(ComposeWindowsEditionText(EditionInputsFor(kernel)),
              QStringLiteral("Unknown System Version! [Version: 6.1.0]"));
    EXPECT_EQ(ComposeWindowsEditionText(EditionInputsFor(KernelFacts{})),
              QStringLiteral("Unknown System Version! [Version: 0.0.0]"));
    {
        test::ScratchRegistry registry(SystemRegistryKeys(OsRelease{}, kernel));
        EXPECT_EQ(GetSystemVersionText(), GetWindowsEditionText());
        EXPECT_TRUE(GetSystemVersionText().startsWith(QStringLiteral("Unknown System Version!")));
    }
}

TEST(OsRelease, MalformedAndHostileFilesGiveEmptyFields) {
    const OsRelease quoted = ParseOsRelease(
        "# comment\n\nNAME='Fedora Linux'\r\nVERSION=\"39 (Workstation \\\"Edition\\\")\"\n"
        "PRETTY_NAME=\"unterminated\nVERSION_ID=39 trailing\nbroken line\n=novalue\n");
    EXPECT_EQ(quoted.name, QStringLiteral("Fedora Linux"));
    EXPECT_EQ(quoted.version, QStringLiteral("39 (Workstation \"Edition\")"));
    EXPECT_TRUE(quoted.prettyName.isEmpty());
    EXPECT_TRUE(quoted.versionId.isEmpty());
    EXPECT_EQ(ProductNameOf(quoted), QStringLiteral("Fedora Linux 39 (Workstation \"Edition\")"));
    EXPECT_EQ(ParseOsRelease("PRETTY_NAME=\"A\x01\x02 B\"\n").prettyName, QStringLiteral("A B"));

    QTemporaryDir tmp;
    const QString missing = tmp.path() + QStringLiteral("/missing");
    EXPECT_TRUE(ProductNameOf(ReadOsRelease(missing)).isEmpty());

    const QString binary = tmp.path() + QStringLiteral("/binary");
    QByteArray noise;
    for (int i = 0; i < 70000; ++i) {
        noise.append(static_cast<char>((i * 7919) % 256));
    }
    ASSERT_TRUE(test::WriteFile(binary, noise));
    EXPECT_TRUE(ProductNameOf(ReadOsRelease(binary)).isEmpty());

    // Only the first 64 KiB are read: a name after them is not seen.
    const QString huge = tmp.path() + QStringLiteral("/huge");
    ASSERT_TRUE(test::WriteFile(huge, QByteArray(70000, '#') + "\nPRETTY_NAME=late\n"));
    EXPECT_TRUE(ReadOsRelease(huge).prettyName.isEmpty());

    // A pipe in its place is not opened, so nothing waits for a writer.
    const QString fifo = tmp.path() + QStringLiteral("/fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    EXPECT_TRUE(ProductNameOf(ReadOsRelease(fifo)).isEmpty());
    EXPECT_TRUE(ProductNameOf(ReadOsRelease(tmp.path())).isEmpty()); // a folder
}

TEST(OsBitness, EverySixtyFourBitArchitectureGivesSixtyFour) {
    struct Case {
        const char* machine;
        bool process64;
        const char* expected;
    };
    const Case cases[] = {
        {"x86_64", false, "64"}, {"aarch64", false, "64"}, {"ppc64le", false, "64"},
        {"s390x", false, "64"},  {"riscv64", false, "64"}, {"loongarch64", false, "64"},
        {"i686", false, "32"},   {"armv7l", false, "32"},  {"", false, "32"},
        {"i686", true, "64"}, // a 64-bit program runs on a 64-bit system
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OsBitnessFor(QString::fromLatin1(c.machine), c.process64),
                  QString::fromLatin1(c.expected))
            << c.machine;
    }
    EXPECT_EQ(GetOsBitness(), QStringLiteral("64")); // the tests are built 64-bit
}

TEST(BrowserEmulation, ValuesAndTheEntry) {
    struct Case {
        const char* version;
        bool forced;
        qint32 value;
    };
    const Case cases[] = {
        {"IE10", true, 10001}, {"IE10", false, 10000}, {"ie9", true, 9999}, {"IE9", false, 9000},
        {"Ie8", true, 8888},   {"IE8", false, 8000},   {"IE7", true, 7000}, {"IE7", false, 7000},
        {"IE11", true, 0},     {"", false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BrowserEmulationValue(QString::fromLatin1(c.version), c.forced), c.value)
            << c.version << ' ' << c.forced;
    }

    test::ScratchRegistry registry;
    EXPECT_EQ(BrowserEmulationValueName(), QStringLiteral("quillax.exe"));
    const auto present = [] {
        return RegReadDword(kBrowserEmulationKey, BrowserEmulationValueName());
    };
    EXPECT_TRUE(SetBrowserEmulation(QStringLiteral("IE10"), true));
    EXPECT_EQ(present(), QStringLiteral("10001"));
    EXPECT_FALSE(SetBrowserEmulation(QStringLiteral("IE10"), true)); // already so: not rewritten
    ASSERT_TRUE(RegWriteDword(kBrowserEmulationKey, BrowserEmulationValueName(), 10000));
    EXPECT_TRUE(SetBrowserEmulation(QStringLiteral("IE10"), true));
    EXPECT_EQ(present(), QStringLiteral("10001"));
    EXPECT_TRUE(SetBrowserEmulation(QStringLiteral("ie9"), true));
    EXPECT_EQ(present(), QStringLiteral("9999"));
    EXPECT_FALSE(SetBrowserEmulation(QStringLiteral("IE6"), true)); // unknown: removed
    EXPECT_EQ(present(), kError);
    // The value lives in the stand-in's file, not in the settings.
    EXPECT_TRUE(test::ReadFile(registry.filePath()).contains("FEATURE_BROWSER_EMULATION"));
}
