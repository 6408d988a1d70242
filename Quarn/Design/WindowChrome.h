#pragma once
// An invisible widget that a window's content holds once to give the window
// that hosts it the application's look: the dark palette and the
// Design.window background. It styles the window when it enters it, one
// event-loop turn after it is made, and after every update() of its content.
#include <QWidget>

namespace quarn {

class WindowChrome : public QWidget {
    Q_OBJECT
public:
    explicit WindowChrome(QWidget* parent = nullptr);
    // Styles the window this widget is in now; nothing when it is in none.
    void apply();

protected:
    bool event(QEvent* event) override;
    // A palette changed on the window afterwards is put back on the next turn.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applySoon();
};

// The same styling for a given top-level widget.
void applyWindowChrome(QWidget* window);

// A utility window (Settings, Keyboard Shortcuts) closes with Esc and with
// the Close key (Ctrl+W), wherever its keyboard focus is.
void closeWithKeys(QWidget* window);

} // namespace quarn
