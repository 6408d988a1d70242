#include "Quarn/Viewer/ViewerOnPages.h"

#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageSteps.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/ReadingHistory.h"
#include "Quarn/Viewer/Slideshow.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Viewer/DroppedFiles.h"
#include "Quarn/Shell/WindowEvents.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace quarn {

using quarnkit::ZoomPreset;

namespace {

bool isTextInput(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget)
           || qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget);
}

// Whether the view has been attached to its model before, kept on the view.
constexpr const char* attachedProperty = "ravlenViewerAttached";

} // namespace

void showViewerOnPages(ViewerModel& model, QuarnPDFView& view)
{
    const QPointer<ViewerModel> self(&model);
    model.setPdfView(&view);
    view.onPage = [self](int index, int count) {
        if (self) self->notePage(index, count);
    };
    view.onZoom = [self](double scale) {
        if (self) self->noteZoom(scale);
    };
    acceptDroppedPdfs(view, [self](const QString& path) {
        if (self) self->openFile(path);
    });
    const auto noteView = [&view, self] {
        if (self) self->noteView(view.scaleFactor(), view.readingPoint());
    };
    QObject::connect(&view, &QuarnPDFView::boundsChanged, &model, noteView);
    noteView();
    QObject::connect(&view.history(), &ReadingHistory::changed, &model,
                     [&view, self] { self->noteHistory(view.history().canGoBack(), view.history().canGoForward()); });

    QObject::connect(&model, &ViewerModel::displayRequested, &view,
                     [&view](quarnkit::DisplayMode mode, bool cover, std::optional<int> keep) {
                         view.applyDisplay(mode, cover);
                         if (keep && view.quarnDocument() && *keep >= 0 && *keep < view.pageCount()
                             && view.currentPageIndex() != *keep)
                             view.goToPage(*keep);
                     });
    QObject::connect(&model, &ViewerModel::scaleRequested, &view, [&view](double scale) {
        view.setAutoScales(false);
        view.setScaleFactor(scale);
    });
    QObject::connect(&model, &ViewerModel::fitRequested, &view, [&view, self](ZoomPreset fit, bool spreads, bool keep) {
        const std::optional<double> scale =
            fit == ZoomPreset::fitWidth ? view.fitWidth(spreads) : view.fitPage(spreads, keep);
        self->noteFitted(scale);
    });
    QObject::connect(&model, &ViewerModel::pageRequested, &view,
                     [&view](int index, std::optional<platform::PdfPoint> point) { view.goToPage(index, point); });
    QObject::connect(&model, &ViewerModel::focusRequested, &view, [&view] {
        if (!view.hasFocus()) view.setFocus(Qt::OtherFocusReason);
    });
    QObject::connect(&model, &ViewerModel::slideshowRequested, &view,
                     [&view, self] { Slideshow::startFor(*self, view); });
    // Keys turn pages before the focused widget sees them, while the window's viewer runs.
    WindowEvents::listenForKeys(view,
                                [page = QPointer<QuarnPDFView>(&view), self](QKeyEvent* event, QObject* receiver) {
                                    return page && self && self->isRunning() && handlePageKey(*page, event, receiver);
                                });
}

void attachViewerToPages(ViewerModel& model, QuarnPDFView& view)
{
    view.applyDisplay(model.displayMode(), model.coverSeparately());
    if (view.property(attachedProperty).toBool()) return;
    view.setProperty(attachedProperty, true);
    model.viewAttached();
    model.noteHistory(view.history().canGoBack(), view.history().canGoForward());
    const QPointer<ViewerModel> self(&model);
    const QPointer<QuarnPDFView> page(&view);
    const quint64 epoch = model.epoch();
    // Once the view has its window and size: as it shows, before its first
    // tiles are asked for, so that they are the ones the reading position
    // shows; else through the view's own readiness wait.
    page->whenReady(1, [self, epoch](QuarnPDFView&) {
        if (self && self->epoch() == epoch) self->restoreReadingPosition();
    });
}

bool handlePageKey(QuarnPDFView& view, QKeyEvent* event, QObject* receiver)
{
    if (!view.isVisible()) return false;
    QWidget* window = view.window();
    auto* target = qobject_cast<QWidget*>(receiver);
    if (!target || target->window() != window) return false; // another window's key
    if (!window->isActiveWindow() || QApplication::activeModalWidget()) return false;
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;

    // The page view owns the keys when nothing else in the window has the focus.
    QWidget* focus = QApplication::focusWidget();
    // A form field's editor or control on the page answers its own keys.
    const bool inView =
        focus == &view || (view.isAncestorOf(focus) && !isTextInput(focus) && !WindowEvents::focusClaims(event));
    const bool ownsKeys = !focus || focus == window || inView;
    if (!ownsKeys) return false;

    auto focusView = [&view] {
        if (!view.hasFocus()) view.setFocus(Qt::OtherFocusReason);
    };
    switch (event->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Down:
    case Qt::Key_Up:
    case Qt::Key_Space: focusView(); return false;
    case Qt::Key_Left:
    case Qt::Key_Right:
        // With a mark selected the arrows move it.
        if (!view.interactions().holdArrows() && !view.placement().overflowsHorizontally()) {
            if (event->key() == Qt::Key_Left) goToPreviousPage(view);
            else goToNextPage(view);
            return true;
        }
        focusView();
        return false;
    case Qt::Key_End: goToLastPage(view); return true;
    case Qt::Key_Home: goToFirstPage(view); return true;
    default: return false;
    }
}

} // namespace quarn
