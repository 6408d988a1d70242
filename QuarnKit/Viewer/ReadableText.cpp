#include "QuarnKit/Viewer/ReadableText.h"

#include "Platform/TextReadingOrder.h"

#include <algorithm>

namespace quarnkit {

namespace {

// The engine's answer for a glyph it has no character for.
bool unknown(char32_t code) { return code == 0 || code == 0xFFFD || code > 0x10FFFF; }

} // namespace

ReadableText::ReadableText(const platform::PdfTextPage& page)
{
    const auto breakLine = [this] {
        text_ += QLatin1Char('\n');
        boxes_.emplace_back();
    };
    bool blockRead = false;
    for (const platform::PdfTextBlock& block : platform::inReadingOrder(page).blocks) {
        bool lineRead = false;
        for (const platform::PdfTextLine& line : block.lines) {
            const bool known = std::any_of(line.chars.begin(), line.chars.end(),
                                           [](const platform::PdfChar& c) { return !unknown(c.code); });
            if (!known) continue;
            if (!lineRead && blockRead) breakLine(); // an empty line between blocks
            lineRead = true;
            for (const platform::PdfChar& c : line.chars) {
                if (unknown(c.code)) continue;
                const QString units = QString::fromStdU32String(platform::lettersOf(c.code));
                text_ += units;
                boxes_.insert(boxes_.end(), size_t(units.size()), c.quad.bounds());
            }
            breakLine();
        }
        blockRead = blockRead || lineRead;
    }
    imageOnly_ = text_.isEmpty() && page.images > 0;
}

std::optional<platform::PdfRect> ReadableText::box(int offset) const
{
    if (offset < 0 || offset >= size()) return std::nullopt;
    return boxes_[size_t(offset)];
}

int ReadableText::offsetAt(platform::PdfPoint point) const
{
    for (int i = 0; i < size(); ++i)
        if (boxes_[size_t(i)] && boxes_[size_t(i)]->contains(point)) return i;
    return -1;
}

} // namespace quarnkit
