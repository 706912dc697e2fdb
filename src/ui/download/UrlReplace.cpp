#include "ui/download/UrlReplace.h"

#include "core/download/DownloadListModel.h"
#include "core/download/ListOperations.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillax {

UrlReplace::UrlReplace(DownloadListModel& list, QWidget* parent) : QDialog(parent), list_(list) {
    setObjectName(QStringLiteral("UrlReplace"));
    setWindowTitle(QStringLiteral("网址批量替换"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("所有网址中的字符串："), this));
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    layout->addWidget(Text1);
    layout->addWidget(new QLabel(QStringLiteral("将被全部替换为字符串："), this));
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    layout->addWidget(Text2);
    auto* buttons = new QHBoxLayout;
    auto* Command1 = new QPushButton(QStringLiteral("替换"), this);
    auto* Command2 = new QPushButton(QStringLiteral("取消"), this);
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    connect(Command1, &QPushButton::clicked, this, [this] { 替换(); });
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);
}

bool UrlReplace::替换() {
    if (TrimSpaces(Text1->text()).isEmpty()) {
        ShowMessage(QStringLiteral("请输入字符串！"), MsgIcon::Error);
        return false;
    }
    ReplaceInAddresses(list_, Text1->text(), Text2->text());
    accept();
    ShowMessage(QStringLiteral("全部网址替换完成！"), MsgIcon::Information);
    return true;
}

} // namespace quillax
