#include "download/fFileDownload.h"
#include "platform/QtMessageBoxes.h"
#include "shell/AppConfig.h"
#include "shell/AppValues.h"
#include "shell/SettingsStore.h"

#include <QApplication>

int main(int argc, char* argv[]) {
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
