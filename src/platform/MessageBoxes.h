#pragma once
// Every message the program shows goes through here, so that tests can intercept it and the
// logic library needs no widgets. The widget implementation is installed by the program.

#include <QString>

namespace quillax {

enum class MsgIcon { None, Information, Error, Question, Warning };
enum class MsgButtons { Ok, YesNo, OkCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    /// Shows `text` titled with the product title and returns the button chosen.
    virtual MsgResult show(const QString& text, MsgIcon icon, MsgButtons buttons) = 0;
};

/// Shows a message through the installed handler. Without one (a program part running with no
/// user interface) nothing is shown, and the answer is the safe one: Ok, or No for a question.
MsgResult ShowMessage(const QString& text, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);

/// Installs `handler` (not owned) and returns the previous one; nullptr removes it.
MessageBoxes* SetMessageBoxes(MessageBoxes* handler);

} // namespace quillax
