#pragma once
// Which links of a PDF may be handed to another program.
#include <QUrl>

namespace quarnkit {

// Only links a reader expects to open in another program (web pages and
// mail); a PDF must not be able to start local files or programs through a
// click.
bool isSafeExternalLink(const QUrl& url);

} // namespace quarnkit
