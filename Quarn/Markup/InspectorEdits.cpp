// The mark editor's restyling of the selected mark, as the inspector and the
// window's style setters ask for it: colour, width, fill, text size and face,
// the arrow head and the stacking order. Each change is one undo step; quick
// repeats of a colour, width or size change on one mark fold into the first.
#include "Quarn/Markup/MarkEditor.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkGeometry.h"


#include <cmath>

namespace quarn {

using platform::PdfAnnotation;
using platform::PdfColor;
using quarnkit::MarkKind;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

std::vector<int> stackOrder(const platform::PdfDocument& doc, int page)
{
    std::vector<int> order;
    for (const PdfAnnotation& a : quarnkit::MarkOrder::stack(doc, page)) order.push_back(a.objectNumber);
    return order;
}

} // namespace

bool MarkEditor::restyleSelection(const std::function<bool(PdfAnnotation&, MarkKind)>& change,
                                    const char* burstKey, const QString& name)
{
    const auto mark = selected_;
    if (!mark || !view_.document() || mark->page < 0 || mark->page >= view_.pageCount()) return false;
        const auto before = annotation(*mark);
    if (!before) return false;
    const auto kind = quarnkit::MarkCatalog::kind(*before);
    if (!kind) return false;
    PdfAnnotation after = *before;
    if (!change(after, *kind) || after == *before) return false;

    const long long target = (static_cast<long long>(mark->page) << 32) | unsigned(mark->object);
    bool continues = false;
    if (burstKey)
        continues = quarnkit::EditBurst::continues(burst_, burstKey, target);
    else
        burst_.reset();
    PdfAnnotations::update(*view_.document(), mark->page, after);
    edited(mark->page);
    // A continuing change folds into the step its run began with.
    if (QUndoStack* undo = stack(); undo && pageId(mark->page))
        undo->push(new quarnkit::MarkChangeCommand(*view_.quarnDocument(), *pageId(mark->page), *before, after, name, continues));
    return true;
}

void MarkEditor::applyColor(const quarnkit::RGBA& color)
{
    const PdfColor c{color.r, color.g, color.b};
    restyleSelection(
        [&](PdfAnnotation& a, MarkKind kind) {
            switch (kind) {
            case MarkKind::redaction:
                return false;
            case MarkKind::highlight:
                a.color = c;
                a.opacity = 0.45;
                return true;
            case MarkKind::text:
                a.opacity = 1;
                if (color.isNearWhite()) {
                    // Near-white words would vanish on paper: white on a dark plate.
                    a.fontColor = PdfColor{1, 1, 1};
                    a.color = a.interiorColor = PdfColor{0.12, 0.12, 0.12};
                    a.interiorOpacity = 0.92;
                } else {
                    a.fontColor = c;
                    a.color.reset(); // a transparent box, as new ones are
                    a.interiorColor.reset();
                }
                return true;
            default:
                a.color = c;
                a.opacity = 1;
                if (a.interiorColor) a.interiorColor = c; // a filled shape stays filled
                return true;
            }
        },
        "Color", QStringLiteral("Color"));
}

void MarkEditor::applyStroke(double width)
{
    restyleSelection(
        [&](PdfAnnotation& a, MarkKind kind) {
            if (!quarnkit::usesStroke(kind)) return false;
            const double old = a.borderWidth.value_or(width);
            if (std::fabs(old - width) <= 0.05) return false;
            a.borderWidth = width;
            if (const auto ends = quarnkit::MarkEditing::lineEnds(a)) {
                quarnkit::MarkFrame::of(a).withEnds(ends->first, ends->second, width, kind == MarkKind::arrow).apply(a);
            } else if (a.subtype == "Ink") {
                // A thicker stroke must not be clipped by the mark's bounds.
                const quarnkit::MarkFrame frame = quarnkit::MarkFrame::of(a);
                if (const auto strokes = frame.strokeBounds()) {
                    const double margin = std::min(strokes->minX() - a.rect.minX(), strokes->minY() - a.rect.minY());
                    const double need = width * 0.5 + 2;
                    if (margin < need) frame.padded(need - margin).apply(a);
                }
            }
            return true;
        },
        "stroke", QStringLiteral("Stroke"));
}

void MarkEditor::applyFill(bool filled)
{
    restyleSelection(
        [&](PdfAnnotation& a, MarkKind kind) {
            if (kind != MarkKind::rectangle && kind != MarkKind::ellipse) return false;
            if (filled) {
                a.interiorColor = a.color;
                a.interiorOpacity = 0.22;
            } else {
                a.interiorColor.reset();
            }
            return true;
        },
        nullptr, QStringLiteral("Fill"));
}

namespace {

// A text box in a new face or size, refitted around its words.
bool refitText(PdfAnnotation& a, quarnkit::TextFont font, double size, const platform::PdfRect& page)
{
    const std::string face(quarnkit::pdfFontName(font));
    if (a.fontName == face && std::fabs(a.fontSize - size) <= 0.05) return false;
    a.fontName = face;
    a.fontSize = size;
    a.rect = quarnkit::AnnotationFactory::textBoxBounds(a.contents, font, size, a.rect, page, a.rotation);
    return true;
}

} // namespace

void MarkEditor::applyTextSize(double size)
{
    const auto mark = selected_;
    if (!mark || !view_.geometry(mark->page)) return;
    const platform::PdfRect page = (*view_.geometry(mark->page)).cropBox;
    restyleSelection(
        [&](PdfAnnotation& a, MarkKind kind) {
            if (kind != MarkKind::text) return false;
            const quarnkit::TextFont font =
                a.fontName.empty() ? quarnkit::TextFont::sans : quarnkit::textFontOf(a.fontName);
            return refitText(a, font, size, page);
        },
        "textSize", QStringLiteral("Text Size"));
}

void MarkEditor::applyFont(quarnkit::TextFont font)
{
    const auto mark = selected_;
    if (!mark || !view_.geometry(mark->page)) return;
    const platform::PdfRect page = (*view_.geometry(mark->page)).cropBox;
    restyleSelection(
        [&](PdfAnnotation& a, MarkKind kind) {
            if (kind != MarkKind::text) return false;
            return refitText(a, font, a.fontSize > 0 ? a.fontSize : view_.style().textSize, page);
        },
        nullptr, QStringLiteral("Font"));
}

void MarkEditor::setArrowhead(bool on)
{
    restyleSelection(
        [&](PdfAnnotation& a, MarkKind kind) {
            if (!quarnkit::usesHead(kind) || on == (kind == MarkKind::arrow)) return false;
            quarnkit::MarkEditing::setHead(on, a);
            return true;
        },
        nullptr, on ? QStringLiteral("Add Head") : QStringLiteral("Remove Head"));
}

void MarkEditor::reorderSelection(bool toFront)
{
    const auto mark = selected_;
    if (!mark || !view_.document() || mark->page < 0 || mark->page >= view_.pageCount()) return;
    platform::PdfDocument& doc = *view_.document();
    const std::vector<int> before = stackOrder(doc, mark->page);
    const bool moved = toFront ? quarnkit::MarkOrder::bringToFront(doc, mark->page, mark->object)
                               : quarnkit::MarkOrder::sendToBack(doc, mark->page, mark->object);
    if (!moved) return;
        burst_.reset();
    const auto page = pageId(mark->page);
    const std::vector<int> after = stackOrder(doc, mark->page);
    edited(mark->page);
    if (QUndoStack* undo = stack(); undo && page)
        undo->push(new quarnkit::MarkOrderCommand(*view_.quarnDocument(), *page, before, after,
                                                  toFront ? QStringLiteral("Bring to Front") : QStringLiteral("Send to Back")));
}

void MarkEditor::removeSelection(const QString& actionName)
{
    const auto mark = selected_;
    if (!mark || mark->page < 0 || mark->page >= view_.pageCount()) return;
    remove(*mark, actionName);
}

} // namespace quarn
