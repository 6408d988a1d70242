#include "Quarn/Viewer/ViewerModel.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/QuarnPDFView.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace quarn {

using namespace quarnkit;

ViewerModel::ViewerModel(platform::UserDefaults* defaults, ReadingPositionStore* positions, QObject* parent)
    : QObject(parent), defaults_(defaults ? *defaults : platform::UserDefaults::standard()),
      positions_(positions ? *positions : ReadingPositionStore::shared()),
      displayMode_(ReaderPreferences::defaultMode(defaults_))
{
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(positionSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, &ViewerModel::saveReadingPosition);
}

ViewerModel::~ViewerModel() = default;

template <typename T, typename Signal>
bool ViewerModel::assign(T& field, const T& value, Signal signal)
{
    if (field == value) return false;
    field = value;
    emit(this->*signal)(value);
    emit changed();
    return true;
}

void ViewerModel::later(int ms, std::function<void()> work)
{
    const quint64 epoch = epoch_;
    QTimer::singleShot(ms, this, [this, epoch, work = std::move(work)] {
        if (epoch == epoch_) work();
    });
}

// ---------------------------------------------------------------- the window

QuarnPDFView* ViewerModel::pdfView() const { return pdfView_.data(); }

void ViewerModel::setPdfView(QuarnPDFView* view) { pdfView_ = view; }

void ViewerModel::openFile(const QString& path)
{
    if (openFileHandler) openFileHandler(path);
}

// ---------------------------------------------------------------- what the view shows

void ViewerModel::focusPageField()
{
    assign(pageFieldToken_, pageFieldToken_ + 1, &ViewerModel::pageFieldTokenChanged);
}

void ViewerModel::notePage(int index, int count)
{
    assign(pageIndex_, index, &ViewerModel::pageIndexChanged);
    assign(pageCount_, count, &ViewerModel::pageCountChanged);
}

void ViewerModel::noteZoom(double scale)
{
    if (std::abs(zoom_ - scale) <= 0.001) return;
    assign(zoom_, scale, &ViewerModel::zoomValueChanged);
}

void ViewerModel::noteView(double scale, std::optional<PageDestination> readingPoint)
{
    viewScale_ = scale;
    readingPoint_ = readingPoint;
}

void ViewerModel::noteHistory(bool canGoBack, bool canGoForward)
{
    if (canGoBack == canGoBack_ && canGoForward == canGoForward_) return;
    canGoBack_ = canGoBack;
    canGoForward_ = canGoForward;
    emit historyStateChanged();
    emit changed();
}

// ---------------------------------------------------------------- display mode and zoom

void ViewerModel::setDisplayMode(DisplayMode mode)
{
    if (assign(displayMode_, mode, &ViewerModel::displayModeChanged)) applyDisplayMode();
}

void ViewerModel::setCoverSeparately(bool cover)
{
    assign(coverSeparately_, cover, &ViewerModel::coverSeparatelyChanged);
}

void ViewerModel::applyDisplayMode()
{
    if (pdfView_) {
        emit displayRequested(displayMode_, coverSeparately_, pageIndex_);
        if (zoomFit_ == ZoomPreset::fitPage) fitPage();
        else if (zoomFit_ == ZoomPreset::fitWidth) fitWidth();
    }
    scheduleReadingPositionSave();
}

void ViewerModel::setZoomFit(std::optional<ZoomPreset> fit)
{
    if (zoomFit_ == fit) return;
    zoomFit_ = fit;
    emit zoomFitChanged();
    emit changed();
}

void ViewerModel::zoomIn() { setZoom(ZoomLevel::step(viewScale_.value_or(zoom_), true)); }
void ViewerModel::zoomOut() { setZoom(ZoomLevel::step(viewScale_.value_or(zoom_), false)); }

void ViewerModel::setZoom(double scale)
{
    setZoomFit(std::nullopt);
    emit scaleRequested(std::clamp(scale, ZoomLevel::minimum, ZoomLevel::maximum));
}

void ViewerModel::fitPage()
{
    fittedScale_.reset();
    emit fitRequested(ZoomPreset::fitPage, showsSpreads(displayMode_), true);
    setZoomFit(ZoomPreset::fitPage);
}

void ViewerModel::fitWidth()
{
    fittedScale_.reset();
    emit fitRequested(ZoomPreset::fitWidth, showsSpreads(displayMode_), false);
    setZoomFit(ZoomPreset::fitWidth);
}

void ViewerModel::zoomChanged()
{
    if (zoomFit_ && pdfView_ && fittedScale_ && viewScale_ && std::abs(*viewScale_ - *fittedScale_) > 0.002)
        setZoomFit(std::nullopt); // the user zoomed away from the fit
    scheduleReadingPositionSave();
}

void ViewerModel::viewResized()
{
    // A fit that follows the size keeps whatever page is in view.
    if (zoomFit_)
        later(0, [this] {
            if (zoomFit_) emit fitRequested(*zoomFit_, showsSpreads(displayMode_), false);
        });
}

void ViewerModel::startSlideshow() { emit slideshowRequested(); }

// ---------------------------------------------------------------- the window's life

void ViewerModel::start()
{
    running_ = true;
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
    disconnect(quitConnection_);
    quitConnection_ = {};
}

void ViewerModel::viewAttached()
{
    pageSignature_ =
        document_ && document_->pageMapReady() ? std::optional<size_t>(document_->pageSignature()) : std::nullopt;
}

void ViewerModel::setDocument(quarnkit::QuarnDocument* document)
{
    if (document == document_) return;
    document_ = document;
    emit documentReplaced();
}

void ViewerModel::documentChanged()
{
    if (!document_) return;
    const size_t signature = document_->pageSignature();
    const bool moved = !pageSignature_ || *pageSignature_ != signature;
    pageSignature_ = signature;
    if (moved) emit pagesMoved();
}

// ---------------------------------------------------------------- reading position

void ViewerModel::restoreReadingPosition()
{
    std::optional<ReadingPosition> stored;
    if (ReaderPreferences::restorePosition(defaults_) && !filePath_.isEmpty())
        if (const std::optional<FileFingerprint> fingerprint = FileFingerprint::of(filePath_))
            stored = positions_.position(*fingerprint);
    if (stored) {
        assign(displayMode_, stored->mode, &ViewerModel::displayModeChanged);
        assign(coverSeparately_, stored->coverSeparately, &ViewerModel::coverSeparatelyChanged);
        emit displayRequested(displayMode_, coverSeparately_, std::nullopt);
        switch (stored->zoom.kind) {
        case ReadingZoom::Kind::scale: setZoom(stored->zoom.scale); break;
        case ReadingZoom::Kind::fitWidth: fitWidth(); break;
        case ReadingZoom::Kind::fitPage: fitPage(); break;
        }
        emit pageRequested(stored->page, stored->point);
    } else {
        switch (ReaderPreferences::defaultZoom(defaults_)) {
        case ZoomPreset::fitPage: fitPage(); break;
        case ZoomPreset::fitWidth: fitWidth(); break;
        case ZoomPreset::actualSize: setZoom(1.0); break;
        }
    }
    reading_ = true;
    emit focusRequested();
}

std::optional<ReadingPosition> ViewerModel::currentPosition() const
{
    if (!pdfView_ || !readingPoint_) return std::nullopt;
    ReadingPosition position;
    position.page = readingPoint_->page;
    position.point = readingPoint_->point;
    if (zoomFit_ == ZoomPreset::fitPage) position.zoom = ReadingZoom::fitPage();
    else if (zoomFit_ == ZoomPreset::fitWidth) position.zoom = ReadingZoom::fitWidth();
    else position.zoom = ReadingZoom::fixed(viewScale_.value_or(zoom_));
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

} // namespace quarn
