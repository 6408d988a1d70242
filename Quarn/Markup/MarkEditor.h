#pragma once
// The editing of marks in one page view, one of the view's interactions
// (PageInteraction.h): the view hands it the mouse and the keys, it paints
// on a layer of its own above the pages, and it keeps the hover, the gesture
// in progress from mouse-down to mouse-up (drawing, moving, resizing,
// erasing), the handles and the in-place editor of text boxes and notes. The
// selected mark is not its own: it selects through the window's selection
// (MarkSelection.h, held by the markup model) and follows its changes. The
// edits themselves are the document's (QuarnKit/Markup/MarkEdits.h), which
// records each as an undo step; this class turns gestures into them and
// follows the document's change signal. It reaches the view through its
// public interface only.
#include "Quarn/Markup/MarkRef.h"
#include "Quarn/Markup/MarkSelection.h"
#include "Quarn/Markup/MarkupOverlay.h"
#include "Quarn/Viewer/PageInteraction.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Markup/Annotation.h"
#include "QuarnKit/Markup/MarkGeometry.h"
#include "QuarnKit/Markup/PageText.h"

#include <QPointer>

#include <memory>
#include <optional>
#include <set>
#include <variant>
#include <vector>

class QKeyEvent;
class QMenu;
class QMouseEvent;

namespace quarn {

struct EditorTarget;

class MarkEditor : public PageInteraction {
public:
    using PdfPoint = platform::PdfPoint;
    using Annotation = quarnkit::Annotation;

    // The mark editor of a page view, added to it on first asking.
    static MarkEditor& of(QuarnPDFView& view);

    explicit MarkEditor(QuarnPDFView& view);
    ~MarkEditor() override;
    MarkEditor(const MarkEditor&) = delete;
    MarkEditor& operator=(const MarkEditor&) = delete;

    // What the editing reports to the window's markup: a tool or swatch
    // chosen by key (onChooseTool and onChooseSwatch when set, else
    // onToolChange and onSwatchIndex).
    std::function<void(quarnkit::MarkupTool)> onToolChange;
    std::function<void(int index)> onSwatchIndex;
    std::function<void(quarnkit::MarkupTool)> onChooseTool;
    std::function<void(int index)> onChooseSwatch;

    // A text markup drawn before its page's text was read waits for it.
    bool waitingForText() const { return !waitingMarkups_.empty(); }
    // Runs on the worker before it reads a page's text: tests hold it there.
    std::function<void()> textWorkerHook;

    // ------------------------------------------------------------ events routed by the view

    // True when the editing took the event (a press beside every mark with
    // Select falls through to text selection and links).
    bool mousePress(QMouseEvent* event) override;
    // A quick second click draws, grabs or erases a mark like the first one.
    bool mouseDoubleClick(QMouseEvent* event) override { return mousePress(event); }
    bool mouseMove(QMouseEvent* event) override;
    bool mouseRelease(QMouseEvent* event) override;
    // Mark keys: Escape, nudges, Return, Delete, tool letters and swatch digits.
    bool key(QKeyEvent* event) override;
    // Ends typing, selects the mark under the pointer and opens its menu.
    bool contextMenu(QContextMenuEvent* event) override;
    void hover(std::optional<QPointF> viewportPoint) override;
    // With a mark selected the arrow keys nudge it.
    bool holdsArrows() const override { return selected().has_value(); }
    // After any change of the document: a mark gone is no longer selected or hovered.
    void documentChanged() override;
    // The view shows another document: the editor closes, the gesture ends.
    void documentReplaced() override;
    // The view scrolled or zoomed: the in-place editor follows its mark.
    void viewMoved() override;
    // Another tool: typing ends (on the next turn), nothing is hovered.
    void toolChanged() override;

    // ------------------------------------------------------------ selection and hover

    // Selects through `selection` (the window's) from now on; until then
    // through a selection of the editor's own.
    void follow(MarkSelection& selection);
    MarkSelection& selection() const;
    // Selects a mark of the view's document (none: drops the selection).
    void select(std::optional<MarkRef> mark);
    // The selected mark, when it is one of the view's document.
    std::optional<MarkRef> selected() const;
    std::optional<MarkRef> hovered() const { return hovered_; }
    void setHover(std::optional<MarkRef> mark);
    // The mark drawn on top at a point. A mark written straight into /Annots
    // has no number to be known by: with `claim` (a press that may edit it)
    // it is given an object of its own first; without, it is reported with
    // object 0, which no edit takes.
    std::optional<MarkRef> markAt(PdfPoint at, int page, bool claim = false) const;
    std::optional<Annotation> annotation(const MarkRef& mark) const;
    // Redraws the layer above the pages (frame, handles, preview, bubble).
    void refresh();
    // The context menu for the current selection; the caller owns it.
    QMenu* contextMenu();
    // The layer above the pages that the editing draws on.
    QWidget* overlay() const { return layer_; }

    // ------------------------------------------------------------ in-place typing (InlineEditorView.cpp)

    bool hasEditor() const { return editor_ != nullptr; }
    QWidget* editor() const { return editor_; }
    void beginEditing(const EditorTarget& target);
    void commitEditing();
    void closeEditor();
    void layoutEditor();
    void editSelectedText();

    // ------------------------------------------------------------ edits (each an undo step of the document)

    std::optional<MarkRef> addMark(int page, const Annotation& annotation, const QString& name);
    void remove(MarkRef mark, const QString& name); // a copy: removal may clear the selection it came from

    QuarnPDFView& view() const { return view_; }
    quarnkit::QuarnDocument* document() const { return view_.quarnDocument(); }
    // The page object of a page, for an edit.
    std::optional<quarnkit::PageId> pageId(int page) const;

private:
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
        // The page's text for a text markup, read on a worker once per drag
        // (`reading`); until it comes the preview waits.
        std::shared_ptr<const quarnkit::PageTextLayout> text;
        quint64 reading = 0;
    };
    // A text markup whose drag ended before its page's text came: made when it does.
    struct WaitingMarkup {
        quint64 reading = 0;
        quarnkit::MarkupTool tool = quarnkit::MarkupTool::highlight;
        int page = -1;
        PdfPoint from, to;
        QPointer<quarnkit::QuarnDocument> document;
    };
    // A body drag of a mark: its value and frame at mouse-down and where the
    // pointer was pressed, in the viewport: the mark follows the pointer's
    // travel from there, also when the pages moved meanwhile (the inspector
    // coming with the selection narrows them).
    struct Move {
        MarkRef mark;
        Annotation before;
        quarnkit::MarkFrame frame;
        QPointF pressedAt;
    };
    // A handle drag of the selected mark.
    struct Resize {
        MarkRef mark;
        Annotation before;
        quarnkit::MarkFrame frame;
        quarnkit::MarkHandle handle = quarnkit::MarkHandle::topLeft;
    };
    struct Erase {};
    using Drag = std::variant<std::monostate, Ink, Shape, Move, Resize, Erase>;

    bool press(QMouseEvent* event);
    bool move(QMouseEvent* event);
    bool release(QMouseEvent* event);
    bool gestureKey(QKeyEvent* event);
    bool chooseByKey(const QKeyEvent* event);
    bool escape();
    // Drops the gesture in progress after a failure, closing an open erase group.
    void abandon();
    // A page whose marks cannot be read (a damaged file) must not take the
    // window down from inside an event handler: the gesture is dropped.
    template <typename F>
    bool guarded(F&& step);
    // False (and the gesture dropped) when the view shows another document than at mouse-down.
    bool sameDocument();

    std::optional<quarnkit::MarkHandle> handleAt(QPointF viewportPoint, const MarkRef& mark) const;

    // Shows a mark as a drag leaves it, without an undo step.
    void preview(const MarkRef& mark, const Annotation& annotation);
    void nudge(double dx, double dy, double step);
    void erase(QPointF viewportPoint);
    void endEraseGroup();
    // Reads the page's text for the drag on a render worker (see Shape).
    quint64 readTextFor(int page);
    void textRead(quint64 reading, int page, const std::shared_ptr<const quarnkit::PageTextLayout>& text);
    void addTextMarkups(quarnkit::MarkupTool tool, int page, PdfPoint from, PdfPoint to,
                        const quarnkit::PageTextLayout& text);
    void finishDrawing(const Drag& drag);
    void finishChange(const MarkRef& mark, const Annotation& before, const QString& name);

    // Another mark or none selected: the text selection and the frame follow.
    void selectionChanged();
    void hoverAt(QPointF viewportPoint);
    void fillOverlay();
    void clearPreview();

    QuarnPDFView& view_;
    QWidget* layer_;         // a child of the view's viewport
    MarkupOverlay* overlay_; // owned by the layer
    Drag drag_;
    bool shift_ = false; // Shift held at the latest event of the gesture
    std::optional<quarnkit::MarkHandle> hoverHandle_;
    QPointer<quarnkit::QuarnDocument> eraseDocument_; // where the open erase group was begun
    QPointer<quarnkit::QuarnDocument> dragDocument_;  // the document the gesture began on

    MarkSelection ownSelection_;        // selected through until the window's is followed
    QPointer<MarkSelection> followed_;  // the window's
    QMetaObject::Connection following_; // to the selection's changes
    std::optional<MarkRef> hovered_;
    std::optional<MarkRef> reclick_;
    // The mark the latest press with Select was on: the second press of a
    // double click means it, wherever the pages moved after the first.
    std::optional<MarkRef> pressedMark_;
    bool textEditClick_ = false;
    bool committingText_ = false;
    QPointer<QWidget> editor_; // an InlineEditor while one is open
    std::shared_ptr<EditorTarget> editorTarget_;
    std::set<int> erased_;
    bool erasingGroup_ = false;
    quint64 textReadings_ = 0;
    std::vector<WaitingMarkup> waitingMarkups_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0); // its end drops the text still coming
};

} // namespace quarn
