#include "platform/UserDialogs.h"

#include "platform/MessageBoxes.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>

namespace quillax {

namespace {

class DesktopDialogs final : public UserDialogs {
public:
    QString saveFileName(QWidget* parent, const QString& filter,
                         const QString& defaultSuffix) override {
        QFileDialog dialog(parent, QString(), DialogStartFolder());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(defaultSuffix);
        // The dialog would ask about the name as typed, before the suffix is added: the
        // caller asks about the final name instead.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return {};
        }
        return dialog.selectedFiles().first();
    }
    QString openFileName(QWidget* parent, const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, QString(), DialogStartFolder(), filter);
    }
    QString folder(QWidget* parent, const QString& title, const QString& start) override {
        return QFileDialog::getExistingDirectory(parent, title, start);
    }
    std::optional<QString> text(QWidget* parent, const QString& prompt,
                                const QString& title) override {
        bool ok = false;
        const QString answer =
            QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, QString(), &ok);
        if (!ok) {
            return std::nullopt;
        }
        return answer;
    }
};

UserDialogs* installed = nullptr;
std::function<QString()>& startFolder() {
    static std::function<QString()> folder;
    return folder;
}

} // namespace

void SetDialogStartFolder(std::function<QString()> folder) {
    startFolder() = std::move(folder);
}

QString DialogStartFolder() {
    const QString folder = startFolder() ? startFolder()() : QString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

UserDialogs& Dialogs() {
    static DesktopDialogs desktop;
    return installed != nullptr ? *installed : desktop;
}

UserDialogs* SetDialogs(UserDialogs* dialogs) {
    UserDialogs* previous = installed;
    installed = dialogs;
    return previous;
}

bool ConfirmReplace(const QString& path) {
    if (!QFileInfo::exists(path)) {
        return true;
    }
    return ShowMessage(QFileInfo(path).fileName() + QStringLiteral(" 已存在。\n要替换它吗？"),
                       MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes;
}

} // namespace quillax
