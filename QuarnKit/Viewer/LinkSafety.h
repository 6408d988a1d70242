#pragma once
// Which links of a PDF may be handed to another program, and as what.
#include <QUrl>

#include <optional>

namespace quarnkit {

// The URL to hand to the desktop for a link, or none. Only links a reader
// expects to open in another program (web pages and mail): a PDF must not be
// able to start local files or programs through a click. A mail link keeps
// only the fields of a message (to, cc, bcc, subject, body), and no
// fragment: some mail programs attach the files that other fields name. A
// mail link whose addresses, decoded, would start fields of their own (an
// encoded `?`, `&` or `#`) opens nothing.
std::optional<QUrl> externalLinkTarget(const QUrl& url);

} // namespace quarnkit
