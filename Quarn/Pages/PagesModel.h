#pragma once
// The pages of one document window: the document sidebar (shown or not, its
// tab), the pages selected in its page list, the window's page thumbnails,
// and the page operations. An operation picks its target pages and asks
// QuarnKit's PageEdits for the edit, one named undo step of the document that
// makes the write; the model hears every page edit back from the document
// (made, undone or redone), keeps the page selection in step, and says what
// failed. The model knows no view and opens no panel: the page view
// follows its requests (PagesOnPages.h) and PagePanels.h asks for files.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/History/LibraryPanel.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "QuarnKit/Pages/SidebarTab.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <set>

namespace quarnkit {
struct OutlineDestination;
}

namespace quarn {

using quarnkit::LibraryPanel;

class ThumbnailStore;
class ViewerModel;

class PagesModel : public QObject {
    Q_OBJECT

public:
    // The pages of the window whose viewer is `viewer`: made on first use, a
    // child of the viewer model, the sidebar's tab read from its settings.
    static PagesModel& of(ViewerModel& viewer);

    // The document sidebar and its tab; setting the tab saves it for the next window.
    bool sidebar() const { return sidebar_; }
    void setSidebar(bool shown);
    quarnkit::SidebarTab sidebarTab() const { return sidebarTab_; }
    void setSidebarTab(quarnkit::SidebarTab tab);
    // Shows the sidebar with the document (not a library panel) on that tab.
    void showSidebarTab(quarnkit::SidebarTab tab);
    // The View menu's: as showSidebarTab, and the tab's list takes the keys.
    void chooseSidebarTab(quarnkit::SidebarTab tab);
    // What the side column shows: the document sidebar or a library panel;
    // starts as last chosen, and every choice is saved.
    LibraryPanel libraryPanel() const { return libraryPanel_; }
    void setLibraryPanel(LibraryPanel panel);
    // The rail's action: the panel already shown hides the column (the
    // choice stays); another panel, or any while the column is hidden,
    // shows the column with it.
    void toggleLibrary(LibraryPanel panel);
    // The menu's action: as toggleLibrary, and a History or Explore column
    // that comes up is asked to put the keys in its search field.
    void toggleLibraryAndFocus(LibraryPanel panel);
    // A one-shot request that the named panel focus its search field.
    std::optional<LibraryPanel> libraryFocusRequest() const { return libraryFocusRequest_; }
    // Clears the request and answers true when it names `panel`.
    bool takeLibraryFocusRequest(LibraryPanel panel);

    // The pages selected in the sidebar's page list.
    const std::set<int>& selectedPages() const { return selectedPages_; }
    void setSelectedPages(const std::set<int>& pages);
    // The pages a page operation acts on: the usable selection, else the current page.
    std::set<int> pageTargets() const;
    // A page view and a document with a page: the page operations act only then.
    bool canEditPages() const;
    // As canEditPages, and the targets are fewer than all pages.
    bool canDeletePages() const;
    // Where inserted files go by default: after the last target, else at the start.
    int insertionGap() const;
    void rotatePages(int degrees);
    // A blank page after the last target (at the start of a document without pages).
    void insertBlankPage();
    // A blank page after the page at `index` (at the start of a document
    // without pages), also from a page list with no page view.
    void insertBlankPageAfter(int index);
    void duplicatePages();
    void deletePages();
    // Moves the pages as one block to the gap (0: before the first page), one step "Move N Pages".
    void movePages(const std::set<int>& pages, int gap);
    // The pages of the files at the gap as one step; files that give none are named in an alert.
    void insertPages(const QStringList& paths, int gap);
    // Writes the pages of `document` to `path` off the UI thread, then
    // reveals the file: a file or a link at `path` is replaced only once
    // confirmReplace said so, and only the one it was asked about.
    void finishExtract(const QString& path, const std::set<int>& pages, const quarnkit::QuarnDocument& document);
    // Where an extracted file is shown; set by tests.
    std::function<void(const QString& path)> revealFile;
    // The question before a file is written over (DocumentController::askToReplace); set by tests.
    std::function<bool(const QString& name, const QString& written)> confirmReplace;
    // The window its questions are asked from, and the keys go back to.
    QPointer<QWidget> asksFrom;
    // Writes the pages into `file`, as its question saw it; a copy that may
    // show less than the damaged original is asked about first.
    void writeExtract(const quarnkit::ChosenFile& file, const std::set<int>& pages,
                      const quarnkit::QuarnDocument& document);

    // Shows a page the sidebar asked for; the page selection stays.
    void goToPageFromSidebar(int index);
    // Shows an outline entry: its destination, else the top of its page;
    // nothing for an entry without a page.
    void showOutlineTarget(std::optional<int> page, const std::optional<quarnkit::OutlineDestination>& destination);
    // The window's page thumbnails, for the document the viewer holds now.
    ThumbnailStore& thumbnails();

    // Set by the page view's side: the page it shows now; none without a view.
    std::function<int()> shownPage;

signals:
    void sidebarChanged(bool shown);
    void sidebarTabChanged(quarnkit::SidebarTab tab);
    // Asked of the sidebar shown: the list of its tab takes the keys.
    void sidebarKeysRequested();
    void libraryPanelChanged(LibraryPanel panel);
    void libraryFocusRequestChanged(std::optional<LibraryPanel> panel);
    void selectedPagesChanged(const std::set<int>& pages);
    // Any of the above.
    void changed();

    // Asked of the page view: commit the words being typed before pages
    // change; start over after pages changed (no editor, no selected mark,
    // the page reported again); show a page.
    void editingFinishRequested();
    void pagesReset();
    void pageRequested(int index, std::optional<platform::PdfPoint> point);
    // An operation failed: for the window's alert.
    void failed(const QString& message, const QString& detail);

private:
    explicit PagesModel(ViewerModel& viewer);
    void setLibraryFocusRequest(std::optional<LibraryPanel> panel);
    // Keeps the page selection in step with the current page: moving to a
    // page outside a selection of several pages clears it, unless the
    // sidebar itself asked for that page.
    void syncSelectionToPage();
    // Listens to the viewer's document for its page edits.
    void followDocument();
    // Puts the view and the page selection in step after a page edit; with
    // `reveal`, the first page it put in (or turned) is shown.
    void pagesDidChange(const quarnkit::PagesEdit& edit, bool reveal);
    // insertPages, back from the worker that read the files.
    void insertReadPages(quarnkit::PageEditor::FilePages read, const QStringList& paths, int gap);
    quarnkit::QuarnDocument* document() const;

    ViewerModel& viewer_;
    bool sidebar_ = true;
    quarnkit::SidebarTab sidebarTab_ = quarnkit::SidebarTab::pages;
    LibraryPanel libraryPanel_;
    std::optional<LibraryPanel> libraryFocusRequest_;
    std::set<int> selectedPages_;
    std::optional<quarnkit::PageId> shownPageId_; // the current page as last seen by syncSelectionToPage
    std::optional<quarnkit::PageId> sidebarJump_; // a page the sidebar asked for
    ThumbnailStore* thumbnails_ = nullptr;
    QMetaObject::Connection documentConnection_;
    // Rotating and deleting leave the pages where they are; every other
    // edit, and every undo and redo, shows what it put in.
    bool revealEdits_ = true;
};

} // namespace quarn
