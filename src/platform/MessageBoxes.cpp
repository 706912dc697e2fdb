#include "platform/MessageBoxes.h"

namespace quillax {

namespace {
MessageBoxes* g_handler = nullptr;
}

MsgResult ShowMessage(const QString& text, MsgIcon icon, MsgButtons buttons) {
    if (g_handler != nullptr) {
        return g_handler->show(text, icon, buttons);
    }
    return buttons == MsgButtons::Ok      ? MsgResult::Ok
           : buttons == MsgButtons::YesNo ? MsgResult::No
                                          : MsgResult::Cancel;
}

MessageBoxes* SetMessageBoxes(MessageBoxes* handler) {
    MessageBoxes* previous = g_handler;
    g_handler = handler;
    return previous;
}

} // namespace quillax
