// The sidebar's side of the viewer model: the window's thumbnails and the
// outline's jumps.
#include "Quarn/Viewer/ViewerModel.h"

#include "Quarn/Pages/ThumbnailStore.h"
#include "QuarnKit/Document/OutlineMap.h"

#include "Quarn/Viewer/QuarnPDFView.h"

namespace quarn {

using namespace quarnkit;

ThumbnailStore& ViewerModel::thumbnails()
{
    if (!thumbnails_) thumbnails_ = new ThumbnailStore(this);
    thumbnails_->setDocument(document_);
    return *thumbnails_;
}

void ViewerModel::showOutlineTarget(std::optional<int> page, const std::optional<OutlineDestination>& destination)
{
    if (!page || !pdfView_) return;
    if (destination) pdfView_->goToPage(destination->pageIndex, destination->point);
    else pdfView_->goToPage(*page);
}

} // namespace quarn
