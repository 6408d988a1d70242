#include "Quarn/Markup/MarkGestures.h"

#include "Quarn/Markup/InlineEditor.h"

#include "Quarn/Viewer/PageViewInternal.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/InkStroke.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/Redaction.h"

#include "QuarnKit/Shell/Design.h"

#include <QKeyEvent>
#include <QTimer>
#include <QMouseEvent>

#include <cmath>

namespace quarn {

using platform::PdfAnnotation;
using platform::PdfPoint;
using platform::PdfRect;
using quarnkit::MarkFrame;
using quarnkit::MarkHandle;
using quarnkit::MarkupTool;
namespace PdfAnnotations = platform::PdfAnnotations;
namespace AnnotationFactory = quarnkit::AnnotationFactory;
namespace MarkEditing = quarnkit::MarkEditing;
namespace MarkupGeometry = quarnkit::MarkupGeometry;

namespace {

constexpr double minInkStep = 0.6;     // points between collected pen points
constexpr double minLineLength = 4.0;  // a dragged line end stays this far from the other
constexpr double handleReach = 7.0;    // view points on each axis

bool isDrawingTool(MarkupTool tool)
{
    switch (tool) {
    case MarkupTool::pen:
    case MarkupTool::highlight:
    case MarkupTool::underline:
    case MarkupTool::strikethrough:
    case MarkupTool::rectangle:
    case MarkupTool::ellipse:
    case MarkupTool::line:
    case MarkupTool::arrow:
    case MarkupTool::redact:
        return true;
    default:
        return false;
    }
}

bool isTextMarkupTool(MarkupTool tool)
{
    return tool == MarkupTool::highlight || tool == MarkupTool::underline || tool == MarkupTool::strikethrough;
}

std::string_view markupSubtype(MarkupTool tool)
{
    if (tool == MarkupTool::underline) return "Underline";
    if (tool == MarkupTool::strikethrough) return "StrikeOut";
    return "Highlight";
}

long long burstTarget(const MarkRef& mark) { return (static_cast<long long>(mark.page) << 32) | unsigned(mark.object); }

// Rounds halves away from zero, as a whole-point nudge wants.
double wholePoints(double v) { return v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5); }

Qt::CursorShape resizeCursor(QPointF centre, QPointF handle)
{
    const double dx = handle.x() - centre.x(), dy = handle.y() - centre.y();
    if (std::fabs(dx) <= 1) return Qt::SizeVerCursor;
    if (std::fabs(dy) <= 1) return Qt::SizeHorCursor;
    // The view's y grows downwards: a handle right and above is a forward slash.
    return (dx > 0) == (dy < 0) ? Qt::SizeBDiagCursor : Qt::SizeFDiagCursor;
}

} // namespace

QuarnPDFView::MarkGestures::MarkGestures(QuarnPDFView& owner) : view(owner), overlay(new MarkupOverlay(owner.overlay_))
{
    overlay->beforePaint = [this] { fillOverlay(); };
}

// ---------------------------------------------------------------- hit-testing

double QuarnPDFView::MarkGestures::hitTolerance() const
{
    const double scale = view.scaleFactor();
    return scale <= 0.05 ? 100.0 : std::max(5.0 / scale, 2.0);
}

std::optional<PdfAnnotation> QuarnPDFView::MarkGestures::annotation(const MarkRef& mark) const
{
    const auto& doc = view.document();
    if (!doc || mark.page < 0 || mark.page >= view.pageCount()) return std::nullopt;
    return PdfAnnotations::find(*doc, mark.page, mark.object);
}

std::optional<MarkRef> QuarnPDFView::MarkGestures::markAt(PdfPoint at, int page, bool claim) const
{
    const auto& doc = view.document();
    if (!doc || page < 0 || page >= view.pageCount()) return std::nullopt;
    const std::vector<PdfAnnotation> annotations = PdfAnnotations::list(*doc, page);
    const double tolerance = hitTolerance();
    // The mark drawn on top is the one hit.
    for (size_t i = annotations.size(); i-- > 0;) {
        const PdfAnnotation& a = annotations[i];
        if (!AnnotationFactory::isMarkup(a) || !MarkEditing::hits(a, at, tolerance)) continue;
        if (a.objectNumber > 0 || !claim) return MarkRef{page, a.objectNumber};
        // Numbering changes neither the drawing nor the order of the list.
        if (PdfAnnotations::numberDirect(*doc, page) == 0) return std::nullopt;
        const std::vector<PdfAnnotation> numbered = PdfAnnotations::list(*doc, page);
        if (i >= numbered.size() || numbered[i].objectNumber <= 0) return std::nullopt;
        view.noteEdit(page); // lists of marks learn the new number
        return MarkRef{page, numbered[i].objectNumber};
    }
    return std::nullopt;
}

std::vector<std::pair<MarkHandle, QPointF>> QuarnPDFView::MarkGestures::handlePoints(const PdfAnnotation& a, int page) const
{
    std::vector<std::pair<MarkHandle, QPointF>> result;
    const std::vector<MarkHandle> handles = MarkEditing::handles(a);
    const bool hasStart = std::find(handles.begin(), handles.end(), MarkHandle::start) != handles.end();
    if (hasStart) {
        if (const auto ends = MarkEditing::lineEnds(a)) {
            result.emplace_back(MarkHandle::start, view.convertFromPage(ends->first, page));
            result.emplace_back(MarkHandle::end, view.convertFromPage(ends->second, page));
            return result;
        }
    }
    for (MarkHandle h : handles) result.emplace_back(h, view.convertFromPage(quarnkit::handlePoint(h, a.rect), page));
    return result;
}

std::optional<MarkHandle> QuarnPDFView::MarkGestures::handleAt(QPointF p, const MarkRef& mark) const
{
    const auto a = annotation(mark);
    if (!a) return std::nullopt;
    std::optional<MarkHandle> best;
    double bestDistance = 0;
    for (const auto& [handle, at] : handlePoints(*a, mark.page)) {
        if (std::fabs(at.x() - p.x()) > handleReach || std::fabs(at.y() - p.y()) > handleReach) continue;
        const double d = QLineF(at, p).length();
        if (!best || d < bestDistance) { // on a tie the earlier handle stays
            best = handle;
            bestDistance = d;
        }
    }
    return best;
}

// ---------------------------------------------------------------- reports and undo

void QuarnPDFView::MarkGestures::edited(int page)
{
    editing = true;
    view.noteEdit(page);
    editing = false;
}

void QuarnPDFView::MarkGestures::documentChanged()
{
    if (!editing) burst.reset(); // an undo, a redo or another edit ends any run of quick edits
    const auto exists = [this](const std::optional<MarkRef>& mark) { return mark && annotation(*mark); };
    if (view.hoverAnnotation_ && !exists(view.hoverAnnotation_)) view.hoverAnnotation_.reset();
    if (view.selectedAnnotation_ && !exists(view.selectedAnnotation_)) {
        view.select(std::nullopt);
        return;
    }
    if (view.selectedAnnotation_ && view.onInspect) {
        if (const auto a = annotation(*view.selectedAnnotation_)) view.onInspect(quarnkit::MarkCatalog::style(*a));
    }
    view.refreshSelection();
}

std::optional<platform::PdfPageId> QuarnPDFView::MarkGestures::pageId(int page) const
{
    return view.quarnDocument() ? view.quarnDocument()->pageId(page) : std::nullopt;
}

void QuarnPDFView::MarkGestures::registerAdded(const MarkRef& mark, const QString& name)
{
    burst.reset();
    edited(mark.page);
    QUndoStack* undo = stack();
    const auto page = pageId(mark.page);
    if (!undo || !view.document() || !page) return;
    const std::vector<int> order = PdfAnnotations::order(*view.document(), mark.page);
    const auto at = std::find(order.begin(), order.end(), mark.object);
    const int index = at == order.end() ? int(order.size()) : int(at - order.begin());
    undo->push(new quarnkit::MarkPresenceCommand(*view.quarnDocument(), *page, mark.object, true, index, name));
}

std::optional<MarkRef> QuarnPDFView::MarkGestures::addMark(int page, const PdfAnnotation& a, const QString& name)
{
    if (!view.document() || page < 0 || page >= view.pageCount()) return std::nullopt;
    const int object = PdfAnnotations::add(*view.document(), page, a);
    if (object <= 0) return std::nullopt;
    const MarkRef mark{page, object};
    registerAdded(mark, name);
    return mark;
}

void QuarnPDFView::MarkGestures::remove(MarkRef mark, const QString& name)
{
    if (!view.document()) return;
    const auto index = PdfAnnotations::remove(*view.document(), mark.page, mark.object);
    if (!index) return;
    burst.reset();
    const auto page = pageId(mark.page);
    edited(mark.page);
    if (QUndoStack* undo = stack(); undo && page)
        undo->push(new quarnkit::MarkPresenceCommand(*view.quarnDocument(), *page, mark.object, false, *index, name));
}

void QuarnPDFView::MarkGestures::finishChange(const MarkRef& mark, const PdfAnnotation& before, const QString& name)
{
    const auto now = annotation(mark);
    if (!now) return;
    const MarkFrame from = MarkFrame::of(before), to = MarkFrame::of(*now);
    if (from.bounds == to.bounds && from.start == to.start && from.end == to.end) return; // put back where it was
    burst.reset();
    edited(mark.page);
    if (QUndoStack* undo = stack(); undo && pageId(mark.page))
        undo->push(new quarnkit::MarkChangeCommand(*view.quarnDocument(), *pageId(mark.page), before, *now, name));
}

void QuarnPDFView::MarkGestures::nudge(double dx, double dy, double step)
{
    const auto mark = view.selectedAnnotation_;
    if (!mark) return;
    auto a = annotation(*mark);
    if (!a) return;
    // The direction is one in the view (y up); carry it into page space.
    const QPointF centre = view.viewport()->rect().center();
    const PdfPoint p0 = view.convertToPage(centre, mark->page);
    const PdfPoint p1 = view.convertToPage(centre + QPointF(dx, -dy), mark->page);
    const double ddx = p1.x - p0.x, ddy = p1.y - p0.y;
    const double length = std::hypot(ddx, ddy);
    PdfPoint offset;
    if (length > 0) offset = {wholePoints(step * ddx / length), wholePoints(step * ddy / length)};
    if (mark->page >= int(view.geometries_.size())) return;
    const PdfRect bounds = a->rect;
    PdfRect moved{bounds.x + offset.x, bounds.y + offset.y, bounds.width, bounds.height};
    const PdfRect area = view.geometries_[mark->page].cropBox;
    // A mark on the page stays on it; one already partly off moves freely.
    if (area.contains({bounds.minX(), bounds.minY()}) && area.contains({bounds.maxX(), bounds.maxY()}))
        moved = MarkupGeometry::clamp(moved, area);
    const PdfPoint delta{moved.x - bounds.x, moved.y - bounds.y};
    if (delta.x == 0 && delta.y == 0) return;
    const bool continues = quarnkit::EditBurst::continues(burst, "move", burstTarget(*mark));
    const PdfAnnotation before = *a;
    MarkFrame::of(*a).offset(delta).apply(*a);
    PdfAnnotations::update(*view.document(), mark->page, *a);
    edited(mark->page);
    // A continuing nudge folds into the step its run began with.
    if (QUndoStack* undo = stack(); undo && pageId(mark->page))
        undo->push(new quarnkit::MarkChangeCommand(*view.quarnDocument(), *pageId(mark->page), before, *a,
                                                   QStringLiteral("Move"), continues));
}

void QuarnPDFView::MarkGestures::erase(QPointF p)
{
    const auto at = view.pagePoint(p);
    if (!at) return;
    const auto hit = markAt(at->point, at->page, true);
    if (!hit || view.erased_.count(hit->object)) return;
    view.erased_.insert(hit->object);
    if (!view.erasingGroup_) {
        view.erasingGroup_ = true;
        eraseStack = stack();
        if (eraseStack) eraseStack->beginMacro(QStringLiteral("Erase"));
    }
    remove(*hit, QStringLiteral("Erase"));
}

void QuarnPDFView::MarkGestures::endEraseGroup()
{
    if (!view.erasingGroup_) return;
    view.erasingGroup_ = false;
    if (eraseStack) eraseStack->endMacro();
    eraseStack.clear();
}

void QuarnPDFView::MarkGestures::addTextMarkups(MarkupTool tool, int page, PdfPoint from, PdfPoint to)
{
    const auto& doc = view.document();
    if (!doc) return;
    const quarnkit::RGBA color = view.style().color;
    std::vector<PdfAnnotation> marks;
    try {
        marks = AnnotationFactory::textMarkups(markupSubtype(tool), *doc, page, from, to, color);
    } catch (const std::exception&) {
        marks.clear(); // a page whose text cannot be read takes a plain box below
    }
    if (marks.empty() && tool == MarkupTool::highlight) {
        if (auto box = AnnotationFactory::highlight(MarkupGeometry::rect(from, to), color)) marks.push_back(*box);
    }
    if (marks.empty()) return;
    const QString name = quarnkit::title(tool);
    QUndoStack* undo = stack();
    if (undo) undo->beginMacro(name);
    for (const PdfAnnotation& mark : marks) addMark(page, mark, name);
    if (undo) undo->endMacro();
}

// ---------------------------------------------------------------- drawing steps

std::vector<PdfPoint> QuarnPDFView::MarkGestures::inkPoints(const std::vector<PdfPoint>& points) const
{
    if (shift && points.size() >= 2)
        return quarnkit::InkStroke::points({points.front(), MarkupGeometry::snapAngle(points.front(), points.back())});
    return quarnkit::InkStroke::points(points);
}

PdfPoint QuarnPDFView::MarkGestures::shapeEnd(MarkupTool tool, PdfPoint start, PdfPoint end) const
{
    if (!shift) return end;
    switch (tool) {
    case MarkupTool::highlight:
    case MarkupTool::rectangle:
    case MarkupTool::ellipse:
    case MarkupTool::redact: {
        const double dx = end.x - start.x, dy = end.y - start.y;
        const double side = std::max(std::fabs(dx), std::fabs(dy));
        return {start.x + (dx < 0 ? -side : side), start.y + (dy < 0 ? -side : side)};
    }
    case MarkupTool::line:
    case MarkupTool::arrow:
        return MarkupGeometry::snapAngle(start, end);
    default:
        return end;
    }
}

void QuarnPDFView::MarkGestures::finishDrawing(const Drag& finished)
{
    const quarnkit::ToolStyle& style = view.style();
    if (const auto* ink = std::get_if<Ink>(&finished)) {
        if (auto mark = AnnotationFactory::ink(inkPoints(ink->points), style.color, style.stroke))
            addMark(ink->page, *mark, quarnkit::title(MarkupTool::pen));
        return;
    }
    const auto* shape = std::get_if<Shape>(&finished);
    if (!shape) return;
    const PdfPoint end = shapeEnd(shape->tool, shape->start, shape->current);
    std::optional<PdfAnnotation> mark;
    switch (shape->tool) {
    case MarkupTool::highlight:
    case MarkupTool::underline:
    case MarkupTool::strikethrough:
        addTextMarkups(shape->tool, shape->page, shape->start, end);
        return;
    case MarkupTool::rectangle:
        mark = AnnotationFactory::rectangle(shape->start, end, style.color, style.stroke, style.filled);
        break;
    case MarkupTool::ellipse:
        mark = AnnotationFactory::ellipse(shape->start, end, style.color, style.stroke, style.filled);
        break;
    case MarkupTool::line:
        mark = AnnotationFactory::line(shape->start, end, style.color, style.stroke, false);
        break;
    case MarkupTool::arrow:
        mark = AnnotationFactory::arrow(shape->start, end, style.color, style.stroke);
        break;
    case MarkupTool::redact:
        mark = quarnkit::Redaction::mark(shape->start, end);
        break;
    default:
        break;
    }
    if (mark) addMark(shape->page, *mark, quarnkit::title(shape->tool));
}

// ---------------------------------------------------------------- mouse

bool QuarnPDFView::MarkGestures::press(QMouseEvent* event)
{
    view.reclickAnnotation_.reset();
    view.textEditClick_ = false;
    if (event->button() != Qt::LeftButton) return false;
    view.setFocus(Qt::MouseFocusReason);
    view.commitEditing(); // the typed words land before the click is handled
    hoverHandle.reset();
    view.setHover(std::nullopt);
    shift = event->modifiers() & Qt::ShiftModifier;
    dragDocument = view.document();
    const QPointF p = event->position();
    const MarkupTool tool = view.tool();

    if (tool == MarkupTool::select) {
        if (const auto selected = view.selectedAnnotation_) {
            if (const auto handle = handleAt(p, *selected)) {
                if (const auto a = annotation(*selected)) {
                    drag = Resize{*selected, *a, MarkFrame::of(*a), *handle};
                    return true;
                }
            }
        }
        const auto at = view.pagePoint(p);
        const auto hit = at ? markAt(at->point, at->page, true) : std::nullopt;
        const auto a = hit ? annotation(*hit) : std::nullopt;
        if (!a) {
            view.select(std::nullopt);
            return false; // page text selection and links go on as before
        }
        const auto kind = quarnkit::MarkCatalog::kind(*a);
        const bool typed = kind == quarnkit::MarkKind::text || kind == quarnkit::MarkKind::note;
        if (typed && event->type() == QEvent::MouseButtonDblClick) {
            view.select(hit);
            view.textEditClick_ = true;
            view.beginEditing(kind == quarnkit::MarkKind::note ? EditorTarget::note(*hit) : EditorTarget::text(*hit));
            return true;
        }
        const bool reclick = typed && view.selectedAnnotation_ == hit;
        view.select(hit);
        if (reclick) view.reclickAnnotation_ = hit;
        drag = Move{*hit, *a, MarkFrame::of(*a), at->point};
        view.viewport()->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    if (tool == MarkupTool::eraser) {
        view.erased_.clear();
        view.erasingGroup_ = false;
        drag = Erase{};
        erase(p);
        return true;
    }
    if (isDrawingTool(tool)) {
        const auto at = view.pagePoint(p);
        if (!at) return true; // beside the pages a drawing tool does nothing
        view.select(std::nullopt);
        if (tool == MarkupTool::pen) drag = Ink{at->page, {at->point}};
        else drag = Shape{tool, at->page, at->point, at->point, nullptr};
        overlay->update();
        return true;
    }
    if (tool == MarkupTool::text) {
        // A click on an existing box starts a new one too; boxes are edited with Select or Return.
        if (const auto at = view.pagePoint(p)) {
            view.select(std::nullopt);
            view.beginEditing(EditorTarget::newText(at->page, at->point));
        }
        return true;
    }
    if (tool == MarkupTool::note) {
        const auto at = view.pagePoint(p);
        if (!at) return true;
        const auto hit = markAt(at->point, at->page, true);
        const auto a = hit ? annotation(*hit) : std::nullopt;
        if (a && quarnkit::MarkCatalog::kind(*a) == quarnkit::MarkKind::note) {
            view.select(hit);
            view.beginEditing(EditorTarget::note(*hit));
        } else {
            view.select(std::nullopt);
            view.beginEditing(EditorTarget::newNote(at->page, at->point));
        }
        return true;
    }
    return true;
}

bool QuarnPDFView::MarkGestures::sameDocument()
{
    if (std::holds_alternative<std::monostate>(drag)) return true;
    if (dragDocument.lock() == view.document()) return true;
    abandon(); // another document came in mid-gesture: its pages are not the ones dragged on
    return false;
}

bool QuarnPDFView::MarkGestures::move(QMouseEvent* event)
{
    if (view.textEditClick_) return true;
    if (std::holds_alternative<std::monostate>(drag)) return false;
    if (!sameDocument()) return true;
    shift = event->modifiers() & Qt::ShiftModifier;
    const QPointF p = event->position();
    const auto& doc = view.document();

    if (auto* ink = std::get_if<Ink>(&drag)) {
        const auto at = view.pagePoint(p, ink->page);
        if (!at) return true;
        if (ink->points.empty() || MarkupGeometry::length(ink->points.back(), at->point) >= minInkStep)
            ink->points.push_back(at->point);
        overlay->update();
    } else if (auto* shape = std::get_if<Shape>(&drag)) {
        if (const auto at = view.pagePoint(p, shape->page)) shape->current = at->point;
        overlay->update();
    } else if (auto* moving = std::get_if<Move>(&drag)) {
        const auto at = view.pagePoint(p, moving->mark.page);
        auto a = annotation(moving->mark);
        if (!at || !a || !doc) return true;
        // Always from the frame at mouse-down, so nothing accumulates.
        moving->frame.offset({at->point.x - moving->origin.x, at->point.y - moving->origin.y}).apply(*a);
        PdfAnnotations::update(*doc, moving->mark.page, *a);
        edited(moving->mark.page);
        view.viewport()->setCursor(Qt::ClosedHandCursor);
        view.refreshSelection();
    } else if (auto* resizing = std::get_if<Resize>(&drag)) {
        const auto at = view.pagePoint(p, resizing->mark.page);
        auto a = annotation(resizing->mark);
        if (!at || !a || !doc) return true;
        PdfPoint q = at->point;
        if (resizing->handle == MarkHandle::start || resizing->handle == MarkHandle::end) {
            const auto ends = MarkEditing::lineEnds(*a);
            if (!ends) return true;
            const bool movingStart = resizing->handle == MarkHandle::start;
            const PdfPoint fixed = movingStart ? ends->second : ends->first;
            if (shift) q = MarkupGeometry::snapAngle(fixed, q);
            if (MarkupGeometry::length(fixed, q) < minLineLength) return true;
            const bool head = quarnkit::MarkCatalog::kind(*a) == quarnkit::MarkKind::arrow;
            const double width = a->borderWidth.value_or(1);
            resizing->frame.withEnds(movingStart ? q : fixed, movingStart ? fixed : q, width, head).apply(*a);
        } else {
            const double scale = view.scaleFactor();
            const double minimum = scale <= 0.05 ? 160.0 : std::max(8.0 / scale, 4.0);
            const PdfRect bounds = MarkupGeometry::resize(resizing->frame.bounds, resizing->handle, q, shift, minimum);
            resizing->frame.resized(bounds).apply(*a);
        }
        PdfAnnotations::update(*doc, resizing->mark.page, *a);
        edited(resizing->mark.page);
        view.refreshSelection();
    } else if (std::holds_alternative<Erase>(drag)) {
        erase(p);
    }
    return true;
}

bool QuarnPDFView::MarkGestures::release(QMouseEvent* event)
{
    if (view.textEditClick_) {
        view.textEditClick_ = false;
        drag = std::monostate{};
        clearPreview();
        return true;
    }
    if (std::holds_alternative<std::monostate>(drag)) return false;
    if (!sameDocument()) return true;
    shift = event->modifiers() & Qt::ShiftModifier;
    const Drag finished = std::exchange(drag, std::monostate{});
    clearPreview();
    if (const auto* moving = std::get_if<Move>(&finished)) {
        const bool reclick = view.reclickAnnotation_ == moving->mark;
        view.reclickAnnotation_.reset();
        if (reclick && view.document()) {
            // A click on a box or note that was already selected types into it;
            // a drag shorter than 2 points is no move.
            if (const auto now = annotation(moving->mark)) {
                const auto& was = moving->frame.bounds;
                if (std::hypot(now->rect.x - was.x, now->rect.y - was.y) < 2.0) {
                    PdfAnnotations::update(*view.document(), moving->mark.page, moving->before);
                    edited(moving->mark.page);
                    const bool note = quarnkit::MarkCatalog::kind(*now) == quarnkit::MarkKind::note;
                    view.beginEditing(note ? EditorTarget::note(moving->mark) : EditorTarget::text(moving->mark));
                    return true;
                }
            }
        }
        finishChange(moving->mark, moving->before, QStringLiteral("Move"));
    } else if (const auto* resizing = std::get_if<Resize>(&finished)) {
        finishChange(resizing->mark, resizing->before, QStringLiteral("Resize"));
    } else if (std::holds_alternative<Erase>(finished)) {
        endEraseGroup();
    } else {
        finishDrawing(finished);
    }
    refreshHover(event->position());
    return true;
}

// ---------------------------------------------------------------- keys

bool QuarnPDFView::MarkGestures::key(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool commandLike = mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    switch (event->key()) {
    case Qt::Key_Escape:
        if (view.hasEditor()) {
            view.closeEditor(); // the typing is abandoned
            return true;
        }
        if (view.findIsPresented && view.findIsPresented()) {
            if (view.onDismissFind) view.onDismissFind();
            return true;
        }
        return escape();
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
        if (commandLike || !view.selectedAnnotation_) return false;
        const double step = (mods & Qt::ShiftModifier) ? 10 : 1;
        const int k = event->key();
        nudge(k == Qt::Key_Left ? -1 : k == Qt::Key_Right ? 1 : 0, k == Qt::Key_Up ? 1 : k == Qt::Key_Down ? -1 : 0, step);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // Return types into the selected text box or note.
        if (commandLike || !view.selectedAnnotation_) return false;
        const auto a = annotation(*view.selectedAnnotation_);
        const auto kind = a ? quarnkit::MarkCatalog::kind(*a) : std::nullopt;
        if (kind == quarnkit::MarkKind::text) view.beginEditing(EditorTarget::text(*view.selectedAnnotation_));
        else if (kind == quarnkit::MarkKind::note) view.beginEditing(EditorTarget::note(*view.selectedAnnotation_));
        else return false;
        return true;
    }
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (!view.selectedAnnotation_) return false;
        remove(*view.selectedAnnotation_, QStringLiteral("Delete"));
        return true;
    default:
        return false;
    }
}

bool QuarnPDFView::MarkGestures::escape()
{
    if (const auto* moving = std::get_if<Move>(&drag)) {
        // The mark goes back to where the gesture found it; nothing to undo.
        if (view.document()) PdfAnnotations::update(*view.document(), moving->mark.page, moving->before);
        const int page = moving->mark.page;
        drag = std::monostate{};
        edited(page);
        view.refreshSelection();
        return true;
    }
    if (const auto* resizing = std::get_if<Resize>(&drag)) {
        if (view.document()) PdfAnnotations::update(*view.document(), resizing->mark.page, resizing->before);
        const int page = resizing->mark.page;
        drag = std::monostate{};
        edited(page);
        view.refreshSelection();
        return true;
    }
    if (std::holds_alternative<Erase>(drag)) {
        drag = std::monostate{};
        clearPreview();
        endEraseGroup();
        return true;
    }
    if (!std::holds_alternative<std::monostate>(drag)) {
        drag = std::monostate{}; // the drawing is dropped
        clearPreview();
        return true;
    }
    if (view.selectedAnnotation_) {
        view.select(std::nullopt);
        return true;
    }
    if (view.findIsPresented && view.findIsPresented()) {
        if (view.onDismissFind) view.onDismissFind();
        return true;
    }
    if (view.tool() == MarkupTool::select) return false;
    if (view.onChooseTool) view.onChooseTool(MarkupTool::select);
    else if (view.onToolChange) view.onToolChange(MarkupTool::select);
    return true;
}

void QuarnPDFView::MarkGestures::abandon()
{
    drag = std::monostate{};
    endEraseGroup();
    clearPreview();
}

// ---------------------------------------------------------------- hover and overlay

void QuarnPDFView::MarkGestures::refreshHover(QPointF p)
{
    if (!std::holds_alternative<std::monostate>(drag)) return;
    const MarkupTool tool = view.tool();
    if (tool == MarkupTool::select && view.selectedAnnotation_) {
        if (const auto handle = handleAt(p, *view.selectedAnnotation_)) {
            if (hoverHandle != handle || view.hoverAnnotation_) {
                hoverHandle = handle;
                view.hoverAnnotation_.reset();
                view.refreshSelection();
            }
            Qt::CursorShape shape = Qt::CrossCursor;
            if (*handle != MarkHandle::start && *handle != MarkHandle::end) {
                if (const auto a = annotation(*view.selectedAnnotation_)) {
                    const QPointF centre = view.convertFromPage(PdfPoint{a->rect.midX(), a->rect.midY()}, view.selectedAnnotation_->page);
                    const QPointF at = view.convertFromPage(quarnkit::handlePoint(*handle, a->rect), view.selectedAnnotation_->page);
                    shape = resizeCursor(centre, at);
                }
            }
            view.viewport()->setCursor(shape);
            return;
        }
    }
    if (hoverHandle) {
        hoverHandle.reset();
        view.refreshSelection();
    }
    std::optional<MarkRef> hovered;
    if (tool == MarkupTool::select || tool == MarkupTool::eraser || tool == MarkupTool::note) {
        if (const auto at = view.pagePoint(p)) {
            hovered = markAt(at->point, at->page);
            if (hovered && tool == MarkupTool::note) {
                const auto a = annotation(*hovered);
                if (!a || quarnkit::MarkCatalog::kind(*a) != quarnkit::MarkKind::note) hovered.reset();
            }
        }
    }
    view.setHover(hovered);
    if (hovered && tool == MarkupTool::select) view.viewport()->setCursor(Qt::OpenHandCursor);
    if (tool == MarkupTool::note) view.viewport()->setCursor(hovered ? Qt::PointingHandCursor : Qt::CrossCursor);
}

void QuarnPDFView::MarkGestures::clearPreview()
{
    overlay->stroke.reset();
    overlay->textLines.reset();
    overlay->update();
}

void QuarnPDFView::MarkGestures::fillOverlay()
{
    const quarnkit::ToolStyle& style = view.style();
    const double scale = view.scaleFactor();
    const QColor color = style.color.toQColor();
    const double lineWidth = std::max(style.stroke * scale, 1.0);

    // The live preview of the mark being drawn.
    overlay->stroke.reset();
    overlay->textLines.reset();
    if (auto* ink = std::get_if<Ink>(&drag)) {
        MarkupOverlay::Stroke stroke{MarkupTool::pen, {}, color, lineWidth, false};
        for (const PdfPoint& p : inkPoints(ink->points)) stroke.points.push_back(view.convertFromPage(p, ink->page));
        overlay->stroke = std::move(stroke);
    } else if (auto* shape = std::get_if<Shape>(&drag)) {
        bool boxPreview = !isTextMarkupTool(shape->tool);
        if (!boxPreview && view.document() && shape->page < int(view.geometries_.size())) {
            if (!shape->text) {
                try {
                    shape->text = std::make_shared<const platform::PdfTextPage>(view.document()->textPage(shape->page));
                } catch (const std::exception&) {
                    shape->text = std::make_shared<const platform::PdfTextPage>();
                }
            }
            const PdfRect media = view.geometries_[shape->page].mediaBox;
            const auto lines = AnnotationFactory::textLines(*shape->text, media, shape->start, shape->current);
            if (lines.empty() && shape->tool == MarkupTool::highlight) {
                boxPreview = true; // a highlight over no text is a plain box
            } else {
                MarkupOverlay::TextLines preview{shape->tool, {}, color, scale};
                for (const PdfRect& r : lines) preview.rects.push_back(view.convertFromPage(r, shape->page));
                overlay->textLines = std::move(preview);
            }
        }
        if (boxPreview) {
            overlay->stroke = MarkupOverlay::Stroke{
                shape->tool,
                {view.convertFromPage(shape->start, shape->page),
                 view.convertFromPage(shapeEnd(shape->tool, shape->start, shape->current), shape->page)},
                color, lineWidth, style.filled};
        }
    }

    // The selected mark's frame and handles.
    overlay->selection.reset();
    const auto selected = view.selectedAnnotation_;
    const auto selectedMark = selected ? annotation(*selected) : std::nullopt;
    if (selectedMark) {
        const auto points = handlePoints(*selectedMark, selected->page);
        MarkupOverlay::Selection selection;
        for (const auto& [handle, at] : points) selection.handles.push_back(at);
        if (points.size() == 2 && points.front().first == MarkHandle::start) {
            selection.line = std::make_pair(points[0].second, points[1].second);
        } else {
            const QRectF frame = view.convertFromPage(selectedMark->rect, selected->page);
            selection.frame = points.empty() ? frame.adjusted(-3, -3, 3, 3) : frame;
        }
        overlay->selection = std::move(selection);
    }

    const auto hovered = view.hoverAnnotation_;
    const auto hoveredMark = hovered ? annotation(*hovered) : std::nullopt;

    // A note's text beside it: the hovered note, else the selected one.
    overlay->bubble.reset();
    const auto isNote = [](const std::optional<PdfAnnotation>& a) {
        return a && quarnkit::MarkCatalog::kind(*a) == quarnkit::MarkKind::note;
    };
    const auto& [noteRef, note] = isNote(hoveredMark) ? std::tie(hovered, hoveredMark) : std::tie(selected, selectedMark);
    if (isNote(note)) {
        const bool shown = view.tool() == MarkupTool::select || view.tool() == MarkupTool::note || noteRef == selected;
        const QString text = QString::fromStdString(note->contents).trimmed();
        if (shown && !text.isEmpty())
            overlay->bubble = MarkupOverlay::Bubble{view.convertFromPage(note->rect, noteRef->page), text,
                                                    note->color ? QColor::fromRgbF(float(note->color->r), float(note->color->g), float(note->color->b))
                                                                : quarnkit::Design::accent()};
    }

    // The hovered mark: an outline with Select, the eraser's trail with the eraser.
    overlay->hover.reset();
    if (!hoveredMark) return;
    const QRectF box = view.convertFromPage(hoveredMark->rect, hovered->page);
    if (view.tool() == MarkupTool::select) {
        if (!(selected == hovered)) overlay->hover = MarkupOverlay::Hover{box.adjusted(-2, -2, 2, 2), std::nullopt, 1.5};
    } else if (view.tool() == MarkupTool::eraser) {
        const double width = std::max(hoveredMark->borderWidth.value_or(1) * scale + 6, 6.0);
        QPainterPath path;
        if (const auto ends = MarkEditing::lineEnds(*hoveredMark)) {
            path.moveTo(view.convertFromPage(ends->first, hovered->page));
            path.lineTo(view.convertFromPage(ends->second, hovered->page));
            overlay->hover = MarkupOverlay::Hover{std::nullopt, path, width};
        } else if (AnnotationFactory::matches(*hoveredMark, "Ink") && !hoveredMark->inkList.empty()) {
            for (const auto& stroke : hoveredMark->inkList) {
                if (stroke.empty()) continue;
                path.moveTo(view.convertFromPage(stroke.front(), hovered->page));
                if (stroke.size() == 1) path.lineTo(path.currentPosition() + QPointF(0.5, 0)); // a dot shows too
                for (std::size_t i = 1; i < stroke.size(); ++i) path.lineTo(view.convertFromPage(stroke[i], hovered->page));
            }
            overlay->hover = MarkupOverlay::Hover{std::nullopt, path, width};
        } else {
            path.addRoundedRect(box.adjusted(-2, -2, 2, 2), 3, 3);
            overlay->hover = MarkupOverlay::Hover{std::nullopt, path, 1.5};
        }
    }
}

} // namespace quarn
