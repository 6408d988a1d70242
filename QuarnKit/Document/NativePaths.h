#pragma once
// File names on Linux are bytes; QString holds Unicode. A name that is not
// UTF-8 keeps each byte that does not decode as a lone surrogate U+DC80 to
// U+DCFF, which QString carries (and JSON passes on), and gets the byte back
// when the name reaches the file system. Valid UTF-8 is unchanged both ways.
#include <QByteArray>
#include <QString>

namespace quarnkit {

QString pathFromNative(const QByteArray& bytes);
QByteArray nativePath(const QString& path);

} // namespace quarnkit
