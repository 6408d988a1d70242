#include "Quarn/Design/Motion.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "QuarnKit/Shell/ReducedMotion.h"

#include <QGraphicsOpacityEffect>
#include <QTimer>
#include <QWidget>

#include <atomic>

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

FadeIn::FadeIn(QWidget* widget, int milliseconds)
    : QObject(widget), widget_(widget), ease_(
                                            milliseconds, [this] { showOpacity(); }, this)
{
    ease_.jumpTo(1);
}

void FadeIn::showOpacity()
{
    const double opacity = ease_.value();
    if (opacity >= 1) {
        // Drawn directly again once it is in.
        if (effect_) widget_->setGraphicsEffect(nullptr);
        effect_ = nullptr;
        return;
    }
    if (!effect_) {
        effect_ = new QGraphicsOpacityEffect(widget_);
        widget_->setGraphicsEffect(effect_);
    }
    effect_->setOpacity(opacity);
}

void FadeIn::start()
{
    if (reduced() || !widget_->window()->isVisible()) return ease_.jumpTo(1);
    ease_.jumpTo(0);
    ease_.moveTo(1);
}

} // namespace quarn::motion
