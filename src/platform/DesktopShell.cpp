#include "platform/DesktopShell.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <memory>

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

    void run(const QString& program, const QStringList& arguments,
             std::function<void(bool)> done) override {
        if (QStandardPaths::findExecutable(program).isEmpty() &&
            !QFileInfo(program).isExecutable()) {
            QTimer::singleShot(0, QCoreApplication::instance(),
                               [done = std::move(done)] { done(false); });
            return;
        }
        // No parent: a process still running when the program ends is left alone (an opener
        // may have become the browser itself), never killed with the program.
        auto* process = new QProcess;
        process->setProgram(program);
        process->setArguments(arguments);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        auto report = std::make_shared<std::function<void(bool)>>(std::move(done));
        const auto finish = [process, report](bool succeeded) {
            if (*report) {
                const auto callback = std::move(*report);
                *report = nullptr;
                callback(succeeded);
            }
            process->deleteLater();
        };
        QObject::connect(process, &QProcess::finished, process,
                         [finish](int exitCode, QProcess::ExitStatus status) {
                             finish(status == QProcess::NormalExit && exitCode == 0);
                         });
        QObject::connect(process, &QProcess::errorOccurred, process,
                         [finish](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart) {
                                 finish(false);
                             }
                         });
        process->start();
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
