#pragma once
// What a network reply says, read the same way wherever a download looks at one: its header
// block, lengths that contradict each other, refused redirects, a cut connection.

#include <QString>

class QNetworkReply;

namespace quillax {

/// Waits until `reply` has something new (data, headers or its end), at most `ms`, while the
/// event queue runs.
void WaitOn(QNetworkReply* reply, int ms);

/// The raw header block as the transfer component shows it: the status line, then the
/// headers, CR LF separated. Empty when no response arrived.
QString HeaderBlock(QNetworkReply* reply);

/// True when the reply carries two different Content-Length values.
bool HasConflictingLengths(QNetworkReply* reply);

/// A redirect chain that loops or leaves https for http.
bool RedirectRefused(const QNetworkReply* reply);

/// The connection or the proxy failed (the body is cut short), as opposed to an error status
/// whose page the server delivered whole.
bool TransportFailed(const QNetworkReply* reply);

} // namespace quillax
