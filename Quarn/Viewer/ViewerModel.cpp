#include "Quarn/Viewer/ViewerModel.h"

#include "Platform/UserDefaults.h"

#include "Quarn/Viewer/QuarnPDFView.h"

namespace quarn {

using namespace quarnkit;

ViewerModel::ViewerModel(platform::UserDefaults* defaults, ReadingPositionStore* positions, QObject* parent)
    : QObject(parent),
      defaults_(defaults ? *defaults : platform::UserDefaults::standard()),
      positions_(positions ? *positions : ReadingPositionStore::shared()),
      libraryPanel_(quarnkit::LibraryPanels::saved(defaults_)),
      displayMode_(ReaderPreferences::defaultMode(defaults_))
{
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(positionSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, &ViewerModel::saveReadingPosition);
}

ViewerModel::~ViewerModel() = default;

// ---------------------------------------------------------------- published state

void ViewerModel::setLibraryPanel(LibraryPanel panel)
{
    quarnkit::LibraryPanels::save(defaults_, panel);
    assign(libraryPanel_, panel, &ViewerModel::libraryPanelChanged);
}
void ViewerModel::setCoverSeparately(bool cover)
{
    assign(coverSeparately_, cover, &ViewerModel::coverSeparatelyChanged);
}

void ViewerModel::focusPageField()
{
    assign(pageFieldToken_, pageFieldToken_ + 1, &ViewerModel::pageFieldTokenChanged);
}

QuarnPDFView* ViewerModel::pdfView() const { return pdfView_.data(); }
void ViewerModel::setPdfView(QuarnPDFView* view) { pdfView_ = view; }

// ---------------------------------------------------------------- binding

void ViewerModel::bind(QuarnPDFView* view)
{
    pdfView_ = view;
    const QPointer<ViewerModel> self(this);
    view->onPage = [self](int index, int count) {
        if (!self) return;
        self->assign(self->pageIndex_, index, &ViewerModel::pageIndexChanged);
        self->assign(self->pageCount_, count, &ViewerModel::pageCountChanged);
    };
    view->onZoom = [self](double scale) {
        if (!self || std::abs(self->zoom_ - scale) <= 0.001) return;
        self->assign(self->zoom_, scale, &ViewerModel::zoomValueChanged);
    };
    view->onOpenFile = [self](const QString& path) {
        if (self) self->openFile(path);
    };
}

void ViewerModel::openFile(const QString& path)
{
    // The file opens as a window of its own, never into this one.
    if (openFileHandler) openFileHandler(path);
}

} // namespace quarn
