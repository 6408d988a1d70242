// The sidebar's side of the viewer model: the chosen tab, the thumbnails,
// and the page jumps of the page list and the outline.
#include "Quarn/Viewer/ViewerModel.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Pages/ThumbnailStore.h"
#include "QuarnKit/Document/OutlineMap.h"
#include <QUndoStack> // before the view header, which keeps a QPointer to one

#include "Quarn/Viewer/QuarnPDFView.h"

namespace quarn {

using namespace quarnkit;

void ViewerModel::setSidebarTab(SidebarTab tab)
{
    SidebarTabs::save(tab, defaults_); // every time, as the user chose it
    assign(sidebarTab_, tab, &ViewerModel::sidebarTabChanged);
}

void ViewerModel::showSidebarTab(SidebarTab tab)
{
    setSidebarTab(tab);
    setLibraryPanel(LibraryPanel::document);
    setSidebar(true);
}

ThumbnailStore& ViewerModel::thumbnails()
{
    if (!thumbnails_) thumbnails_ = new ThumbnailStore(this);
    thumbnails_->setDocument(document_);
    return *thumbnails_;
}

void ViewerModel::goToPageFromSidebar(int index)
{
    sidebarJump_ = document_ ? document_->pageId(index) : std::nullopt;
    if (sidebarJump_ && pdfView_) pdfView_->goToPage(index);
}

void ViewerModel::syncSelectionToPage()
{
    const std::optional<platform::PdfPageId> page = document_ ? document_->pageId(pageIndex_) : std::nullopt;
    if (!page) return;
    if (sidebarJump_) {
        // The sidebar asked for this page: its selection stays.
        sidebarJump_.reset();
        shownPage_ = page;
        return;
    }
    if (shownPage_ == page) return;
    if (!selectedPages().empty() && !selectedPages().count(pageIndex_)) setSelectedPages({});
    shownPage_ = page;
}

void ViewerModel::showOutlineTarget(std::optional<int> page, const std::optional<OutlineDestination>& destination)
{
    if (!page || !pdfView_) return;
    if (destination) pdfView_->goToPage(destination->pageIndex, destination->point);
    else pdfView_->goToPage(*page);
}

} // namespace quarn
