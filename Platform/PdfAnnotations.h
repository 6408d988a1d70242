#pragma once
// Annotations of a page as plain values, over MuPDF. An annotation is known by
// its object number; its place in the page's /Annots array is its stacking
// order (last drawn on top). ravlen writes every appearance stream itself, so
// other readers show a mark exactly as ravlen draws it.
#include "Platform/PdfDocument.h"

#include <QByteArray>

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct PdfColor {
    double r = 0, g = 0, b = 0; // DeviceRGB, 0 to 1
    friend bool operator==(const PdfColor&, const PdfColor&) = default;
};

// The base-14 faces text boxes are drawn with, by their resource names
// "Helv", "TiRo" and "Cour". Characters outside a face's Latin set are drawn
// in embedded fallback faces (Platform/FallbackFonts.h), and every line is
// laid out as Platform/TextBoxLayout.h says: right-to-left scripts read right
// to left, Arabic letters join.
enum class PdfBaseFont { helvetica, times, courier };

// Everything ravlen reads from and writes into one annotation. Geometry is in
// the page's user space (points, y up), as the PDF keeps it.
struct PdfAnnotation {
    int objectNumber = 0; // 0 until the annotation is on a page
    std::string subtype;  // "Square", "Ink", … (no leading slash)
    PdfRect rect;         // /Rect

    std::optional<PdfColor> color;         // /C
    double opacity = 1;                    // /CA, for the whole mark
    std::optional<PdfColor> interiorColor; // /IC
    // Opacity of the interior fill inside the appearance (PDF has no key for
    // it); read back from the appearance ravlen wrote, else 1.
    double interiorOpacity = 1;
    std::optional<double> borderWidth; // /BS /W (or /Border's third entry)

    std::string contents;              // /Contents, UTF-8
    std::optional<std::string> author; // /T, UTF-8
    std::string iconName;              // /Name of a note ("Comment")
    bool hasPopup = false;             // /Popup (read only; ravlen writes none)

    // Free text: the default appearance /DA and the alignment /Q.
    std::string fontName; // resource name in /DA: "Helv", "TiRo", "Cour", …
    double fontSize = 0;
    std::optional<PdfColor> fontColor;
    int alignment = 0;
    // /Rotate: the words read upright on a page shown turned clockwise by
    // this many degrees (the appearance is drawn turned to match).
    int rotation = 0;

    std::vector<PdfQuad> quads;                 // /QuadPoints
    std::vector<std::vector<PdfPoint>> inkList; // /InkList
    std::optional<PdfPoint> lineStart, lineEnd; // /L
    std::string startEnding = "None";           // /LE, PDF names
    std::string endEnding = "None";

    friend bool operator==(const PdfAnnotation&, const PdfAnnotation&) = default;
};

namespace PdfAnnotations {

// The page's annotations in /Annots order, every subtype (links, widgets and
// popups too). Entries that are no annotation dictionary are skipped.
std::vector<PdfAnnotation> list(const PdfDocument& doc, int page);
std::optional<PdfAnnotation> find(const PdfDocument& doc, int page, int objectNumber);
// The object numbers of /Annots in order (direct entries count as 0).
std::vector<int> order(const PdfDocument& doc, int page);

// Makes a new annotation dictionary with exactly the keys of `annotation`
// (and the Print flag), writes its appearance and appends it to /Annots (on
// top). Returns its number. Throws PdfError(damagedPage), changing nothing,
// when the page's object is missing or no dictionary.
int add(PdfDocument& doc, int page, const PdfAnnotation& annotation);
// Rewrites the keys ravlen knows and the appearance of the annotation
// `annotation.objectNumber`; other keys of the dictionary stay (its flags, and
// its rich text while /Contents keeps its words). False when the page holds no
// such annotation.
bool update(PdfDocument& doc, int page, const PdfAnnotation& annotation);
// Takes the annotation (and its popup) out of /Annots. The dictionary stays in
// the file, so insert() can put the same object back. Returns the index it
// had, or none when it was not on the page.
std::optional<int> remove(PdfDocument& doc, int page, int objectNumber);
// Puts an annotation object back into /Annots at `index` (clamped), its popup
// right after it. Nothing when it is already there, is no annotation or names
// another page as its own (/P).
bool insert(PdfDocument& doc, int page, int objectNumber, int index);
// Reorders /Annots: entries whose numbers are in `tail` are taken out (others,
// such as links, widgets and popups, keep their places) and `tail` is appended
// in its order. False, and nothing changed, when an entry of `tail` is not on
// the page.
bool replaceTail(PdfDocument& doc, int page, const std::vector<int>& tail);
// Some files keep marks as dictionaries written straight into /Annots, with
// no object number to know them by. Gives each such mark of the page an
// object of its own (drawn the same, saved the same); returns how many.
int numberDirect(PdfDocument& doc, int page);

// The words the annotation's appearance draws, as MuPDF extracts them (UTF-8,
// lines ended by "\n"); empty when the page has no such annotation.
std::string drawnText(const PdfDocument& doc, int page, int objectNumber);

// Text measurement with the same fonts that draw text boxes.
double textWidth(PdfBaseFont font, double size, const std::string& utf8Line);
// The distance between baselines of a text box's lines.
double lineHeight(double size);
// How many lines a text box of inner width `width` draws the text in: its own
// lines, each wrapped at spaces where it is wider (a longer word stays whole).
int wrappedLineCount(PdfBaseFont font, double size, const std::string& utf8, double width);
PdfBaseFont baseFontNamed(const std::string& resourceName); // "Cour" → courier, …
const char* baseFontName(PdfBaseFont font);                 // "Helvetica", "Times-Roman", "Courier"
// The side of a note's square icon, as readers draw it. A note whose box is
// too small to show it is written with the icon's box, from the same top-left
// corner.
constexpr double noteIconSize = 22;
// A text box's inner padding: the text starts this far from the left and top.
constexpr double textBoxPaddingX = 7, textBoxPaddingY = 5;

// A one-page PDF (page size `pageBounds`) carrying copies of `annotations` with
// only their known keys, for the clipboard. Empty bytes when it cannot be made.
QByteArray clipboardPdf(const std::vector<PdfAnnotation>& annotations, const PdfRect& pageBounds);

} // namespace PdfAnnotations

} // namespace platform
