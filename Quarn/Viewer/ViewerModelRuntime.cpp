// The runtime of a window's viewer: start and stop, attaching to the page
// view, restoring and saving the reading position, the display mode, fits
// that follow the view's size, and the keys that turn pages.
#include "Quarn/Viewer/ViewerModel.h"

#include "Platform/UserDefaults.h"

#include "Quarn/Viewer/QuarnPDFView.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <functional>

namespace quarn {

using namespace quarnkit;

// The application-wide key filter of one window's model: sees key presses
// before the focused widget does, and swallows those that turned a page.
class ViewerModel::KeyFilter : public QObject {
public:
    explicit KeyFilter(ViewerModel* model) : QObject(model), model_(model) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !model_) return false;
        // A key press travels up the parent chain; act on its first receiver only.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key == lastEvent_ && watched != lastReceiver_) return false;
        lastEvent_ = key;
        lastReceiver_ = watched;
        return model_->handlePageKey(key, watched);
    }

private:
    QPointer<ViewerModel> model_;
    const QKeyEvent* lastEvent_ = nullptr;
    const QObject* lastReceiver_ = nullptr;
};

void ViewerModel::later(int ms, std::function<void()> work)
{
    const quint64 epoch = epoch_;
    QTimer::singleShot(ms, this, [this, epoch, work = std::move(work)] {
        if (epoch == epoch_) work();
    });
}

// ---------------------------------------------------------------- start and stop

void ViewerModel::start()
{
    running_ = true;
    if (!keyFilter_) {
        keyFilter_ = new KeyFilter(this);
        qApp->installEventFilter(keyFilter_);
    }
    if (readyView_ && !historyConnection_) observeHistory(readyView_);
    if (!quitConnection_)
        quitConnection_ = connect(qApp, &QCoreApplication::aboutToQuit, this, &ViewerModel::saveReadingPosition);
}

void ViewerModel::stop()
{
    saveReadingPosition();
    running_ = false;
    ++epoch_; // every delayed task queued so far does nothing when it comes
    saveTimer_.stop();
    // A search waiting to start, running, or publishing its matches ends here.
    emit stopped();
    if (keyFilter_) {
        qApp->removeEventFilter(keyFilter_);
        delete keyFilter_;
        keyFilter_ = nullptr;
    }
    disconnect(quitConnection_);
    disconnect(historyConnection_);
    quitConnection_ = {};
    historyConnection_ = {};
}

void ViewerModel::observeHistory(QuarnPDFView* view)
{
    disconnect(historyConnection_);
    const QPointer<QuarnPDFView> weakView(view);
    historyConnection_ = connect(view, &QuarnPDFView::historyChanged, this, [this, weakView] {
        if (!weakView) return;
        const bool back = weakView->canGoBack(), forward = weakView->canGoForward();
        if (back == canGoBack_ && forward == canGoForward_) return;
        canGoBack_ = back;
        canGoForward_ = forward;
        emit historyStateChanged();
        emit changed();
    });
}

// ---------------------------------------------------------------- attaching

size_t ViewerModel::pageSignature() const
{
    return document_ ? document_->pageSignature() : 0;
}

void ViewerModel::attach(QuarnPDFView* view)
{
    if (!view) return;
    view->applyDisplay(displayMode_, coverSeparately_);
    if (readyView_ == view) return;
    readyView_ = view;
    // Not before a long file's pages are all read: the first edit then counts
    // as one that may have moved pages.
    pageSignature_ = view->quarnDocument() && document_ && document_->pageMapReady() ? std::optional<size_t>(pageSignature())
                                                                               : std::nullopt;
    observeHistory(view);

    const QPointer<ViewerModel> self(this);
    const QPointer<QuarnPDFView> weakView(view);
    const quint64 epoch = epoch_;
    // On the next turn the view has its window and size; the view's own
    // readiness wait keeps checking (quickly at first, then every 0.25 s)
    // for as long as it exists.
    later(0, [self, weakView, epoch] {
        if (!weakView) return;
        weakView->whenReady(1, [self, epoch](QuarnPDFView& ready) {
            if (self && self->epoch_ == epoch) self->restoreReadingPosition(ready);
        });
    });
}

// ---------------------------------------------------------------- reading position

std::optional<ReadingPosition> ViewerModel::storedPosition() const
{
    if (!ReaderPreferences::restorePosition(defaults_) || filePath_.isEmpty()) return std::nullopt;
    const std::optional<FileFingerprint> fingerprint = FileFingerprint::of(filePath_);
    if (!fingerprint) return std::nullopt;
    return positions_.position(*fingerprint);
}

void ViewerModel::restoreReadingPosition(QuarnPDFView& view)
{
    if (const std::optional<ReadingPosition> stored = storedPosition()) {
        assign(displayMode_, stored->mode, &ViewerModel::displayModeChanged);
        assign(coverSeparately_, stored->coverSeparately, &ViewerModel::coverSeparatelyChanged);
        view.applyDisplay(displayMode_, coverSeparately_);
        switch (stored->zoom.kind) {
        case ReadingZoom::Kind::scale: setZoom(stored->zoom.scale); break;
        case ReadingZoom::Kind::fitWidth: fitWidth(); break;
        case ReadingZoom::Kind::fitPage: fitPage(); break;
        }
        view.goToPage(stored->page, stored->point);
    } else {
        switch (ReaderPreferences::defaultZoom(defaults_)) {
        case ZoomPreset::fitPage: fitPage(); break;
        case ZoomPreset::fitWidth: fitWidth(); break;
        case ZoomPreset::actualSize: setZoom(1.0); break;
        }
    }
    reading_ = true;
    if (!view.hasFocus()) view.setFocus(Qt::OtherFocusReason);
}

std::optional<ReadingPosition> ViewerModel::currentPosition() const
{
    if (!pdfView_) return std::nullopt;
    const std::optional<PageDestination> location = pdfView_->readingPoint();
    if (!location) return std::nullopt;
    ReadingPosition position;
    position.page = location->page;
    position.point = location->point;
    if (zoomFit_ == ZoomPreset::fitPage)
        position.zoom = ReadingZoom::fitPage();
    else if (zoomFit_ == ZoomPreset::fitWidth)
        position.zoom = ReadingZoom::fitWidth();
    else
        position.zoom = ReadingZoom::fixed(pdfView_->scaleFactor());
    position.mode = displayMode_;
    position.coverSeparately = coverSeparately_;
    return position;
}

void ViewerModel::scheduleReadingPositionSave()
{
    if (!reading_) return;
    const std::optional<ReadingPosition> position = currentPosition();
    if (!position) return;
    pending_ = position;
    // Every call within the delay pushes the save back.
    saveTimer_.start();
}

void ViewerModel::saveReadingPosition()
{
    saveTimer_.stop();
    if (reading_)
        if (const std::optional<ReadingPosition> position = currentPosition()) pending_ = position;
    if (!pending_ || filePath_.isEmpty()) return;
    if (const std::optional<FileFingerprint> fingerprint = FileFingerprint::of(filePath_))
        positions_.save(*pending_, *fingerprint);
}

// ---------------------------------------------------------------- display mode

void ViewerModel::setDisplayMode(DisplayMode mode)
{
    if (assign(displayMode_, mode, &ViewerModel::displayModeChanged)) applyDisplayMode();
}

void ViewerModel::applyDisplayMode()
{
    const int keep = pageIndex_;
    if (QuarnPDFView* view = pdfView_) {
        view->applyDisplay(displayMode_, coverSeparately_);
        if (view->quarnDocument() && keep >= 0 && keep < view->pageCount() && view->currentPageIndex() != keep)
            view->goToPage(keep);
        if (zoomFit_ == ZoomPreset::fitPage)
            fitPage();
        else if (zoomFit_ == ZoomPreset::fitWidth)
            fitWidth();
    }
    scheduleReadingPositionSave();
}

// ---------------------------------------------------------------- follow-ups

void ViewerModel::zoomChanged()
{
    if (zoomFit_ && pdfView_ && fittedScale_ && std::abs(pdfView_->scaleFactor() - *fittedScale_) > 0.002)
        setZoomFit(std::nullopt); // the user zoomed away from the fit
    scheduleReadingPositionSave();
}

void ViewerModel::viewResized()
{
    if (zoomFit_) later(0, [this] { refit(); });
}

void ViewerModel::refit()
{
    QuarnPDFView* view = pdfView_;
    if (!view || !zoomFit_) return;
    const bool spreads = showsSpreads(displayMode_);
    if (*zoomFit_ == ZoomPreset::fitPage)
        fittedScale_ = view->fitPage(spreads, false);
    else if (*zoomFit_ == ZoomPreset::fitWidth)
        fittedScale_ = view->fitWidth(spreads);
}

void ViewerModel::documentChanged()
{
    if (!document_) return;
    const size_t signature = pageSignature();
    const bool moved = !pageSignature_ || *pageSignature_ != signature;
    pageSignature_ = signature;
    if (moved) emit pagesMoved();
}

// ---------------------------------------------------------------- page keys

namespace {

bool isTextInput(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget);
}

} // namespace

bool ViewerModel::handlePageKey(QKeyEvent* event, QObject* receiver)
{
    QuarnPDFView* view = pdfView_;
    if (!view || !view->isVisible()) return false;
    QWidget* window = view->window();
    auto* target = qobject_cast<QWidget*>(receiver);
    if (!target || target->window() != window) return false; // another window's key
    if (!window->isActiveWindow() || QApplication::activeModalWidget()) return false;

    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers != Qt::NoModifier) return false;

    // The page view owns the keys when nothing else in the window has the focus.
    QWidget* focus = QApplication::focusWidget();
    const bool ownsKeys =
        !focus || focus == window || (!isTextInput(focus) && (focus == view || view->isAncestorOf(focus)));
    if (!ownsKeys) return false;

    auto focusView = [view] {
        if (!view->hasFocus()) view->setFocus(Qt::OtherFocusReason);
    };
    switch (key) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Down:
    case Qt::Key_Up:
    case Qt::Key_Space:
        focusView();
        return false;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!view->selectedAnnotation() && !view->overflowsHorizontally()) {
            if (key == Qt::Key_Left)
                view->goToPreviousPage();
            else
                view->goToNextPage();
            return true;
        }
        focusView();
        return false;
    case Qt::Key_End:
        view->goToLastPage();
        return true;
    case Qt::Key_Home:
        view->goToFirstPage();
        return true;
    default:
        return false;
    }
}

} // namespace quarn
