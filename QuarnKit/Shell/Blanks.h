#pragma once
// Horizontal white space: spaces, tabs and the other space separators, never
// line breaks.
#include <QString>

namespace quarnkit {

inline bool isBlank(QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; }

// The text without blanks at either end.
inline QString trimmedBlanks(const QString& text)
{
    qsizetype start = 0, end = text.size();
    while (start < end && isBlank(text[start])) ++start;
    while (end > start && isBlank(text[end - 1])) --end;
    return text.mid(start, end - start);
}

} // namespace quarnkit
