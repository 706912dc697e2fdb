// Runs GoogleTest inside a Qt application on the offscreen platform, with the per-user
// folders redirected so that tests never touch the user's own files.

#include "core/settings/AppConfig.h"
#include "platform/WebBrowser.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The embedded browser, headless: no GPU, no background traffic, no sandbox as root.
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking");
    }
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // Each test process gets a home of its own: the browser profile is locked by the process
    // that uses it, and tests run in parallel.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quillax-test-home-XXXXXX"));
    if (home.isValid()) {
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_CACHE_HOME");
    }
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf8(quillax::config::kProductTitle));
    QApplication::setApplicationName(QString::fromUtf8(quillax::config::kProductTitle));
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // As the program does: the browser profile ends while the application object lives.
    quillax::EndBrowserProfile();
    return result;
}
