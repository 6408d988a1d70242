#include "QuarnKit/Document/NativePaths.h"

#include "Platform/Utf8.h"

namespace quarnkit {

QString pathFromNative(const QByteArray& bytes)
{
    const std::string_view view(bytes.constData(), size_t(bytes.size()));
    QString path;
    qsizetype run = 0; // start of the valid UTF-8 not yet decoded
    for (qsizetype at = 0; at < bytes.size();) {
        const int length = platform::utf8SequenceLength(view, size_t(at));
        if (length > 0) {
            at += length;
            continue;
        }
        path += QString::fromUtf8(bytes.mid(run, at - run));
        path += QChar(char16_t(0xDC00 + static_cast<unsigned char>(bytes[at])));
        run = ++at;
    }
    return path + QString::fromUtf8(bytes.mid(run));
}

QByteArray nativePath(const QString& path)
{
    QByteArray bytes;
    qsizetype run = 0; // start of the text not yet encoded
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        const bool escaped = unit >= 0xDC80 && unit <= 0xDCFF && (i == 0 || !path[i - 1].isHighSurrogate());
        if (!escaped) continue;
        bytes += path.mid(run, i - run).toUtf8();
        bytes += char(unit - 0xDC00);
        run = i + 1;
    }
    return bytes + path.mid(run).toUtf8();
}

} // namespace quarnkit
