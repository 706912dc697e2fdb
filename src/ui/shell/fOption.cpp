#include "ui/shell/fOption.h"

#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"
#include "ui/shell/WindowLinks.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quillax {

fOption::fOption(SettingsStore& settings, AppValues& values, QWidget* parent)
    : QDialog(parent), settings_(settings), values_(values) {
    setObjectName(QStringLiteral("fOption"));
    setWindowTitle(QString::fromUtf8(config::kProductTitle) + QStringLiteral("-设置"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("下载方式："), this));
    Option1 =
        new QRadioButton(QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"), this);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("下载方式二 (支持HTTP，多线程下载)"), this);
    Option2->setObjectName(QStringLiteral("Option2"));
    layout->addWidget(Option1);
    layout->addWidget(Option2);

    Check1 = new QCheckBox(QStringLiteral("下载使用代理服务器"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    layout->addWidget(Check1);
    auto* proxy = new QHBoxLayout;
    Text6 = new QLineEdit(this);
    Text6->setObjectName(QStringLiteral("Text6"));
    Text8 = new QLineEdit(this);
    Text8->setObjectName(QStringLiteral("Text8"));
    Text8->setMaximumWidth(80);
    proxy->addWidget(new QLabel(QStringLiteral("地址："), this));
    proxy->addWidget(Text6, 1);
    proxy->addWidget(new QLabel(QStringLiteral("端口："), this));
    proxy->addWidget(Text8);
    layout->addLayout(proxy);

    Check2 = new QCheckBox(QStringLiteral("提取网页信息时，提示下载保存路径"), this);
    Check2->setObjectName(QStringLiteral("Check2"));
    layout->addWidget(Check2);
    auto* size = new QHBoxLayout;
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setMaximumWidth(80);
    size->addWidget(new QLabel(QStringLiteral("下载文件大小不超过："), this));
    size->addWidget(Text1);
    size->addWidget(new QLabel(QStringLiteral("MB"), this));
    size->addStretch();
    layout->addLayout(size);

    auto* buttons = new QHBoxLayout;
    auto* Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    auto* Command2 = new QPushButton(QStringLiteral("关闭"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    layout->addLayout(buttons);
    connect(Command1, &QPushButton::clicked, this, [this] { 确定(); });
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);

    Check1->setChecked(values_.ProxyEnabled == 1);
    Text6->setText(values_.ProxyAddress);
    Text8->setText(values_.ProxyPort);
    Option1->setChecked(values_.DownloadMethod == 1);
    Option2->setChecked(values_.DownloadMethod == 2);
    Check2->setChecked(values_.PromptSavePath == 1);
    Text1->setText(QString::number(values_.MaxFileSizeMB, 'g', 15));
}

void fOption::Show(QWidget* parent, SettingsStore& settings, AppValues& values) {
    fOption dialog(settings, values, parent);
    dialog.exec();
}

void fOption::确定() {
    using namespace settings_keys;
    if (Option1->isChecked()) {
        values_.DownloadMethod = 1;
        Q_EMIT OptionsNotifier::instance().downloadMethodChanged(1);
    } else if (Option2->isChecked()) {
        values_.DownloadMethod = 2;
        Q_EMIT OptionsNotifier::instance().downloadMethodChanged(2);
    }
    settings_.writeNumber(kSettings, kDownloadMethod, values_.DownloadMethod);
    values_.ProxyEnabled = Check1->isChecked() ? 1 : 0;
    settings_.writeNumber(kSettings, kProxyEnabled, values_.ProxyEnabled);
    values_.ProxyAddress = TrimSpaces(Text6->text());
    settings_.write(kSettings, kProxyAddress, values_.ProxyAddress);
    values_.ProxyPort = TrimSpaces(Text8->text());
    settings_.write(kSettings, kProxyPort, values_.ProxyPort);
    double port = 0;
    if (values_.ProxyEnabled == 1 &&
        (values_.ProxyAddress.isEmpty() || !ParseStoredNumber(values_.ProxyPort, port))) {
        ShowMessage(QStringLiteral("代理服务器网址或者端口格式不对！"), MsgIcon::Error);
    }
    values_.PromptSavePath = Check2->isChecked() ? 1 : 0;
    settings_.writeNumber(kSettings, kPromptSavePath, values_.PromptSavePath);
    // A size that is not a number keeps the previous one.
    double size = 0;
    if (ParseStoredNumber(Text1->text(), size) && size >= 0) {
        values_.MaxFileSizeMB = size;
    }
    settings_.writeNumber(kSettings, kMaxFileSize, values_.MaxFileSizeMB);
    // The open download window's next downloads use the new proxy and size limit.
    Q_EMIT OptionsNotifier::instance().optionsChanged();
    accept();
}

} // namespace quillax
