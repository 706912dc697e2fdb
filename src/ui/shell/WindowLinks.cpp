#include "ui/shell/WindowLinks.h"

namespace quillax {

WindowLinks& Links() {
    static WindowLinks links;
    return links;
}

OptionsNotifier& OptionsNotifier::instance() {
    static OptionsNotifier notifier;
    return notifier;
}

} // namespace quillax
