#pragma once
// The desktop's wish for less motion, read once for the whole application, in
// the background, when it starts; animations that would shake or slide ask here.
#include <QObject>
#include <QVariantAnimation>

class QWidget;

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

// While one of these lives, the changes made are eased: a click on the
// library rail makes its change inside one, while the menu's keys, which
// make the same change in none, show it at once.
class EasedChange {
public:
    EasedChange();
    ~EasedChange();
    EasedChange(const EasedChange&) = delete;
    EasedChange& operator=(const EasedChange&) = delete;
    // Whether the change being made now is to be eased.
    static bool active();
};

// A widget and all it holds fading in from nothing, easing out over a set
// time (a column that comes, a panel switched to): a veil of what lies behind
// it, over it, clears. With less motion asked for, or while its window is not
// shown, it is there at once; hidden, it is whole again. The time runs from
// its first frame. Made once per widget, as its child.
class FadeIn : public QObject {
public:
    FadeIn(QWidget* widget, int milliseconds);
    // From nothing again.
    void start();
    // How far in it is drawn, 0 … 1.
    double opacity() const { return ease_.value(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Veil;
    void showOpacity();

    QWidget* widget_;
    Veil* veil_;
    bool waiting_ = false; // for its first frame
    Ease ease_;
};

// How far in a widget with a FadeIn is drawn, 0 … 1; 1 for any other.
double fadedIn(const QWidget* widget);

// A widget about to go (a column hidden, a panel switched away) fading out
// where it stood, easing out over a set time: a picture of it, taken now,
// over whatever takes its place, clears. The widget itself goes at once, so
// the keys, the clicks and screen readers meet what is there now. With less
// motion asked for, or while its window is not shown, nothing stays. The
// time runs from the picture's first frame.
void fadeOut(QWidget* widget, int milliseconds);
// How strongly the picture `widget` left behind is drawn, 0 … 1; 0 when
// nothing of it is fading.
double leftBehind(const QWidget* widget);

} // namespace quarn::motion
