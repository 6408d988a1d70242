#pragma once
// What the application does 0.2 s after it has started: the welcome window
// or the Open panel when nothing is open, then, once per run, the offer to
// become the default PDF application.
#include <QObject>

#include <functional>

namespace platform {
class UserDefaults;
}

namespace quarn {

class DocumentController;

class LaunchTasks : public QObject {
    Q_OBJECT
public:
    LaunchTasks(DocumentController& controller, platform::UserDefaults& defaults, QObject* parent = nullptr);

    static constexpr int delayMs = 200;
    // Runs perform() once, delayMs from now.
    void schedule();
    void perform();
    // A launch with no file while running: the welcome window when nothing is visible.
    void reopen();
    bool didClaim() const { return didClaim_; }
    // How the welcome window is shown: the application's by default.
    std::function<void()> showWelcome;

private:
    void askToClaim();
    void claimDefaultHandler();
    DocumentController& controller_;
    platform::UserDefaults& defaults_;
    bool didClaim_ = false;
};

} // namespace quarn
