// Zoom operations of a window's viewer: the ladder, a free scale, and the two
// fits that are remembered so that they follow the view's size.
#include "Quarn/Viewer/ViewerModel.h"


#include "Quarn/Viewer/QuarnPDFView.h"

#include <algorithm>

namespace quarn {

using namespace quarnkit;

void ViewerModel::setZoomFit(std::optional<ZoomPreset> fit)
{
    if (zoomFit_ == fit) return;
    zoomFit_ = fit;
    emit zoomFitChanged();
    emit changed();
}

void ViewerModel::zoomIn() { stepZoom(true); }
void ViewerModel::zoomOut() { stepZoom(false); }

void ViewerModel::stepZoom(bool up)
{
    const double current = pdfView_ ? pdfView_->scaleFactor() : zoom_;
    setZoom(ZoomLevel::step(current, up));
}

void ViewerModel::setZoom(double scale)
{
    setZoomFit(std::nullopt);
    if (QuarnPDFView* view = pdfView_) {
        view->setAutoScales(false);
        view->setScaleFactor(std::clamp(scale, ZoomLevel::minimum, ZoomLevel::maximum));
    }
}

void ViewerModel::fitPage()
{
    fittedScale_ = pdfView_ ? pdfView_->fitPage(showsSpreads(displayMode_), true) : std::nullopt;
    setZoomFit(ZoomPreset::fitPage);
}

void ViewerModel::fitWidth()
{
    fittedScale_ = pdfView_ ? pdfView_->fitWidth(showsSpreads(displayMode_)) : std::nullopt;
    setZoomFit(ZoomPreset::fitWidth);
}

} // namespace quarn
