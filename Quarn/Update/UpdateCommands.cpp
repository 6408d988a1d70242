#include "Quarn/Update/UpdateCommands.h"

#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Shell/SettingsWindow.h"
#include "Quarn/Update/UpdateController.h"
#include "Quarn/Update/UpdateWindow.h"
#include "Quarn/Viewer/ViewerModel.h" // QuarnCommands holds a pointer to one

#include <QAction>
#include <QMenu>

namespace quarn {

using Kind = UpdateState::Kind;

UpdateCommands::UpdateCommands(QuarnCommands& commands, QObject* parent) : QObject(parent)
{
    QMenu* help = commands.menu(QuarnCommands::tr("Help"));
    if (!help) return;
    action_ = new QAction(tr("Check for Updates…"), help);
    connect(action_, &QAction::triggered, this, [] { UpdateController::shared().check(UpdateTrigger::menu); });
    // Right after About, wherever About stands.
    const QList<QAction*> items = help->actions();
    const qsizetype about = items.indexOf(commands.action(QuarnCommands::tr("About ravlen")));
    if (about >= 0 && about + 1 < items.size()) help->insertAction(items[about + 1], action_);
    else help->addAction(action_);
}

void connectUpdateSettings(UpdateController& updates, UpdateWindow& window, SettingsWindow& settings)
{
    SettingsServices services = settings.services();
    services.updateStatus = [&updates] {
        const Kind kind = updates.state().kind;
        SettingsServices::UpdateStatus status;
        status.updatesItself = updates.updatesItself();
        status.text = status.updatesItself
                          ? updates.statusText()
                          : QStringLiteral("This copy doesn't update itself: it was built without an update feed.");
        status.updateReady = kind == Kind::available || kind == Kind::readyToInstall;
        status.busy =
            kind == Kind::checking || kind == Kind::downloading || kind == Kind::verifying || kind == Kind::installing;
        return status;
    };
    services.checkForUpdates = [&updates] { updates.check(UpdateTrigger::settings); };
    services.showUpdate = [&window] { window.show(true); };
    settings.setServices(std::move(services));
    QObject::connect(&updates, &UpdateController::changed, &settings, [&settings] {
        if (SettingsView* view = settings.window()) view->refreshUpdates();
    });
}

void startUpdater()
{
    UpdateController& updates = UpdateController::shared();
    connectUpdateSettings(updates, UpdateWindow::shared(), SettingsWindow::shared());
    updates.start();
}

} // namespace quarn
