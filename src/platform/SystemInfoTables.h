#pragma once
// The fixed names of the fall-back system description, kept apart from the rules that put a
// description together so that a new name touches only the tables.

#include "platform/SystemInfo.h"

#include <QString>

namespace quillax {

/// The system's name by platform and version, with the edition's name where the version has
/// editions; empty for a platform 1 or 2 version the table does not know.
QString SystemNameFor(const EditionInputs& in);

} // namespace quillax
