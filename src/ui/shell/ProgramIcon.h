#pragma once

#include <QIcon>

namespace quillax {

/// The program's icon, drawn for it and built into it: the start window's icon, which every
/// other window takes from the application.
QIcon ProgramIcon();

} // namespace quillax
