#include "ui/shell/ProgramIcon.h"

namespace quillax {

QIcon ProgramIcon() {
    // Pictures at fixed sizes need no image plugin and scale well enough in between.
    QIcon icon;
    for (int size : {48, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/quillax-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace quillax
