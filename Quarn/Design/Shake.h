#pragma once
// The sideways shake of a widget (the password field after a wrong password).
// The widget is drawn `distance` × sin(trigger × 3π) to the side, never
// moved in its layout. Raising `trigger` by one over an animation swings it
// one way, the other way and back, coming to rest where it started.
#include <QGraphicsEffect>
#include <QPointer>

class QPropertyAnimation;

namespace quarn {

class Shake : public QGraphicsEffect {
    Q_OBJECT
    Q_PROPERTY(double trigger READ trigger WRITE setTrigger)

public:
    // Installs itself as `target`'s graphics effect.
    Shake(QWidget* target, double distance);

    double trigger() const { return trigger_; }
    // Without animation: the offset of the new value at once (0 for a whole value).
    void setTrigger(double trigger);
    double distance() const { return distance_; }
    // The sideways offset now, in pixels.
    double offset() const;
    // Raises `trigger` by one over `milliseconds` with an ease-out curve.
    void shake(int milliseconds = 400);
    bool isShaking() const;

protected:
    void draw(QPainter* painter) override;
    QRectF boundingRectFor(const QRectF& rect) const override;

private:
    double trigger_ = 0;
    double distance_;
    QPointer<QPropertyAnimation> animation_;
};

} // namespace quarn
