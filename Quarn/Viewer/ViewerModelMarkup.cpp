// The markup state of the viewer model: the style setters that restyle the
// selected mark or the current tool and remember the value per tool, the
// inspector's descriptor, and the page view's markup callbacks.
#include "Quarn/Viewer/ViewerModel.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Markup/InspectorPanel.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include "Quarn/Viewer/QuarnPDFView.h"

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

void ViewerModel::rememberStyle(MarkupTool tool, const std::function<void(ToolStyle&)>& change)
{
    const ToolStyle old = toolMemory_.style(tool);
    ToolStyle style = old;
    change(style);
    if (style == old) return; // nothing stored, saved or reloaded
    toolMemory_.setStyle(style, tool);
    toolMemory_.save(defaults_);
    if (tool == tool_)
        loadToolStyle();
    else {
        emit styleChanged();
        emit changed();
    }
}

void ViewerModel::setColor(const RGBA& color)
{
    const RGBA opaque = color.opaque();
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.color = opaque; }); };
    if (inspected_) {
        if (inspected_->kind == MarkKind::redaction) return;
        const MarkupTool owner = quarnkit::tool(inspected_->kind);
        if (pdfView_) pdfView_->applyColor(opaque);
        remember(owner);
    } else if (quarnkit::usesColor(tool_)) {
        remember(tool_);
    }
}

void ViewerModel::setStroke(double width)
{
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.stroke = width; }); };
    if (inspected_) {
        if (!quarnkit::usesStroke(inspected_->kind)) return;
        const MarkupTool owner = quarnkit::tool(inspected_->kind);
        if (pdfView_) pdfView_->applyStroke(width);
        remember(owner);
    } else if (quarnkit::usesStroke(tool_)) {
        remember(tool_);
    }
}

void ViewerModel::setFilled(bool filled)
{
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.filled = filled; }); };
    if (inspected_) {
        if (!isShapeKind(inspected_->kind)) return;
        const MarkupTool owner = quarnkit::tool(inspected_->kind);
        if (pdfView_) pdfView_->applyFill(filled);
        remember(owner);
    } else if (isShapeTool(tool_)) {
        remember(tool_);
    }
}

void ViewerModel::setTextSize(double size)
{
    // Whole points, halves away from zero.
    const double whole = std::round(size);
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.textSize = whole; }); };
    if (inspected_) {
        if (inspected_->kind != MarkKind::text) return;
        if (pdfView_) pdfView_->applyTextSize(whole);
        remember(MarkupTool::text);
    } else if (tool_ == MarkupTool::text) {
        remember(tool_);
    }
}

void ViewerModel::setFont(TextFont font)
{
    const auto remember = [&](MarkupTool t) { rememberStyle(t, [&](ToolStyle& s) { s.font = font; }); };
    if (inspected_) {
        if (inspected_->kind != MarkKind::text) return;
        if (pdfView_) pdfView_->applyFont(font);
        remember(MarkupTool::text);
    } else if (tool_ == MarkupTool::text) {
        remember(tool_);
    }
}

MarkupPanel ViewerModel::markupPanel() const
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

void ViewerModel::attachMarkupCallbacks(QuarnPDFView* view)
{
    if (!view) return;
    const QPointer<ViewerModel> self(this);
    view->onInspect = [self](std::optional<quarnkit::MarkStyle> style) {
        // Repeated reports of an unchanged selection publish nothing.
        if (!self || self->inspected_ == style) return;
        self->inspected_ = style;
        emit self->inspectedChanged();
        emit self->changed();
    };
    view->onChooseTool = [self](MarkupTool tool) {
        if (self) self->chooseTool(tool);
    };
    view->onChooseSwatch = [self](int index) {
        if (!self) return;
        const std::vector<RGBA> palette = self->markupPanel().palette;
        if (index < 0 || index >= int(palette.size())) return;
        self->setColor(palette[size_t(index)]);
    };
}

} // namespace quarn
