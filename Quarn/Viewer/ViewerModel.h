#pragma once
// The viewer of one document window: its document and file, the page being
// read, the zoom and its fits, the display mode, the back/forward state and
// the reading position, restored when the page view is ready and saved as
// the reader moves. The window's feature models (find, markup, pages,
// signing, forms, document actions) are its children, made on first use.
//
// The model knows no view: it asks the page view for what it needs through
// signals (a scale, a fit, a layout, a page, the keyboard), and the view
// reports back what it shows (ViewerOnPages.h). It keeps only a weak link to
// the window's page view, for the menus and bars that act on the view itself.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Viewer/DisplayModes.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace platform {
class UserDefaults;
}

namespace quarn {

class QuarnPDFView;

class ViewerModel : public QObject {
    Q_OBJECT

public:
    // Reads the default display mode from `defaults` (the standard user
    // defaults when none); reading positions go to `positions` (the shared
    // store when none).
    explicit ViewerModel(platform::UserDefaults* defaults = nullptr,
                         quarnkit::ReadingPositionStore* positions = nullptr, QObject* parent = nullptr);
    ~ViewerModel() override;

    // ------------------------------------------------------------ the window

    quarnkit::QuarnDocument* document() const { return document_.data(); }
    void setDocument(quarnkit::QuarnDocument* document);
    const QString& filePath() const { return filePath_; }
    void setFilePath(const QString& path) { filePath_ = path; }
    platform::UserDefaults& defaults() const { return defaults_; }
    // The window's page view while it has one, for what acts on the view itself.
    QuarnPDFView* pdfView() const;
    void setPdfView(QuarnPDFView* view);
    // Opens a file as a document window of its own (never into this one); set by the window's owner.
    std::function<void(const QString& path)> openFileHandler;
    void openFile(const QString& path);

    // ------------------------------------------------------------ what the view shows

    int pageIndex() const { return pageIndex_; }
    int pageCount() const { return pageCount_; }
    double zoom() const { return zoom_; }
    bool canGoBack() const { return canGoBack_; }
    bool canGoForward() const { return canGoForward_; }
    int pageFieldToken() const { return pageFieldToken_; }
    void focusPageField();
    // Reports of the page view: the page and count, the scale (late, for the
    // bars), the scale and reading point as they change (at once), the
    // back/forward state, the scale a fit chose.
    void notePage(int index, int count);
    void noteZoom(double scale);
    void noteView(double scale, std::optional<quarnkit::PageDestination> readingPoint);
    void noteHistory(bool canGoBack, bool canGoForward);
    void noteFitted(std::optional<double> scale) { fittedScale_ = scale; }

    // ------------------------------------------------------------ display mode and zoom

    quarnkit::DisplayMode displayMode() const { return displayMode_; }
    void setDisplayMode(quarnkit::DisplayMode mode);
    bool coverSeparately() const { return coverSeparately_; }
    void setCoverSeparately(bool cover);
    // Lays the pages out in the display mode, keeping the page, and fits again.
    void applyDisplayMode();
    std::optional<quarnkit::ZoomPreset> zoomFit() const { return zoomFit_; }
    std::optional<double> fittedScale() const { return fittedScale_; }
    void zoomIn();
    void zoomOut();
    void setZoom(double scale);
    void fitPage();
    void fitWidth();
    // The view was resized (not by a column opening beside it): a fit follows.
    void viewResized();
    // After the zoom changed: a zoom away from the fit ends the fit.
    void zoomChanged();
    // Full screen from the current page; nothing while a slideshow runs.
    void startSlideshow();

    // ------------------------------------------------------------ the window's life

    // Starts watching quit, to save the reading position. Called when the
    // window's content is shown.
    void start();
    // Saves the position at once, then cancels every pending timer and task
    // of the window (stopped()).
    void stop();
    bool isRunning() const { return running_; }
    // Raised by stop(): work asked for before a stop does nothing after it.
    quint64 epoch() const { return epoch_; }
    // A page view was attached: edits from now on are compared with its
    // pages. Before a long file's pages are all read, the first edit counts
    // as one that may have moved pages.
    void viewAttached();
    // Restores the file's reading position, or applies the default zoom; the
    // position is saved from then on (isReading).
    void restoreReadingPosition();
    bool isReading() const { return reading_; }
    void scheduleReadingPositionSave();
    void saveReadingPosition();
    std::optional<quarnkit::ReadingPosition> currentPosition() const;
    // After every edit of the document: tells pagesMoved when pages changed.
    void documentChanged();

    // The delays of the runtime, in milliseconds.
    static constexpr int positionSaveDelayMs = 600;

signals:
    // One signal per published value, sent only when the value changed.
    void pageIndexChanged(int index);
    void pageCountChanged(int count);
    void zoomValueChanged(double zoom);
    void displayModeChanged(quarnkit::DisplayMode mode);
    void coverSeparatelyChanged(bool cover);
    void zoomFitChanged();
    void historyStateChanged();
    void pageFieldTokenChanged(int token);
    // Any of the published values above.
    void changed();
    // The window stopped (stop()): delayed work of its parts must end.
    void stopped();
    // An edit added, removed or moved pages.
    void pagesMoved();
    // The window holds another document (Revert): its parts listen to that one.
    void documentReplaced();

    // Asked of the page view: lay the pages out (then show `keepPage` again
    // when given), take a fixed scale, fit (reporting the scale through
    // noteFitted), show a page, take the keyboard, play a slideshow.
    void displayRequested(quarnkit::DisplayMode mode, bool coverSeparately, std::optional<int> keepPage);
    void scaleRequested(double scale);
    void fitRequested(quarnkit::ZoomPreset fit, bool spreads, bool keepPage);
    void pageRequested(int index, std::optional<platform::PdfPoint> point);
    void focusRequested();
    void slideshowRequested();

private:
    // Assigns a published value and reports it, only when it changed.
    template <typename T, typename Signal>
    bool assign(T& field, const T& value, Signal signal);
    void setZoomFit(std::optional<quarnkit::ZoomPreset> fit);
    // Runs `work` after `ms` unless the window stops first or the model goes.
    void later(int ms, std::function<void()> work);

    platform::UserDefaults& defaults_;
    quarnkit::ReadingPositionStore& positions_;
    QPointer<quarnkit::QuarnDocument> document_;
    QString filePath_;
    QPointer<QuarnPDFView> pdfView_;

    int pageIndex_ = 0;
    int pageCount_ = 0;
    double zoom_ = 1.0;
    std::optional<double> viewScale_;                       // the view's scale, as of now
    std::optional<quarnkit::PageDestination> readingPoint_; // the view's, as of now
    bool canGoBack_ = false;
    bool canGoForward_ = false;
    int pageFieldToken_ = 0;

    quarnkit::DisplayMode displayMode_;
    bool coverSeparately_ = false;
    std::optional<quarnkit::ZoomPreset> zoomFit_ = quarnkit::ZoomPreset::fitPage;
    std::optional<double> fittedScale_;

    std::optional<size_t> pageSignature_;
    bool reading_ = false;
    std::optional<quarnkit::ReadingPosition> pending_;
    QTimer saveTimer_;
    bool running_ = false;
    quint64 epoch_ = 0;
    QMetaObject::Connection quitConnection_;
};

} // namespace quarn
