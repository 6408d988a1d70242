#include "Quarn/Design/Motion.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "QuarnKit/Shell/ReducedMotion.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <utility>

namespace quarn::motion {

namespace {

// The application-wide answer: 0 unknown, 1 full motion, 2 reduced.
std::atomic<int>& answer()
{
    static std::atomic<int> value{0};
    return value;
}

// How many EasedChange live now (on the UI thread).
int& easedChanges()
{
    static int count = 0;
    return count;
}

std::atomic<bool>& started()
{
    static std::atomic<bool> value{false};
    return value;
}

} // namespace

void readAtStart()
{
    if (started().exchange(true)) return;
    // Asking the desktop starts a process (gsettings): not while the first
    // window is being made and drawn, which needs no animation yet.
    QTimer::singleShot(250, [] {
        quarnkit::DroppableWork::shared().start([] {
            const bool reduced = quarnkit::ReducedMotion::readFromDesktop();
            int unknown = 0;
            answer().compare_exchange_strong(unknown, reduced ? 2 : 1);
        });
    });
}

void readNow()
{
    started() = true;
    answer() = quarnkit::ReducedMotion::readFromDesktop() ? 2 : 1;
}

bool reduced() { return answer() == 2; }

Ease::Ease(int milliseconds, std::function<void()> changed, QObject* parent)
    : QObject(parent), changed_(std::move(changed))
{
    animation_.setDuration(milliseconds);
    animation_.setEasingCurve(QEasingCurve::OutCubic);
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        value_ = v.toDouble();
        if (changed_) changed_();
    });
}

void Ease::moveTo(double target)
{
    if (reduced()) return jumpTo(target);
    if (animation_.state() == QAbstractAnimation::Running && animation_.endValue().toDouble() == target) return;
    animation_.stop();
    if (value_ == target) return;
    animation_.setStartValue(value_);
    animation_.setEndValue(target);
    animation_.start();
}

void Ease::jumpTo(double value)
{
    animation_.stop();
    if (value_ == value) return;
    value_ = value;
    if (changed_) changed_();
}

EasedChange::EasedChange() { ++easedChanges(); }

EasedChange::~EasedChange() { --easedChanges(); }

bool EasedChange::active() { return easedChanges() > 0; }

// Over a widget fading in: what lies behind it, less and less of it.
class FadeIn::Veil : public QWidget {
public:
    Veil(QWidget* parent, const FadeIn& fade) : QWidget(parent), fade_(fade)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        // The colour behind the widget: its parent's window colour.
        const QWidget* behind = parentWidget()->parentWidget() ? parentWidget()->parentWidget() : parentWidget();
        QColor color = behind->palette().color(QPalette::Window);
        color.setAlphaF(float(1 - fade_.opacity()));
        QPainter(this).fillRect(rect(), color);
    }

private:
    const FadeIn& fade_;
};

FadeIn::FadeIn(QWidget* widget, int milliseconds)
    : QObject(widget), widget_(widget), veil_(new Veil(widget, *this)),
      ease_(
          milliseconds, [this] { showOpacity(); }, this)
{
    ease_.jumpTo(1);
    widget_->installEventFilter(this);
}

void FadeIn::showOpacity()
{
    const bool fading = ease_.value() < 1;
    if (fading) {
        veil_->setGeometry(widget_->rect());
        veil_->raise();
    }
    veil_->setVisible(fading);
    veil_->update();
}

void FadeIn::start()
{
    waiting_ = false;
    if (reduced() || !widget_->window()->isVisible()) return ease_.jumpTo(1);
    ease_.jumpTo(0);
    waiting_ = true;
}

bool FadeIn::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != widget_) return false;
    switch (event->type()) {
    case QEvent::Paint:
        // The clock starts with the first frame: making and laying out what
        // the widget shows may take longer than the fade.
        if (std::exchange(waiting_, false)) ease_.moveTo(1);
        break;
    case QEvent::Resize: veil_->setGeometry(widget_->rect()); break;
    case QEvent::Hide:
        // Put away, it is whole when it next shows.
        waiting_ = false;
        ease_.jumpTo(1);
        break;
    default: break;
    }
    return false;
}

double fadedIn(const QWidget* widget)
{
    for (QObject* child : widget->children())
        if (const auto* fade = dynamic_cast<const FadeIn*>(child)) return fade->opacity();
    return 1;
}

namespace {

// The picture of a widget that went, over its place in its parent, clearing.
class Afterimage : public QWidget {
public:
    Afterimage(QWidget* gone, int milliseconds)
        : QWidget(gone->parentWidget()), gone_(gone), picture_(gone->grab()),
          ease_(
              milliseconds, [this] { faded(); }, this)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        ease_.jumpTo(1);
        setGeometry(gone->geometry());
        raise();
        show();
        // Should no frame come (a window put away meanwhile), it goes all the same.
        QTimer::singleShot(milliseconds + 250, this, [this] { start(); });
    }
    const QWidget* gone() const { return gone_; }
    double opacity() const { return ease_.value(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setOpacity(ease_.value());
        painter.drawPixmap(0, 0, picture_);
        // The clock starts with the first frame, as a fade in's does.
        start();
    }

private:
    void start()
    {
        if (!std::exchange(started_, true)) ease_.moveTo(0);
    }
    void faded()
    {
        update();
        if (ease_.value() <= 0) deleteLater();
    }

    const QWidget* gone_;
    QPixmap picture_;
    bool started_ = false;
    Ease ease_;
};

} // namespace

void fadeOut(QWidget* widget, int milliseconds)
{
    if (reduced() || !widget->parentWidget() || !widget->isVisible() || !widget->window()->isVisible()) return;
    new Afterimage(widget, milliseconds);
}

double leftBehind(const QWidget* widget)
{
    double strongest = 0;
    if (const QWidget* parent = widget->parentWidget())
        for (QObject* child : parent->children())
            if (const auto* picture = dynamic_cast<const Afterimage*>(child); picture && picture->gone() == widget)
                strongest = std::max(strongest, picture->opacity());
    return strongest;
}

} // namespace quarn::motion
