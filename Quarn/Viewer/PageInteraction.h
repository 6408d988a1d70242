#pragma once
// Something the page view hands its mouse, keys and document changes to:
// the editing of marks, the selection of text, links. The view offers each
// event to its interactions in turn, the first that takes it ends the round,
// and what no interaction takes is the view's own (scrolling, paging, zoom).
#include <QPointF>
#include <qnamespace.h>

#include <optional>

class QContextMenuEvent;
class QKeyEvent;
class QMouseEvent;
class QPainter;

namespace quarn {

class PageInteraction {
public:
    virtual ~PageInteraction() = default;

    // Mouse and keys: true when the interaction took the event.
    virtual bool mousePress(QMouseEvent*) { return false; }
    virtual bool mouseDoubleClick(QMouseEvent*) { return false; }
    virtual bool mouseMove(QMouseEvent*) { return false; }
    virtual bool mouseRelease(QMouseEvent*) { return false; }
    virtual bool key(QKeyEvent*) { return false; }
    virtual bool contextMenu(QContextMenuEvent*) { return false; }
    // The pointer moved without a button, or left the view (no point).
    virtual void hover(std::optional<QPointF>) {}
    // The pointer's shape over a point with the Select tool; none leaves it to the next.
    virtual std::optional<Qt::CursorShape> cursor(QPointF) const { return std::nullopt; }
    // Something on the pages is selected that the arrow keys move.
    virtual bool holdsArrows() const { return false; }

    // The document shown was edited, or another one is shown.
    virtual void documentChanged() {}
    virtual void documentReplaced() {}
    // The view read a page again after an edit (none: every page), so what
    // was kept of it is out of date.
    virtual void pagesRead(std::optional<int> /*page*/) {}
    // The pages moved in the view (scrolling, zoom, resize).
    virtual void viewMoved() {}
    // The tool of the view changed.
    virtual void toolChanged() {}
    // Draws over the pages, below the view's child widgets.
    virtual void paint(QPainter&) {}
};

} // namespace quarn
