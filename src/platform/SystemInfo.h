#pragma once
// What the program says about the system it runs on: the one-line description, the bitness,
// and the browser-emulation entry. The descriptions are composed by fixed rules from values
// read the way the registry offers them; here those values come from /etc/os-release (product
// name and release) and uname (kernel release and machine). The composing rules are pure
// functions over plain inputs.

#include "platform/Registry.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QtGlobal>

namespace quillax {

// ---- Inputs from the system ------------------------------------------------------------------

/// The fields of /etc/os-release that the description uses; empty when absent.
struct OsRelease {
    QString prettyName;
    QString name;
    QString version;
    QString versionId;
};

/// Parses os-release text: KEY=value lines, values bare or in single or double quotes (with
/// backslash escapes in double quotes); comments, blank and malformed lines are skipped, and
/// control characters are dropped from the values. Never fails.
OsRelease ParseOsRelease(const QByteArray& content);
/// Reads `path` (by default /etc/os-release, else /usr/lib/os-release). Only a regular file is
/// read, and only its first 64 KiB; a file that is missing or cannot be read gives empty fields.
OsRelease ReadOsRelease(const QString& path = QString());

struct KernelFacts {
    QString release; ///< "6.1.0-18-amd64"
    QString version; ///< "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"
    QString machine; ///< "x86_64", "aarch64", "i686"
};
KernelFacts ReadKernelFacts();

/// The name the system gives itself: PRETTY_NAME, else NAME and VERSION; empty when neither.
QString ProductNameOf(const OsRelease& release);

/// The system's values as the registry presents them under
/// "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion": ProductName (the
/// product name), ReleaseId (VERSION_ID), CurrentVersion (the kernel's major.minor),
/// CurrentBuildNumber and BuildLab (the kernel release). Values without an input are absent;
/// there is no UBR and no CSDVersion.
QHash<QString, reg::KeyValues> SystemRegistryKeys(const OsRelease& release,
                                                  const KernelFacts& kernel);

// ---- Bitness ---------------------------------------------------------------------------------

/// "64" when the machine is a 64-bit architecture (x86_64, aarch64, ppc64le, s390x, riscv64,
/// …) or the program itself runs as a 64-bit process; "32" otherwise.
QString OsBitnessFor(const QString& machine, bool process64);
QString GetOsBitness();

// ---- System description ----------------------------------------------------------------------

/// The texts read from the CurrentVersion key; each is "Error" when it could not be read.
struct VersionKeyTexts {
    QString productName;
    QString currentVersion;
    QString currentBuildNumber;
    QString releaseId;
    QString buildLab;
    QString csdVersion;
    QString ubr; ///< read as a number
};

/// "ProductName 版本:release (内部版本:build)", or `editionText` when ProductName is "Error".
/// The release is ReleaseId, or CurrentVersion without one; the build is
/// "CurrentBuildNumber.UBR", or without UBR "BuildLab : CSDVersion", or BuildLab alone.
QString ComposeSystemVersionText(const VersionKeyTexts& keys, const QString& editionText);

/// The inputs of the fall-back description, as a system version record holds them.
struct EditionInputs {
    QString fileVersion; ///< product version of the system library, "6.3.9600.17415"; or empty
    int platformId = -1; ///< 0, 1, 2 as the table knows them; any other names no platform
    quint32 major = 0;
    quint32 minor = 0;
    quint32 build = 0;
    QString servicePackText;
    int servicePackMajor = 0;
    int servicePackMinor = 0;
    quint32 suiteMask = 0;
    int productType = 1; ///< 1 workstation, 2 domain controller, 3 server
    quint32 editionCode = 0;
};

/// The edition's name for `code`, or empty for a code the table does not know.
QString EditionName(quint32 code);
/// The fall-back description by its name and edition tables.
QString ComposeWindowsEditionText(const EditionInputs& inputs);
/// This system's inputs: no system library version, a platform the table does not name, and
/// the kernel release's numbers as major, minor and build.
EditionInputs EditionInputsFor(const KernelFacts& kernel);

QString GetWindowsEditionText();
/// The description from the program's registry.
QString GetSystemVersionText();

// ---- Values for the whole run ----------------------------------------------------------------

/// Worked out once at start-up and never refreshed.
struct SystemDescription {
    QString OsBitness;         ///< "64" or "32"
    QString SystemVersionText; ///< the description followed by "[64位]" or "[32位]"
};
SystemDescription& SystemValues();

/// The description followed by "[", the bitness and "位]".
QString WithBitness(const QString& description, const QString& bitness);

} // namespace quillax
