#pragma once
// Where the updater meets the rest of the application: the "Check for
// Updates…" item of each window's Help menu, right after About, and the
// start at launch, which also gives the Settings window its update section.
#include <QObject>

class QAction;

namespace quarn {

class QuarnCommands;
class SettingsWindow;
class UpdateController;
class UpdateWindow;

class UpdateCommands : public QObject {
    Q_OBJECT
public:
    // Adds the item to the Help menu of `commands`. Always enabled, no key.
    explicit UpdateCommands(QuarnCommands& commands, QObject* parent = nullptr);
    QAction* action() const { return action_; }

private:
    QAction* action_ = nullptr;
};

// The Settings window's update section over `updates`: its status line and
// button follow the updater, its button checks or shows the window.
void connectUpdateSettings(UpdateController& updates, UpdateWindow& window, SettingsWindow& settings);

// At launch, after the launch tasks are scheduled: the shared updater joins
// the Settings window and begins its automatic checks.
void startUpdater();

} // namespace quarn
