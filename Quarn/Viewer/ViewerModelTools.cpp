// The viewer model's tool choice. Opening files dropped on the page view is
// in ViewerModel.cpp with the other page-view callbacks.
#include "Quarn/Viewer/ViewerModel.h"

#include "Quarn/Viewer/QuarnPDFView.h"

namespace quarn {

void ViewerModel::chooseTool(quarnkit::MarkupTool tool)
{
    setTool(tool);
    // Only the select tool works on the selected mark; any other leaves it.
    if (tool != quarnkit::MarkupTool::select) {
        if (pdfView_) pdfView_->select(std::nullopt);
        assign(hasSelection_, false, &ViewerModel::hasSelectionChanged);
    }
    rememberGroupChoice(tool);
    loadToolStyle();
}

void ViewerModel::rememberGroupChoice(quarnkit::MarkupTool tool)
{
    const quarnkit::ToolMemory before = toolMemory_;
    toolMemory_.choose(tool);
    // Written whole, and only on an effective change.
    if (!(toolMemory_ == before)) toolMemory_.save(defaults_);
}

void ViewerModel::loadToolStyle()
{
    const quarnkit::ToolStyle style = toolMemory_.style(tool_);
    color_ = style.color;
    stroke_ = style.stroke;
    textSize_ = style.textSize;
    filled_ = style.filled;
    swatchIndex_ = -1;
    const std::vector<quarnkit::RGBA> palette = quarnkit::RGBA::palette(tool_);
    for (size_t i = 0; i < palette.size(); ++i)
        if (palette[i].matchesRGB(style.color)) {
            swatchIndex_ = int(i);
            break;
        }
    emit styleChanged();
    emit changed();
}

} // namespace quarn
