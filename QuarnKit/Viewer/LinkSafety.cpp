#include "QuarnKit/Viewer/LinkSafety.h"

namespace quarnkit {

bool isSafeExternalLink(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

} // namespace quarnkit
