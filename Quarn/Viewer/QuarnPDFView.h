#pragma once
// The page view of one document window: shows the pages of a PDF in one of
// four layouts, scales them, keeps a current page and a back/forward history,
// and hands its mouse and keys to the interactions that select and copy text
// (TextSelection.h), follow links (PageLinks.h) and edit marks (added from
// outside: Quarn/Markup/MarkEditor.h).
//
// Pages are drawn from tiles that worker threads render from display lists; a
// page whose tiles have not arrived yet shows as a white sheet, so painting
// never waits for rendering.
#include "Quarn/Viewer/PagePlacement.h"
#include "QuarnKit/Document/DocumentPages.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QMarginsF>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace quarn {

class PageInteractions;
class PageTiles;
class ReadingHistory;

class QuarnPDFView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit QuarnPDFView(QWidget* parent = nullptr);
    ~QuarnPDFView() override;

    // ------------------------------------------------------------ document

    // Shows a document (none clears the view). Showing the document already
    // shown changes nothing, except that the pages of a document unlocked
    // since appear. The view follows the document's generationChanged: the
    // edited page is read and drawn again, or the whole document after an
    // edit of no one page (pages inserted, removed, rotated or moved).
    void load(quarnkit::QuarnDocument* document);
    quarnkit::QuarnDocument* quarnDocument() const { return document_.data(); }
    int pageCount() const;

    // ------------------------------------------------------------ layout

    quarnkit::PdfDisplayMode displayMode() const { return placement_->mode(); }
    void setDisplayMode(quarnkit::PdfDisplayMode mode);
    // In the two-page modes, the first page stands alone as a book's cover.
    bool displaysAsBook() const { return placement_->asBook(); }
    void setBackgroundColor(const QColor& color);

    // ------------------------------------------------------------ scale

    // 1 shows a page at one view pixel per point.
    double scaleFactor() const { return placement_->scale(); }
    // Sets the scale, within the minimum and maximum, keeping the current
    // page and point in place; turns automatic scaling off.
    void setScaleFactor(double scale);
    // Automatic scaling keeps the pages fitted (width in the continuous
    // modes, whole page otherwise) as the view resizes.
    bool autoScales() const { return autoScales_; }
    void setAutoScales(bool on);
    void setMaxScaleFactor(double scale);

    // ------------------------------------------------------------ navigation

    // The page being read (-1 without pages).
    int currentPageIndex() const;
    // Goes to a page, clamped into the document: to `point` (pulled onto the
    // page) or to the top of the page. Recorded in the back/forward history.
    void goToPage(int index, std::optional<platform::PdfPoint> point = std::nullopt);
    // Goes to a destination, pulled into the document; with `record`, in the history.
    void goToDestination(const quarnkit::PageDestination& destination, bool record = true);
    // Shows a selection's first page with the selection in view.
    void goToSelection(const quarnkit::PageSelection& selection);

    // Back and forward.
    ReadingHistory& history() const { return *history_; }

    // Pages that show, fully or in part, in the visible area, ascending.
    std::vector<int> visiblePages() const;
    // Where every page lies: page rectangles, and viewport and page points.
    const PagePlacement& placement() const { return *placement_; }

    // ------------------------------------------------------------ display, zoom and reading position

    // Shows `mode`; `coverSeparately` lays the first page out alone in the
    // two-page modes. Nothing happens when both are already in force.
    void applyDisplay(quarnkit::DisplayMode mode, bool coverSeparately);
    // Fits the current page's width (or a spread's); the scale set, or none
    // when there is no page larger than 1 point.
    std::optional<double> fitWidth(bool spreads);
    // Fits a whole page (or spread). With keepPage, or when the current page
    // was wholly visible, the current page is brought back into view.
    std::optional<double> fitPage(bool spreads, bool keepPage);
    // Scrolls so that the page shows: centred when it fits, else from its top.
    void revealPage(int index);
    // The current page and the point of it at the view's top left, for a reading position.
    std::optional<quarnkit::PageDestination> readingPoint() const;
    // Runs `operation` once the view is in a window, wider than 40 pixels and
    // showing a document: at once, else when the view shows (before its first
    // tiles are asked for), else when a later check (never giving up) finds it so.
    void whenReady(int attempt, std::function<void(QuarnPDFView&)> operation);

    // ------------------------------------------------------------ rendering

    // The drawing of the pages from tiles.
    PageTiles& tiles() const { return *tiles_; }

    // ------------------------------------------------------------ reports to the window's model

    // Sends onPage and onZoom (on the next event-loop turn) when the page,
    // the page count or the scale changed since the last report.
    void reportViewChanges();
    // The next report counts as a page change even on the same page (after pages moved).
    void forgetReportedPage() { lastPage_ = -1; }
    // The next resize comes from a column beside the view opening or closing:
    // the pages keep their place in the window and their scale, so that what
    // is under the pointer stays there. A zoom or a new layout ends the hold.
    void holdPlaceOnNextResize();
    bool holdsPlace() const { return holdPlace_ || placement_->heldShift() != 0; }

    std::function<void(int page, int count)> onPage;
    std::function<void(double scale)> onZoom;
    std::function<bool()> findIsPresented = [] { return false; };
    std::function<void()> onDismissFind;

    // ------------------------------------------------------------ tools

    quarnkit::MarkupTool tool() const { return tool_; }
    const quarnkit::ToolStyle& style() const { return style_; }
    // Takes the window's tool and its style; acts only when the tool changed.
    void setTool(quarnkit::MarkupTool tool, const quarnkit::ToolStyle& style);

    // ------------------------------------------------------------ interactions

    // What the mouse and keys reach before the view's scrolling and paging:
    // the editing of marks (added from outside), links, text selection.
    PageInteractions& interactions() const { return *interactions_; }
    // False while the view is being built, before its interactions are made.
    bool interactionsMade() const { return interactions_ != nullptr; }

signals:
    void scaleChanged(double scale);
    void pageChanged(int page);
    void visiblePagesChanged();
    void displayModeChanged();
    // The visible area moved (scrolling alone).
    void boundsChanged();
    // Once, on the turn after the first paint that showed every visible
    // tile: what a window builds after its first page is on the screen.
    void firstPagesPainted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void restoreAnchor(const PagePlacement::Anchor& anchor);
    void display();
    // Re-reads page sizes and redraws `page`, or with none the whole document.
    void refresh(std::optional<int> page);
    void documentEdited();
    void pagesRead(); // every page's size is known now (QuarnDocument::pageMapBuilt)
    void setLayoutMode(quarnkit::PdfDisplayMode mode, bool asBook);
    void relayout();
    void updateScrollBars();
    void scrollToContentPoint(QPointF contentPoint, bool horizontal);
    template <typename F>
    void withoutTracking(F&& change);
    void setScaleInternal(double scale, std::optional<QPointF> anchorInViewport);
    void takeScaleOver();
    void applyAutoScale();
    void jumpTo(const quarnkit::PageDestination& destination, bool record);
    void showDestination(const quarnkit::PageDestination& destination);
    void updateCurrentPageFromScroll();
    // Brings the current page, signals and reports up to date after any move.
    void syncState();
    void layoutPass();
    void updateCursor(QPointF viewportPoint);

    QPointer<quarnkit::QuarnDocument> document_;
    size_t shownPages_ = 0; // the page signature the layout describes
    std::unique_ptr<PagePlacement> placement_;
    std::unique_ptr<PageTiles> tiles_;

    QColor background_;

    bool autoScales_ = true;
    bool holdPlace_ = false;

    int currentPage_ = -1;
    bool jumping_ = false;              // the current page is set by the caller, not by the scroll position
    ReadingHistory* history_ = nullptr; // a child
    std::vector<int> lastVisible_;
    double shownScale_ = -1.0;
    int shownPage_ = -2;
    bool didInitialFit_ = false;
    bool pagesPainted_ = false;
    // Operations waiting for the view to be ready (whenReady); each runs once.
    using ReadyOperation = std::shared_ptr<std::function<void(QuarnPDFView&)>>;
    std::vector<ReadyOperation> readyWaiters_;
    bool runIfReady(const ReadyOperation& operation);
    void waitUntilReady(int attempt, ReadyOperation operation);
    int lastPage_ = -1;
    int lastCount_ = -1;
    double lastZoom_ = -1.0;

    quarnkit::MarkupTool tool_ = quarnkit::MarkupTool::select;
    quarnkit::ToolStyle style_;
    // They go with the view's members, before its child widgets.
    std::unique_ptr<PageInteractions> interactions_;
    double wheelRemainder_ = 0;
};

} // namespace quarn
