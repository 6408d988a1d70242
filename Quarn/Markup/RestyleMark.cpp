#include "Quarn/Markup/RestyleMark.h"

#include "Quarn/Markup/MarkEditor.h"

#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Markup/Restyle.h"

namespace quarn {

using quarnkit::Annotation;
using quarnkit::MarkKind;
namespace MarkEdits = quarnkit::MarkEdits;
namespace Restyle = quarnkit::Restyle;

bool MarkEditor::restyle(const std::function<bool(Annotation&, MarkKind)>& change, const char* burstKey,
                         const QString& name)
{
    const auto mark = selected_;
    if (!mark || mark->page < 0 || mark->page >= view_.pageCount()) return false;
    const auto page = pageId(mark->page);
    if (!page) return false;
    return own([&] { return MarkEdits::restyle(*document(), *page, mark->object, change, burstKey, name, burst_); });
}

void applyColor(MarkEditor& marks, const quarnkit::RGBA& color)
{
    marks.restyle([&](Annotation& a, MarkKind kind) { return Restyle::color(a, kind, color); }, "Color",
                  QStringLiteral("Color"));
}

void applyStroke(MarkEditor& marks, double width)
{
    marks.restyle([&](Annotation& a, MarkKind kind) { return Restyle::stroke(a, kind, width); }, "stroke",
                  QStringLiteral("Stroke"));
}

void applyFill(MarkEditor& marks, bool filled)
{
    marks.restyle([&](Annotation& a, MarkKind kind) { return Restyle::fill(a, kind, filled); }, nullptr,
                  QStringLiteral("Fill"));
}

void applyTextSize(MarkEditor& marks, double size)
{
    const auto mark = marks.selected();
    if (!mark || !marks.view().placement().geometry(mark->page)) return;
    const platform::PdfRect page = marks.view().placement().geometry(mark->page)->cropBox;
    marks.restyle([&](Annotation& a, MarkKind kind) { return Restyle::textSize(a, kind, size, page); }, "textSize",
                  QStringLiteral("Text Size"));
}

void applyFont(MarkEditor& marks, quarnkit::TextFont font)
{
    const auto mark = marks.selected();
    if (!mark || !marks.view().placement().geometry(mark->page)) return;
    const platform::PdfRect page = marks.view().placement().geometry(mark->page)->cropBox;
    const double fallbackSize = marks.view().style().textSize;
    marks.restyle([&](Annotation& a, MarkKind kind) { return Restyle::font(a, kind, font, fallbackSize, page); },
                  nullptr, QStringLiteral("Font"));
}

void setArrowhead(MarkEditor& marks, bool on)
{
    marks.restyle([&](Annotation& a, MarkKind kind) { return Restyle::head(a, kind, on); }, nullptr,
                  on ? QStringLiteral("Add Head") : QStringLiteral("Remove Head"));
}

} // namespace quarn
