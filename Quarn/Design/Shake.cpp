#include "Quarn/Design/Shake.h"

#include <QPainter>
#include <QPropertyAnimation>
#include <QWidget>

#include <cmath>
#include <numbers>

namespace quarn {

Shake::Shake(QWidget* target, double distance) : QGraphicsEffect(target), distance_(distance)
{
    target->setGraphicsEffect(this); // the widget owns the effect from here on
}

void Shake::setTrigger(double trigger)
{
    trigger_ = trigger;
    update();
}

double Shake::offset() const { return distance_ * std::sin(trigger_ * std::numbers::pi * 3); }

void Shake::shake(int milliseconds)
{
    // A shake asked for while one runs starts from where the value is now.
    if (animation_) animation_->stop();
    auto* animation = new QPropertyAnimation(this, "trigger", this);
    animation->setDuration(milliseconds);
    animation->setEasingCurve(QEasingCurve::OutCubic);
    animation->setStartValue(trigger_);
    animation->setEndValue(std::floor(trigger_ + 0.5) + 1);
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

bool Shake::isShaking() const { return animation_ && animation_->state() == QAbstractAnimation::Running; }

QRectF Shake::boundingRectFor(const QRectF& rect) const { return rect.adjusted(-distance_ - 1, 0, distance_ + 1, 0); }

void Shake::draw(QPainter* painter)
{
    QPoint origin;
    const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &origin, QGraphicsEffect::PadToEffectiveBoundingRect);
    painter->drawPixmap(QPointF(origin) + QPointF(offset(), 0), pixmap);
}

} // namespace quarn
