#pragma once
// A document full screen, one page at a time on black, with a small page
// counter that fades in and out, stepping by keys and clicks, and a pointer
// that hides until the mouse moves. Only one slideshow runs in the
// application (`current`). It shows the window's document without owning the
// window: the window it returns to is held weakly, and the exit callback is
// told the page shown last.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Viewer/ReadableText.h"

#include <QAccessible>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;
class QScreen;

namespace quarn {

class QuarnPDFView;
class ViewerModel;

// The borderless full-screen window. Closing it only asks the slideshow to end.
class SlideshowWindow : public QWidget {
    Q_OBJECT
public:
    SlideshowWindow();
    std::function<void()> onClose;

protected:
    void closeEvent(QCloseEvent* event) override;
};

// The page area: the current page fitted into the view on black. Pages are
// sized, then drawn, on a render worker; until the current page's image
// arrives at the current size, the last image drawn stands in for it, scaled
// to fit.
class SlideshowView : public QWidget, private QAccessible::ActivationObserver {
    Q_OBJECT
public:
    explicit SlideshowView(QWidget* parent = nullptr);
    ~SlideshowView() override;

    // None lets go of the document.
    void setDocument(quarnkit::QuarnDocument* document);
    quarnkit::QuarnDocument* document() const { return document_.data(); }
    int pageCount() const;
    // -1 without a document.
    int currentPageIndex() const { return document_ ? page_ : -1; }
    void goToPage(int index);
    bool canGoToNextPage() const;
    bool canGoToPreviousPage() const;
    void goToNextPage();
    void goToPreviousPage();
    void goToFirstPage();
    void goToLastPage();

    // Keys go here first; false lets the view's own handling run.
    std::function<bool(QKeyEvent*)> onKey;
    // True for a left click, false for a right one.
    std::function<void(bool forward)> onClick;
    std::function<void()> onMove;

    // Where the current page is drawn while the lowest `reservedBottom`
    // pixels are kept free of it; empty without a page, or until its size
    // has been read (pageSized).
    QRect pageRect(int reservedBottom) const;
    // Whether the current page's size has been read.
    bool currentPageSized() const;
    // Keeps the lowest pixels free of the page (room for the counter).
    void setReservedBottom(int pixels);
    int reservedBottom() const { return reservedBottom_; }

    // Hides the pointer until the mouse next moves over the view.
    void hidePointerUntilMoved();
    void showPointer();
    bool pointerHidden() const { return pointerHidden_; }

    // The image shown is the current page's at the view's size (black when
    // that page could not be drawn), not a stand-in.
    bool showsCurrentPage() const;

    // What a screen reader meets: a document named "Page 3 of 20" whose text
    // is that page's, read on a worker while a reader listens (empty until
    // it comes; the reader hears when it does).
    QString readerName() const;
    const quarnkit::ReadableText& readerText() const;

signals:
    void pageChanged(int page);
    // The current page's size has been read: pageRect knows where it goes.
    void pageSized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The pixels the page is drawn into: the view less the reserved bottom.
    QSize wantedPixels() const;
    // Asks a worker for the current page unless its image is here or coming;
    // for its size first, which decides the room the page is drawn in.
    void renderCurrentPage();
    // The page changed: a reader hears its name, and its text when it comes.
    void tellReader();
    void readerTextCame(int page, quint64 reading, std::shared_ptr<const quarnkit::ReadableText> text);
    // A reader came or left: the page is read only while one listens.
    void accessibilityActiveChanged(bool active) override;

    QPointer<quarnkit::QuarnDocument> document_;
    int page_ = 0;
    bool pointerHidden_ = false;
    QImage image_;
    int imagePage_ = -1;
    QSize imageSize_;
    int pendingPage_ = -1;
    QSize pendingSize_;
    // Raised with each document: renders of an earlier one are dropped.
    quint64 documentSerial_ = 0;
    // The pages' sizes in points as shown, none for a page that has none;
    // and the pages whose size a worker reads.
    std::map<int, std::optional<QSizeF>> sizes_;
    std::set<int> sizing_;
    int reservedBottom_ = 0;
    // The current page's text for a reader, and the reading under way.
    std::shared_ptr<const quarnkit::ReadableText> readerText_;
    mutable quint64 readerReading_ = 0;
    mutable bool readerAsked_ = false;
    bool listening_ = QAccessible::isActive();
    std::shared_ptr<int> alive_ = std::make_shared<int>(0); // its end drops a text still coming
};

// The page counter at the bottom centre: "3 of 20".
class SlideshowCounter : public QWidget {
    Q_OBJECT
public:
    explicit SlideshowCounter(QWidget* parent = nullptr);
    QString text() const;
    void setText(const QString& text);
    // Fades to `opacity` over `ms`.
    void fade(double opacity, int ms);
    double opacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_;
    QGraphicsOpacityEffect* effect_;
    QPropertyAnimation* animation_;
};

class Slideshow : public QObject {
    Q_OBJECT
public:
    // The counter's bottom edge above the screen's.
    static constexpr int counterFromBottom = 28;
    // How long the counter stays after the last change, and its fades.
    static constexpr int counterShownMs = 1600;
    static constexpr int fadeInMs = 150;
    static constexpr int fadeOutMs = 450;

    Slideshow(quarnkit::QuarnDocument* document, QScreen* screen, QWidget* host, std::function<void(int page)> onExit);
    ~Slideshow() override;

    // The running slideshow, if any.
    // The window's slideshow over its page view, from the current page;
    // nothing while a slideshow runs. When it ends the viewer shows its page.
    static void startFor(ViewerModel& model, QuarnPDFView& view);
    static Slideshow* current();
    static void setCurrent(Slideshow* slideshow);

    // Shows the window full screen at `page`.
    void start(int page);
    // Ends once: back to the host window, which is told the page shown last.
    // The slideshow deletes itself afterwards.
    void end();

    SlideshowWindow* window() const { return window_.get(); }
    SlideshowView* pages() const { return pages_; }
    SlideshowCounter* counter() const { return counter_; }
    bool counterFadePending() const { return hideWork_.isActive(); }

    // True when the key was used.
    bool handleSlideshowKey(QKeyEvent* event);
    void advance(bool forward);
    void showCounter();
    void hideCounter();

private:
    void placeCounter();

    std::unique_ptr<SlideshowWindow> window_;
    SlideshowView* pages_;
    SlideshowCounter* counter_;
    std::function<void(int)> onExit_;
    QPointer<QWidget> host_;
    QTimer hideWork_;
    QMetaObject::Connection pageObserver_;
    QMetaObject::Connection activeObserver_;
};

} // namespace quarn
