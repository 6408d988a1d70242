#include "Quarn/Markup/MarkupModel.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Markup/RestyleMark.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <cmath>

namespace quarn {

using quarnkit::MarkKind;
using quarnkit::MarkupTool;
using quarnkit::RGBA;
using quarnkit::TextFont;
using quarnkit::ToolStyle;

int MarkupPanel::chosenSwatch() const
{
    for (size_t i = 0; i < palette.size(); ++i)
        if (palette[i].matchesRGB(color)) return int(i);
    return -1;
}

QString toolKey(MarkupTool tool)
{
    namespace Keys = quarnkit::KeyboardShortcuts;
    const auto command = quarnkit::ShortcutCommand(int(quarnkit::ShortcutCommand::toolSelect) + int(tool));
    const QKeySequence key = Keys::menuKey(command);
    return key.isEmpty() ? quarnkit::letter(tool) : Keys::keyText(key[0]);
}

namespace {

bool isShapeTool(MarkupTool t) { return t == MarkupTool::rectangle || t == MarkupTool::ellipse; }
bool isShapeKind(MarkKind k) { return k == MarkKind::rectangle || k == MarkKind::ellipse; }

} // namespace

MarkupModel& MarkupModel::of(ViewerModel& viewer)
{
    if (auto* markup = viewer.findChild<MarkupModel*>(QString(), Qt::FindDirectChildrenOnly)) return *markup;
    return *new MarkupModel(viewer);
}

MarkupModel::MarkupModel(ViewerModel& viewer)
    : QObject(&viewer), viewer_(viewer), toolMemory_(quarnkit::ToolMemory::load(viewer.defaults())),
      selection_(new MarkSelection(this))
{
    connect(selection_, &MarkSelection::changed, this, &MarkupModel::selectionChanged);
    connect(selection_, &MarkSelection::edited, this, &MarkupModel::inspectSelection);
}

void MarkupModel::setTool(MarkupTool tool)
{
    if (tool == tool_) return;
    tool_ = tool;
    emit toolChanged(tool);
    emit changed();
}

void MarkupModel::showColor(const RGBA& color)
{
    if (color == color_) return;
    color_ = color;
    const std::vector<RGBA> palette = RGBA::palette(tool_);
    swatchIndex_ = -1;
    for (size_t i = 0; i < palette.size(); ++i)
        if (palette[i].matchesRGB(color)) {
            swatchIndex_ = int(i);
            break;
        }
    emit styleChanged();
    emit changed();
}

ToolStyle MarkupModel::toolStyle() const
{
    ToolStyle style;
    style.color = color_;
    style.stroke = stroke_;
    style.filled = filled_;
    style.textSize = textSize_;
    style.font = toolMemory_.style(tool_).font; // the face has no field of its own
    return style;
}

void MarkupModel::chooseTool(MarkupTool tool)
{
    setTool(tool);
    // Only the select tool works on the selected mark; any other leaves it.
    if (tool != MarkupTool::select) selection_->clear();
    rememberGroupChoice(tool);
    loadToolStyle();
}

void MarkupModel::rememberGroupChoice(MarkupTool tool)
{
    const quarnkit::ToolMemory before = toolMemory_;
    toolMemory_.choose(tool);
    // Written whole, and only on an effective change.
    if (!(toolMemory_ == before)) toolMemory_.save(viewer_.defaults());
}

void MarkupModel::loadToolStyle()
{
    const ToolStyle style = toolMemory_.style(tool_);
    color_ = style.color;
    stroke_ = style.stroke;
    textSize_ = style.textSize;
    filled_ = style.filled;
    swatchIndex_ = -1;
    const std::vector<RGBA> palette = RGBA::palette(tool_);
    for (size_t i = 0; i < palette.size(); ++i)
        if (palette[i].matchesRGB(style.color)) {
            swatchIndex_ = int(i);
            break;
        }
    emit styleChanged();
    emit changed();
}

void MarkupModel::selectionChanged()
{
    // The style first, so that whoever hears of the selection reads its style.
    const bool restyled = inspect();
    if (restyled) emit inspectedChanged();
    const bool selected = selection_->mark().has_value();
    const bool flagged = selected != hasSelection_;
    hasSelection_ = selected;
    if (flagged) emit hasSelectionChanged(selected);
    emit selectedMarkChanged();
    if (restyled || flagged) emit changed();
}

void MarkupModel::inspectSelection()
{
    // An edit that leaves the selected mark's style as it was publishes nothing.
    if (!inspect()) return;
    emit inspectedChanged();
    emit changed();
}

bool MarkupModel::inspect()
{
    const auto mark = selection_->annotation();
    const std::optional<quarnkit::MarkStyle> style = mark ? quarnkit::MarkCatalog::style(*mark) : std::nullopt;
    // A placed signature goes by that name, as in the marks list, not as the drawing it is.
    const auto placed = mark ? quarnkit::SignatureInk::placedKind(*mark) : std::nullopt;
    const QString title = placed ? quarnkit::title(*placed) : style ? quarnkit::title(style->kind) : QString();
    if (inspected_ == style && inspectedTitle_ == title) return false;
    inspected_ = style;
    inspectedTitle_ = title;
    return true;
}

void MarkupModel::select(std::optional<MarkRef> mark) { selection_->select(viewer_.document(), mark); }

void MarkupModel::reveal(const MarkRef& mark)
{
    quarnkit::QuarnDocument* document = viewer_.document();
    if (!document || mark.page < 0 || mark.page >= document->pageCount()) return;
    if (!quarnkit::MarkEdits::find(*document, mark.page, mark.object)) return; // gone since the list was built
    chooseTool(MarkupTool::select);
    select(mark);
    emit revealRequested(mark);
}

void MarkupModel::open(const MarkRef& mark)
{
    reveal(mark);
    if (selectedMark() == mark) emit openRequested(mark);
}

void MarkupModel::deleteMarks(const std::vector<MarkRef>& marks)
{
    quarnkit::QuarnDocument* document = viewer_.document();
    if (!document || marks.empty()) return;
    std::vector<std::pair<quarnkit::PageId, int>> placed;
    for (const MarkRef& mark : marks) {
        if (mark.page < 0 || mark.page >= document->pageCount()) continue; // its page is gone
        if (const auto page = document->pageId(mark.page)) placed.emplace_back(*page, mark.object);
    }
    quarnkit::MarkEdits::remove(*document, placed,
                                marks.size() == 1 ? tr("Delete Mark") : tr("Delete %1 Marks").arg(marks.size()));
}

void MarkupModel::setArrowhead(bool on)
{
    if (inspected_ && quarnkit::usesHead(inspected_->kind)) quarn::setArrowhead(*selection_, on);
}

void MarkupModel::duplicateSelection() { selection_->duplicate(); }

void MarkupModel::bringSelectionToFront() { selection_->restack(true); }

void MarkupModel::sendSelectionToBack() { selection_->restack(false); }

void MarkupModel::deleteSelection() { selection_->remove(QStringLiteral("Delete")); }

void MarkupModel::rememberStyle(MarkupTool tool, const std::function<void(ToolStyle&)>& change)
{
    const ToolStyle old = toolMemory_.style(tool);
    ToolStyle style = old;
    change(style);
    if (style == old) return; // nothing stored, saved or reloaded
    toolMemory_.setStyle(style, tool);
    toolMemory_.save(viewer_.defaults());
    if (tool == tool_) loadToolStyle();
    else {
        emit styleChanged();
        emit changed();
    }
}

void MarkupModel::setColor(const RGBA& color)
{
    const RGBA opaque = color.opaque();
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.color = opaque; }); };
    if (inspected_) {
        if (inspected_->kind == MarkKind::redaction) return;
        const MarkupTool owner = quarnkit::tool(inspected_->kind);
        applyColor(*selection_, opaque);
        remember(owner);
    } else if (quarnkit::usesColor(tool_)) {
        remember(tool_);
    }
}

void MarkupModel::setStroke(double width)
{
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.stroke = width; }); };
    if (inspected_) {
        if (!quarnkit::usesStroke(inspected_->kind)) return;
        const MarkupTool owner = quarnkit::tool(inspected_->kind);
        applyStroke(*selection_, width);
        remember(owner);
    } else if (quarnkit::usesStroke(tool_)) {
        remember(tool_);
    }
}

void MarkupModel::setFilled(bool filled)
{
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.filled = filled; }); };
    if (inspected_) {
        if (!isShapeKind(inspected_->kind)) return;
        const MarkupTool owner = quarnkit::tool(inspected_->kind);
        applyFill(*selection_, filled);
        remember(owner);
    } else if (isShapeTool(tool_)) {
        remember(tool_);
    }
}

void MarkupModel::setTextSize(double size)
{
    // Whole points, halves away from zero.
    const double whole = std::round(size);
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.textSize = whole; }); };
    if (inspected_) {
        if (inspected_->kind != MarkKind::text) return;
        applyTextSize(*selection_, whole);
        remember(MarkupTool::text);
    } else if (tool_ == MarkupTool::text) {
        remember(tool_);
    }
}

void MarkupModel::setFont(TextFont font)
{
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.font = font; }); };
    if (inspected_) {
        if (inspected_->kind != MarkKind::text) return;
        applyFont(*selection_, font, textSize_);
        remember(MarkupTool::text);
    } else if (tool_ == MarkupTool::text) {
        remember(tool_);
    }
}

MarkupPanel MarkupModel::markupPanel() const
{
    MarkupPanel panel;
    if (!inspected_) {
        const MarkupTool t = tool_;
        const ToolStyle s = toolMemory_.style(t);
        panel.title = quarnkit::title(t);
        panel.shortcut = toolKey(t);
        panel.hint = quarnkit::hint(t);
        panel.palette = RGBA::palette(t);
        panel.color = s.color;
        panel.stroke = s.stroke;
        panel.filled = s.filled;
        panel.textSize = s.textSize;
        panel.font = s.font;
        panel.head = t == MarkupTool::arrow;
        panel.showsColor = quarnkit::usesColor(t);
        panel.showsStroke = quarnkit::usesStroke(t);
        panel.showsFill = isShapeTool(t);
        panel.showsText = t == MarkupTool::text;
        panel.showsHead = false;
        panel.isSelection = false;
        panel.explainsRedaction = t == MarkupTool::redact;
        return panel;
    }
    const quarnkit::MarkStyle& m = *inspected_;
    const MarkKind k = m.kind;
    panel.title = inspectedTitle_;
    panel.hint = quarnkit::hint(k);
    panel.palette = RGBA::palette(quarnkit::tool(k));
    panel.color = m.color;
    panel.stroke = m.stroke;
    panel.filled = m.filled;
    panel.textSize = m.textSize;
    panel.font = m.font;
    panel.head = m.head;
    panel.showsColor = k != MarkKind::redaction;
    panel.showsStroke = quarnkit::usesStroke(k);
    panel.showsFill = isShapeKind(k);
    panel.showsText = k == MarkKind::text;
    panel.showsHead = quarnkit::usesHead(k);
    panel.isSelection = true;
    panel.explainsRedaction = k == MarkKind::redaction;
    return panel;
}

} // namespace quarn
