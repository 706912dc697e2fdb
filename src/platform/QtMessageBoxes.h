#pragma once
// The message boxes the user sees: titled with the product title, text always shown plain.

#include "platform/MessageBoxes.h"

namespace quillax {

class QtMessageBoxes final : public MessageBoxes {
public:
    MsgResult show(const QString& text, MsgIcon icon, MsgButtons buttons) override;
};

} // namespace quillax
