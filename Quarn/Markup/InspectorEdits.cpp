// The mark editor's restyling of the selected mark, as the inspector and the
// window's style setters ask for it: colour, width, fill, text size and face,
// the arrow head and the stacking order. Each change is one undo step of the
// document (the rules are QuarnKit's Restyle); quick repeats of a colour,
// width or size change on one mark fold into the first.
#include "Quarn/Markup/MarkEditor.h"

#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Markup/Restyle.h"

namespace quarn {

using quarnkit::Annotation;
using quarnkit::MarkKind;
namespace MarkEdits = quarnkit::MarkEdits;
namespace Restyle = quarnkit::Restyle;

bool MarkEditor::restyleSelection(const std::function<bool(Annotation&, MarkKind)>& change, const char* burstKey,
                                  const QString& name)
{
    const auto mark = selected_;
    if (!mark || mark->page < 0 || mark->page >= view_.pageCount()) return false;
    const auto page = pageId(mark->page);
    if (!page) return false;
    return own([&] { return MarkEdits::restyle(*document(), *page, mark->object, change, burstKey, name, burst_); });
}

void MarkEditor::applyColor(const quarnkit::RGBA& color)
{
    restyleSelection([&](Annotation& a, MarkKind kind) { return Restyle::color(a, kind, color); }, "Color",
                     QStringLiteral("Color"));
}

void MarkEditor::applyStroke(double width)
{
    restyleSelection([&](Annotation& a, MarkKind kind) { return Restyle::stroke(a, kind, width); }, "stroke",
                     QStringLiteral("Stroke"));
}

void MarkEditor::applyFill(bool filled)
{
    restyleSelection([&](Annotation& a, MarkKind kind) { return Restyle::fill(a, kind, filled); }, nullptr,
                     QStringLiteral("Fill"));
}

void MarkEditor::applyTextSize(double size)
{
    const auto mark = selected_;
    if (!mark || !view_.placement().geometry(mark->page)) return;
    const platform::PdfRect page = view_.placement().geometry(mark->page)->cropBox;
    restyleSelection([&](Annotation& a, MarkKind kind) { return Restyle::textSize(a, kind, size, page); }, "textSize",
                     QStringLiteral("Text Size"));
}

void MarkEditor::applyFont(quarnkit::TextFont font)
{
    const auto mark = selected_;
    if (!mark || !view_.placement().geometry(mark->page)) return;
    const platform::PdfRect page = view_.placement().geometry(mark->page)->cropBox;
    const double fallbackSize = view_.style().textSize;
    restyleSelection([&](Annotation& a, MarkKind kind) { return Restyle::font(a, kind, font, fallbackSize, page); },
                     nullptr, QStringLiteral("Font"));
}

void MarkEditor::setArrowhead(bool on)
{
    restyleSelection([&](Annotation& a, MarkKind kind) { return Restyle::head(a, kind, on); }, nullptr,
                     on ? QStringLiteral("Add Head") : QStringLiteral("Remove Head"));
}

void MarkEditor::reorderSelection(bool toFront)
{
    const auto mark = selected_;
    if (!mark || mark->page < 0 || mark->page >= view_.pageCount()) return;
    const auto page = pageId(mark->page);
    if (page && own([&] { return MarkEdits::restack(*document(), *page, mark->object, toFront); })) burst_.reset();
}

void MarkEditor::removeSelection(const QString& actionName)
{
    const auto mark = selected_;
    if (!mark || mark->page < 0 || mark->page >= view_.pageCount()) return;
    remove(*mark, actionName);
}

} // namespace quarn
