#pragma once
// The hub of one document window: the published state that the window's bars,
// panels and menus read and write, the runtime that keeps the page view in
// step (reading position, page keys, display mode, fits), and the zoom
// operations. The viewer screen owns it; the page view is held weakly and
// reports back through callbacks that hold the model weakly.
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/Annotation.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/History/LibraryPanel.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Markup/ToolMemory.h"
#include "QuarnKit/Pages/SidebarTab.h"
#include "QuarnKit/Shell/RGBA.h"
#include "QuarnKit/Viewer/DisplayModes.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <set>
#include <vector>

class QKeyEvent;

namespace quarnkit { struct PageEdit; }
namespace quarnkit::PageEditor { struct FilePages; }

namespace quarnkit { struct OutlineDestination; }

namespace platform { class UserDefaults; }

namespace quarn {

class QuarnPDFView;
struct MarkRef;
class ThumbnailStore;

using quarnkit::LibraryPanel;

class ViewerModel : public QObject {
    Q_OBJECT

public:
    // Reads the default display mode from `defaults` (the standard user
    // defaults when none); reading positions go to `positions` (the shared
    // store when none).
    explicit ViewerModel(platform::UserDefaults* defaults = nullptr,
                         quarnkit::ReadingPositionStore* positions = nullptr, QObject* parent = nullptr);
    ~ViewerModel() override;

    // ------------------------------------------------------------ published state

    bool sidebar() const { return sidebar_; }
    void setSidebar(bool shown);
    // The panel of the library column; starts as last chosen, and every choice is saved.
    LibraryPanel libraryPanel() const { return libraryPanel_; }
    void setLibraryPanel(LibraryPanel panel);

    // ------------------------------------------------------------ library column (Quarn/History/ViewerModelLibrary.cpp)

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

    int pageIndex() const { return pageIndex_; }
    int pageCount() const { return pageCount_; }
    double zoom() const { return zoom_; }
    bool exportPresented() const { return exportPresented_; }
    void setExportPresented(bool presented);

    quarnkit::DisplayMode displayMode() const { return displayMode_; }
    bool coverSeparately() const { return coverSeparately_; }
    void setCoverSeparately(bool cover);
    std::optional<quarnkit::ZoomPreset> zoomFit() const { return zoomFit_; }
    bool canGoBack() const { return canGoBack_; }
    bool canGoForward() const { return canGoForward_; }
    int pageFieldToken() const { return pageFieldToken_; }
    void focusPageField();

    // ------------------------------------------------------------ links

    QuarnPDFView* pdfView() const;
    void setPdfView(QuarnPDFView* view);
    quarnkit::QuarnDocument* document() const { return document_.data(); }
    void setDocument(quarnkit::QuarnDocument* document) { document_ = document; }
    const QString& filePath() const { return filePath_; }
    void setFilePath(const QString& path) { filePath_ = path; }
    // Opens a file as a document window of its own; set by the window's owner.
    std::function<void(const QString& path)> openFileHandler;

    // ------------------------------------------------------------ document actions (ViewerModelDocument.cpp)

    // The window has a document that is not locked and has a page: the
    // document actions act only then, and beep otherwise.
    bool documentActionsAvailable() const;
    // Shows the export sheet, with `preset` chosen when given.
    void presentExport(std::optional<quarnkit::ExportFormat> preset = std::nullopt);
    // The format the next export sheet opens with; the sheet clears it.
    std::optional<quarnkit::ExportFormat> exportPreset() const { return exportPreset_; }
    void setExportPreset(std::optional<quarnkit::ExportFormat> preset) { exportPreset_ = preset; }
    platform::UserDefaults& defaults() const { return defaults_; }
    bool infoPresented() const { return infoPresented_; }
    void setInfoPresented(bool presented);
    void toggleInfo();
    // Writes new metadata as one undo step "Document Info", only when it
    // differs from the PDF's once normalised.
    void updateMetadata(const quarnkit::DocumentMetadata& metadata);
    // Replaces the PDF's attributes as one undo step of the document.
    void setDocumentAttributes(const quarnkit::DocumentAttributes& attributes);
    // The file on disk holds everything the window shows.
    bool isSavedAndUnchanged() const;
    // Opens the Share menu for the file, or for a copy when the file is out of date.
    void shareCopy();
    // The file to share: the file itself when it is up to date, else a fresh
    // copy in the private share folder under `temporaryRoot`. Throws ShareError.
    QString makeShareFile(const QString& temporaryRoot = {}) const;
    QWidget* shareAnchor() const { return shareAnchor_.data(); }
    void setShareAnchor(QWidget* anchor) { shareAnchor_ = anchor; }

    // ------------------------------------------------------------ pages (ViewerModelPages.cpp)

    // The pages selected in the sidebar's page list.
    const std::set<int>& selectedPages() const { return selectedPages_; }
    void setSelectedPages(const std::set<int>& pages) { assign(selectedPages_, pages, &ViewerModel::selectedPagesChanged); }
    // The pages a page operation acts on: the usable selection, else the current page.
    std::set<int> pageTargets() const;
    // A page view and a document with a page: the page operations act only then.
    bool canEditPages() const;
    // As canEditPages, and the targets are fewer than all pages.
    bool canDeletePages() const;
    void rotatePages(int degrees);
    void insertBlankPage();
    void duplicatePages();
    void deletePages();
    // Moves the pages as one block to the gap (0: before the first page), one step "Move N Pages".
    void movePages(const std::set<int>& pages, int gap);
    // The open panel, then insertPages after the last target (or at `gap`).
    void insertFiles(std::optional<int> gap = std::nullopt);
    // The pages of the files at the gap as one step; files that give none are named in an alert.
    void insertPages(const QStringList& paths, int gap);
    // The save panel, then finishExtract with the targets as they were when it opened.
    void extractPages();
    void finishExtract(const QString& path, const std::set<int>& pages, const quarnkit::QuarnDocument& document);
    // The sidebar's tab; setting it saves it for the next window.
    quarnkit::SidebarTab sidebarTab() const { return sidebarTab_; }
    void setSidebarTab(quarnkit::SidebarTab tab);
    // Shows the sidebar with the document (not a library panel) on that tab.
    void showSidebarTab(quarnkit::SidebarTab tab);
    // Shows a page the sidebar asked for; the page selection stays.
    void goToPageFromSidebar(int index);
    // Keeps the page selection in step with the current page: moving to a
    // page outside a selection of several pages clears it, unless the
    // sidebar itself asked for that page. Called whenever the page changes.
    void syncSelectionToPage();
    // Records an edit already made as one undo step and refreshes the window.
    void applyPageEdit(const quarnkit::PageEdit& edit, const QString& name, bool reveal);
    // A warning alert on the window (modal without one).
    void showAlert(const QString& message, const QString& detail);
    // Where an extracted file is shown; set by tests.
    std::function<void(const QString& path)> revealFile;

    // ------------------------------------------------------------ slideshow (Slideshow.cpp)

    // Full screen from the current page; nothing while a slideshow runs.
    void startSlideshow();
    // Shows the top of a page (where a slideshow ended) and gives the page view the keys.
    void showPage(int index);

    // ------------------------------------------------------------ sidebar (ViewerModelSidebar.cpp)

    // The window's page thumbnails, for the document the model holds now.
    ThumbnailStore& thumbnails();
    // Shows an outline entry: its destination, else the top of its page;
    // nothing for an entry without a page.
    void showOutlineTarget(std::optional<int> page, const std::optional<quarnkit::OutlineDestination>& destination);

    // ------------------------------------------------------------ binding

    // Keeps the view weakly and installs its callbacks, each holding the model weakly.
    void bind(QuarnPDFView* view);
    void openFile(const QString& path);

    // ------------------------------------------------------------ runtime

    // Installs the page-key filter and the quit observer. Called when the
    // window's content is shown.
    void start();
    // Saves the position at once, then cancels every pending timer and task
    // of the window and removes the key filter and the observers.
    void stop();
    bool isRunning() const { return running_; }
    // Applies the display mode; the first time for a view, also restores the
    // reading position once the view is ready.
    void attach(QuarnPDFView* view);
    void scheduleReadingPositionSave();
    void saveReadingPosition();
    std::optional<quarnkit::ReadingPosition> currentPosition() const;
    // The reading position has been restored (positions are saved from then on).
    bool isReading() const { return reading_; }
    void setDisplayMode(quarnkit::DisplayMode mode);
    void applyDisplayMode();
    void zoomChanged();
    void viewResized();
    void documentChanged();
    // True when a key event turned a page (and must not go further).
    bool handlePageKey(QKeyEvent* event, QObject* receiver);

    // ------------------------------------------------------------ zoom

    void zoomIn();
    void zoomOut();
    void stepZoom(bool up);
    void setZoom(double scale);
    void fitPage();
    void fitWidth();
    std::optional<double> fittedScale() const { return fittedScale_; }

    // The delays of the runtime, in milliseconds.
    static constexpr int positionSaveDelayMs = 600;

signals:
    // One signal per published value, sent only when the value changed.
    void sidebarChanged(bool shown);
    void libraryPanelChanged(LibraryPanel panel);
    void libraryFocusRequestChanged(std::optional<LibraryPanel> panel);
    void pageIndexChanged(int index);
    void pageCountChanged(int count);
    void zoomValueChanged(double zoom);
    void exportPresentedChanged(bool presented);
    void displayModeChanged(quarnkit::DisplayMode mode);
    void coverSeparatelyChanged(bool cover);
    void zoomFitChanged();
    void historyStateChanged();
    void pageFieldTokenChanged(int token);
    void infoPresentedChanged(bool presented);
    void selectedPagesChanged(const std::set<int>& pages);
    void sidebarTabChanged(quarnkit::SidebarTab tab);
    // The window stopped (stop()): delayed work of its parts must end.
    void stopped();
    // An edit added, removed or moved pages.
    void pagesMoved();
    // Any of the published values above.
    void changed();

private:
    class KeyFilter;
    // Assigns a published value and reports it, only when it changed.
    template <typename T, typename Signal>
    bool assign(T& field, const T& value, Signal signal)
    {
        if (field == value) return false;
        field = value;
        emit (this->*signal)(value);
        emit changed();
        return true;
    }
    // Refreshes the view and the page selection after a page edit.
    void pagesDidChange(const quarnkit::PageEdit& edit, bool reveal);
    void restoreReadingPosition(QuarnPDFView& view);
    std::optional<quarnkit::ReadingPosition> storedPosition() const;
    void observeHistory(QuarnPDFView* view);
    void refit();
    void setZoomFit(std::optional<quarnkit::ZoomPreset> fit);
    size_t pageSignature() const;
    // Runs `work` after `ms` unless the window stops first or the model goes.
    void later(int ms, std::function<void()> work);
    // insertPages, back from the worker that read the files.
    void insertReadPages(quarnkit::PageEditor::FilePages read, const QStringList& paths, int gap);

    platform::UserDefaults& defaults_;
    quarnkit::ReadingPositionStore& positions_;
    bool sidebar_ = true;
    LibraryPanel libraryPanel_ = LibraryPanel::document;
    std::optional<LibraryPanel> libraryFocusRequest_;
    int pageIndex_ = 0;
    int pageCount_ = 0;
    double zoom_ = 1.0;
    bool exportPresented_ = false;
    std::optional<quarnkit::ExportFormat> exportPreset_;
    quarnkit::DisplayMode displayMode_;
    bool coverSeparately_ = false;
    std::optional<quarnkit::ZoomPreset> zoomFit_ = quarnkit::ZoomPreset::fitPage;
    bool canGoBack_ = false;
    bool canGoForward_ = false;
    int pageFieldToken_ = 0;
    bool infoPresented_ = false;
    std::set<int> selectedPages_;
    quarnkit::SidebarTab sidebarTab_ = quarnkit::SidebarTab::pages;
    std::optional<quarnkit::PageId> shownPage_;   // the current page as last seen by syncSelectionToPage
    std::optional<quarnkit::PageId> sidebarJump_; // a page the sidebar asked for
    QPointer<QWidget> shareAnchor_;
    ThumbnailStore* thumbnails_ = nullptr;

    QPointer<QuarnPDFView> pdfView_;
    QPointer<quarnkit::QuarnDocument> document_;
    QString filePath_;

    // Runtime.
    std::optional<double> fittedScale_;
    std::optional<size_t> pageSignature_;
    QPointer<QuarnPDFView> readyView_;
    bool reading_ = false;
    std::optional<quarnkit::ReadingPosition> pending_;
    QTimer saveTimer_;
    KeyFilter* keyFilter_ = nullptr;
    bool running_ = false;
    // Raised by stop(): delayed work from before the stop does nothing.
    quint64 epoch_ = 0;
    QMetaObject::Connection quitConnection_;
    QMetaObject::Connection historyConnection_;
};

} // namespace quarn
