#pragma once
// The welcome window, the one window that belongs to no document, and its
// owner. The controller makes the window on its first show and keeps it for
// the rest of the run; it fits the window to its content (640 wide, growing
// and shrinking downward from a fixed top-left corner), centres it a little
// above the middle of the primary screen when it comes back on screen, brings
// it forward, and hides it when a document window appears.
#include "Quarn/Welcome/WelcomeView.h"

#include <QMainWindow>
#include <QPointer>

namespace quarn {

class WelcomeController;

// The window: the welcome view under a menu bar of its own, whose items that
// need a document stay disabled.
class WelcomeWindow : public QMainWindow {
    Q_OBJECT
public:
    WelcomeWindow(const WelcomeServices& services, WelcomeController& controller);
    WelcomeView* view() const { return view_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WelcomeController& controller_;
    WelcomeView* view_;
};

class WelcomeController : public QObject {
    Q_OBJECT
public:
    static constexpr int minimumHeight = 1;    // heights at or below are not applied
    static constexpr int maximumHeight = 5000; // nor at or above
    static constexpr double lift = 0.06;       // of the screen's height, above its centre

    explicit WelcomeController(WelcomeServices services, QObject* parent = nullptr);
    ~WelcomeController() override;
    // Over the application's library, document controller, thumbnails and
    // updater. Made on first use, never released.
    static WelcomeController& shared();

    // Shows the window (making it the first time), brings it to the front and
    // gives it the keys; a window coming back on screen is centred again, and
    // one shown again reads its recents and default-app row again.
    void show();
    // As show(), then, with `focusSearch`, the search field takes the keys.
    void show(bool focusSearch);
    void hide();
    // Fits the window to its content once the content's layout has settled.
    void refit();
    // None until the first show.
    WelcomeWindow* window() const { return window_; }

private:
    // The content's height at 640 wide; 0 when it cannot be told.
    int contentHeight() const;
    void fit(bool center);
    void center();

    WelcomeServices services_;
    QPointer<WelcomeWindow> window_;
    size_t windowsSeen_ = 0;
    bool refitQueued_ = false;
};

} // namespace quarn
