// The editing of marks in the page view: selection, hover, gestures and the
// context menu. The gestures themselves live in MarkGestures; with the Select
// tool a press that hits no mark falls through to text selection.
#include "Quarn/Viewer/QuarnPDFView.h"

#include "Quarn/Markup/MarkGestures.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

namespace quarn {

QuarnPDFView::MarkGestures& QuarnPDFView::gestures()
{
    if (!gestures_) gestures_ = std::make_shared<MarkGestures>(*this);
    return *gestures_;
}

void QuarnPDFView::select(std::optional<MarkRef> mark)
{
    const bool changed = !(mark == selectedAnnotation_);
    selectedAnnotation_ = mark;
    if (changed) gestures().burst.reset();
    if (changed && mark) clearSelection();
    if (onSelection) onSelection(selectedAnnotation_.has_value());
    if (onInspect) {
        const auto annotation = mark ? gestures().annotation(*mark) : std::nullopt;
        onInspect(annotation ? quarnkit::MarkCatalog::style(*annotation) : std::nullopt);
    }
    refreshSelection();
}

void QuarnPDFView::add(const MarkRef& mark, int page, const QString& actionName)
{
    gestures().registerAdded(MarkRef{page, mark.object}, actionName);
}

namespace {

// Single keys that choose a tool or an ink swatch, as the shortcut table has
// them; a letter counts with or without Shift. Keys with Ctrl, Alt or Meta,
// and every key while the in-place editor is open, are left alone.
bool chooseByKey(QuarnPDFView& view, const QKeyEvent* event)
{
    using quarnkit::ShortcutCommand;
    if (view.hasEditor()) return false;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const auto command = quarnkit::KeyboardShortcuts::command(QKeyCombination(Qt::NoModifier, Qt::Key(event->key())),
                                                              quarnkit::ShortcutContext::pageView);
    if (!command) return false;
    const int c = int(*command);
    if (c >= int(ShortcutCommand::toolSelect) && c <= int(ShortcutCommand::toolEraser)) {
        const auto tool = quarnkit::allTools[size_t(c - int(ShortcutCommand::toolSelect))];
        if (view.onChooseTool)
            view.onChooseTool(tool);
        else if (view.onToolChange)
            view.onToolChange(tool);
        return true;
    }
    if (c >= int(ShortcutCommand::swatch1) && c <= int(ShortcutCommand::swatch8)) {
        const int index = c - int(ShortcutCommand::swatch1);
        if (index >= int(quarnkit::RGBA::swatches.size())) return false;
        if (view.onChooseSwatch)
            view.onChooseSwatch(index);
        else if (view.onSwatchIndex)
            view.onSwatchIndex(index);
        return true;
    }
    return false;
}

} // namespace

bool QuarnPDFView::handleKey(QKeyEvent* event)
{
    if (guardedGesture([&] { return gestures().key(event); })) return true;
    return chooseByKey(*this, event);
}

void QuarnPDFView::refreshSelection() { gestures().overlay->update(); }

void QuarnPDFView::refreshHover(QPointF viewportPoint)
{
    if (hasEditor()) return; // marks under the pointer wait while words are typed
    guardedGesture([&] {
        gestures().refreshHover(viewportPoint);
        return true;
    });
}

void QuarnPDFView::setHover(std::optional<MarkRef> mark)
{
    if (!mark && gestures_ && gestures_->hoverHandle) {
        gestures_->hoverHandle.reset(); // leaving the view lets go of a hovered handle too
        overlay_->update();
    }
    if (mark == hoverAnnotation_) return;
    hoverAnnotation_ = mark;
    overlay_->update();
}

std::optional<MarkRef> QuarnPDFView::mark(platform::PdfPoint at, int page) const
{
    return gestures_ ? gestures_->markAt(at, page) : std::nullopt;
}

QMenu* QuarnPDFView::contextMenu()
{
    auto* menu = new QMenu(this);
    const auto selected = selectedAnnotation_ ? gestures().annotation(*selectedAnnotation_) : std::nullopt;
    if (selected) {
        const auto kind = quarnkit::MarkCatalog::kind(*selected);
        if (kind == quarnkit::MarkKind::text || kind == quarnkit::MarkKind::note) {
            menu->addAction(kind == quarnkit::MarkKind::text ? tr("Edit Text") : tr("Edit Note"), this,
                            [this] { editSelectedText(); });
            menu->addSeparator();
        }
        menu->addAction(tr("Cut"), QKeySequence::Cut, this, [this] { cutSelectedMark(); })->setEnabled(!hasEditor());
        menu->addAction(tr("Copy"), QKeySequence::Copy, this, [this] { copySelectedMark(); });
        menu->addAction(tr("Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D), this, [this] { duplicateSelection(); });
        menu->addAction(tr("Delete Mark"), this, [this] { removeSelection(QStringLiteral("Delete")); })
            ->setEnabled(!hasEditor());
        menu->addSeparator();
        menu->addAction(tr("Bring to Front"), this, [this] { reorderSelection(true); });
        menu->addAction(tr("Send to Back"), this, [this] { reorderSelection(false); });
    } else {
        if (!currentSelection().text.empty()) menu->addAction(tr("Copy"), QKeySequence::Copy, this, [this] { copy(); });
        if (canPasteMarks()) menu->addAction(tr("Paste"), QKeySequence::Paste, this, [this] { pasteMarks(); });
    }
    if (pageCount() > 0) {
        if (!menu->isEmpty()) menu->addSeparator();
        menu->addAction(tr("Copy Page"), this, [this] { copyPage(); });
    }
    return menu;
}

void QuarnPDFView::copyPage()
{
    if (!document() || pageCount() == 0) return;
    const int page = std::max(0, currentPageIndex());
    // Twice the page's size in points, but never a picture beyond 8192 pixels
    // a side: a page of a few metres would otherwise ask for gigabytes.
    const platform::PdfSize size = geometries_[page].displaySize;
    const double longest = std::max(size.width, size.height);
    const double scale = longest > 0 ? std::min(2.0, 8192.0 / longest) : 2.0;
    QImage image;
    try {
        image = document()->render(page, scale);
    } catch (const std::exception& error) {
        showErrorAlert(QString::fromUtf8(error.what()));
        return;
    }
    if (image.isNull()) {
        showErrorAlert(tr("The page could not be drawn."));
        return;
    }
    image.setDevicePixelRatio(scale); // its size stays the page's size in points
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setImage(image);
}

// A page whose marks cannot be read (a damaged file) must not take the
// window down from inside an event handler: the gesture is dropped.
template <typename F> bool QuarnPDFView::guardedGesture(F&& step)
{
    try {
        return step();
    } catch (const std::exception&) {
        gestures().abandon();
        return true;
    }
}

bool QuarnPDFView::editingMousePress(QMouseEvent* event)
{
    return guardedGesture([&] { return gestures().press(event); });
}

bool QuarnPDFView::editingMouseMove(QMouseEvent* event)
{
    return guardedGesture([&] { return gestures().move(event); });
}

bool QuarnPDFView::editingMouseRelease(QMouseEvent* event)
{
    return guardedGesture([&] { return gestures().release(event); });
}

} // namespace quarn
