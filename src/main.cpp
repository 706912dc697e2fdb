#include "download/fFileDownload.h"
#include "platform/QtMessageBoxes.h"
#include "shell/AppConfig.h"
#include "shell/AppValues.h"
#include "shell/SettingsStore.h"

#include <QApplication>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (geteuid() == 0) {
        // The browser engine refuses its sandbox to root.
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf8(quillax::config::kProductTitle));
    QApplication::setApplicationName(QString::fromUtf8(quillax::config::kProductTitle));
    QApplication::setApplicationVersion(quillax::config::versionText());

    quillax::QtMessageBoxes messageBoxes;
    quillax::SetMessageBoxes(&messageBoxes);

    quillax::SettingsStore settings;
    quillax::ReadStartupSettings(settings, quillax::Values());

    quillax::fFileDownload window(settings, quillax::Values());
    window.show();
    const int code = QApplication::exec();
    quillax::SetMessageBoxes(nullptr);
    return code;
}
