#include "Quarn/App/LaunchTasks.h"

#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Welcome/WelcomeController.h"
#include "QuarnKit/Shell/DefaultPDFHandler.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

namespace quarn {

namespace Handler = quarnkit::DefaultPDFHandler;

LaunchTasks::LaunchTasks(DocumentController& controller, platform::UserDefaults& defaults, QObject* parent)
    : QObject(parent), showWelcome([] { WelcomeController::shared().show(); }), controller_(controller),
      defaults_(defaults)
{}

void LaunchTasks::schedule() { QTimer::singleShot(delayMs, this, &LaunchTasks::perform); }

void LaunchTasks::perform()
{
    // A file named at launch that could not be opened: its alert is read
    // first, and the greeting follows once it is dismissed, never over it.
    if (QWidget* alert = controller_.openFailureAlert(); alert && !controller_.hasOpenDocuments()) {
        connect(alert, &QObject::destroyed, this, &LaunchTasks::perform, Qt::UniqueConnection);
        return;
    }
    if (quarnkit::ReaderPreferences::showWelcome(defaults_)) {
        controller_.closeOpenPanels();
        if (!controller_.hasOpenDocuments() && showWelcome) showWelcome();
    } else if (!controller_.hasOpenDocuments() && !controller_.openPanelVisible()) {
        controller_.runOpenPanel();
    }
    claimDefaultHandler();
}

void LaunchTasks::reopen()
{
    // Launched again: the newest document window comes forward, out of the
    // Dock or the taskbar if it was minimised; with none, the welcome.
    const std::vector<DocumentWindow*> windows = controller_.windows();
    if (windows.empty()) {
        if (!controller_.hasVisibleWindow() && showWelcome) showWelcome();
        return;
    }
    DocumentWindow* window = windows.back();
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

void LaunchTasks::claimDefaultHandler()
{
    if (didClaim_) return;
    didClaim_ = true;
    // A copy run from a build folder never asks.
    const QString installFolder = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).absolutePath();
    if (!Handler::isInstalledCopy(installFolder) || Handler::declined(defaults_)) return;
    // The desktop is asked off the UI thread; the question follows its answer.
    Handler::query(this, [this](const Handler::HandlerState& state) {
        if (!state.isDefault) askToClaim();
    });
}

void LaunchTasks::askToClaim()
{
    Handler::claim([](std::optional<QString>) {},
                   [](std::function<void(bool)> answer) {
                       auto* box = new QMessageBox(
                           QMessageBox::Question, QApplication::applicationDisplayName(),
                           QApplication::translate("LaunchTasks", "Make ravlen the default app for PDF files?"),
                           QMessageBox::Yes | QMessageBox::No);
                       box->setAttribute(Qt::WA_DeleteOnClose);
                       QObject::connect(box, &QMessageBox::finished, box,
                                        [answer](int result) { answer(result == QMessageBox::Yes); });
                       box->open();
                   },
                   defaults_);
}

} // namespace quarn
