#pragma once
// The drawing of one page view's pages from tiles: worker threads render
// tiles of the visible pages (and then of a view height above and below)
// from the pages' display lists, and a page whose tiles have not arrived
// shows as a white sheet, or meanwhile stretched from the tiles of another
// scale, so painting never waits for rendering.
#include "QuarnKit/Document/DocumentPages.h"

#include <QRect>
#include <QRectF>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace quarnkit {
class QuarnDocument;
class TileRenderer;
struct TileRequest;
} // namespace quarnkit

namespace quarn {

class QuarnPDFView;

class PageTiles {
public:
    explicit PageTiles(QuarnPDFView& view);
    ~PageTiles();

    // Forgets every tile; the document's pages are drawn from now on.
    void setDocument(const quarnkit::QuarnDocument* document);
    // After an edit: forgets the tiles of a page, or of every page.
    void invalidate(std::optional<int> page);
    // The same for several pages at once; the other pages keep theirs.
    void invalidate(const std::vector<int>& pages);

    // Draws the visible pages inside `exposed` and asks the workers for the
    // tiles missing, nearest the centre first.
    void paint(QPainter& painter, const QRect& exposed);
    // Asks the workers for the tiles missing from the view, nearest its
    // centre first (a paint does so too).
    void requestMissing();

    // Every tile of the visible area is drawn at the current scale.
    bool visibleReady() const;
    // Tiles asked for are still being drawn, or on their way to the view.
    bool rendering() const;
    // Memory the tile cache holds, and may hold, in bytes.
    std::size_t cachedBytes() const;
    std::size_t budget() const;
    void setBudget(std::size_t bytes);
    // Memory the pages' recordings hold, by their cost, and the pages they are of.
    std::size_t displayListBytes() const;
    std::vector<int> pagesWithDisplayLists() const;
    // For tests: runs on the worker after it takes a request, before it reads the page.
    void setWorkerHook(std::function<void()> hook);
    // The links of a page as the worker that drew it read them; null until then.
    const std::vector<quarnkit::PageLink>* linksRead(int page) const;
    // Whether the page's drawing failed part way: it shows what was drawn
    // before the failure, with a notice that says the page is damaged.
    bool damaged(int page) const;

private:
    int level() const;
    // The tiles at the current scale of every page part inside `area` (viewport coordinates).
    std::vector<quarnkit::TileRequest> tilesIn(const QRectF& area) const;
    QRectF rectInView(const quarnkit::TileRequest& request) const;
    void paintPage(QPainter& painter, int page, const QRectF& rect, const QRect& exposed);
    void paintDamageNotice(QPainter& painter, const QRectF& page);

    QuarnPDFView& view_;
    std::unique_ptr<quarnkit::TileRenderer> renderer_;
};

} // namespace quarn
