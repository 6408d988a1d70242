#pragma once
// The hub of one document window: the published state that the window's bars,
// panels and menus read and write, the runtime that keeps the page view in
// step (reading position, page keys, display mode, fits), and the zoom
// operations. The viewer screen owns it; the page view is held weakly and
// reports back through callbacks that hold the model weakly.
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/Annotation.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/History/LibraryPanel.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Markup/ToolMemory.h"
#include "QuarnKit/Shell/RGBA.h"
#include "QuarnKit/Viewer/DisplayModes.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <set>
#include <vector>

class QKeyEvent;


namespace quarnkit { struct OutlineDestination; }

namespace platform { class UserDefaults; }

namespace quarn {

class QuarnPDFView;
struct MarkRef;

using quarnkit::LibraryPanel;

class ViewerModel : public QObject {
    Q_OBJECT

public:
    // Reads the default display mode from `defaults` (the standard user
    // defaults when none); reading positions go to `positions` (the shared
    // store when none).
    explicit ViewerModel(platform::UserDefaults* defaults = nullptr,
                         quarnkit::ReadingPositionStore* positions = nullptr, QObject* parent = nullptr);
    ~ViewerModel() override;

    // ------------------------------------------------------------ published state

    // The panel of the library column; starts as last chosen, and every choice is saved.
    LibraryPanel libraryPanel() const { return libraryPanel_; }
    void setLibraryPanel(LibraryPanel panel);

    // ------------------------------------------------------------ library column (Quarn/History/ViewerModelLibrary.cpp)

    // The rail's action: the panel already shown hides the column (the
    // choice stays); another panel, or any while the column is hidden,
    // shows the column with it.
    void toggleLibrary(LibraryPanel panel);
    // The menu's action: as toggleLibrary, and a History or Explore column
    // that comes up is asked to put the keys in its search field.
    void toggleLibraryAndFocus(LibraryPanel panel);
    // A one-shot request that the named panel focus its search field.
    std::optional<LibraryPanel> libraryFocusRequest() const { return libraryFocusRequest_; }
    // Clears the request and answers true when it names `panel`.
    bool takeLibraryFocusRequest(LibraryPanel panel);

    int pageIndex() const { return pageIndex_; }
    int pageCount() const { return pageCount_; }
    double zoom() const { return zoom_; }

    quarnkit::DisplayMode displayMode() const { return displayMode_; }
    bool coverSeparately() const { return coverSeparately_; }
    void setCoverSeparately(bool cover);
    std::optional<quarnkit::ZoomPreset> zoomFit() const { return zoomFit_; }
    bool canGoBack() const { return canGoBack_; }
    bool canGoForward() const { return canGoForward_; }
    int pageFieldToken() const { return pageFieldToken_; }
    void focusPageField();

    // ------------------------------------------------------------ links

    QuarnPDFView* pdfView() const;
    void setPdfView(QuarnPDFView* view);
    quarnkit::QuarnDocument* document() const { return document_.data(); }
    void setDocument(quarnkit::QuarnDocument* document) { document_ = document; }
    const QString& filePath() const { return filePath_; }
    void setFilePath(const QString& path) { filePath_ = path; }
    // Opens a file as a document window of its own; set by the window's owner.
    std::function<void(const QString& path)> openFileHandler;

    platform::UserDefaults& defaults() const { return defaults_; }

    // ------------------------------------------------------------ slideshow (Slideshow.cpp)

    // Full screen from the current page; nothing while a slideshow runs.
    void startSlideshow();
    // Shows the top of a page (where a slideshow ended) and gives the page view the keys.
    void showPage(int index);

    // ------------------------------------------------------------ binding

    // Keeps the view weakly and installs its callbacks, each holding the model weakly.
    void bind(QuarnPDFView* view);
    void openFile(const QString& path);

    // ------------------------------------------------------------ runtime

    // Installs the page-key filter and the quit observer. Called when the
    // window's content is shown.
    void start();
    // Saves the position at once, then cancels every pending timer and task
    // of the window and removes the key filter and the observers.
    void stop();
    bool isRunning() const { return running_; }
    // Applies the display mode; the first time for a view, also restores the
    // reading position once the view is ready.
    void attach(QuarnPDFView* view);
    void scheduleReadingPositionSave();
    void saveReadingPosition();
    std::optional<quarnkit::ReadingPosition> currentPosition() const;
    // The reading position has been restored (positions are saved from then on).
    bool isReading() const { return reading_; }
    void setDisplayMode(quarnkit::DisplayMode mode);
    void applyDisplayMode();
    void zoomChanged();
    void viewResized();
    void documentChanged();
    // True when a key event turned a page (and must not go further).
    bool handlePageKey(QKeyEvent* event, QObject* receiver);

    // ------------------------------------------------------------ zoom

    void zoomIn();
    void zoomOut();
    void stepZoom(bool up);
    void setZoom(double scale);
    void fitPage();
    void fitWidth();
    std::optional<double> fittedScale() const { return fittedScale_; }

    // The delays of the runtime, in milliseconds.
    static constexpr int positionSaveDelayMs = 600;

signals:
    // One signal per published value, sent only when the value changed.
    void libraryPanelChanged(LibraryPanel panel);
    void libraryFocusRequestChanged(std::optional<LibraryPanel> panel);
    void pageIndexChanged(int index);
    void pageCountChanged(int count);
    void zoomValueChanged(double zoom);
    void displayModeChanged(quarnkit::DisplayMode mode);
    void coverSeparatelyChanged(bool cover);
    void zoomFitChanged();
    void historyStateChanged();
    void pageFieldTokenChanged(int token);
    // The window stopped (stop()): delayed work of its parts must end.
    void stopped();
    // An edit added, removed or moved pages.
    void pagesMoved();
    // Any of the published values above.
    void changed();

private:
    class KeyFilter;
    // Assigns a published value and reports it, only when it changed.
    template <typename T, typename Signal>
    bool assign(T& field, const T& value, Signal signal)
    {
        if (field == value) return false;
        field = value;
        emit (this->*signal)(value);
        emit changed();
        return true;
    }
    void restoreReadingPosition(QuarnPDFView& view);
    std::optional<quarnkit::ReadingPosition> storedPosition() const;
    void observeHistory(QuarnPDFView* view);
    void refit();
    void setZoomFit(std::optional<quarnkit::ZoomPreset> fit);
    size_t pageSignature() const;
    // Runs `work` after `ms` unless the window stops first or the model goes.
    void later(int ms, std::function<void()> work);

    platform::UserDefaults& defaults_;
    quarnkit::ReadingPositionStore& positions_;
    LibraryPanel libraryPanel_ = LibraryPanel::document;
    std::optional<LibraryPanel> libraryFocusRequest_;
    int pageIndex_ = 0;
    int pageCount_ = 0;
    double zoom_ = 1.0;
    quarnkit::DisplayMode displayMode_;
    bool coverSeparately_ = false;
    std::optional<quarnkit::ZoomPreset> zoomFit_ = quarnkit::ZoomPreset::fitPage;
    bool canGoBack_ = false;
    bool canGoForward_ = false;
    int pageFieldToken_ = 0;

    QPointer<QuarnPDFView> pdfView_;
    QPointer<quarnkit::QuarnDocument> document_;
    QString filePath_;

    // Runtime.
    std::optional<double> fittedScale_;
    std::optional<size_t> pageSignature_;
    QPointer<QuarnPDFView> readyView_;
    bool reading_ = false;
    std::optional<quarnkit::ReadingPosition> pending_;
    QTimer saveTimer_;
    KeyFilter* keyFilter_ = nullptr;
    bool running_ = false;
    // Raised by stop(): delayed work from before the stop does nothing.
    quint64 epoch_ = 0;
    QMetaObject::Connection quitConnection_;
    QMetaObject::Connection historyConnection_;
};

} // namespace quarn
