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
}

} // namespace quarn
