#pragma once
// The desktop's wish for less motion, read once for the whole application, in
// the background, when it starts; animations that would shake or slide ask here.
#include <QObject>
#include <QVariantAnimation>

#include <functional>

namespace quarn::motion {

// Starts reading the desktop's setting once the first window has had time to
// show (the event loop must run); later calls do nothing.
void readAtStart();
// Reads the setting again now, blocking (tests change the desktop's setting).
void readNow();
// True when the desktop asks for less motion; false until the setting is known.
bool reduced();

// A strength from 0 to 1 that eases out to where it is sent over a set time
// (a hover fill, a highlight, a picture fading in), calling `changed` at each
// step. With less motion asked for it goes there at once.
class Ease : public QObject {
public:
    Ease(int milliseconds, std::function<void()> changed, QObject* parent);
    double value() const { return value_; }
    // Eases from the value now to `target`.
    void moveTo(double target);
    // Goes to `value` at once, stopping any easing.
    void jumpTo(double value);

private:
    QVariantAnimation animation_;
    std::function<void()> changed_;
    double value_ = 0;
};

} // namespace quarn::motion
