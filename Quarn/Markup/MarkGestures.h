#pragma once
// The markup side of the page view: the gesture in progress from mouse-down
// to mouse-up (drawing, moving, resizing, erasing), hit-testing of marks and
// their handles, the hover, the mark keys and the edits with their undo
// steps. A part of the view itself, so it reaches the view's editing state.
#include "QuarnKit/Markup/MarkCommands.h"
#include "Quarn/Markup/MarkupOverlay.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Markup/EditBurst.h"
#include "QuarnKit/Markup/MarkGeometry.h"

#include <memory>
#include <optional>
#include <variant>
#include <vector>

class QKeyEvent;
class QMouseEvent;

namespace quarn {

struct QuarnPDFView::MarkGestures {
    using PdfPoint = platform::PdfPoint;
    using PdfAnnotation = platform::PdfAnnotation;

    // A pen stroke: its page and the points collected so far.
    struct Ink {
        int page = -1;
        std::vector<PdfPoint> points;
    };
    // A shape-like drag: the tool, its page, where it started and where it is.
    struct Shape {
        quarnkit::MarkupTool tool = quarnkit::MarkupTool::rectangle;
        int page = -1;
        PdfPoint start, current;
        std::shared_ptr<const platform::PdfTextPage> text; // read once per drag, for the text preview
    };
    // A body drag of a mark: its value and frame at mouse-down and the page point grabbed.
    struct Move {
        MarkRef mark;
        PdfAnnotation before;
        quarnkit::MarkFrame frame;
        PdfPoint origin;
    };
    // A handle drag of the selected mark.
    struct Resize {
        MarkRef mark;
        PdfAnnotation before;
        quarnkit::MarkFrame frame;
        quarnkit::MarkHandle handle = quarnkit::MarkHandle::topLeft;
    };
    struct Erase {};
    using Drag = std::variant<std::monostate, Ink, Shape, Move, Resize, Erase>;

    explicit MarkGestures(QuarnPDFView& view);

    // Mouse and keys: true when the event was taken.
    bool press(QMouseEvent* event);
    bool move(QMouseEvent* event);
    bool release(QMouseEvent* event);
    bool key(QKeyEvent* event);
    bool escape();
    // Drops the gesture in progress after a failure, closing an open erase group.
    void abandon();
    // False (and the gesture dropped) when the view shows another document than at mouse-down.
    bool sameDocument();

    // Hit-testing.
    // The mark drawn on top at a point. A mark written straight into /Annots
    // has no number to be known by: with `claim` (a press that may edit it)
    // it is given an object of its own first; without, it is reported with
    // object 0, which no edit takes.
    std::optional<MarkRef> markAt(PdfPoint at, int page, bool claim = false) const;
    std::optional<quarnkit::MarkHandle> handleAt(QPointF viewportPoint, const MarkRef& mark) const;
    std::vector<std::pair<quarnkit::MarkHandle, QPointF>> handlePoints(const PdfAnnotation& annotation, int page) const;
    double hitTolerance() const;
    std::optional<PdfAnnotation> annotation(const MarkRef& mark) const;

    // Edits and their undo steps.
    void registerAdded(const MarkRef& mark, const QString& name);
    std::optional<MarkRef> addMark(int page, const PdfAnnotation& annotation, const QString& name);
    void remove(MarkRef mark, const QString& name); // a copy: removal may clear the selection it came from
    void nudge(double dx, double dy, double step);
    void erase(QPointF viewportPoint);
    void endEraseGroup();
    void addTextMarkups(quarnkit::MarkupTool tool, int page, PdfPoint from, PdfPoint to);
    // Tells the document of an edit of `page` made here; the view and every
    // other view hear of it from the document.
    void edited(int page);
    // After any change of the document, from here, an undo or anywhere else:
    // a mark gone is no longer selected or hovered, the inspector shows the
    // selected mark as it is now, and an edit made elsewhere ends any run of
    // quick edits.
    void documentChanged();
    // The page object of a page, for an undo step.
    std::optional<platform::PdfPageId> pageId(int page) const;

    // Drawing steps.
    std::vector<PdfPoint> inkPoints(const std::vector<PdfPoint>& points) const;
    PdfPoint shapeEnd(quarnkit::MarkupTool tool, PdfPoint start, PdfPoint end) const;
    void finishDrawing(const Drag& drag);
    void finishChange(const MarkRef& mark, const PdfAnnotation& before, const QString& name);

    // Hover and overlay.
    void refreshHover(QPointF viewportPoint);
    void fillOverlay();
    void clearPreview();

    QUndoStack* stack() const { return view.undoManager(); }

    QuarnPDFView& view;
    Drag drag;
    bool shift = false; // Shift held at the latest event of the gesture
    std::optional<quarnkit::EditBurst> burst;
    std::optional<quarnkit::MarkHandle> hoverHandle;
    QPointer<QUndoStack> eraseStack; // where the open erase group was begun
    std::weak_ptr<platform::PdfDocument> dragDocument; // the document the gesture began on
    bool editing = false;            // an edit of this editor is being announced
    MarkupOverlay* overlay;          // owned by the view's overlay widget
};

} // namespace quarn
