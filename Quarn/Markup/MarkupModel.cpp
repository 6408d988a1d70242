#include "Quarn/Markup/MarkupModel.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

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
    : QObject(&viewer), viewer_(viewer), toolMemory_(quarnkit::ToolMemory::load(viewer.defaults()))
{}

void MarkupModel::setTool(MarkupTool tool)
{
    if (tool == tool_) return;
    tool_ = tool;
    emit toolChanged(tool);
    emit changed();
}

void MarkupModel::setHasSelection(bool selected)
{
    if (selected == hasSelection_) return;
    hasSelection_ = selected;
    emit hasSelectionChanged(selected);
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
    if (tool != MarkupTool::select) {
        emit selectRequested(std::nullopt);
        setHasSelection(false);
    }
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

std::optional<MarkRef> MarkupModel::selectedMark() const { return selectedOnPage ? selectedOnPage() : std::nullopt; }

void MarkupModel::noteSelection(bool selected, std::optional<MarkRef>)
{
    setHasSelection(selected);
    emit selectedMarkChanged();
}

void MarkupModel::noteInspected(std::optional<quarnkit::MarkStyle> style)
{
    // Repeated reports of an unchanged selection publish nothing.
    if (inspected_ == style) return;
    inspected_ = style;
    emit inspectedChanged();
    emit changed();
}

void MarkupModel::reveal(const MarkRef& mark)
{
    quarnkit::QuarnDocument* document = viewer_.document();
    if (!document || mark.page < 0 || mark.page >= document->pageCount()) return;
    if (!quarnkit::MarkEdits::find(*document, mark.page, mark.object)) return; // gone since the list was built
    chooseTool(MarkupTool::select);
    emit revealRequested(mark);
}

void MarkupModel::select(std::optional<MarkRef> mark) { emit selectRequested(mark); }

void MarkupModel::deleteMarks(const std::vector<MarkRef>& marks)
{
    if (marks.empty()) return;
    emit removeRequested(marks, marks.size() == 1 ? tr("Delete Mark") : tr("Delete %1 Marks").arg(marks.size()));
}

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
        emit colorApplied(opaque);
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
        emit strokeApplied(width);
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
        emit fillApplied(filled);
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
        emit textSizeApplied(whole);
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
        emit fontApplied(font);
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
    panel.title = quarnkit::title(k);
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
