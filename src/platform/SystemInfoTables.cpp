#include "platform/SystemInfoTables.h"

namespace quillax {

QString EditionName(quint32 code) {
    static const QHash<quint32, QString> names = {
        {0, QStringLiteral("An unknown product")},
        {1, QStringLiteral("Ultimate Edition")},
        {2, QStringLiteral("Home Basic Edition")},
        {3, QStringLiteral("Home Premium Edition")},
        {4, QStringLiteral("Enterprise Edition")},
        {5, QStringLiteral("Home Basic Edition (N)")},
        {6, QStringLiteral("Business Edition")},
        {7, QStringLiteral("Server Standard Edition (full installation)")},
        {8, QStringLiteral("Server Datacenter Edition (full installation)")},
        {9, QStringLiteral("Small Business Server")},
        {10, QStringLiteral("Server Enterprise Edition (full installation)")},
        {11, QStringLiteral("Starter Edition")},
        {12, QStringLiteral("Server Datacenter Edition (core installation)")},
        {13, QStringLiteral("Server Standard Edition (core installation)")},
        {14, QStringLiteral("Server Enterprise Edition (core installation)")},
        {15, QStringLiteral("Server Enterprise Edition for Itanium-based Systems")},
        {16, QStringLiteral("Business Edition (N)")},
        {17, QStringLiteral("Web Server Edition")},
        {18, QStringLiteral("Cluster Server Edition")},
        {19, QStringLiteral("Home Server Edition")},
        {20, QStringLiteral("Storage Server Express Edition")},
        {21, QStringLiteral("Storage Server Standard Edition")},
        {22, QStringLiteral("Storage Server Workgroup Edition")},
        {23, QStringLiteral("Storage Server Enterprise Edition")},
        {24, QStringLiteral("Server for Small Business Edition")},
        {25, QStringLiteral("Small Business Server Premium Edition")},
        {26, QStringLiteral("Home Premium Edition (N)")},
        {27, QStringLiteral("Enterprise Edition (N)")},
        {28, QStringLiteral("Ultimate Edition (N)")},
        {0xABCDABCD, QStringLiteral("Not activated product")},
    };
    return names.value(code);
}

QString SystemNameFor(const EditionInputs& in) {
    const QString edition = EditionName(in.editionCode);
    const bool server = in.productType == 3;
    const QString sp = in.servicePackText.trimmed();
    QString name;
    switch (in.platformId) {
    case 0:
        name = QStringLiteral("DOS");
        break;
    case 1:
        if (in.minor == 0) {
            name = sp == QLatin1String("C") || sp == QLatin1String("B")
                       ? QStringLiteral("Windows 95 OSR2")
                       : QStringLiteral("Windows 95");
        } else if (in.minor == 10) {
            name = sp == QLatin1String("A") ? QStringLiteral("Windows 98 SE")
                                            : QStringLiteral("Windows 98");
        } else if (in.minor == 90) {
            name = QStringLiteral("Windows Millennium Edition");
        }
        break;
    case 2:
        if (in.major == 3) {
            name = QStringLiteral("Windows NT 3.51");
        } else if (in.major == 4) {
            name = QStringLiteral("Windows NT 4.0");
        } else if (in.major == 5 && in.minor == 0) {
            name = in.suiteMask == 2     ? QStringLiteral("Windows 2000 Advanced")
                   : in.suiteMask == 128 ? QStringLiteral("Windows 2000 Data center")
                                         : QStringLiteral("Windows 2000");
        } else if (in.major == 5 && in.minor == 1) {
            name = in.suiteMask == 0     ? QStringLiteral("Windows XP Professional")
                   : in.suiteMask == 512 ? QStringLiteral("Windows XP Home")
                                         : QStringLiteral("Windows XP");
        } else if (in.major == 5 && in.minor == 2) {
            switch (in.suiteMask) {
            case 0:
                name = QStringLiteral("Windows Server 2003 Standard");
                break;
            case 2:
                name = QStringLiteral("Windows Server 2003 Enterprise");
                break;
            case 128:
                name = QStringLiteral("Windows Server 2003 Data center");
                break;
            case 274:
                name = QStringLiteral("Windows Server 2003 R2 Enterprise");
                break;
            case 1024:
                name = QStringLiteral("Windows Server 2003 Web Edition");
                break;
            default:
                name = QStringLiteral("Windows Server 2003");
            }
        } else if (in.major == 6) {
            switch (in.minor) {
            case 0:
                name = (server ? QStringLiteral("Windows Server 2008 ")
                               : QStringLiteral("Windows Vista ")) +
                       edition;
                break;
            case 1:
                name = server
                           ? QStringLiteral("Windows Server 2008 R2") + QLatin1Char(' ') + edition
                           : QStringLiteral("Windows 7 ") + edition;
                break;
            case 2:
                name = (server ? QStringLiteral("Windows Server 2012 ")
                               : QStringLiteral("Windows 8 ")) +
                       edition;
                break;
            case 3:
                name = QStringLiteral("Windows 8.1 ") + edition;
                break;
            case 4:
                name = QStringLiteral("Windows 10 ") + edition;
                break;
            default:
                name = QStringLiteral("未知系统 ") + edition;
            }
        }
        break;
    default:
        name = QStringLiteral("Unknown System Version!");
    }
    return name;
}

} // namespace quillax
