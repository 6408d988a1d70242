// The library column's side of the viewer model: which panel the column
// shows, whether it shows, and the one-shot request to focus a panel's field.
#include "Quarn/Viewer/ViewerModel.h"

#include "Quarn/Pages/PagesModel.h"

namespace quarn {

void ViewerModel::toggleLibrary(LibraryPanel panel)
{
    PagesModel& pages = PagesModel::of(*this);
    if (pages.sidebar() && libraryPanel_ == panel) {
        pages.setSidebar(false);
        return;
    }
    setLibraryPanel(panel);
    pages.setSidebar(true);
}

void ViewerModel::toggleLibraryAndFocus(LibraryPanel panel)
{
    toggleLibrary(panel);
    if (PagesModel::of(*this).sidebar() && panel != LibraryPanel::document)
        assign(libraryFocusRequest_, std::optional<LibraryPanel>(panel), &ViewerModel::libraryFocusRequestChanged);
}

bool ViewerModel::takeLibraryFocusRequest(LibraryPanel panel)
{
    if (libraryFocusRequest_ != panel) return false;
    assign(libraryFocusRequest_, std::optional<LibraryPanel>(), &ViewerModel::libraryFocusRequestChanged);
    return true;
}

} // namespace quarn
