#include "QuarnKit/Viewer/ReadableText.h"

namespace quarnkit {

ReadableText::ReadableText(const platform::PdfTextPage& page)
{
    const auto breakLine = [this] {
        text_ += QLatin1Char('\n');
        boxes_.emplace_back();
    };
    for (size_t b = 0; b < page.blocks.size(); ++b) {
        if (b > 0) breakLine(); // an empty line between blocks
        for (const platform::PdfTextLine& line : page.blocks[b].lines) {
            for (const platform::PdfChar& c : line.chars) {
                const char32_t code = c.code == 0 || c.code > 0x10FFFF ? U'\uFFFD' : c.code;
                const QString unit = QString::fromUcs4(&code, 1);
                text_ += unit;
                boxes_.insert(boxes_.end(), size_t(unit.size()), c.quad.bounds());
            }
            breakLine();
        }
    }
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
