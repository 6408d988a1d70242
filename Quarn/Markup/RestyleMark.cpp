#include "Quarn/Markup/RestyleMark.h"

#include "Quarn/Markup/MarkSelection.h"

#include "QuarnKit/Document/DocumentPages.h"
#include "QuarnKit/Markup/Restyle.h"

namespace quarn {

using quarnkit::Annotation;
using quarnkit::MarkKind;
namespace Restyle = quarnkit::Restyle;

namespace {

// The crop box of the selected mark's page, which a text box refits within;
// none without a selection or for a page that cannot be read.
std::optional<platform::PdfRect> pageBox(const MarkSelection& selection)
{
    const auto mark = selection.mark();
    if (!mark || mark->page >= selection.document()->pageCount()) return std::nullopt;
    try {
        return quarnkit::DocumentPages::geometry(*selection.document(), mark->page).cropBox;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

void applyColor(MarkSelection& selection, const quarnkit::RGBA& color)
{
    selection.restyle([&](Annotation& a, MarkKind kind) { return Restyle::color(a, kind, color); }, "Color",
                      QStringLiteral("Color"));
}

void applyStroke(MarkSelection& selection, double width)
{
    selection.restyle([&](Annotation& a, MarkKind kind) { return Restyle::stroke(a, kind, width); }, "stroke",
                      QStringLiteral("Stroke"));
}

void applyFill(MarkSelection& selection, bool filled)
{
    selection.restyle([&](Annotation& a, MarkKind kind) { return Restyle::fill(a, kind, filled); }, nullptr,
                      QStringLiteral("Fill"));
}

void applyTextSize(MarkSelection& selection, double size)
{
    const auto page = pageBox(selection);
    if (!page) return;
    selection.restyle([&](Annotation& a, MarkKind kind) { return Restyle::textSize(a, kind, size, *page); }, "textSize",
                      QStringLiteral("Text Size"));
}

void applyFont(MarkSelection& selection, quarnkit::TextFont font, double fallbackSize)
{
    const auto page = pageBox(selection);
    if (!page) return;
    selection.restyle([&](Annotation& a, MarkKind kind) { return Restyle::font(a, kind, font, fallbackSize, *page); },
                      nullptr, QStringLiteral("Font"));
}

void setArrowhead(MarkSelection& selection, bool on)
{
    selection.restyle([&](Annotation& a, MarkKind kind) { return Restyle::head(a, kind, on); }, nullptr,
                      on ? QStringLiteral("Add Head") : QStringLiteral("Remove Head"));
}

} // namespace quarn
