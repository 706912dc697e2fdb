#pragma once
// The four 16×16 status pictures of the download list, in status-code order 1 to 4.

#include <QIcon>

namespace quillax {

/// Picture for status code 1 (pause bars), 2 (play triangle), 3 (green tick), 4 (red cross);
/// a null icon for any other code. Needs a running GUI application.
QIcon StatusIcon(int statusCode);

} // namespace quillax
