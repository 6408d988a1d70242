#pragma once
// The text of one page as a screen reader reads it: the characters in
// reading order (right-to-left lines too, platform::inReadingOrder), as
// letters where the file gives presentation forms (platform::lettersOf), each
// line ended by a line break and the blocks kept apart by an empty line (as
// the page's text is copied), with the box each character is drawn in. A
// glyph whose letter the file does not say is left out: a reader has
// nothing to say for it. Offsets count UTF-16 units, as a reader's text
// interface does.
#include "Platform/PdfDocument.h"

#include <QString>

#include <optional>
#include <vector>

namespace quarnkit {

class ReadableText {
public:
    ReadableText() = default;
    explicit ReadableText(const platform::PdfTextPage& page);

    const QString& text() const { return text_; }
    int size() const { return int(text_.size()); }
    bool isEmpty() const { return text_.isEmpty(); }
    // No text, and an image drawn: a scan, whose words a reader cannot have.
    bool isImageOnly() const { return imageOnly_; }

    // The box (page space, y up) the character at `offset` is drawn in; none
    // for a line break or an offset outside the text.
    std::optional<platform::PdfRect> box(int offset) const;
    // The character drawn at the point; -1 over blank space.
    int offsetAt(platform::PdfPoint point) const;

private:
    QString text_;
    bool imageOnly_ = false;
    std::vector<std::optional<platform::PdfRect>> boxes_; // one per UTF-16 unit
};

} // namespace quarnkit
