#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Viewer/PageInteractions.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Markup/MarkClipboardCommands.h"
#include "Quarn/Viewer/TextSelection.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/InkStroke.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Markup/PageText.h"
#include "QuarnKit/Markup/Redaction.h"

#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "Quarn/Viewer/CopyPage.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QMouseEvent>

#include <cmath>

namespace quarn {

using platform::PdfPoint;
using platform::PdfRect;
using quarnkit::Annotation;
using quarnkit::MarkFrame;
using quarnkit::MarkHandle;
using quarnkit::MarkupTool;
namespace AnnotationFactory = quarnkit::AnnotationFactory;
namespace MarkEditing = quarnkit::MarkEditing;
namespace MarkEdits = quarnkit::MarkEdits;
namespace MarkupGeometry = quarnkit::MarkupGeometry;

namespace {

constexpr double minInkStep = 0.6;    // points between collected pen points
constexpr double minLineLength = 4.0; // a dragged line end stays this far from the other
constexpr double handleReach = 7.0;   // view points on each axis

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
    case MarkupTool::redact: return true;
    default: return false;
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

// Rounds halves away from zero, as a whole-point nudge wants.
double wholePoints(double v) { return v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5); }

// How far from a mark, in page points, a click still takes it.
double hitTolerance(double scale) { return scale <= 0.05 ? 100.0 : std::max(5.0 / scale, 2.0); }

// Where the handles of a mark show in the viewport.
std::vector<std::pair<MarkHandle, QPointF>> handlePoints(const PagePlacement& placement, const Annotation& a, int page)
{
    std::vector<std::pair<MarkHandle, QPointF>> result;
    const std::vector<MarkHandle> handles = MarkEditing::handles(a);
    const bool hasStart = std::find(handles.begin(), handles.end(), MarkHandle::start) != handles.end();
    if (hasStart) {
        if (const auto ends = MarkEditing::lineEnds(a)) {
            result.emplace_back(MarkHandle::start, placement.convertFromPage(ends->first, page));
            result.emplace_back(MarkHandle::end, placement.convertFromPage(ends->second, page));
            return result;
        }
    }
    for (MarkHandle h : handles)
        result.emplace_back(h, placement.convertFromPage(quarnkit::handlePoint(h, a.rect), page));
    return result;
}

// A pen stroke's points; with Shift, a straight stroke at a snapped angle.
std::vector<PdfPoint> inkPoints(const std::vector<PdfPoint>& points, bool shift)
{
    if (shift && points.size() >= 2)
        return quarnkit::InkStroke::points({points.front(), MarkupGeometry::snapAngle(points.front(), points.back())});
    return quarnkit::InkStroke::points(points);
}

// Where a drag of a shape ends; with Shift, a square, a circle or a snapped line.
PdfPoint shapeEnd(MarkupTool tool, PdfPoint start, PdfPoint end, bool shift)
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
    case MarkupTool::arrow: return MarkupGeometry::snapAngle(start, end);
    default: return end;
    }
}

Qt::CursorShape resizeCursor(QPointF centre, QPointF handle)
{
    const double dx = handle.x() - centre.x(), dy = handle.y() - centre.y();
    if (std::fabs(dx) <= 1) return Qt::SizeVerCursor;
    if (std::fabs(dy) <= 1) return Qt::SizeHorCursor;
    // The view's y grows downwards: a handle right and above is a forward slash.
    return (dx > 0) == (dy < 0) ? Qt::SizeBDiagCursor : Qt::SizeFDiagCursor;
}

} // namespace

MarkEditor& MarkEditor::of(QuarnPDFView& view)
{
    if (auto* editor = view.interactions().find<MarkEditor>()) return *editor;
    return static_cast<MarkEditor&>(view.interactions().add(std::make_unique<MarkEditor>(view)));
}

MarkEditor::MarkEditor(QuarnPDFView& view) : view_(view), layer_(new QWidget(view.viewport()))
{
    layer_->setAttribute(Qt::WA_TransparentForMouseEvents);
    layer_->setAttribute(Qt::WA_NoSystemBackground);
    layer_->setGeometry(view.viewport()->rect());
    layer_->show();
    overlay_ = new MarkupOverlay(layer_);
    overlay_->beforePaint = [this] { fillOverlay(); };
    following_ = QObject::connect(&ownSelection_, &MarkSelection::changed, layer_, [this] { selectionChanged(); });
}

MarkEditor::~MarkEditor() { QObject::disconnect(following_); }

// ---------------------------------------------------------------- routing

template <typename F>
bool MarkEditor::guarded(F&& step)
{
    try {
        return step();
    } catch (const std::exception&) {
        abandon();
        return true;
    }
}

bool MarkEditor::mousePress(QMouseEvent* event)
{
    return guarded([&] { return press(event); });
}

bool MarkEditor::mouseMove(QMouseEvent* event)
{
    return guarded([&] { return move(event); });
}

bool MarkEditor::mouseRelease(QMouseEvent* event)
{
    return guarded([&] { return release(event); });
}

void MarkEditor::hover(std::optional<QPointF> viewportPoint)
{
    if (!viewportPoint) {
        setHover(std::nullopt);
        return;
    }
    if (hasEditor()) return; // marks under the pointer wait while words are typed
    guarded([&] {
        hoverAt(*viewportPoint);
        return true;
    });
}

void MarkEditor::documentReplaced()
{
    closeEditor();
    hovered_.reset();
    select(std::nullopt);
}

void MarkEditor::viewMoved()
{
    layer_->setGeometry(view_.viewport()->rect());
    refresh();
    layoutEditor();
}

void MarkEditor::toolChanged()
{
    if (hasEditor()) QTimer::singleShot(0, &view_, [this] { commitEditing(); });
    setHover(std::nullopt);
}

bool MarkEditor::contextMenu(QContextMenuEvent* event)
{
    commitEditing();
    if (const auto at = view_.placement().pagePoint(event->pos())) {
        if (const auto hit = markAt(at->point, at->page)) select(hit);
    }
    QMenu* menu = contextMenu();
    if (menu->isEmpty()) {
        delete menu;
        return true;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    popUpMenu(menu, event->globalPos(), askedBy(*event));
    return true;
}

void MarkEditor::refresh() { overlay_->update(); }

// ---------------------------------------------------------------- selection

void MarkEditor::follow(MarkSelection& selection)
{
    if (&selection == followed_.data()) return;
    QObject::disconnect(following_);
    ownSelection_.clear();
    followed_ = &selection;
    following_ = QObject::connect(&selection, &MarkSelection::changed, layer_, [this] { selectionChanged(); });
    selectionChanged();
}

MarkSelection& MarkEditor::selection() const
{
    return followed_ ? *followed_ : const_cast<MarkSelection&>(ownSelection_);
}

void MarkEditor::select(std::optional<MarkRef> mark) { selection().select(document(), mark); }

std::optional<MarkRef> MarkEditor::selected() const
{
    const MarkSelection& chosen = selection();
    return chosen.document() && chosen.document() == document() ? chosen.mark() : std::nullopt;
}

void MarkEditor::selectionChanged()
{
    if (selected()) view_.interactions().textSelection().clear();
    refresh();
}

void MarkEditor::setHover(std::optional<MarkRef> mark)
{
    if (!mark && hoverHandle_) {
        hoverHandle_.reset(); // leaving the view lets go of a hovered handle too
        overlay_->update();
    }
    if (mark == hovered_) return;
    hovered_ = mark;
    overlay_->update();
}

QMenu* MarkEditor::contextMenu()
{
    auto* menu = new QMenu(&view_);
    const auto mark = selected();
    const auto selectedMark = mark ? annotation(*mark) : std::nullopt;
    if (selectedMark) {
        const auto kind = quarnkit::MarkCatalog::kind(*selectedMark);
        if (kind == quarnkit::MarkKind::text || kind == quarnkit::MarkKind::note) {
            menu->addAction(kind == quarnkit::MarkKind::text ? QObject::tr("Edit Text") : QObject::tr("Edit Note"),
                            &view_, [this] { editSelectedText(); });
            menu->addSeparator();
        }
        menu->addAction(QObject::tr("Cut"), QKeySequence::Cut, &view_, [this] { cutSelectedMark(*this); })
            ->setEnabled(!hasEditor());
        menu->addAction(QObject::tr("Copy"), QKeySequence::Copy, &view_, [this] { copySelectedMark(*this); });
        menu->addAction(QObject::tr("Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D), &view_,
                        [this] { duplicateSelection(*this); });
        menu->addAction(QObject::tr("Delete Mark"), &view_, [this] { selection().remove(QStringLiteral("Delete")); })
            ->setEnabled(!hasEditor());
        menu->addSeparator();
        menu->addAction(QObject::tr("Bring to Front"), &view_, [this] { selection().restack(true); });
        menu->addAction(QObject::tr("Send to Back"), &view_, [this] { selection().restack(false); });
    } else {
        if (!view_.interactions().textSelection().current().text.empty())
            menu->addAction(QObject::tr("Copy"), QKeySequence::Copy, &view_,
                            [this] { view_.interactions().textSelection().copy(); });
        if (canPasteMarks(*this))
            menu->addAction(QObject::tr("Paste"), QKeySequence::Paste, &view_, [this] { pasteMarks(*this); });
    }
    if (view_.pageCount() > 0) {
        if (!menu->isEmpty()) menu->addSeparator();
        menu->addAction(QObject::tr("Copy Page"), &view_, [this] { copyPage(view_); });
    }
    return menu;
}

// ---------------------------------------------------------------- keys

bool MarkEditor::key(QKeyEvent* event)
{
    if (guarded([&] { return gestureKey(event); })) return true;
    return chooseByKey(event);
}

// Single keys that choose a tool or an ink swatch, as the shortcut table has
// them; a letter counts with or without Shift. Keys with Ctrl, Alt or Meta,
// and every key while the in-place editor is open, are left alone.
bool MarkEditor::chooseByKey(const QKeyEvent* event)
{
    using quarnkit::ShortcutCommand;
    if (hasEditor()) return false;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const auto command = quarnkit::KeyboardShortcuts::command(QKeyCombination(Qt::NoModifier, Qt::Key(event->key())),
                                                              quarnkit::ShortcutContext::pageView);
    if (!command) return false;
    const int c = int(*command);
    if (c >= int(ShortcutCommand::toolSelect) && c <= int(ShortcutCommand::toolEraser)) {
        const auto tool = quarnkit::allTools[size_t(c - int(ShortcutCommand::toolSelect))];
        if (onChooseTool) onChooseTool(tool);
        else if (onToolChange) onToolChange(tool);
        return true;
    }
    if (c >= int(ShortcutCommand::swatch1) && c <= int(ShortcutCommand::swatch8)) {
        const int index = c - int(ShortcutCommand::swatch1);
        if (index >= int(quarnkit::RGBA::swatches.size())) return false;
        if (onChooseSwatch) onChooseSwatch(index);
        else if (onSwatchIndex) onSwatchIndex(index);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- hit-testing

std::optional<Annotation> MarkEditor::annotation(const MarkRef& mark) const
{
    if (!document() || mark.page < 0 || mark.page >= view_.pageCount()) return std::nullopt;
    return MarkEdits::find(*document(), mark.page, mark.object);
}

std::optional<MarkRef> MarkEditor::markAt(PdfPoint at, int page, bool claim) const
{
    if (!document() || page < 0 || page >= view_.pageCount()) return std::nullopt;
    // With Select, the selected mark holds all of its frame.
    const auto selectedMark = selected();
    const std::optional<int> held = view_.tool() == MarkupTool::select && selectedMark && selectedMark->page == page
                                        ? std::optional(selectedMark->object)
                                        : std::nullopt;
    const auto object = MarkEdits::markAt(*document(), page, at, hitTolerance(view_.scaleFactor()), claim, held);
    return object ? std::optional(MarkRef{page, *object}) : std::nullopt;
}

std::optional<MarkHandle> MarkEditor::handleAt(QPointF p, const MarkRef& mark) const
{
    const auto a = annotation(mark);
    if (!a) return std::nullopt;
    std::optional<MarkHandle> best;
    double bestDistance = 0;
    for (const auto& [handle, at] : handlePoints(view_.placement(), *a, mark.page)) {
        if (std::fabs(at.x() - p.x()) > handleReach || std::fabs(at.y() - p.y()) > handleReach) continue;
        const double d = QLineF(at, p).length();
        if (!best || d < bestDistance) { // on a tie the earlier handle stays
            best = handle;
            bestDistance = d;
        }
    }
    return best;
}

// ---------------------------------------------------------------- edits

void MarkEditor::preview(const MarkRef& mark, const Annotation& annotation)
{
    if (const auto page = pageId(mark.page)) MarkEdits::preview(*document(), *page, annotation);
}

void MarkEditor::documentChanged()
{
    const auto exists = [this](const std::optional<MarkRef>& mark) { return mark && annotation(*mark); };
    if (hovered_ && !exists(hovered_)) hovered_.reset();
    if (const auto mark = selected(); mark && !exists(mark)) {
        select(std::nullopt);
        return;
    }
    refresh();
}

std::optional<quarnkit::PageId> MarkEditor::pageId(int page) const
{
    return document() ? document()->pageId(page) : std::nullopt;
}

std::optional<MarkRef> MarkEditor::addMark(int page, const Annotation& a, const QString& name)
{
    if (!document() || page >= view_.pageCount()) return std::nullopt;
    std::optional<int> object;
    try {
        object = MarkEdits::add(*document(), MarkEdits::pageTakingMarks(*document(), page), a, name);
    } catch (const MarkEdits::DamagedPage& error) {
        // Nothing was added and nothing is recorded: the user hears why.
        showErrorAlert(&view_, QString::fromUtf8(error.what()));
        return std::nullopt;
    }
    if (!object) return std::nullopt;
    return MarkRef{page, *object};
}

void MarkEditor::remove(MarkRef mark, const QString& name)
{
    const auto page = pageId(mark.page);
    if (!page) return;
    MarkEdits::remove(*document(), *page, mark.object, name);
}

void MarkEditor::editSelectedText()
{
    const auto selectedMark = selected();
    if (!selectedMark) return;
    const auto mark = annotation(*selectedMark);
    const auto kind = mark ? quarnkit::MarkCatalog::kind(*mark) : std::nullopt;
    if (kind == quarnkit::MarkKind::text) beginEditing(EditorTarget::text(*selectedMark));
    else if (kind == quarnkit::MarkKind::note) beginEditing(EditorTarget::note(*selectedMark));
}

void MarkEditor::finishChange(const MarkRef& mark, const Annotation& before, const QString& name)
{
    const auto now = annotation(mark);
    const auto page = pageId(mark.page);
    if (!now || !page) return;
    const MarkFrame from = MarkFrame::of(before), to = MarkFrame::of(*now);
    if (from.bounds == to.bounds && from.start == to.start && from.end == to.end) return; // put back where it was
    MarkEdits::change(*document(), *page, before, *now, name);
}

void MarkEditor::nudge(double dx, double dy, double step)
{
    const auto mark = selected();
    if (!mark || !view_.placement().geometry(mark->page)) return;
    // The direction is one in the view (y up); carry it into page space.
    const QPointF centre = view_.viewport()->rect().center();
    const PdfPoint p0 = view_.placement().convertToPage(centre, mark->page);
    const PdfPoint p1 = view_.placement().convertToPage(centre + QPointF(dx, -dy), mark->page);
    const double ddx = p1.x - p0.x, ddy = p1.y - p0.y;
    const double length = std::hypot(ddx, ddy);
    PdfPoint offset;
    if (length > 0) offset = {wholePoints(step * ddx / length), wholePoints(step * ddy / length)};
    // A continuing nudge folds into the step its run began with.
    selection().nudge(offset);
}

void MarkEditor::erase(QPointF p)
{
    const auto at = view_.placement().pagePoint(p);
    if (!at) return;
    const auto hit = markAt(at->point, at->page, true);
    if (!hit || erased_.count(hit->object)) return;
    erased_.insert(hit->object);
    if (!erasingGroup_) {
        erasingGroup_ = true;
        eraseDocument_ = document();
        if (eraseDocument_) eraseDocument_->undoStack().beginMacro(QStringLiteral("Erase"));
    }
    remove(*hit, QStringLiteral("Erase"));
}

void MarkEditor::endEraseGroup()
{
    if (!erasingGroup_) return;
    erasingGroup_ = false;
    if (eraseDocument_) eraseDocument_->undoStack().endMacro();
    eraseDocument_.clear();
}

quint64 MarkEditor::readTextFor(int page)
{
    const quarnkit::QuarnDocument* doc = document();
    if (!doc) return 0;
    // A page's text can take seconds (a crafted content stream): a render
    // worker reads it, and the preview and the mark wait for it.
    const quint64 reading = ++textReadings_;
    quarnkit::PageText::readLater(
        *doc, page, alive_, [this, page, reading](const auto& text) { textRead(reading, page, text); }, textWorkerHook);
    return reading;
}

void MarkEditor::textRead(quint64 reading, int page, const std::shared_ptr<const quarnkit::PageTextLayout>& text)
{
    if (auto* shape = std::get_if<Shape>(&drag_); shape && shape->reading == reading) {
        shape->text = text;
        overlay_->update();
    }
    const auto waiting = std::find_if(waitingMarkups_.begin(), waitingMarkups_.end(),
                                      [&](const WaitingMarkup& w) { return w.reading == reading; });
    if (waiting == waitingMarkups_.end()) return;
    const WaitingMarkup markup = *waiting;
    waitingMarkups_.erase(waiting);
    // The view moved on to another document meanwhile: the gesture goes with the old one.
    if (!markup.document || markup.document != document()) return;
    try {
        addTextMarkups(markup.tool, page, markup.from, markup.to, *text);
    } catch (const std::exception&) {
        // A page that no longer takes marks: the gesture goes, as a failed drag's does.
    }
}

void MarkEditor::addTextMarkups(MarkupTool tool, int page, PdfPoint from, PdfPoint to,
                                const quarnkit::PageTextLayout& text)
{
    const auto geometry = view_.placement().geometry(page);
    if (!document() || !geometry) return;
    const quarnkit::RGBA color = view_.style().color;
    std::vector<Annotation> marks =
        AnnotationFactory::textMarkups(markupSubtype(tool), text, geometry->mediaBox, from, to, color);
    if (marks.empty() && tool == MarkupTool::highlight) {
        if (auto box = AnnotationFactory::highlight(MarkupGeometry::rect(from, to), color)) marks.push_back(*box);
    }
    if (marks.empty()) return;
    try {
        MarkEdits::add(*document(), MarkEdits::pageTakingMarks(*document(), page), marks, quarnkit::title(tool));
    } catch (const MarkEdits::DamagedPage& error) {
        // Nothing was added and nothing is recorded: the user hears why.
        showErrorAlert(&view_, QString::fromUtf8(error.what()));
    }
}

// ---------------------------------------------------------------- drawing steps

void MarkEditor::finishDrawing(const Drag& finished)
{
    const quarnkit::ToolStyle& style = view_.style();
    if (const auto* ink = std::get_if<Ink>(&finished)) {
        if (auto mark = AnnotationFactory::ink(inkPoints(ink->points, shift_), style.color, style.stroke))
            addMark(ink->page, *mark, quarnkit::title(MarkupTool::pen));
        return;
    }
    const auto* shape = std::get_if<Shape>(&finished);
    if (!shape) return;
    const PdfPoint end = shapeEnd(shape->tool, shape->start, shape->current, shift_);
    std::optional<Annotation> mark;
    switch (shape->tool) {
    case MarkupTool::highlight:
    case MarkupTool::underline:
    case MarkupTool::strikethrough:
        if (shape->text) addTextMarkups(shape->tool, shape->page, shape->start, end, *shape->text);
        else if (shape->reading)
            waitingMarkups_.push_back({shape->reading, shape->tool, shape->page, shape->start, end, document()});
        return;
    case MarkupTool::rectangle:
        mark = AnnotationFactory::rectangle(shape->start, end, style.color, style.stroke, style.filled);
        break;
    case MarkupTool::ellipse:
        mark = AnnotationFactory::ellipse(shape->start, end, style.color, style.stroke, style.filled);
        break;
    case MarkupTool::line: mark = AnnotationFactory::line(shape->start, end, style.color, style.stroke, false); break;
    case MarkupTool::arrow: mark = AnnotationFactory::arrow(shape->start, end, style.color, style.stroke); break;
    case MarkupTool::redact: mark = quarnkit::Redaction::mark(shape->start, end); break;
    default: break;
    }
    if (mark) addMark(shape->page, *mark, quarnkit::title(shape->tool));
}

// ---------------------------------------------------------------- mouse

bool MarkEditor::press(QMouseEvent* event)
{
    reclick_.reset();
    textEditClick_ = false;
    const auto first = std::exchange(pressedMark_, std::nullopt);
    if (event->button() != Qt::LeftButton) return false;
    view_.setFocus(Qt::MouseFocusReason);
    commitEditing(); // the typed words land before the click is handled
    hoverHandle_.reset();
    setHover(std::nullopt);
    shift_ = event->modifiers() & Qt::ShiftModifier;
    dragDocument_ = document();
    const QPointF p = event->position();
    const MarkupTool tool = view_.tool();

    if (tool == MarkupTool::select) {
        // A double click on a text box or note opens it for typing.
        const bool second = event->type() == QEvent::MouseButtonDblClick;
        const auto typeInto = [this](const MarkRef& mark, const Annotation& a) {
            const auto kind = quarnkit::MarkCatalog::kind(a);
            if (kind != quarnkit::MarkKind::text && kind != quarnkit::MarkKind::note) return false;
            select(mark);
            textEditClick_ = true;
            beginEditing(kind == quarnkit::MarkKind::note ? EditorTarget::note(mark) : EditorTarget::text(mark));
            return true;
        };
        // The mark meant is the one the first press was on, wherever the
        // pages moved since (the inspector coming with the selection narrows them).
        if (const auto a = second && first ? annotation(*first) : std::nullopt; a && typeInto(*first, *a)) return true;
        if (const auto selected = this->selected()) {
            if (const auto handle = handleAt(p, *selected)) {
                if (const auto a = annotation(*selected)) {
                    drag_ = Resize{*selected, *a, MarkFrame::of(*a), *handle};
                    return true;
                }
            }
        }
        const auto at = view_.placement().pagePoint(p);
        const auto hit = at ? markAt(at->point, at->page, true) : std::nullopt;
        const auto a = hit ? annotation(*hit) : std::nullopt;
        if (!a) {
            select(std::nullopt);
            return false; // page text selection and links go on as before
        }
        pressedMark_ = hit;
        if (second && typeInto(*hit, *a)) return true;
        const auto kind = quarnkit::MarkCatalog::kind(*a);
        const bool typed = kind == quarnkit::MarkKind::text || kind == quarnkit::MarkKind::note;
        const bool reclick = typed && selected() == hit;
        select(hit);
        if (reclick) reclick_ = hit;
        drag_ = Move{*hit, *a, MarkFrame::of(*a), p};
        view_.viewport()->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    if (tool == MarkupTool::eraser) {
        erased_.clear();
        erasingGroup_ = false;
        drag_ = Erase{};
        erase(p);
        return true;
    }
    if (isDrawingTool(tool)) {
        const auto at = view_.placement().pagePoint(p);
        if (!at) return true; // beside the pages a drawing tool does nothing
        select(std::nullopt);
        if (tool == MarkupTool::pen) drag_ = Ink{at->page, {at->point}};
        else
            drag_ = Shape{tool,      at->page, at->point,
                          at->point, nullptr,  isTextMarkupTool(tool) ? readTextFor(at->page) : 0};
        overlay_->update();
        return true;
    }
    if (tool == MarkupTool::text) {
        // A click on an existing box starts a new one too; boxes are edited with Select or Return.
        if (const auto at = view_.placement().pagePoint(p)) {
            select(std::nullopt);
            beginEditing(EditorTarget::newText(at->page, at->point));
        }
        return true;
    }
    if (tool == MarkupTool::note) {
        const auto at = view_.placement().pagePoint(p);
        if (!at) return true;
        const auto hit = markAt(at->point, at->page, true);
        const auto a = hit ? annotation(*hit) : std::nullopt;
        if (a && quarnkit::MarkCatalog::kind(*a) == quarnkit::MarkKind::note) {
            select(hit);
            beginEditing(EditorTarget::note(*hit));
        } else {
            select(std::nullopt);
            beginEditing(EditorTarget::newNote(at->page, at->point));
        }
        return true;
    }
    return true;
}

bool MarkEditor::sameDocument()
{
    if (std::holds_alternative<std::monostate>(drag_)) return true;
    if (dragDocument_ == document()) return true;
    abandon(); // another document came in mid-gesture: its pages are not the ones dragged on
    return false;
}

bool MarkEditor::move(QMouseEvent* event)
{
    if (textEditClick_) return true;
    if (std::holds_alternative<std::monostate>(drag_)) return false;
    if (!sameDocument()) return true;
    shift_ = event->modifiers() & Qt::ShiftModifier;
    const QPointF p = event->position();

    if (auto* ink = std::get_if<Ink>(&drag_)) {
        const auto at = view_.placement().pagePoint(p, ink->page);
        if (!at) return true;
        if (ink->points.empty() || MarkupGeometry::length(ink->points.back(), at->point) >= minInkStep)
            ink->points.push_back(at->point);
        overlay_->update();
    } else if (auto* shape = std::get_if<Shape>(&drag_)) {
        if (const auto at = view_.placement().pagePoint(p, shape->page)) shape->current = at->point;
        overlay_->update();
    } else if (auto* moving = std::get_if<Move>(&drag_)) {
        const auto at = view_.placement().pagePoint(p, moving->mark.page);
        const auto from = view_.placement().pagePoint(moving->pressedAt, moving->mark.page);
        auto a = annotation(moving->mark);
        if (!at || !from || !a) return true;
        // Always from the frame at mouse-down, so nothing accumulates.
        moving->frame.offset({at->point.x - from->point.x, at->point.y - from->point.y}).apply(*a);
        preview(moving->mark, *a);
        view_.viewport()->setCursor(Qt::ClosedHandCursor);
        refresh();
    } else if (auto* resizing = std::get_if<Resize>(&drag_)) {
        const auto at = view_.placement().pagePoint(p, resizing->mark.page);
        auto a = annotation(resizing->mark);
        if (!at || !a) return true;
        PdfPoint q = at->point;
        if (resizing->handle == MarkHandle::start || resizing->handle == MarkHandle::end) {
            const auto ends = MarkEditing::lineEnds(*a);
            if (!ends) return true;
            const bool movingStart = resizing->handle == MarkHandle::start;
            const PdfPoint fixed = movingStart ? ends->second : ends->first;
            if (shift_) q = MarkupGeometry::snapAngle(fixed, q);
            if (MarkupGeometry::length(fixed, q) < minLineLength) return true;
            const bool head = quarnkit::MarkCatalog::kind(*a) == quarnkit::MarkKind::arrow;
            const double width = a->borderWidth.value_or(1);
            resizing->frame.withEnds(movingStart ? q : fixed, movingStart ? fixed : q, width, head).apply(*a);
        } else {
            const double scale = view_.scaleFactor();
            const double minimum = scale <= 0.05 ? 160.0 : std::max(8.0 / scale, 4.0);
            const PdfRect bounds = MarkupGeometry::resize(resizing->frame.bounds, resizing->handle, q, shift_, minimum);
            resizing->frame.resized(bounds).apply(*a);
        }
        preview(resizing->mark, *a);
        refresh();
    } else if (std::holds_alternative<Erase>(drag_)) {
        erase(p);
    }
    return true;
}

bool MarkEditor::release(QMouseEvent* event)
{
    if (textEditClick_) {
        textEditClick_ = false;
        drag_ = std::monostate{};
        clearPreview();
        return true;
    }
    if (std::holds_alternative<std::monostate>(drag_)) return false;
    if (!sameDocument()) return true;
    shift_ = event->modifiers() & Qt::ShiftModifier;
    const Drag finished = std::exchange(drag_, std::monostate{});
    clearPreview();
    if (const auto* moving = std::get_if<Move>(&finished)) {
        const bool reclick = reclick_ == moving->mark;
        reclick_.reset();
        if (reclick) {
            // A click on a box or note that was already selected types into it;
            // a drag_ shorter than 2 points is no move.
            if (const auto now = annotation(moving->mark)) {
                const auto& was = moving->frame.bounds;
                if (std::hypot(now->rect.x - was.x, now->rect.y - was.y) < 2.0) {
                    preview(moving->mark, moving->before);
                    const bool note = quarnkit::MarkCatalog::kind(*now) == quarnkit::MarkKind::note;
                    beginEditing(note ? EditorTarget::note(moving->mark) : EditorTarget::text(moving->mark));
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
    hoverAt(event->position());
    return true;
}

// ---------------------------------------------------------------- keys

bool MarkEditor::gestureKey(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool commandLike = mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const auto selectedMark = selected();
    switch (event->key()) {
    case Qt::Key_Escape:
        if (hasEditor()) {
            closeEditor(); // the typing is abandoned
            return true;
        }
        if (view_.findIsPresented && view_.findIsPresented()) {
            if (view_.onDismissFind) view_.onDismissFind();
            return true;
        }
        return escape();
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
        if (commandLike || !selectedMark) return false;
        const double step = (mods & Qt::ShiftModifier) ? 10 : 1;
        const int k = event->key();
        nudge(k == Qt::Key_Left    ? -1
              : k == Qt::Key_Right ? 1
                                   : 0,
              k == Qt::Key_Up     ? 1
              : k == Qt::Key_Down ? -1
                                  : 0,
              step);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // Return types into the selected text box or note.
        if (commandLike || !selectedMark) return false;
        const auto a = annotation(*selectedMark);
        const auto kind = a ? quarnkit::MarkCatalog::kind(*a) : std::nullopt;
        if (kind == quarnkit::MarkKind::text) beginEditing(EditorTarget::text(*selectedMark));
        else if (kind == quarnkit::MarkKind::note) beginEditing(EditorTarget::note(*selectedMark));
        else return false;
        return true;
    }
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (!selectedMark) return false;
        remove(*selectedMark, QStringLiteral("Delete"));
        return true;
    default: return false;
    }
}

bool MarkEditor::escape()
{
    if (const auto* moving = std::get_if<Move>(&drag_)) {
        // The mark goes back to where the gesture found it; nothing to undo.
        const Move gesture = *moving;
        drag_ = std::monostate{};
        preview(gesture.mark, gesture.before);
        refresh();
        return true;
    }
    if (const auto* resizing = std::get_if<Resize>(&drag_)) {
        const Resize gesture = *resizing;
        drag_ = std::monostate{};
        preview(gesture.mark, gesture.before);
        refresh();
        return true;
    }
    if (std::holds_alternative<Erase>(drag_)) {
        drag_ = std::monostate{};
        clearPreview();
        endEraseGroup();
        return true;
    }
    if (!std::holds_alternative<std::monostate>(drag_)) {
        drag_ = std::monostate{}; // the drawing is dropped
        clearPreview();
        return true;
    }
    if (selected()) {
        select(std::nullopt);
        return true;
    }
    if (view_.findIsPresented && view_.findIsPresented()) {
        if (view_.onDismissFind) view_.onDismissFind();
        return true;
    }
    if (view_.tool() == MarkupTool::select) return false;
    if (onChooseTool) onChooseTool(MarkupTool::select);
    else if (onToolChange) onToolChange(MarkupTool::select);
    return true;
}

void MarkEditor::abandon()
{
    drag_ = std::monostate{};
    endEraseGroup();
    clearPreview();
}

// ---------------------------------------------------------------- hover and overlay

void MarkEditor::hoverAt(QPointF p)
{
    if (!std::holds_alternative<std::monostate>(drag_)) return;
    const MarkupTool tool = view_.tool();
    const auto selectedMark = selected();
    if (tool == MarkupTool::select && selectedMark) {
        if (const auto handle = handleAt(p, *selectedMark)) {
            if (hoverHandle_ != handle || hovered_) {
                hoverHandle_ = handle;
                hovered_.reset();
                refresh();
            }
            Qt::CursorShape shape = Qt::CrossCursor;
            if (*handle != MarkHandle::start && *handle != MarkHandle::end) {
                if (const auto a = annotation(*selectedMark)) {
                    const QPointF centre =
                        view_.placement().convertFromPage(PdfPoint{a->rect.midX(), a->rect.midY()}, selectedMark->page);
                    const QPointF at =
                        view_.placement().convertFromPage(quarnkit::handlePoint(*handle, a->rect), selectedMark->page);
                    shape = resizeCursor(centre, at);
                }
            }
            view_.viewport()->setCursor(shape);
            return;
        }
    }
    if (hoverHandle_) {
        hoverHandle_.reset();
        refresh();
    }
    std::optional<MarkRef> hovered;
    if (tool == MarkupTool::select || tool == MarkupTool::eraser || tool == MarkupTool::note) {
        if (const auto at = view_.placement().pagePoint(p)) {
            hovered = markAt(at->point, at->page);
            if (hovered && tool == MarkupTool::note) {
                const auto a = annotation(*hovered);
                if (!a || quarnkit::MarkCatalog::kind(*a) != quarnkit::MarkKind::note) hovered.reset();
            }
        }
    }
    setHover(hovered);
    if (hovered && tool == MarkupTool::select) view_.viewport()->setCursor(Qt::OpenHandCursor);
    if (tool == MarkupTool::note) view_.viewport()->setCursor(hovered ? Qt::PointingHandCursor : Qt::CrossCursor);
}

void MarkEditor::clearPreview()
{
    overlay_->stroke.reset();
    overlay_->textLines.reset();
    overlay_->update();
}

void MarkEditor::fillOverlay()
{
    const quarnkit::ToolStyle& style = view_.style();
    const double scale = view_.scaleFactor();
    const QColor color = style.color.toQColor();
    const double lineWidth = std::max(style.stroke * scale, 1.0);

    // The live preview of the mark being drawn.
    overlay_->stroke.reset();
    overlay_->textLines.reset();
    if (auto* ink = std::get_if<Ink>(&drag_)) {
        MarkupOverlay::Stroke stroke{MarkupTool::pen, {}, color, lineWidth, false};
        for (const PdfPoint& p : inkPoints(ink->points, shift_))
            stroke.points.push_back(view_.placement().convertFromPage(p, ink->page));
        overlay_->stroke = std::move(stroke);
    } else if (auto* shape = std::get_if<Shape>(&drag_)) {
        bool boxPreview = !isTextMarkupTool(shape->tool);
        if (!boxPreview && shape->text && view_.placement().geometry(shape->page)) {
            const PdfRect media = view_.placement().geometry(shape->page)->mediaBox;
            const auto lines = AnnotationFactory::textLines(*shape->text, media, shape->start, shape->current);
            if (lines.empty() && shape->tool == MarkupTool::highlight) {
                boxPreview = true; // a highlight over no text is a plain box
            } else {
                MarkupOverlay::TextLines preview{shape->tool, {}, color, scale};
                for (const PdfRect& r : lines)
                    preview.rects.push_back(view_.placement().convertFromPage(r, shape->page));
                overlay_->textLines = std::move(preview);
            }
        }
        if (boxPreview) {
            overlay_->stroke =
                MarkupOverlay::Stroke{shape->tool,
                                      {view_.placement().convertFromPage(shape->start, shape->page),
                                       view_.placement().convertFromPage(
                                           shapeEnd(shape->tool, shape->start, shape->current, shift_), shape->page)},
                                      color,
                                      lineWidth,
                                      style.filled};
        }
    }

    // The selected mark's frame and handles.
    overlay_->selection.reset();
    const auto selected = this->selected();
    const auto selectedMark = selected ? annotation(*selected) : std::nullopt;
    if (selectedMark) {
        const auto points = handlePoints(view_.placement(), *selectedMark, selected->page);
        MarkupOverlay::Selection selection;
        for (const auto& [handle, at] : points) selection.handles.push_back(at);
        if (points.size() == 2 && points.front().first == MarkHandle::start) {
            selection.line = std::make_pair(points[0].second, points[1].second);
        } else {
            const QRectF frame = view_.placement().convertFromPage(selectedMark->rect, selected->page);
            selection.frame = points.empty() ? frame.adjusted(-3, -3, 3, 3) : frame;
        }
        overlay_->selection = std::move(selection);
    }

    const auto hovered = hovered_;
    const auto hoveredMark = hovered ? annotation(*hovered) : std::nullopt;

    // A note's text beside it: the hovered note, else the selected one.
    overlay_->bubble.reset();
    const auto isNote = [](const std::optional<Annotation>& a) {
        return a && quarnkit::MarkCatalog::kind(*a) == quarnkit::MarkKind::note;
    };
    const auto& [noteRef, note] =
        isNote(hoveredMark) ? std::tie(hovered, hoveredMark) : std::tie(selected, selectedMark);
    // A note whose words are being typed shows them in its editor, not twice.
    const bool typedInto = hasEditor() && editorTarget_ && editorTarget_->kind == EditorTarget::Kind::note && noteRef
                           && editorTarget_->object == noteRef->object;
    if (isNote(note) && !typedInto) {
        const bool shown =
            view_.tool() == MarkupTool::select || view_.tool() == MarkupTool::note || noteRef == selected;
        const QString text = QString::fromStdString(note->contents).trimmed();
        if (shown && !text.isEmpty())
            overlay_->bubble = MarkupOverlay::Bubble{
                view_.placement().convertFromPage(note->rect, noteRef->page), text,
                note->color ? QColor::fromRgbF(float(note->color->r), float(note->color->g), float(note->color->b))
                            : quarnkit::Design::accent()};
    }

    // The hovered mark: an outline with Select, the eraser's trail with the eraser.
    overlay_->hover.reset();
    if (!hoveredMark) return;
    const QRectF box = view_.placement().convertFromPage(hoveredMark->rect, hovered->page);
    if (view_.tool() == MarkupTool::select) {
        if (!(selected == hovered))
            overlay_->hover = MarkupOverlay::Hover{box.adjusted(-2, -2, 2, 2), std::nullopt, 1.5};
    } else if (view_.tool() == MarkupTool::eraser) {
        const double width = std::max(hoveredMark->borderWidth.value_or(1) * scale + 6, 6.0);
        QPainterPath path;
        if (const auto ends = MarkEditing::lineEnds(*hoveredMark)) {
            path.moveTo(view_.placement().convertFromPage(ends->first, hovered->page));
            path.lineTo(view_.placement().convertFromPage(ends->second, hovered->page));
            overlay_->hover = MarkupOverlay::Hover{std::nullopt, path, width};
        } else if (AnnotationFactory::matches(*hoveredMark, "Ink") && !hoveredMark->inkList.empty()) {
            for (const auto& stroke : hoveredMark->inkList) {
                if (stroke.empty()) continue;
                path.moveTo(view_.placement().convertFromPage(stroke.front(), hovered->page));
                if (stroke.size() == 1) path.lineTo(path.currentPosition() + QPointF(0.5, 0)); // a dot shows too
                for (std::size_t i = 1; i < stroke.size(); ++i)
                    path.lineTo(view_.placement().convertFromPage(stroke[i], hovered->page));
            }
            overlay_->hover = MarkupOverlay::Hover{std::nullopt, path, width};
        } else {
            path.addRoundedRect(box.adjusted(-2, -2, 2, 2), 3, 3);
            overlay_->hover = MarkupOverlay::Hover{std::nullopt, path, 1.5};
        }
    }
}

} // namespace quarn
