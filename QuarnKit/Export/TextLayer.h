#pragma once
// Searchable copies of scanned pages: a page without text of its own is read
// with text recognition and gets the lines it shows as invisible text laid
// exactly over them, on pages shown turned too.
#include "Platform/PdfDocument.h"
#include "Platform/TextRecognition.h"

#include <QImage>

#include <functional>
#include <vector>

namespace quarnkit::TextLayer {

// Reads an image's lines with their boxes (pixels); throws when it cannot.
using LineReader = std::function<std::vector<platform::RecognizedLine>(const QImage& image, int dpi)>;

// Called before each page with its index and the page count; may throw to stop.
using BeforePage = std::function<void(int page, int count)>;

// Adds the text layer to every page of `doc` that has no text. A page that
// cannot be rendered or read stays as it is. Returns how many pages got a
// layer. `read` defaults to Tesseract in the user's languages.
int addToScannedPages(platform::PdfDocument& doc, const BeforePage& beforePage = {}, const LineReader& read = {});

} // namespace quarnkit::TextLayer
