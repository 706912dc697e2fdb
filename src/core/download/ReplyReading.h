#pragma once
// What an answer read from the socket says, read the same way wherever a download looks at one:
// its header block and refused redirects, and a wait for its next news.

#include <QString>

namespace quillax {

class SocketGet;

/// Waits until `get` has something new (its head, data or its end), at most `ms`, while the
/// event queue runs.
void WaitOn(SocketGet* get, int ms);

/// The raw header block as the transfer component shows it: the status line, then the
/// headers, CR LF separated. Empty when no answer arrived.
QString HeaderBlock(const SocketGet& get);

/// A redirect chain that loops or leaves https for http.
bool RedirectRefused(const SocketGet* get);

} // namespace quillax
