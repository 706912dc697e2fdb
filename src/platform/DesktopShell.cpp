#include "platform/DesktopShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace quillax {

namespace {

class SystemShell final : public DesktopShell {
public:
    bool openUrl(const QUrl& url) override {
        if (!url.isValid()) {
            return false;
        }
        return QDesktopServices::openUrl(url);
    }

    bool startDetached(const QString& program, const QStringList& arguments) override {
        if (QStandardPaths::findExecutable(program).isEmpty() &&
            !QFileInfo(program).isExecutable()) {
            return false;
        }
        return QProcess::startDetached(program, arguments);
    }

    bool showItemInFolder(const QString& filePath) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.FileManager1"),
                QStringLiteral("/org/freedesktop/FileManager1"),
                QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
            call << QStringList{QUrl::fromLocalFile(filePath).toString()} << QString();
            const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
            if (reply.type() == QDBusMessage::ReplyMessage) {
                return true;
            }
        }
        // No file manager on the bus: open the folder itself.
        return openUrl(QUrl::fromLocalFile(QFileInfo(filePath).absolutePath()));
    }
};

SystemShell& systemShell() {
    static SystemShell shell;
    return shell;
}

DesktopShell* g_shell = nullptr;

} // namespace

DesktopShell& Shell() {
    return g_shell != nullptr ? *g_shell : systemShell();
}

DesktopShell* SetShell(DesktopShell* shell) {
    DesktopShell* previous = g_shell;
    g_shell = shell;
    return previous;
}

} // namespace quillax
