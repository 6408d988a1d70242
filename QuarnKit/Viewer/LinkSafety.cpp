#include "QuarnKit/Viewer/LinkSafety.h"

#include <QUrlQuery>

#include <algorithm>

namespace quarnkit {

namespace {

// An address as a mail program reads it once decoded: a `?`, `&` or `#` there
// would start fields of the program's own (a%3Fattach=… in the address).
bool isPlainAddress(const QString& encoded)
{
    const QString decoded = QUrl::fromPercentEncoding(encoded.toUtf8());
    return std::none_of(decoded.begin(), decoded.end(), [](QChar c) {
        return c == u'?' || c == u'&' || c == u'#' || c.category() == QChar::Other_Control;
    });
}

} // namespace

std::optional<QUrl> externalLinkTarget(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid()) return std::nullopt;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) return url;
    if (scheme != QLatin1String("mailto")) return std::nullopt;
    if (!isPlainAddress(url.path(QUrl::FullyEncoded))) return std::nullopt;

    // Fields compared decoded (a%74tach is attach), kept as they were written.
    QUrlQuery kept;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyEncoded)) {
        const QString field = QUrl::fromPercentEncoding(key.toUtf8()).toLower();
        const bool address =
            field == QLatin1String("to") || field == QLatin1String("cc") || field == QLatin1String("bcc");
        if (address && !isPlainAddress(value)) return std::nullopt;
        if (address || field == QLatin1String("subject") || field == QLatin1String("body"))
            kept.addQueryItem(key, value);
    }
    QUrl mail = url;
    mail.setQuery(kept.isEmpty() ? QString() : kept.query(QUrl::FullyEncoded));
    // A mail link has no fragment; a mail program may read one as more fields ("#?attach=").
    mail.setFragment(QString());
    return mail;
}

} // namespace quarnkit
