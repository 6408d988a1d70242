#include "Quarn/Viewer/Slideshow.h"

#include "Quarn/Design/AccessibleWindow.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Markup/PageText.h"
#include "QuarnKit/Viewer/FittedPage.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

#include <algorithm>

namespace quarn {

namespace {

// The application's one running slideshow.
QPointer<Slideshow>& runningSlideshow()
{
    static QPointer<Slideshow> running;
    return running;
}

void paintBlack(QWidget& widget)
{
    widget.setAutoFillBackground(true);
    QPalette p = widget.palette();
    p.setColor(QPalette::Window, Qt::black);
    widget.setPalette(p);
}

// The page shown as a reader's document: named after it, with its text.
class SlideshowViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit SlideshowViewAccessible(SlideshowView* view) : QAccessibleWidget(view, QAccessible::Document) {}
    SlideshowView* view() const { return static_cast<SlideshowView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) return view()->readerName();
        if (t == QAccessible::Description && view()->readerText().isImageOnly())
            return SlideshowView::tr("This page is an image, with no text to read.");
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        return state;
    }

    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int characterCount() const override { return view()->readerText().size(); }
    QString text(int start, int end) const override
    {
        const QString& all = view()->readerText().text();
        if (end < 0 || end > all.size()) end = int(all.size());
        start = std::clamp(start, 0, end);
        return all.mid(start, end - start);
    }
    // The page fills the screen: a character is somewhere on it.
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }
};

QAccessibleInterface* slideshowAccessible(const QString&, QObject* object)
{
    auto* view = qobject_cast<SlideshowView*>(object);
    return view ? new SlideshowViewAccessible(view) : nullptr;
}

} // namespace

// ---------------------------------------------------------------- window

SlideshowWindow::SlideshowWindow() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    setWindowTitle(tr("Slideshow"));
    exposeAsWindow(this);
    paintBlack(*this);
    setMouseTracking(true);
}

void SlideshowWindow::closeEvent(QCloseEvent* event)
{
    // The slideshow decides: it hides the window itself when it ends.
    event->ignore();
    if (onClose) onClose();
}

// ---------------------------------------------------------------- page view

SlideshowView::SlideshowView(QWidget* parent) : QWidget(parent)
{
    paintBlack(*this);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::PreventContextMenu);
    static const bool readable = (QAccessible::installFactory(slideshowAccessible), true);
    Q_UNUSED(readable);
    QAccessible::installActivationObserver(this);
}

SlideshowView::~SlideshowView() { QAccessible::removeActivationObserver(this); }

void SlideshowView::accessibilityActiveChanged(bool active)
{
    listening_ = active;
    if (!active) tellReader(); // nothing kept for a reader gone
}

void SlideshowView::setDocument(quarnkit::QuarnDocument* document)
{
    document_ = document;
    page_ = 0;
    image_ = QImage();
    imagePage_ = -1;
    pendingPage_ = -1;
    ++documentSerial_;
    sizes_.clear();
    sizing_.clear();
    update();
    tellReader();
}

int SlideshowView::pageCount() const { return document_ ? document_->pageCount() : 0; }

void SlideshowView::goToPage(int index)
{
    if (!document_ || pageCount() == 0) return;
    const int page = std::clamp(index, 0, pageCount() - 1);
    if (page == page_) return;
    page_ = page;
    update();
    tellReader();
    emit pageChanged(page_);
}

QString SlideshowView::readerName() const
{
    if (pageCount() == 0) return tr("No pages");
    return tr("Page %1 of %2").arg(page_ + 1).arg(pageCount());
}

const quarnkit::ReadableText& SlideshowView::readerText() const
{
    static const quarnkit::ReadableText none;
    if (readerText_) return *readerText_;
    // Asked before it came, by a reader listening: a worker reads it.
    if (readerAsked_ || !document_ || pageCount() == 0 || !listening_) return none;
    readerAsked_ = true;
    const quint64 reading = ++readerReading_;
    const int page = page_;
    auto* self = const_cast<SlideshowView*>(this);
    quarnkit::PageText::readOnWorker(
        *document_, page, alive_, [self, page, reading](quarnkit::PageTextLayout&& layout) -> std::function<void()> {
            auto text = std::make_shared<const quarnkit::ReadableText>(layout);
            return [self, page, reading, text] { self->readerTextCame(page, reading, text); };
        });
    return none;
}

void SlideshowView::tellReader()
{
    const QString before = readerText_ ? readerText_->text() : QString();
    readerText_.reset();
    readerAsked_ = false;
    ++readerReading_; // a text still coming is another page's
    if (!listening_) return;
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    if (!before.isEmpty()) {
        QAccessibleTextRemoveEvent removed(this, 0, before);
        QAccessible::updateAccessibility(&removed);
    }
    readerText(); // read at once for the reader that listens
}

void SlideshowView::readerTextCame(int page, quint64 reading, std::shared_ptr<const quarnkit::ReadableText> text)
{
    if (reading != readerReading_ || page != page_) return;
    readerText_ = std::move(text);
    if (readerText_->isImageOnly()) {
        QAccessibleEvent redescribed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&redescribed);
    }
    if (!readerText_->isEmpty()) {
        QAccessibleTextInsertEvent inserted(this, 0, readerText_->text());
        QAccessible::updateAccessibility(&inserted);
    }
}

bool SlideshowView::canGoToNextPage() const { return document_ && page_ + 1 < pageCount(); }
bool SlideshowView::canGoToPreviousPage() const { return document_ && page_ > 0; }
void SlideshowView::goToNextPage() { goToPage(page_ + 1); }
void SlideshowView::goToPreviousPage() { goToPage(page_ - 1); }
void SlideshowView::goToFirstPage() { goToPage(0); }
void SlideshowView::goToLastPage() { goToPage(pageCount() - 1); }

void SlideshowView::hidePointerUntilMoved()
{
    pointerHidden_ = true;
    setCursor(Qt::BlankCursor);
}

void SlideshowView::showPointer()
{
    pointerHidden_ = false;
    unsetCursor();
}

bool SlideshowView::currentPageSized() const { return document_ && sizes_.count(page_); }

QRect SlideshowView::pageRect(int reservedBottom) const
{
    const auto known = sizes_.find(page_);
    if (!document_ || known == sizes_.end() || !known->second) return {};
    const QSize room(width(), std::max(1, height() - reservedBottom));
    const QSizeF shown = known->second->scaled(QSizeF(room), Qt::KeepAspectRatio);
    return QRectF(QPointF((room.width() - shown.width()) / 2, (room.height() - shown.height()) / 2), shown)
        .toAlignedRect();
}

void SlideshowView::setReservedBottom(int pixels)
{
    if (pixels == reservedBottom_) return;
    reservedBottom_ = pixels;
    update(); // drawn again for the new room
}

QSize SlideshowView::wantedPixels() const
{
    return QSize(width(), std::max(1, height() - reservedBottom_)) * devicePixelRatioF();
}

bool SlideshowView::showsCurrentPage() const
{
    return document_ && imagePage_ == page_ && imageSize_ == wantedPixels();
}

void SlideshowView::renderCurrentPage()
{
    if (!sizes_.count(page_)) {
        if (sizing_.count(page_)) return;
        sizing_.insert(page_);
        const int page = page_;
        const quint64 serial = documentSerial_;
        quarnkit::readDrawnSize(*document_, page, this, [this, page, serial](std::optional<QSizeF> size) {
            if (serial != documentSerial_) return;
            sizing_.erase(page);
            sizes_[page] = size;
            if (page != page_) return;
            emit pageSized(); // the room around the page is settled before it is drawn
            update();
        });
        return;
    }
    const QSize wanted = wantedPixels();
    if (showsCurrentPage() || (pendingPage_ == page_ && pendingSize_ == wanted)) return;
    pendingPage_ = page_;
    pendingSize_ = wanted;
    const int page = page_;
    const quint64 serial = documentSerial_;
    const double ratio = devicePixelRatioF();
    quarnkit::renderFittedPage(*document_, page, wanted, this, [this, page, wanted, serial, ratio](QImage image) {
        // A page left meanwhile, or a size since changed, keeps what is shown.
        if (serial != documentSerial_) return;
        if (pendingPage_ == page && pendingSize_ == wanted) pendingPage_ = -1;
        if (page != page_ || wanted != wantedPixels()) return;
        // A page that cannot be drawn shows as black; the others still show.
        image.setDevicePixelRatio(ratio);
        image_ = std::move(image);
        imagePage_ = page;
        imageSize_ = wanted;
        update();
    });
}

void SlideshowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!document_ || page_ >= pageCount()) return;
    renderCurrentPage();
    if (image_.isNull()) return;
    const double room = height() - reservedBottom_;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (showsCurrentPage()) {
        const QSizeF shown = image_.deviceIndependentSize();
        painter.drawImage(QPointF((width() - shown.width()) / 2, (room - shown.height()) / 2), image_);
        return;
    }
    // The image of another page or size, scaled to the room until the new one comes.
    const QSizeF shown = image_.deviceIndependentSize().scaled(QSizeF(width(), room), Qt::KeepAspectRatio);
    painter.drawImage(QRectF(QPointF((width() - shown.width()) / 2, (room - shown.height()) / 2), shown), image_);
}

void SlideshowView::keyPressEvent(QKeyEvent* event)
{
    if (onKey && onKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SlideshowView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
        if (onClick) onClick(event->button() == Qt::LeftButton);
        event->accept();
        return;
    }
    event->ignore();
}

void SlideshowView::mouseMoveEvent(QMouseEvent* event)
{
    // Drags move nothing; any movement brings the pointer and the counter back.
    if (pointerHidden_) showPointer();
    if (onMove) onMove();
    event->accept();
}

void SlideshowView::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }

// ---------------------------------------------------------------- counter

SlideshowCounter::SlideshowCounter(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 6);
    label_ = new QLabel(this);
    label_->setFont(uiFont(13, QFont::Medium));
    label_->setAlignment(Qt::AlignCenter);
    QPalette p = label_->palette();
    p.setColor(QPalette::WindowText, QColor::fromRgbF(1, 1, 1, 0.82f));
    label_->setPalette(p);
    layout->addWidget(label_);

    effect_ = new QGraphicsOpacityEffect(this);
    effect_->setOpacity(0);
    setGraphicsEffect(effect_);
    animation_ = new QPropertyAnimation(effect_, "opacity", this);
}

QString SlideshowCounter::text() const { return label_->text(); }

void SlideshowCounter::setText(const QString& text)
{
    label_->setText(text);
    adjustSize();
}

void SlideshowCounter::fade(double opacity, int ms)
{
    animation_->stop();
    animation_->setDuration(ms);
    animation_->setStartValue(effect_->opacity());
    animation_->setEndValue(opacity);
    animation_->start();
}

double SlideshowCounter::opacity() const { return effect_->opacity(); }

void SlideshowCounter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 4, 4);
    // A dark backing under the faint white tint keeps the white digits
    // readable over a white page as well as over black.
    painter.fillPath(path, QColor::fromRgbF(0, 0, 0, 0.55f));
    painter.fillPath(path, QColor::fromRgbF(1, 1, 1, 0.1f));
}

// ---------------------------------------------------------------- slideshow

Slideshow::Slideshow(quarnkit::QuarnDocument* document, QScreen* screen, QWidget* host, std::function<void(int)> onExit)
    : window_(std::make_unique<SlideshowWindow>()), onExit_(std::move(onExit)), host_(host)
{
    if (screen) {
        window_->setScreen(screen);
        window_->setGeometry(screen->geometry());
    }
    pages_ = new SlideshowView(window_.get());
    pages_->setDocument(document);
    counter_ = new SlideshowCounter(window_.get());
    auto* layout = new QHBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);

    hideWork_.setSingleShot(true);
    hideWork_.setInterval(counterShownMs);
    connect(&hideWork_, &QTimer::timeout, this, &Slideshow::hideCounter);

    const QPointer<Slideshow> self(this);
    window_->onClose = [self] {
        if (self) self->end();
    };
    pages_->onKey = [self](QKeyEvent* event) { return self && self->handleSlideshowKey(event); };
    pages_->onClick = [self](bool forward) {
        if (self) self->advance(forward);
    };
    pages_->onMove = [self] {
        if (self) self->showCounter();
    };
    connect(pages_, &SlideshowView::pageSized, this, &Slideshow::placeCounter);
}

Slideshow::~Slideshow()
{
    if (runningSlideshow() == this) runningSlideshow() = nullptr;
}

Slideshow* Slideshow::current() { return runningSlideshow().data(); }
void Slideshow::setCurrent(Slideshow* slideshow) { runningSlideshow() = slideshow; }

void Slideshow::start(int page)
{
    // The window covers the whole screen, panels included, while it is shown.
    window_->showFullScreen();
    window_->raise();
    window_->activateWindow();
    pages_->setFocus(Qt::OtherFocusReason);
    if (page >= 0 && page < pages_->pageCount()) pages_->goToPage(page);

    const QPointer<Slideshow> self(this);
    pageObserver_ = connect(pages_, &SlideshowView::pageChanged, this, &Slideshow::showCounter);
    // Leaving the application keeps the counter shown until the next fade.
    activeObserver_ =
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [self](Qt::ApplicationState state) {
            if (self && state != Qt::ApplicationActive) self->hideWork_.stop();
        });
    showCounter();
}

void Slideshow::placeCounter()
{
    // The counter never covers the page (its footer, its page number): it
    // stands at the bottom centre when the page leaves room below it, else
    // in the margin beside the page, else the page gives up a strip at the
    // bottom for it.
    counter_->adjustSize();
    const QSize area = window_->size();
    const QSize size = counter_->size();
    const int band = counterFromBottom + size.height() + 8;
    const QRect page = pages_->pageRect(0);
    QPoint at((area.width() - size.width()) / 2, area.height() - counterFromBottom - size.height());
    const int beside = area.width() - page.right() - 1;
    if (!pages_->currentPageSized()) {
        // Placed again when the page's size has been read (pageSized); the
        // room below stays as the last page left it meanwhile.
    } else if (page.isEmpty() || page.bottom() < area.height() - band) {
        pages_->setReservedBottom(0);
    } else if (beside >= size.width() + 32) {
        pages_->setReservedBottom(0);
        at.setX(page.right() + 1 + (beside - size.width()) / 2);
    } else {
        pages_->setReservedBottom(band);
    }
    counter_->move(at);
    counter_->raise();
}

void Slideshow::showCounter()
{
    if (!pages_->document()) return;
    const int index = std::max(pages_->currentPageIndex(), 0);
    counter_->setText(tr("%1 of %2").arg(index + 1).arg(pages_->pageCount()));
    placeCounter();
    counter_->show();
    counter_->fade(1, fadeInMs);
    hideWork_.start();
}

void Slideshow::hideCounter()
{
    counter_->fade(0, fadeOutMs);
    pages_->hidePointerUntilMoved();
}

bool Slideshow::handleSlideshowKey(QKeyEvent* event)
{
    const Qt::KeyboardModifiers flags = event->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    if (flags != Qt::NoModifier && flags != Qt::ShiftModifier) {
        // Ctrl+. ends, as Escape does; other combinations are not ours.
        if (flags == Qt::ControlModifier && event->key() == Qt::Key_Period) {
            end();
            return true;
        }
        return false;
    }
    const auto step = [this](bool forward) {
        const bool can = forward ? pages_->canGoToNextPage() : pages_->canGoToPreviousPage();
        if (!can) {
            showCounter(); // at either end: nothing moves, the counter says where we are
            return;
        }
        if (forward) pages_->goToNextPage();
        else pages_->goToPreviousPage();
        pages_->hidePointerUntilMoved();
    };
    switch (event->key()) {
    case Qt::Key_P:
    case Qt::Key_Backspace:
    case Qt::Key_PageUp:
    case Qt::Key_Left:
    case Qt::Key_Up: step(false); return true;
    case Qt::Key_Return:
    case Qt::Key_N:
    case Qt::Key_Enter:
    case Qt::Key_PageDown:
    case Qt::Key_Right:
    case Qt::Key_Down: step(true); return true;
    case Qt::Key_Space: step(flags != Qt::ShiftModifier); return true;
    case Qt::Key_Escape: end(); return true;
    case Qt::Key_Home: pages_->goToFirstPage(); return true;
    case Qt::Key_End: pages_->goToLastPage(); return true;
    default: return false;
    }
}

void Slideshow::advance(bool forward)
{
    const bool can = forward ? pages_->canGoToNextPage() : pages_->canGoToPreviousPage();
    if (!can) {
        showCounter();
        return;
    }
    if (forward) pages_->goToNextPage();
    else pages_->goToPreviousPage();
    pages_->hidePointerUntilMoved();
}

void Slideshow::end()
{
    if (current() != this) return;
    setCurrent(nullptr);
    const int index = std::max(pages_->currentPageIndex(), 0);

    hideWork_.stop();
    disconnect(pageObserver_);
    disconnect(activeObserver_);
    pages_->showPointer();

    window_->onClose = nullptr;
    window_->hide();
    pages_->setDocument(nullptr);

    if (host_) {
        host_->raise();
        host_->activateWindow();
    }
    if (onExit_) onExit_(index);
    // Not at once: end() may run inside the slideshow's own key handling.
    deleteLater();
}

// ---------------------------------------------------------------- the viewer's slideshow

void Slideshow::startFor(ViewerModel& model, QuarnPDFView& view)
{
    quarnkit::QuarnDocument* document = view.quarnDocument() ? view.quarnDocument() : model.document();
    if (!document || document->isLocked() || document->pageCount() == 0) return;
    if (current()) return;

    QWidget* host = view.window();
    QScreen* screen = host && host->screen() ? host->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;

    // Where it ended: that page's top, and the keys for the pages.
    const QPointer<QuarnPDFView> pages(&view);
    auto* slideshow = new Slideshow(document, screen, host, [pages](int index) {
        if (!pages) return;
        if (pages->quarnDocument() && index >= 0 && index < pages->quarnDocument()->pageCount()) pages->goToPage(index);
        if (!pages->hasFocus()) pages->setFocus(Qt::OtherFocusReason);
    });
    setCurrent(slideshow);
    slideshow->start(std::clamp(model.pageIndex(), 0, document->pageCount() - 1));
}

} // namespace quarn
