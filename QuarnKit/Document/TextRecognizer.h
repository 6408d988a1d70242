#pragma once
// Reads the text of pages that carry none of their own (scanned pages): the
// page is rendered to an image and Tesseract reads it. Also tells whether a
// page needs that and gives a page's own text. Synchronous and stateless:
// callers run it off the main thread.
#include "Platform/PdfDocument.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <string>
#include <vector>

namespace quarnkit {

// The one failure of text recognition.
class TextRecognizerError : public std::runtime_error {
public:
    enum class Kind { unavailable };

    static TextRecognizerError unavailable(const QString& detail);

    Kind kind() const { return kind_; }
    const QString& detail() const { return detail_; }
    // "Text recognition isn't available. " followed by the detail.
    QString message() const;

    friend bool operator==(const TextRecognizerError& a, const TextRecognizerError& b)
    {
        return a.kind_ == b.kind_ && a.detail_ == b.detail_;
    }

private:
    TextRecognizerError(Kind kind, const QString& detail);
    Kind kind_;
    QString detail_;
};

namespace TextRecognizer {

// True when the page's own text, trimmed, is empty.
bool needsRecognition(const platform::PdfDocument& doc, int page);
// The page's own text trimmed of white space and line ends; "" when it has none.
QString existingText(const platform::PdfDocument& doc, int page);

// The page's size as displayed: its crop box when wider and taller than one
// point, else its media box; width and height swapped for 90 and 270 degrees.
platform::PdfSize displayedSize(const platform::PdfPageGeometry& geometry);
// The render scale for a page of that size: the longer side comes out about
// 2600 pixels, the scale held between 2 and 4 (4 for a degenerate page).
double renderScale(platform::PdfSize displayed);

// Renders the page on white at renderScale and reads it. A page that cannot
// be rendered throws its PdfError unchanged; recognition failing throws
// TextRecognizerError::unavailable.
QString recognize(const platform::PdfDocument& doc, int page);
// Reads an image: its lines joined by line feeds, trimmed; "" for an image
// without text. `dpi` is the image's resolution, 0 when unknown.
QString recognize(const QImage& image, int dpi = 0);

// The Tesseract languages recognition uses: the user's preferred ones that
// are installed, else English (or the first installed language).
std::vector<std::string> tesseractLanguages();

// Lines joined with one line feed, the result trimmed at both ends.
QString joinLines(const QStringList& lines);

// The recognition languages for the user's preferences, in their order: for
// each preferred tag the supported tag equal to it, else the first supported
// tag with the same base language ("de-CH" finds "de-DE"); none twice.
QStringList recognitionLanguages(const QStringList& supported, const QStringList& preferred);
// The installed Tesseract languages as locale tags, in Tesseract's order.
QStringList supportedLanguages();
// The user's preferred languages from the system locale, most preferred first.
QStringList preferredLanguages();

} // namespace TextRecognizer
} // namespace quarnkit
