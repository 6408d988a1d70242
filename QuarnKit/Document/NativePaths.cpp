#include "QuarnKit/Document/NativePaths.h"

namespace quarnkit {
namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when it is not one.
int sequenceLength(const QByteArray& bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    int length = 0;
    char32_t code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
    else return 0;
    if (at + length > bytes.size()) return 0;
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are not UTF-8.
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

} // namespace

QString pathFromNative(const QByteArray& bytes)
{
    QString path;
    qsizetype run = 0; // start of the valid UTF-8 not yet decoded
    for (qsizetype at = 0; at < bytes.size();) {
        const int length = sequenceLength(bytes, at);
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
